#pragma once
// The server's log files as the log page lists, opens and deletes them: "*.txt" in the "Log"
// folder of the server's folder, named without the extension.

#include <filesystem>
#include <string>
#include <vector>

namespace talvorine::admin {

// The names (without ".txt") in the order the folder gives them; empty when there is none.
std::vector<std::string> ListLogFiles(const std::filesystem::path& serverFolder);
std::filesystem::path LogFilePath(const std::filesystem::path& serverFolder,
                                  const std::string& name);
// False when the file does not exist or cannot be deleted.
bool DeleteLogFile(const std::filesystem::path& serverFolder, const std::string& name);

// The help topic's page: the installed help folder (share/talvorine-messenger-admin/help
// beside the program's bin folder), else the source tree's; empty when it is not found.
std::filesystem::path HelpTopicFile(const std::string& topic);

}  // namespace talvorine::admin
