#pragma once
// One correspondent's message history in one direction: a data file of records appended one
// after another and an index file of the live records' offsets.
//
//   header (both files, 38 bytes): "TALVORINEMESSENGER" in 32 zero-filled bytes, format word
//                                  256, record count (data: ever appended; index: live)
//   data record:  state (0 live, 1 deleted), payload length L (32-bit), L payload bytes
//   index entry:  32-bit offset of a live record's state byte, in append order
//   payload:      20-byte message header (body length B, read state, 12 zero bytes), B body bytes
//
// A store object holds both files open for one operation. Opening locks the files (shared
// for reading, exclusive for writing) so that a second open for writing while one is open
// fails, as the deny-write sharing mode does on Windows. Errors are DataError texts.
//
// Compaction writes the new pair beside the store as "~IF<id>.dat" / "~IF<id>.idx", syncs
// it, removes the old index, renames the new data file over the old one and then the new
// index. At every moment the folder holds a complete data file; whenever the index is missing
// the next open rebuilds it from the data file's live records, and any leftover "~IF" files
// are removed, so an interrupted compaction always leaves a store that opens with every live
// message.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/data/data_error.h"

namespace talvorine::client::data {

using MessageStoreError = DataError;

inline constexpr std::string_view StoreMagic = "TALVORINEMESSENGER";
inline constexpr std::size_t StoreMagicSize = 32;
inline constexpr std::size_t StoreHeaderSize = 38;
inline constexpr std::uint16_t StoreFormat = 256;
inline constexpr std::size_t RecordHeadSize = 5;
inline constexpr std::size_t MessageHeaderSize = 20;
inline constexpr std::size_t MessageBodyMax = 32768;  // the readers' buffer
inline constexpr std::size_t BriefBytes = 36;         // time, format, brief
inline constexpr std::size_t ShowableBodyMin = 37;
inline constexpr std::string_view FileCrashedText = "File is crashed.";
// "<path> is not a legal Talvorine Instant Messenger message file. Please run StoreMender to
// correct this problem."
std::string IllegalStoreText(const std::filesystem::path& dataFile);
// The text of a second open for writing while the store is open.
inline constexpr std::string_view StoreInUseText =
    "The process cannot access the file because it is being used by another process.";

enum class StoreKind { Sent, Received };
enum class StoreMode { Read, ReadWrite };

struct StorePaths {
    std::filesystem::path data;   // <folder>/<id>.dat
    std::filesystem::path index;  // <folder>/<id>.idx

    static StorePaths InFolder(const std::filesystem::path& folder, std::string_view correspondent);
    // The account's "Sent Messages" or "Received Messages" folder, created when missing.
    // Throws DataError when the folder cannot be made or an id is not 8 digits.
    static StorePaths For(std::string_view accountId, StoreKind kind,
                          std::string_view correspondent);
};

struct MessageHeader {
    std::uint32_t bodyLength = 0;
    std::uint32_t readState = 0;  // 0 unread, 1 read

    std::array<std::uint8_t, MessageHeaderSize> Encode() const;
    static MessageHeader Decode(std::span<const std::uint8_t> bytes);  // at least 20 bytes
};

struct StoredMessage {
    MessageHeader header;
    std::vector<std::uint8_t> body;
};

// One row of a message list: the first 36 body bytes of a record.
struct MessageBrief {
    std::uint32_t index = 0;  // position in the store, 0 the oldest
    bool readable = false;    // false: the record is damaged or its body is under 36 bytes
    std::string error;        // why it is not readable
    std::uint32_t time = 0;
    bool richText = false;
    std::string brief;
    bool read = false;
};

// Points where a compaction can be interrupted (for tests that inject failures).
enum class CompactionStep {
    TemporaryCreated,
    RecordsCopied,
    TemporarySynced,
    OldIndexRemoved,
    DataReplaced,
    IndexReplaced,
};

class MessageStore {
public:
    // Opens the pair. With createIfMissing a missing data file makes a new store. A data file
    // without the magic is refused with IllegalStoreText; a missing or damaged index is
    // rebuilt from the data file (a damaged one is kept aside as "<id>.idx.damaged").
    static MessageStore Open(const StorePaths& paths, StoreMode mode, bool createIfMissing);
    static MessageStore Open(std::string_view accountId, StoreKind kind,
                             std::string_view correspondent, StoreMode mode, bool createIfMissing);
    // Both files anew (existing ones emptied), then opened in `mode`. This is "delete all".
    static MessageStore Create(const StorePaths& paths, StoreMode mode);
    // Rewrites the pair without dead records (see the file comment). A store whose index does
    // not list exactly the data file's live records is refused with "File is crashed." and
    // left as it is, since compacting it would drop messages.
    static void Compact(const StorePaths& paths);
    // Writes a fresh index listing the data file's live records.
    static void RebuildIndex(const std::filesystem::path& dataFile,
                             const std::filesystem::path& indexFile);

    using CompactionHook = std::function<void(CompactionStep)>;
    // Called at every step of every compaction of this process; for tests. Empty to clear.
    static void SetCompactionHook(CompactionHook hook);

    MessageStore();
    MessageStore(MessageStore&& other) noexcept;
    MessageStore& operator=(MessageStore&& other) noexcept;
    MessageStore(const MessageStore&) = delete;
    MessageStore& operator=(const MessageStore&) = delete;
    ~MessageStore();

    bool IsOpen() const;
    const StorePaths& Paths() const { return m_paths; }
    void Close();

    // Live records (the index header's count).
    std::uint32_t Count() const;
    // Appends one record with this payload.
    void Append(std::span<const std::uint8_t> payload);
    // Appends a message: its 20-byte header (B, readState) and the body.
    void AppendMessage(std::span<const std::uint8_t> body, std::uint32_t readState = 0);
    // Reads min(buffer.size(), L) payload bytes of record i; returns the count.
    std::size_t Read(std::uint32_t i, std::span<std::uint8_t> buffer) const;
    // Header and up to `size` body bytes; "File is crashed." when fewer than 20 bytes come.
    StoredMessage ReadMessage(std::uint32_t i, std::size_t size = MessageBodyMax) const;
    MessageHeader ReadHeader(std::uint32_t i) const;
    // Overwrites the start of record i's payload when bytes.size() <= L (else nothing).
    void RewritePayloadPrefix(std::uint32_t i, std::span<const std::uint8_t> bytes);
    bool IsRead(std::uint32_t i) const;
    void SetReadState(std::uint32_t i, std::uint32_t state);
    std::uint32_t PayloadLength(std::uint32_t i) const;
    // Marks record i deleted, zeroes its payload and drops it from the index.
    void Delete(std::uint32_t i);
    std::uint64_t DataLength() const;
    // Bytes of dead records: data length - (38 + sum over live records of 5 + L); 0 if closed.
    std::uint64_t WastedSpace() const;

    // Records whose read state is 0, reading only each record's head and message header.
    // When `reached` is given it holds the count so far, also when an error is thrown.
    std::uint32_t CountUnread(std::uint32_t* reached = nullptr) const;
    // Rows for records first .. first + count - 1 (clipped to Count()), oldest first; reads
    // the index entries of that range and 36 body bytes of each record, nothing else.
    std::vector<MessageBrief> ReadBriefs(std::uint32_t first, std::uint32_t count) const;
    // The newest `count` rows, newest first, as a message list shows them.
    std::vector<MessageBrief> ReadNewestBriefs(std::uint32_t count) const;

    struct Impl;  // the open files; defined in the source

private:
    explicit MessageStore(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
    StorePaths m_paths;
};

// A sent message as it is stored: B = text length + 37, rich text, read state 0. The body
// is the encoded MessageRecord.
void StoreSentMessage(std::string_view accountId, std::string_view recipient,
                      std::span<const std::uint8_t> body);
// A received message body, stored as it arrived with read state 0. Only bodies longer than
// 36 bytes are stored; false when the body was too short to keep.
bool StoreReceivedMessage(std::string_view accountId, std::string_view sender,
                          std::span<const std::uint8_t> body);
// The unread count of a correspondent as the contact list takes it at load: the received
// store opened for reading (0 when it does not exist); on an error the count so far.
std::uint32_t CountUnreadMessages(std::string_view accountId, std::string_view correspondent);

}  // namespace talvorine::client::data
