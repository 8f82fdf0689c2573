#include "talvorine/client/ui/icons/user_pictures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImageReader>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/session/picture_requests.h"
#include "talvorine/platform/file_descriptor.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::client::ui::icons {

namespace fs = std::filesystem;

namespace {

std::uint16_t LoadLe16(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::string ErrnoText(int code) {
    errno = code;
    return protocol::SystemErrorText();
}

// Writes all of `bytes` to a new file `path` (replaced when it exists); 0 or the errno. A
// failure to create is told apart from a failure to write.
struct WriteResult {
    int createError = 0;
    int writeError = 0;
};
WriteResult WriteNewFile(const fs::path& path, std::span<const std::uint8_t> bytes) {
    WriteResult result;
    platform::FileDescriptor fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.IsOpen()) {
        result.createError = errno;
        return result;
    }
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd.Get(), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            result.writeError = written < 0 ? errno : EIO;
            return result;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    // The pictures replace the old ones only once their bytes are safely on disk.
    if (::fsync(fd.Get()) != 0 && errno != EINVAL) {
        result.writeError = errno;
        return result;
    }
    fd.Close();
    return result;
}

// The temporary name of a file being replaced: hidden, in the same folder, so the rename
// that puts it in place never crosses file systems.
fs::path TemporaryBeside(const fs::path& target) {
    return target.parent_path() / ("." + target.filename().string() + ".part");
}

}  // namespace

std::string_view SlotName(int slot) {
    static constexpr std::string_view names[PictureSlots] = {"Normal", "Away", "NA"};
    return slot >= 0 && slot < PictureSlots ? names[slot] : std::string_view();
}

std::optional<fs::path> PicturesFolder(std::string_view accountId) {
    if (!data::IsValidId(accountId)) {
        return std::nullopt;
    }
    return data::AccountRoot() / "Users" / std::string(accountId) / "Icons";
}

fs::path PictureFile(const fs::path& folder, std::string_view ownerId, int slot) {
    return folder / (std::string(ownerId) + "-" + std::to_string(slot + 1) + ".bmp");
}

std::optional<BitmapHeader> ReadBitmapHeader(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t fileHeader = 14;
    if (bytes.size() < fileHeader + 4 || bytes[0] != 'B' || bytes[1] != 'M') {
        return std::nullopt;
    }
    const auto info = bytes.subspan(fileHeader);
    const std::uint32_t infoSize = platform::LoadLe32(info);
    BitmapHeader header;
    header.pixelOffset = platform::LoadLe32(bytes.subspan(10));
    if (infoSize == 12) {
        // The old core header: 16-bit sizes.
        if (info.size() < 12) {
            return std::nullopt;
        }
        header.width = LoadLe16(info.subspan(4));
        header.height = LoadLe16(info.subspan(6));
        header.bitsPerPixel = LoadLe16(info.subspan(10));
        return header;
    }
    if (infoSize < 40 || info.size() < 16) {
        return std::nullopt;
    }
    const auto width = static_cast<std::int32_t>(platform::LoadLe32(info.subspan(4)));
    const auto height = static_cast<std::int32_t>(platform::LoadLe32(info.subspan(8)));
    // INT32_MIN has no positive counterpart: no real bitmap has it.
    if (width <= 0 || height == INT32_MIN || height == 0) {
        return std::nullopt;
    }
    header.width = width;
    header.height = height < 0 ? -height : height;
    header.bitsPerPixel = LoadLe16(info.subspan(14));
    header.compression = info.size() >= 20 ? platform::LoadLe32(info.subspan(16)) : 0;
    return header;
}

std::uint64_t BitmapHeader::NeededLength() const {
    if (compression != 0) {
        return 0;
    }
    const std::uint64_t rowBytes =
        (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bitsPerPixel) + 31) / 32 *
        4;
    return pixelOffset + rowBytes * static_cast<std::uint64_t>(height);
}

std::string ColourLine(int bitsPerPixel) {
    switch (bitsPerPixel) {
        case 1:
            return "Colors: 2 (monocromatic)";
        case 4:
            return "Colors: 16";
        case 8:
            return "Colors: 256";
        case 16:
            return "Colors: 65,536";
        case 24:
            return "Colors: 16 millions";
        default:
            return {};
    }
}

PreviewLines MakePreviewLines(const BitmapHeader& header, std::uintmax_t fileSize) {
    PreviewLines lines;
    lines.width = "Width: " + std::to_string(header.width) + " pixels";
    lines.height = "Height: " + std::to_string(header.height) + " pixels";
    lines.colours = ColourLine(header.bitsPerPixel);
    lines.size = "Size: " + std::to_string(fileSize / 1024) + " Kb";
    return lines;
}

std::optional<std::string> CheckPictureFile(const fs::path& file) {
    {
        // The system's reason when the file cannot be read at all.
        platform::FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.IsOpen()) {
            return ErrnoText(errno);
        }
        struct stat info {};
        if (::fstat(fd.Get(), &info) != 0) {
            return ErrnoText(errno);
        }
        if (S_ISDIR(info.st_mode)) {
            return ErrnoText(EISDIR);
        }
        // A file cut short of its rows is no bitmap, although the toolkit would fill the rest.
        std::uint8_t start[64] = {};
        const ssize_t got = ::read(fd.Get(), start, sizeof start);
        const auto header =
            ReadBitmapHeader(std::span(start, got > 0 ? static_cast<std::size_t>(got) : 0));
        if (!header || static_cast<std::uint64_t>(info.st_size) < header->NeededLength()) {
            return std::string(PictureText::NotBitmap);
        }
    }
    QImageReader reader(QString::fromStdString(file.string()), "BMP");
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (!reader.canRead() || !size.isValid()) {
        return std::string(PictureText::NotBitmap);
    }
    if (size.width() != PictureSide || size.height() != PictureSide) {
        return std::string(PictureText::SizeError);
    }
    if (reader.read().isNull()) {
        return std::string(PictureText::NotBitmap);
    }
    return std::nullopt;
}

std::string ChooserRefusal(int slot, std::string_view reason) {
    return "Failed to open bitmap of '" + std::string(SlotName(slot)) + "' status:\r\n" +
           std::string(reason);
}

std::string UpdateRefusal(int slot, std::string_view reason) {
    const std::string_view name = slot == 2 ? std::string_view("N/A") : SlotName(slot);
    return "Failed to open bitmap of '" + std::string(name) + "' status:\r\n" + std::string(reason);
}

std::optional<ChosenRefusal> CheckChosenPictures(
    const std::array<std::string, PictureSlots>& paths) {
    bool any = false;
    for (int slot = 0; slot < PictureSlots; ++slot) {
        const std::string& path = paths[static_cast<std::size_t>(slot)];
        if (path.empty()) {
            continue;
        }
        any = true;
        if (const auto reason = CheckPictureFile(path)) {
            return ChosenRefusal{slot, UpdateRefusal(slot, *reason)};
        }
    }
    if (!any) {
        return ChosenRefusal{0, std::string(PictureText::SelectAtLeastOne)};
    }
    return std::nullopt;
}

std::string_view ChooserFilter(int slot) {
    return slot == 0 ? "Bitmap Files(*.bmp (32x32x256))|*.bmp|All Files(*.*)|*.*||"
                     : "Bitmap Files(*.bmp)|*.bmp|All Files(*.*)|*.*||";
}

std::vector<std::pair<std::string, std::string>> SplitFilter(std::string_view filter) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < filter.size()) {
        const std::size_t bar = filter.find('|', start);
        const std::size_t end = bar == std::string_view::npos ? filter.size() : bar;
        parts.emplace_back(filter.substr(start, end - start));
        start = end + 1;
    }
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty()) {
            break;  // the closing "||"
        }
        pairs.emplace_back(parts[i], parts[i + 1]);
    }
    return pairs;
}

PreviewPlace PlacePreview(int bitmapWidth, int bitmapHeight, int boxWidth, int boxHeight) {
    PreviewPlace place;
    if (bitmapWidth <= 0 || bitmapHeight <= 0 || boxWidth <= 0 || boxHeight <= 0) {
        return place;
    }
    if (bitmapWidth <= boxWidth && bitmapHeight <= boxHeight) {
        place.width = bitmapWidth;
        place.height = bitmapHeight;
    } else if (bitmapWidth > bitmapHeight) {
        place.width = boxWidth;
        place.height =
            static_cast<int>(static_cast<long long>(bitmapHeight) * boxWidth / bitmapWidth);
    } else {
        place.height = boxHeight;
        place.width =
            static_cast<int>(static_cast<long long>(bitmapWidth) * boxHeight / bitmapHeight);
    }
    place.x = (boxWidth - place.width) / 2;
    place.y = (boxHeight - place.height) / 2;
    return place;
}

bool PictureDownload::AnyFailure() const {
    if (!fatal.empty()) {
        return true;
    }
    for (const auto& failure : failures) {
        if (!failure.empty()) {
            return true;
        }
    }
    return false;
}

PictureDownload DownloadUserPictures(const session::AccountServer& server,
                                     std::string_view accountId, std::string_view contactId,
                                     std::string_view nickname, const DownloadProgress& progress) {
    PictureDownload result;
    // The id becomes part of file names: anything but eight digits could reach other folders.
    if (!data::IsValidId(contactId)) {
        result.fatal = FormatText(PictureText::UpdateFailed, {ErrnoText(EINVAL)});
        return result;
    }
    const auto folder = PicturesFolder(accountId);
    if (!folder || !data::EnsureFolder(*folder)) {
        result.fatal = std::string(PictureText::CreateFolderFailed) +
                       (folder ? protocol::SystemErrorText() : ErrnoText(EINVAL));
        return result;
    }
    auto report = [&](int step, const std::string& line) {
        if (progress) {
            progress(step, line);
        }
    };

    // First every transfer: nothing on disk changes until all three have ended.
    std::array<session::DownloadedPicture, PictureSlots> pictures;
    for (int slot = 0; slot < PictureSlots; ++slot) {
        report(slot, FormatText(PictureText::UpdatingIcon, {SlotName(slot), nickname}));
        try {
            pictures[static_cast<std::size_t>(slot)] =
                session::DownloadPicture(server, contactId, slot);
        } catch (const session::AccountRequestError& e) {
            result.fatal = FormatText(PictureText::UpdateFailed, {e.what()});
            return result;
        }
        const auto& picture = pictures[static_cast<std::size_t>(slot)];
        if (!picture.Ok()) {
            result.failures[static_cast<std::size_t>(slot)] = picture.refusal;
        }
    }

    // Then every received picture into a temporary file beside its place.
    std::array<std::optional<fs::path>, PictureSlots> written;
    auto dropWritten = [&] {
        for (auto& temporary : written) {
            if (temporary) {
                ::unlink(temporary->c_str());
                temporary.reset();
            }
        }
    };
    for (int slot = 0; slot < PictureSlots; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        report(PictureSlots + slot,
               FormatText(PictureText::UpdatingIcon, {SlotName(slot), nickname}));
        if (!pictures[index].Ok()) {
            continue;
        }
        const fs::path temporary = TemporaryBeside(PictureFile(*folder, contactId, slot));
        const WriteResult write = WriteNewFile(temporary, pictures[index].bytes);
        if (write.createError != 0) {
            result.failures[index] = ErrnoText(write.createError);
            continue;
        }
        written[index] = temporary;
        if (write.writeError != 0) {
            dropWritten();
            result.fatal = FormatText(PictureText::UpdateFailed, {ErrnoText(write.writeError)});
            return result;
        }
    }

    // Last the renames, each of which replaces one file whole.
    for (int slot = 0; slot < PictureSlots; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        if (!written[index]) {
            continue;
        }
        const fs::path target = PictureFile(*folder, contactId, slot);
        if (::rename(written[index]->c_str(), target.c_str()) != 0) {
            result.failures[index] = protocol::SystemErrorText();
            ::unlink(written[index]->c_str());
        }
        written[index].reset();
    }
    return result;
}

std::string DownloadReport(const PictureDownload& download) {
    std::string lines;
    for (int slot = 0; slot < PictureSlots; ++slot) {
        const auto& failure = download.failures[static_cast<std::size_t>(slot)];
        if (!failure.empty()) {
            lines += FormatText(PictureText::CannotBeUpdatedLine, {SlotName(slot), failure});
        }
    }
    return lines.empty() ? std::string() : FormatText(PictureText::CannotBeUpdated, {lines});
}

std::vector<std::string> ResetUserPictures(std::string_view accountId, std::string_view ownerId) {
    std::vector<std::string> failures;
    const auto folder = PicturesFolder(accountId);
    if (!folder || !data::IsValidId(ownerId)) {
        return failures;  // no such owner has files
    }
    for (int slot = 0; slot < PictureSlots; ++slot) {
        const fs::path file = PictureFile(*folder, ownerId, slot);
        struct stat info {};
        if (::lstat(file.c_str(), &info) != 0) {
            continue;  // nothing to delete
        }
        const int failed = S_ISDIR(info.st_mode) ? ::rmdir(file.c_str()) : ::unlink(file.c_str());
        if (failed != 0) {
            failures.push_back(FormatText(PictureText::DeleteFailed, {file.string()}));
        }
    }
    return failures;
}

std::optional<std::string> CopyPictureFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    const fs::path temporary = TemporaryBeside(to);
    fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec);
    if (!ec) {
        fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::add, ec);
        ec.clear();
        fs::rename(temporary, to, ec);
    }
    if (ec) {
        fs::remove(temporary, ec);  // keeps the first error's text below
        return ErrnoText(ec.value() != 0 ? ec.value() : EIO);
    }
    return std::nullopt;
}

PictureBytes ReadOwnPicture(const fs::path& file) {
    PictureBytes result;
    platform::FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd.IsOpen() || ::fstat(fd.Get(), &info) != 0) {
        result.error = protocol::SystemErrorText();
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.error = ErrnoText(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
        return result;
    }
    if (static_cast<std::uintmax_t>(info.st_size) >= session::PictureBufferSize) {
        result.error = std::string(PictureText::FileTooLarge);
        return result;
    }
    // One byte more than the size allows notices a file that grew since it was measured.
    result.bytes.resize(session::PictureBufferSize);
    std::size_t filled = 0;
    while (filled < result.bytes.size()) {
        const ssize_t got =
            ::read(fd.Get(), result.bytes.data() + filled, result.bytes.size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            result.error = protocol::SystemErrorText();
            result.bytes.clear();
            return result;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    if (filled >= session::PictureBufferSize) {
        result.error = std::string(PictureText::FileTooLarge);
        result.bytes.clear();
        return result;
    }
    result.bytes.resize(filled);
    return result;
}

}  // namespace talvorine::client::ui::icons
