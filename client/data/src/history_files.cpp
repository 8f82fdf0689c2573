#include "talvorine/client/data/history_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "binary_file.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/platform/private_profile.h"
#include "talvorine/platform/text.h"

namespace talvorine::client::data {

namespace fs = std::filesystem;
using detail::LoadLe32;
using detail::StoreLe32;
using detail::UniqueFd;
using platform::PrivateProfile;

namespace {

constexpr std::string_view Parameters = "Parameters";

fs::path RequireFolder(std::optional<fs::path> folder, std::string_view accountId,
                       std::string_view name) {
    if (!folder) {
        detail::ThrowFileError(AccountRoot() / "Users" / std::string(accountId) / std::string(name),
                               errno != 0 ? errno : EINVAL);
    }
    return *folder;
}

// The first free "<peer>-<n>.dat" from n = now upwards, created exclusively so that two
// windows never share a file.
std::pair<fs::path, UniqueFd> CreateUnique(const fs::path& folder, std::string_view peerId,
                                           std::time_t now, std::uint32_t& number) {
    if (!IsValidId(peerId)) {
        throw DataError("Not a valid user ID: " + std::string(peerId));
    }
    number = static_cast<std::uint32_t>(now);
    for (int attempt = 0; attempt < 100000; ++attempt, ++number) {
        fs::path file = folder / (std::string(peerId) + "-" + std::to_string(number) + ".dat");
        UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.IsOpen()) {
            return {std::move(file), std::move(fd)};
        }
        if (errno != EEXIST) {
            detail::ThrowFileError(file, errno);
        }
    }
    detail::ThrowFileError(folder, EEXIST);
}

std::vector<fs::path> ListHistory(const std::optional<fs::path>& folder, std::string_view peerId) {
    std::vector<fs::path> files;
    if (!folder || !IsValidId(peerId)) {
        return files;
    }
    const std::string prefix = std::string(peerId) + "-";
    std::error_code ec;
    for (fs::directory_iterator it(*folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() >= prefix.size() + 4 && name.starts_with(prefix) &&
            name.ends_with(".dat") && !it->is_directory(ec)) {
            files.push_back(it->path());
        }
    }
    return files;
}

UniqueFd OpenExisting(const fs::path& file, int flags) {
    UniqueFd fd(::open(file.c_str(), flags | O_CLOEXEC));
    if (!fd.IsOpen()) {
        detail::ThrowFileError(file, errno);
    }
    return fd;
}

ChatFileHeader ReadHead(int fd, const fs::path& file) {
    std::array<std::uint8_t, ChatFileHeaderSize> bytes{};
    if (detail::ReadAt(fd, 0, bytes, file) != bytes.size()) {
        throw DataError(file.string() + ": the chat file is shorter than its 536-byte head.");
    }
    return ChatFileHeader::Decode(bytes);
}

}  // namespace

std::array<std::uint8_t, ChatFileHeaderSize> ChatFileHeader::Encode() const {
    std::array<std::uint8_t, ChatFileHeaderSize> bytes{};
    std::span<std::uint8_t> all(bytes);
    StoreLe32(all.subspan(0, 4), static_cast<std::uint32_t>(direction));
    StoreLe32(all.subspan(4, 4), time);
    platform::WriteTextField(all.subspan(8, ChatTextField), requestText);
    StoreLe32(all.subspan(268, 4), accepted ? 1 : 0);
    platform::WriteTextField(all.subspan(272, ChatTextField), reason);
    StoreLe32(all.subspan(532, 4), transcriptLength);
    return bytes;
}

ChatFileHeader ChatFileHeader::Decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < ChatFileHeaderSize) {
        throw DataError("The chat file is shorter than its 536-byte head.");
    }
    ChatFileHeader header;
    header.direction = static_cast<ChatDirection>(LoadLe32(bytes.subspan(0, 4)));
    header.time = LoadLe32(bytes.subspan(4, 4));
    header.requestText = platform::ReadTextField(bytes.subspan(8, ChatTextField));
    header.accepted = LoadLe32(bytes.subspan(268, 4)) == 1;
    header.reason = platform::ReadTextField(bytes.subspan(272, ChatTextField));
    header.transcriptLength = LoadLe32(bytes.subspan(532, 4));
    return header;
}

fs::path CreateChatFile(std::string_view accountId, std::string_view peerId, ChatFileHeader header,
                        std::time_t now) {
    const fs::path folder = RequireFolder(ChatFolder(accountId), accountId, "Chat");
    std::uint32_t number = 0;
    auto [file, fd] = CreateUnique(folder, peerId, now, number);
    header.time = number;
    header.transcriptLength = 0;
    try {
        detail::WriteAt(fd.Get(), 0, header.Encode(), file);
    } catch (...) {
        fd.Close();
        std::error_code ec;
        fs::remove(file, ec);
        throw;
    }
    return file;
}

ChatFileHeader ReadChatHeader(const fs::path& file) {
    UniqueFd fd = OpenExisting(file, O_RDONLY);
    return ReadHead(fd.Get(), file);
}

std::string ReadChatTranscript(const fs::path& file) {
    UniqueFd fd = OpenExisting(file, O_RDONLY);
    const ChatFileHeader header = ReadHead(fd.Get(), file);
    const std::uint64_t length = detail::FileLength(fd.Get(), file);
    if (header.transcriptLength > length - ChatFileHeaderSize) {
        throw DataError(file.string() + ": the chat file is shorter than its transcript length.");
    }
    std::vector<std::uint8_t> bytes(header.transcriptLength);
    detail::ReadAt(fd.Get(), ChatFileHeaderSize, bytes, file);
    return std::string(bytes.begin(), bytes.end());
}

void SetChatAnswer(const fs::path& file, bool accepted, std::string_view reason) {
    UniqueFd fd = OpenExisting(file, O_RDWR);
    ChatFileHeader header = ReadHead(fd.Get(), file);
    header.accepted = accepted;
    if (!accepted) {
        header.reason = std::string(reason);
    }
    detail::WriteAt(fd.Get(), 0, header.Encode(), file);
}

void SaveChatTranscript(const fs::path& file, std::string_view transcript) {
    if (transcript.size() > 0xFFFFFFFFu) {
        throw DataError(file.string() + ": the transcript is too long to store.");
    }
    UniqueFd fd = OpenExisting(file, O_RDWR);
    ChatFileHeader header = ReadHead(fd.Get(), file);
    header.transcriptLength = static_cast<std::uint32_t>(transcript.size());
    detail::WriteAt(fd.Get(), 0, header.Encode(), file);
    detail::WriteAt(
        fd.Get(), ChatFileHeaderSize,
        std::span(reinterpret_cast<const std::uint8_t*>(transcript.data()), transcript.size()),
        file);
    detail::Truncate(fd.Get(), ChatFileHeaderSize + transcript.size(), file);
}

std::vector<fs::path> ListChatFiles(std::string_view accountId, std::string_view peerId) {
    return ListHistory(ChatFolder(accountId), peerId);
}

std::vector<ChatRecord> ReadChatHistory(std::string_view accountId, std::string_view peerId) {
    std::vector<ChatRecord> records;
    for (fs::path& file : ListChatFiles(accountId, peerId)) {
        try {
            ChatFileHeader header = ReadChatHeader(file);
            records.push_back({std::move(file), std::move(header)});
        } catch (const DataError&) {
        }
    }
    return records;
}

std::string FormatLocalTime(std::time_t time) {
    std::tm local{};
    if (::localtime_r(&time, &local) == nullptr) {
        return {};
    }
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string TransferRecord::NameCell() const {
    const auto slash = fileName.find_last_of("/\\");
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

std::string TransferRecord::SizeCell() const {
    unsigned long long value = 0;
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), value);
    if (error != std::errc() || end != size.data() + size.size() || value == 0) {
        return {};
    }
    return size;
}

std::string TransferRecord::StatusCell() const {
    return done ? "Saved As: " + savedAs : status;
}

TransferRecord TransferRecord::Read(const fs::path& file) {
    PrivateProfile profile(file);
    TransferRecord record;
    record.file = file;
    record.type = profile.ReadInt(Parameters, "Type", -1);
    record.fileName = profile.ReadString(Parameters, "File Name", "");
    record.size = profile.ReadString(Parameters, "Size", "");
    record.time = profile.ReadString(Parameters, "Time", "");
    record.description = profile.ReadString(Parameters, "Description", "");
    record.accepted = profile.ReadInt(Parameters, "Accepted", 1) != 0;
    record.savedAs = profile.ReadString(Parameters, "Saved As", "");
    record.done = profile.ReadInt(Parameters, "Done", 0) == 1;
    record.status = profile.ReadString(Parameters, "Status", "");
    return record;
}

fs::path CreateTransferRecord(std::string_view accountId, std::string_view peerId,
                              TransferType type, std::string_view fileName, std::uint32_t size,
                              std::string_view description, std::time_t now) {
    const fs::path folder =
        RequireFolder(FileTransferFolder(accountId), accountId, "File Transfer");
    std::uint32_t number = 0;
    auto [file, fd] = CreateUnique(folder, peerId, now, number);
    fd.Close();
    PrivateProfile profile(file);
    const bool written =
        profile.Write(Parameters, "Type", std::to_string(static_cast<int>(type))) &&
        profile.Write(Parameters, "File Name", fileName) &&
        profile.Write(Parameters, "Size", std::to_string(size)) &&
        profile.Write(Parameters, "Time", FormatLocalTime(now)) &&
        profile.Write(Parameters, "Description", description);
    if (!written) {
        const int error = errno;
        std::error_code ec;
        fs::remove(file, ec);
        detail::ThrowFileError(file, error != 0 ? error : EIO);
    }
    return file;
}

bool SetTransferAccepted(const fs::path& file, bool accepted) {
    return PrivateProfile(file).Write(Parameters, "Accepted", accepted ? "1" : "0");
}

bool SetTransferSavedAs(const fs::path& file, std::string_view savedAs) {
    return PrivateProfile(file).Write(Parameters, "Saved As", savedAs);
}

bool SetTransferDone(const fs::path& file) {
    return PrivateProfile(file).Write(Parameters, "Done", "1");
}

bool SetTransferStatus(const fs::path& file, std::string_view status) {
    return PrivateProfile(file).Write(Parameters, "Status", status);
}

std::vector<fs::path> ListTransferRecords(std::string_view accountId, std::string_view peerId) {
    return ListHistory(FileTransferFolder(accountId), peerId);
}

std::vector<TransferRecord> ReadTransferHistory(std::string_view accountId, std::string_view peerId,
                                                bool showOutgoing, bool showIncoming) {
    std::vector<TransferRecord> records;
    for (const fs::path& file : ListTransferRecords(accountId, peerId)) {
        TransferRecord record = TransferRecord::Read(file);
        if ((record.type == 0 && showOutgoing) || (record.type == 1 && showIncoming)) {
            records.push_back(std::move(record));
        }
    }
    return records;
}

}  // namespace talvorine::client::data
