#pragma once
// The desktop's mail programs: the applications whose .desktop files declare the handler for
// mailto: links, and the one chosen as the default handler.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvorine::mailpoll {

inline constexpr std::string_view MailtoMimeType = "x-scheme-handler/mailto";

struct MailProgram {
    std::string id;    // the desktop file id ("thunderbird.desktop")
    std::string name;  // its Name
    std::string exec;  // its Exec line
    bool isDefault = false;
};

// Every mail program under $XDG_DATA_HOME/applications and $XDG_DATA_DIRS/*/applications (a
// file id found earlier hides later ones), sorted by name, with the default one marked.
std::vector<MailProgram> FindMailPrograms();

// The default handler's desktop file id: `xdg-mime query default` when xdg-mime is installed,
// else the first entry in the desktop's mimeapps.list files. nullopt when none is set.
std::optional<std::string> DefaultMailProgramId();

// The program and its arguments from an Exec line: double quotes group (with \" \\ \` \$
// escapes inside), field codes such as %u are dropped, %% gives %. Empty for an empty line.
std::vector<std::string> SplitExecLine(std::string_view exec);

// Parsing of one .desktop file's text; nullopt unless it is a visible application that handles
// mailto: links.
std::optional<MailProgram> ParseMailDesktopEntry(std::string_view id, std::string_view text);

}  // namespace talvorine::mailpoll
