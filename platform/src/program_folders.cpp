#include "talvorine/platform/program_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace talvorine::platform {
namespace {

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? value : nullptr;
}

// An XDG base folder counts only when absolute, as the base-directory rules require.
const char* AbsoluteEnv(const char* name) {
    const char* value = NonEmptyEnv(name);
    return (value != nullptr && value[0] == '/') ? value : nullptr;
}

std::filesystem::path HomeFolder() {
    if (const char* home = NonEmptyEnv("HOME")) {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid());
        entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

}  // namespace

std::filesystem::path ExecutableFolder() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || exe.empty()) {
        return std::filesystem::current_path(error);
    }
    return exe.parent_path();
}

std::filesystem::path ServerHome() {
    if (const char* home = NonEmptyEnv("TALVORINE_SERVER_HOME")) {
        return home;
    }
    return ExecutableFolder();
}

std::filesystem::path ClientHome() {
    if (const char* home = NonEmptyEnv("TALVORINE_CLIENT_HOME")) {
        return home;
    }
    if (const char* data = AbsoluteEnv("XDG_DATA_HOME")) {
        return std::filesystem::path(data) / "talvorine-messenger";
    }
    return HomeFolder() / ".local" / "share" / "talvorine-messenger";
}

std::filesystem::path ConfigHome() {
    if (const char* config = AbsoluteEnv("XDG_CONFIG_HOME")) {
        return config;
    }
    return HomeFolder() / ".config";
}

}  // namespace talvorine::platform
