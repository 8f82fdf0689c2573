#include "talvorine/mailpoll/mail_programs.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>

namespace talvorine::mailpoll {

namespace fs = std::filesystem;

namespace {

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::vector<std::string> SplitList(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (std::string part = Trim(text.substr(start, end - start)); !part.empty()) {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    return parts;
}

fs::path HomeFolder() {
    return Environment("HOME");
}

std::vector<fs::path> DataFolders() {
    std::vector<fs::path> folders;
    const std::string dataHome = Environment("XDG_DATA_HOME");
    folders.push_back(dataHome.empty() ? HomeFolder() / ".local/share" : fs::path(dataHome));
    std::string dataDirs = Environment("XDG_DATA_DIRS");
    if (dataDirs.empty()) {
        dataDirs = "/usr/local/share:/usr/share";
    }
    for (const std::string& dir : SplitList(dataDirs, ':')) {
        folders.emplace_back(dir);
    }
    return folders;
}

std::vector<fs::path> ConfigFolders() {
    std::vector<fs::path> folders;
    const std::string configHome = Environment("XDG_CONFIG_HOME");
    folders.push_back(configHome.empty() ? HomeFolder() / ".config" : fs::path(configHome));
    std::string configDirs = Environment("XDG_CONFIG_DIRS");
    if (configDirs.empty()) {
        configDirs = "/etc/xdg";
    }
    for (const std::string& dir : SplitList(configDirs, ':')) {
        folders.emplace_back(dir);
    }
    return folders;
}

std::string ReadSmallFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of `key` in the group `group` of a desktop-style key file.
std::optional<std::string> KeyFileValue(std::string_view text, std::string_view group,
                                        std::string_view key) {
    bool inGroup = false;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        if (trimmed.front() == '[') {
            inGroup = trimmed == "[" + std::string(group) + "]";
            continue;
        }
        const auto equals = trimmed.find('=');
        if (inGroup && equals != std::string::npos && Trim(trimmed.substr(0, equals)) == key) {
            return Trim(trimmed.substr(equals + 1));
        }
    }
    return std::nullopt;
}

std::optional<std::string> QueryXdgMime() {
    if (::access("/usr/bin/xdg-mime", X_OK) != 0) {
        return std::nullopt;
    }
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(
        ::popen("/usr/bin/xdg-mime query default x-scheme-handler/mailto 2>/dev/null", "r"),
        ::pclose);
    if (!pipe) {
        return std::nullopt;
    }
    char buffer[512] = {};
    if (std::fgets(buffer, sizeof buffer, pipe.get()) == nullptr) {
        return std::nullopt;
    }
    std::string id = Trim(buffer);
    if (id.empty()) {
        return std::nullopt;
    }
    return id;
}

std::optional<std::string> DefaultFromMimeApps() {
    std::vector<fs::path> files;
    for (const fs::path& folder : ConfigFolders()) {
        files.push_back(folder / "mimeapps.list");
    }
    for (const fs::path& folder : DataFolders()) {
        files.push_back(folder / "applications" / "mimeapps.list");
    }
    for (const fs::path& file : files) {
        std::error_code error;
        if (!fs::is_regular_file(file, error)) {
            continue;
        }
        const auto value =
            KeyFileValue(ReadSmallFile(file), "Default Applications", MailtoMimeType);
        if (value) {
            const auto ids = SplitList(*value, ';');
            if (!ids.empty()) {
                return ids.front();
            }
        }
    }
    return std::nullopt;
}

void Unescape(std::string& out, std::string_view quoted) {
    for (std::size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 1 < quoted.size()) {
            ++i;
        }
        out.push_back(quoted[i]);
    }
}

// Drops the field codes (%f %u %F %U %i %c %k and the deprecated ones); %% gives %.
std::string ExpandFieldCodes(std::string_view word) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 1 < word.size()) {
            if (word[i + 1] == '%') {
                out.push_back('%');
            }
            ++i;
        } else {
            out.push_back(word[i]);
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> SplitExecLine(std::string_view exec) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < exec.size()) {
        while (i < exec.size() && (exec[i] == ' ' || exec[i] == '\t')) {
            ++i;
        }
        if (i >= exec.size()) {
            break;
        }
        std::string word;
        bool quoted = false;
        while (i < exec.size() && (quoted || (exec[i] != ' ' && exec[i] != '\t'))) {
            if (exec[i] == '"') {
                quoted = !quoted;
                ++i;
            } else if (quoted && exec[i] == '\\' && i + 1 < exec.size()) {
                Unescape(word, exec.substr(i, 2));
                i += 2;
            } else {
                word.push_back(exec[i++]);
            }
        }
        std::string expanded = ExpandFieldCodes(word);
        if (!expanded.empty()) {
            words.push_back(std::move(expanded));
        }
    }
    return words;
}

std::optional<MailProgram> ParseMailDesktopEntry(std::string_view id, std::string_view text) {
    constexpr std::string_view group = "Desktop Entry";
    if (KeyFileValue(text, group, "Type").value_or("Application") != "Application" ||
        KeyFileValue(text, group, "Hidden").value_or("false") == "true") {
        return std::nullopt;
    }
    const auto mimeTypes = SplitList(KeyFileValue(text, group, "MimeType").value_or(""), ';');
    if (std::find(mimeTypes.begin(), mimeTypes.end(), MailtoMimeType) == mimeTypes.end()) {
        return std::nullopt;
    }
    auto exec = KeyFileValue(text, group, "Exec");
    if (!exec || SplitExecLine(*exec).empty()) {
        return std::nullopt;
    }
    MailProgram program;
    program.id = std::string(id);
    program.name = KeyFileValue(text, group, "Name").value_or(std::string(id));
    program.exec = std::move(*exec);
    return program;
}

std::optional<std::string> DefaultMailProgramId() {
    if (auto id = QueryXdgMime()) {
        return id;
    }
    return DefaultFromMimeApps();
}

std::vector<MailProgram> FindMailPrograms() {
    std::vector<MailProgram> programs;
    std::set<std::string> seen;
    for (const fs::path& folder : DataFolders()) {
        const fs::path applications = folder / "applications";
        std::error_code error;
        if (!fs::is_directory(applications, error)) {
            continue;
        }
        for (fs::recursive_directory_iterator it(applications, error), end; !error && it != end;
             it.increment(error)) {
            if (!it->is_regular_file(error) || it->path().extension() != ".desktop") {
                continue;
            }
            // The file id: the path below applications/ with "/" turned into "-".
            std::string id = it->path().lexically_relative(applications).generic_string();
            std::replace(id.begin(), id.end(), '/', '-');
            if (!seen.insert(id).second) {
                continue;
            }
            if (auto program = ParseMailDesktopEntry(id, ReadSmallFile(it->path()))) {
                programs.push_back(std::move(*program));
            }
        }
    }
    std::sort(programs.begin(), programs.end(),
              [](const MailProgram& a, const MailProgram& b) { return a.name < b.name; });
    if (const auto defaultId = DefaultMailProgramId()) {
        for (MailProgram& program : programs) {
            program.isDefault = program.id == *defaultId;
        }
    }
    return programs;
}

}  // namespace talvorine::mailpoll
