#pragma once
// Chat and file-transfer history: one file per chat request in the account's "Chat" folder
// and one per transfer in its "File Transfer" folder, both named "<peer id>-<n>.dat" where n
// is the time of creation in seconds since 1970, raised by one until the name is free.
//
// Chat file: ChatFileHeader (536 bytes, little-endian) then the transcript without terminator.
//   0 direction (0 sent by the own user, 1 received)   4 request time
//   8 request text (257, NUL-terminated)  268 accepted (1/0)
//   272 reason of a denial (257)          532 transcript length T
// Transfer record: INI text, section "Parameters": "Type", "File Name", "Size", "Time",
// "Description", "Accepted", "Saved As", "Done", "Status".

#include <array>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/data/data_error.h"

namespace talvorine::client::data {

inline constexpr std::size_t ChatFileHeaderSize = 536;
inline constexpr std::size_t ChatTextField = 257;

enum class ChatDirection : std::uint32_t { Sent = 0, Received = 1 };

struct ChatFileHeader {
    ChatDirection direction = ChatDirection::Sent;
    std::uint32_t time = 0;  // seconds since 1970-01-01 UTC
    std::string requestText;
    bool accepted = false;
    std::string reason;
    std::uint32_t transcriptLength = 0;

    std::array<std::uint8_t, ChatFileHeaderSize> Encode() const;
    // Throws DataError when fewer than 536 bytes are given.
    static ChatFileHeader Decode(std::span<const std::uint8_t> bytes);
};

struct ChatRecord {
    std::filesystem::path file;
    ChatFileHeader header;
};

// Creates the chat file for a request to or from `peerId` with `header` (its transcript length
// set to 0 and its time to the name's number) and returns its path. Throws DataError.
std::filesystem::path CreateChatFile(std::string_view accountId, std::string_view peerId,
                                     ChatFileHeader header, std::time_t now = std::time(nullptr));
// The head of a chat file; DataError for a file shorter than the head.
ChatFileHeader ReadChatHeader(const std::filesystem::path& file);
// The transcript (T bytes after the head); DataError when the file holds fewer.
std::string ReadChatTranscript(const std::filesystem::path& file);
// The answering side's update: accepted, and the reply text as the reason of a denial.
void SetChatAnswer(const std::filesystem::path& file, bool accepted, std::string_view reason);
// Stores the transcript after the head and its length in the head.
void SaveChatTranscript(const std::filesystem::path& file, std::string_view transcript);
// "<peer>-*.dat" in the account's Chat folder, in the order the folder listing gives.
std::vector<std::filesystem::path> ListChatFiles(std::string_view accountId,
                                                 std::string_view peerId);
// The readable chat files of a peer; unreadable ones are skipped.
std::vector<ChatRecord> ReadChatHistory(std::string_view accountId, std::string_view peerId);

enum class TransferType : int { Outgoing = 0, Incoming = 1 };

namespace TransferStatus {
inline constexpr std::string_view Done = "Done";
inline constexpr std::string_view Canceled = "Canceled";
inline constexpr std::string_view FailedPrefix = "Failed: ";
}  // namespace TransferStatus

struct TransferRecord {
    std::filesystem::path file;
    int type = -1;         // 0 outgoing, 1 incoming, anything else is not listed
    std::string fileName;  // the sender's full path or the offered name
    std::string size;      // as stored
    std::string time;      // local "%Y-%m-%d %H:%M:%S"
    std::string description;
    bool accepted = true;  // a missing "Accepted" counts as accepted
    std::string savedAs;
    bool done = false;
    std::string status;

    // The history's cells: the name after the last folder separator; the size only when it is
    // a number above 0; "Saved As: <path>" for a finished receipt, else the status.
    std::string NameCell() const;
    std::string SizeCell() const;
    std::string StatusCell() const;

    static TransferRecord Read(const std::filesystem::path& file);
};

// Creates the record with "Type", "File Name", "Size", "Time" and "Description". Throws
// DataError.
std::filesystem::path CreateTransferRecord(std::string_view accountId, std::string_view peerId,
                                           TransferType type, std::string_view fileName,
                                           std::uint32_t size, std::string_view description,
                                           std::time_t now = std::time(nullptr));
// Single updates; false when the file cannot be written.
bool SetTransferAccepted(const std::filesystem::path& file, bool accepted);
bool SetTransferSavedAs(const std::filesystem::path& file, std::string_view savedAs);
bool SetTransferDone(const std::filesystem::path& file);
bool SetTransferStatus(const std::filesystem::path& file, std::string_view status);
std::vector<std::filesystem::path> ListTransferRecords(std::string_view accountId,
                                                       std::string_view peerId);
// Records of type 0 or 1 that pass the filter.
std::vector<TransferRecord> ReadTransferHistory(std::string_view accountId, std::string_view peerId,
                                                bool showOutgoing = true, bool showIncoming = true);

// "%Y-%m-%d %H:%M:%S" in local time.
std::string FormatLocalTime(std::time_t time);

}  // namespace talvorine::client::data
