#pragma once
// The data shipped with the client (event sounds, help pages), installed read-only under
// <prefix>/share/talvorine-messenger/ and found from the executable's folder as
// ../share/talvorine-messenger/<part>; a program run from the build tree falls back to the
// build's own copy.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace talvorine::client::ui {

// The folder of a shipped part ("Sound", "help"), or nullopt when neither the installed nor
// the build tree's folder exists.
std::optional<std::filesystem::path> ShippedDataFolder(std::string_view part);
// The same from a given executable folder.
std::optional<std::filesystem::path> ShippedDataFolder(std::string_view part,
                                                       const std::filesystem::path& programFolder);

struct CopyResult {
    int copied = 0;
    std::string error;  // empty when every missing file was copied
};

// Copies every regular file of `from` that `to` lacks into `to` (created when missing);
// files already there are left as the user made them.
CopyResult CopyMissingFiles(const std::filesystem::path& from, const std::filesystem::path& to);

// Start-up: puts the shipped event sounds that are missing into the client folder's "Sound"
// folder, where the default sound entries point. A failure only means silence; the result
// says why for a log.
CopyResult CopyShippedSounds();

}  // namespace talvorine::client::ui
