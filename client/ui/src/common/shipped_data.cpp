#include "talvorine/client/ui/common/shipped_data.h"

#include "talvorine/client/data/accounts.h"
#include "talvorine/platform/program_folders.h"

namespace talvorine::client::ui {

namespace fs = std::filesystem;

std::optional<fs::path> ShippedDataFolder(std::string_view part) {
    return ShippedDataFolder(part, platform::ExecutableFolder());
}

std::optional<fs::path> ShippedDataFolder(std::string_view part, const fs::path& programFolder) {
    std::error_code ec;
    const fs::path installed = programFolder / ".." / "share" / "talvorine-messenger" / part;
    if (fs::is_directory(installed, ec)) {
        return fs::weakly_canonical(installed, ec);
    }
    // Generated data (the sounds) lies in the build folder, written data in the sources.
    for (const char* root : {TALVORINE_BUILD_DATA_DIR, TALVORINE_SOURCE_DATA_DIR}) {
        const fs::path candidate = fs::path(root) / part;
        if (fs::is_directory(candidate, ec)) {
            return candidate;
        }
    }
    return std::nullopt;
}

CopyResult CopyMissingFiles(const fs::path& from, const fs::path& to) {
    CopyResult result;
    std::error_code ec;
    if (!fs::is_directory(from, ec)) {
        result.error = "no shipped folder " + from.string();
        return result;
    }
    if (!data::EnsureFolder(to)) {
        result.error = "cannot create " + to.string();
        return result;
    }
    for (const auto& entry : fs::directory_iterator(from, ec)) {
        if (!entry.is_regular_file(ec)) {
            continue;
        }
        const fs::path target = to / entry.path().filename();
        if (fs::exists(fs::symlink_status(target, ec))) {
            continue;
        }
        if (fs::copy_file(entry.path(), target, fs::copy_options::skip_existing, ec)) {
            // Installed data is read-only; the user's copy is theirs to replace.
            fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, ec);
            ++result.copied;
        } else if (ec && result.error.empty()) {
            result.error = target.string() + ": " + ec.message();
        }
    }
    if (ec && result.error.empty()) {
        result.error = from.string() + ": " + ec.message();
    }
    return result;
}

CopyResult CopyShippedSounds() {
    const auto shipped = ShippedDataFolder("Sound");
    if (!shipped) {
        return {0, "the shipped sounds are not installed"};
    }
    return CopyMissingFiles(*shipped, data::AccountRoot() / "Sound");
}

}  // namespace talvorine::client::ui
