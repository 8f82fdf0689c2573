#pragma once
// Users' pictures without a window: where they lie, what makes a file a usable picture, the
// bitmap facts the preview shows, and the work on the files (download of a contact's three
// pictures, copy, reset, the own pictures' upload). Every function here blocks and may run on
// any thread; the windows run them off their own thread.
//
// A picture is a 32x32 bitmap file "<owner>-<n>.bmp" (n = 1 Normal, 2 Away, 3 N/A) in the
// account's Icons folder; the contact list draws magenta as transparent.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/ui/contacts/contact_list_rules.h"

namespace talvorine::client::ui::icons {

inline constexpr int PictureSlots = 3;  // 0 Normal, 1 Away, 2 N/A
inline constexpr int PictureSide = 32;

namespace PictureText {
inline constexpr std::string_view SizeError = "Bitmap size error. Must be 32X32 pixels";
inline constexpr std::string_view NotBitmap = "Not a valid bitmap file";
// An own picture as large as the transfer buffer or larger is refused before it is read.
inline constexpr std::string_view FileTooLarge =
    "File size error. A picture file must be smaller than 32768 bytes";
inline constexpr std::string_view CreateFolderFailed = "Failed to create directory:\r\n";
inline constexpr std::string_view UpdateFailed = "Failed to update:\r\n%s";
inline constexpr std::string_view UpdatingIcon = "Updating '%s' icon of %s...";
inline constexpr std::string_view CannotBeUpdated = "The following icons can not be updated:\r\n%s";
inline constexpr std::string_view CannotBeUpdatedLine = "\r\n'%s' icon: %s";
inline constexpr std::string_view DeleteFailed =
    "Failed to delete file %s:\r\n\r\nYou should delete it manually";
inline constexpr std::string_view CopyFailed =
    "Failed to copy from %s to %s:\r\n%s\r\n\r\nContinue whith next file?";
inline constexpr std::string_view SendFailed = "Failed to send file %s:\r\n%s";
inline constexpr std::string_view LocalUpdateFailed = "Failed to update local file:\r\n";
inline constexpr std::string_view FriendsCannotSee =
    "Your friends can not see your new icons unless they select \"Updated User Icons\" from "
    "their contact list menu";
}  // namespace PictureText

// "Normal", "Away", "NA": the names of the download's progress and report and of the file
// chooser's refusals.
std::string_view SlotName(int slot);

using contacts::FormatText;

// The account's Icons folder (not created); nullopt for an id that is not eight digits.
std::optional<std::filesystem::path> PicturesFolder(std::string_view accountId);
// "<owner>-<slot + 1>.bmp" in `folder`.
std::filesystem::path PictureFile(const std::filesystem::path& folder, std::string_view ownerId,
                                  int slot);

// The header fields of a Windows bitmap file that the preview shows, read with every length
// checked: nullopt when `bytes` do not start a bitmap file with a known information header.
struct BitmapHeader {
    int width = 0;
    int height = 0;  // positive also for top-down bitmaps
    int bitsPerPixel = 0;
    std::uint32_t pixelOffset = 0;  // where the pixels start in the file
    std::uint32_t compression = 0;  // 0: uncompressed rows
    // The file length an uncompressed bitmap needs to hold all its rows (0 when compressed).
    std::uint64_t NeededLength() const;
};
std::optional<BitmapHeader> ReadBitmapHeader(std::span<const std::uint8_t> bytes);

// The four lines of the chooser's preview.
struct PreviewLines {
    std::string width, height, colours, size;
};
std::string ColourLine(int bitsPerPixel);
PreviewLines MakePreviewLines(const BitmapHeader& header, std::uintmax_t fileSize);

// nullopt when `file` loads as a bitmap of exactly 32x32 pixels, else the reason: the system's
// text when the file cannot be read, PictureText::NotBitmap, PictureText::SizeError.
std::optional<std::string> CheckPictureFile(const std::filesystem::path& file);

// --- The "Customize Icons" dialog and its bitmap chooser ---

namespace PictureText {
inline constexpr std::string_view SelectAtLeastOne = "Please select at least one file.";
inline constexpr std::string_view Default = "<Default>";
inline constexpr std::string_view ChooserTitle = "Bitmaps (*.bmp)";
}  // namespace PictureText

// "Failed to open bitmap of '...' status:\r\n<reason>": the chooser names N/A "NA", the
// "Update" check names it "N/A".
std::string ChooserRefusal(int slot, std::string_view reason);
std::string UpdateRefusal(int slot, std::string_view reason);

// "Update"'s check of the chosen paths ("" = none chosen for that state): nullopt when every
// chosen file is a usable picture, else the state to put the focus on and the text to show.
struct ChosenRefusal {
    int slot = 0;
    std::string text;
};
std::optional<ChosenRefusal> CheckChosenPictures(
    const std::array<std::string, PictureSlots>& paths);

// The chooser's filter of a state, written as "name|pattern|...||", and split into its
// (name, pattern) pairs.
std::string_view ChooserFilter(int slot);
std::vector<std::pair<std::string, std::string>> SplitFilter(std::string_view filter);

// Where the preview box draws a bitmap: at its own size, centred, when it fits; otherwise
// scaled to the box's full width (wider than high) or full height, keeping its proportions,
// and centred the other way.
struct PreviewPlace {
    int x = 0, y = 0, width = 0, height = 0;
};
PreviewPlace PlacePreview(int bitmapWidth, int bitmapHeight, int boxWidth, int boxHeight);

// --- Download of a contact's three pictures ---

struct PictureDownload {
    // Per picture the reason it was not updated ("" when it was).
    std::array<std::string, PictureSlots> failures;
    // The whole download ended ("Failed to update:\r\n..." or "Failed to create directory:\r\n
    // ..."): no picture file was changed.
    std::string fatal;
    bool AnyFailure() const;
};
// Step 1 to 6 of the download (three transfers, then three files) and the line to show.
using DownloadProgress = std::function<void(int step, const std::string& line)>;
inline constexpr int DownloadSteps = 6;

// Fetches the contact's three pictures, each on its own account connection, and only then puts
// them in place: a transfer that fails part-way leaves every file as it was. A picture the
// server refuses keeps its old file. The caller reloads the contact's pictures afterwards and
// decides whether to show DownloadReport.
PictureDownload DownloadUserPictures(const session::AccountServer& server,
                                     std::string_view accountId, std::string_view contactId,
                                     std::string_view nickname,
                                     const DownloadProgress& progress = {});
// "The following icons can not be updated:..." with a line per failed picture, or "" when
// every picture was updated. (A fatal failure is shown on its own.)
std::string DownloadReport(const PictureDownload& download);

// --- Files ---

// Deletes the owner's three files; one "Failed to delete file ..." text per file that exists
// and could not be deleted.
std::vector<std::string> ResetUserPictures(std::string_view accountId, std::string_view ownerId);

// Copies `from` over `to` through a temporary file beside `to`, so a failed copy leaves `to` as
// it was; the system's text on failure.
std::optional<std::string> CopyPictureFile(const std::filesystem::path& from,
                                           const std::filesystem::path& to);

// Reads an own picture for the upload: refused with PictureText::FileTooLarge when it is
// 32768 bytes or larger, before anything is read; the system's text when it cannot be read.
struct PictureBytes {
    std::vector<std::uint8_t> bytes;
    std::string error;
};
PictureBytes ReadOwnPicture(const std::filesystem::path& file);

}  // namespace talvorine::client::ui::icons
