#include "talvorine/admin/log_files.h"

#include "talvorine/platform/program_folders.h"

namespace talvorine::admin {

namespace fs = std::filesystem;

std::vector<std::string> ListLogFiles(const fs::path& serverFolder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(serverFolder / "Log", error), end; !error && it != end;
         it.increment(error)) {
        const fs::path& file = it->path();
        if (file.extension() == ".txt" && it->is_regular_file(error)) {
            names.push_back(file.stem().string());
        }
    }
    return names;
}

fs::path LogFilePath(const fs::path& serverFolder, const std::string& name) {
    return serverFolder / "Log" / (name + ".txt");
}

bool DeleteLogFile(const fs::path& serverFolder, const std::string& name) {
    std::error_code error;
    return fs::remove(LogFilePath(serverFolder, name), error) && !error;
}

fs::path HelpTopicFile(const std::string& topic) {
    std::vector<fs::path> folders = {
        platform::ExecutableFolder() / "../share/talvorine-messenger-admin/help",
#ifdef TALVORINE_SOURCE_HELP_DIR
        fs::path(TALVORINE_SOURCE_HELP_DIR),
#endif
    };
    for (const auto& folder : folders) {
        std::error_code error;
        fs::path file = folder / topic;
        if (fs::is_regular_file(file, error)) {
            return fs::weakly_canonical(file, error);
        }
    }
    return {};
}

}  // namespace talvorine::admin
