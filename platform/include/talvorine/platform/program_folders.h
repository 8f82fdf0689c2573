#pragma once
// Where each program keeps its files on Linux.

#include <filesystem>

namespace talvorine::platform {

// The folder of the running executable (/proc/self/exe without its last component).
std::filesystem::path ExecutableFolder();

// The server's folder: $TALVORINE_SERVER_HOME, else the executable's folder.
std::filesystem::path ServerHome();

// The client's program folder (the parent of "Users" and "Sound"): $TALVORINE_CLIENT_HOME,
// else $XDG_DATA_HOME/talvorine-messenger (default ~/.local/share/talvorine-messenger).
std::filesystem::path ClientHome();

// The user's configuration folder: $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path ConfigHome();

}  // namespace talvorine::platform
