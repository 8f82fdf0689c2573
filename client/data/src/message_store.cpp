#include "talvorine/client/data/message_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "binary_file.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/platform/text.h"

namespace talvorine::client::data {

namespace fs = std::filesystem;
using detail::LoadLe32;
using detail::ReadAt;
using detail::StoreLe32;
using detail::UniqueFd;
using detail::WriteAt;

namespace {

constexpr std::uint64_t CountOffset = 34;
constexpr std::uint64_t MaxOffset = std::numeric_limits<std::uint32_t>::max();
constexpr std::size_t CopyChunk = 64 * 1024;
constexpr std::size_t EntriesPerRead = 4096;

MessageStore::CompactionHook& Hook() {
    static MessageStore::CompactionHook hook;
    return hook;
}

void RunHook(CompactionStep step) {
    if (Hook()) {
        Hook()(step);
    }
}

[[noreturn]] void ThrowCrashed() {
    throw DataError(std::string(FileCrashedText));
}

std::array<std::uint8_t, StoreHeaderSize> MakeHeader(std::uint32_t count) {
    std::array<std::uint8_t, StoreHeaderSize> header{};
    std::memcpy(header.data(), StoreMagic.data(), StoreMagic.size());
    detail::StoreLe16(std::span(header).subspan(32, 2), StoreFormat);
    StoreLe32(std::span(header).subspan(34, 4), count);
    return header;
}

// The first 32 bytes compared as zero-terminated text with the magic.
bool HasMagic(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < StoreMagicSize) {
        return false;
    }
    return platform::ReadTextField(bytes.first(StoreMagicSize)) == StoreMagic;
}

bool SameFile(int fd, const fs::path& path) {
    struct stat open {};
    struct stat named {};
    if (::fstat(fd, &open) != 0 || ::stat(path.c_str(), &named) != 0) {
        return false;
    }
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Opens and locks one file of the pair. A file that was renamed over while we waited for
// the lock is opened again, so the lock always belongs to the file under the name.
// Returns an unopened fd (errno set) when open() fails; throws when the lock is taken.
UniqueFd OpenLocked(const fs::path& path, StoreMode mode, int extraFlags = 0) {
    const int flags = (mode == StoreMode::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC | extraFlags;
    const int lock = (mode == StoreMode::Read ? LOCK_SH : LOCK_EX) | LOCK_NB;
    for (int attempt = 0; attempt < 16; ++attempt) {
        UniqueFd fd(::open(path.c_str(), flags, 0644));
        if (!fd.IsOpen()) {
            return fd;
        }
        if (::flock(fd.Get(), lock) != 0) {
            if (errno == EWOULDBLOCK) {
                throw DataError(path.string() + ": " + std::string(StoreInUseText));
            }
            detail::ThrowFileError(path, errno);
        }
        if (SameFile(fd.Get(), path)) {
            return fd;
        }
    }
    throw DataError(path.string() + ": " + std::string(StoreInUseText));
}

fs::path CompactionFile(const StorePaths& paths, std::string_view extension) {
    return paths.data.parent_path() / ("~IF" + paths.data.stem().string() + std::string(extension));
}

void RemoveQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

// Leftovers of an interrupted compaction; only called while holding the data file's lock,
// so no compaction of this store is running.
void RemoveCompactionLeftovers(const StorePaths& paths) {
    RemoveQuietly(CompactionFile(paths, ".dat"));
    RemoveQuietly(CompactionFile(paths, ".idx"));
}

struct RecordPlace {
    std::uint64_t offset = 0;
    std::uint32_t length = 0;  // L
    std::uint8_t state = 0;
};

// The record head at `offset`, checked to lie wholly inside the data file.
RecordPlace ReadRecordHead(int dataFd, std::uint64_t offset, std::uint64_t dataLength,
                           const fs::path& path) {
    if (offset < StoreHeaderSize || offset + RecordHeadSize > dataLength) {
        ThrowCrashed();
    }
    std::array<std::uint8_t, RecordHeadSize> head{};
    if (ReadAt(dataFd, offset, head, path) != head.size()) {
        ThrowCrashed();
    }
    RecordPlace place{offset, LoadLe32(std::span(head).subspan(1, 4)), head[0]};
    if (offset + RecordHeadSize + place.length > dataLength) {
        ThrowCrashed();
    }
    return place;
}

// Writes a file beside `target` under a temporary name, syncs it and renames it over.
void ReplaceFile(const fs::path& target, std::span<const std::uint8_t> first,
                 std::span<const std::uint8_t> second) {
    std::string pattern = (target.parent_path() / ("~IF" + target.filename().string() + ".XXXXXX"));
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.IsOpen()) {
        detail::ThrowFileError(target, errno);
    }
    fs::path temporary(name.data());
    try {
        WriteAt(fd.Get(), 0, first, temporary);
        WriteAt(fd.Get(), first.size(), second, temporary);
        ::fchmod(fd.Get(), 0644);
        detail::Sync(fd.Get(), temporary);
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            detail::ThrowFileError(target, errno);
        }
    } catch (...) {
        RemoveQuietly(temporary);
        throw;
    }
    detail::SyncFolder(target.parent_path());
}

// The offsets of the data file's complete live records, walking it record by record. A torn
// record at the end of the file (a write cut short) ends the walk rather than making the
// store unusable.
std::vector<std::uint32_t> LiveRecordOffsets(int dataFd, const fs::path& dataPath) {
    const std::uint64_t length = detail::FileLength(dataFd, dataPath);
    std::vector<std::uint32_t> offsets;
    std::uint64_t offset = StoreHeaderSize;
    while (offset + RecordHeadSize <= length && offset <= MaxOffset) {
        std::array<std::uint8_t, RecordHeadSize> head{};
        if (ReadAt(dataFd, offset, head, dataPath) != head.size()) {
            break;
        }
        const std::uint64_t end = offset + RecordHeadSize + LoadLe32(std::span(head).subspan(1, 4));
        if (end > length) {
            break;
        }
        if (head[0] == 0) {
            offsets.push_back(static_cast<std::uint32_t>(offset));
        }
        offset = end;
    }
    return offsets;
}

// The index the data file calls for.
void RebuildIndexFrom(int dataFd, const fs::path& dataPath, const fs::path& indexPath) {
    std::array<std::uint8_t, StoreHeaderSize> header{};
    if (ReadAt(dataFd, 0, header, dataPath) != header.size()) {
        ThrowCrashed();
    }
    const std::vector<std::uint32_t> offsets = LiveRecordOffsets(dataFd, dataPath);
    std::vector<std::uint8_t> entries(offsets.size() * 4);
    for (std::size_t k = 0; k < offsets.size(); ++k) {
        StoreLe32(std::span(entries).subspan(k * 4, 4), offsets[k]);
    }
    auto indexHeader = header;
    StoreLe32(std::span(indexHeader).subspan(34, 4), static_cast<std::uint32_t>(offsets.size()));
    ReplaceFile(indexPath, indexHeader, entries);
}

// An index whose header and length agree; anything else is rebuilt.
bool IndexLooksSound(int indexFd, const fs::path& path, std::uint32_t& count) {
    std::array<std::uint8_t, StoreHeaderSize> header{};
    if (ReadAt(indexFd, 0, header, path) != header.size() || !HasMagic(header)) {
        return false;
    }
    count = LoadLe32(std::span(header).subspan(34, 4));
    return detail::FileLength(indexFd, path) == StoreHeaderSize + std::uint64_t{count} * 4;
}

}  // namespace

std::string IllegalStoreText(const fs::path& dataFile) {
    return dataFile.string() +
           " is not a legal Talvorine Instant Messenger message file. Please run StoreMender to "
           "correct this problem.";
}

StorePaths StorePaths::InFolder(const fs::path& folder, std::string_view correspondent) {
    std::string id(correspondent);
    return {folder / (id + ".dat"), folder / (id + ".idx")};
}

StorePaths StorePaths::For(std::string_view accountId, StoreKind kind,
                           std::string_view correspondent) {
    if (!IsValidId(correspondent) || !IsValidId(accountId)) {
        throw DataError("Not a valid user ID: " +
                        std::string(IsValidId(accountId) ? correspondent : accountId));
    }
    auto folder = kind == StoreKind::Sent ? SentFolder(accountId) : ReceivedFolder(accountId);
    if (!folder) {
        const fs::path wanted = AccountRoot() / "Users" / std::string(accountId) /
                                (kind == StoreKind::Sent ? "Sent Messages" : "Received Messages");
        detail::ThrowFileError(wanted, errno != 0 ? errno : EACCES);
    }
    return InFolder(*folder, correspondent);
}

std::array<std::uint8_t, MessageHeaderSize> MessageHeader::Encode() const {
    std::array<std::uint8_t, MessageHeaderSize> bytes{};
    StoreLe32(std::span(bytes).subspan(0, 4), bodyLength);
    StoreLe32(std::span(bytes).subspan(4, 4), readState);
    return bytes;
}

MessageHeader MessageHeader::Decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < MessageHeaderSize) {
        ThrowCrashed();
    }
    return {LoadLe32(bytes.subspan(0, 4)), LoadLe32(bytes.subspan(4, 4))};
}

struct MessageStore::Impl {
    StorePaths paths;
    StoreMode mode = StoreMode::Read;
    UniqueFd data;
    UniqueFd index;
    std::uint64_t dataLength = 0;  // both files are locked, so only this object changes them
    std::uint32_t count = 0;       // live records

    void RequireWritable() const {
        if (mode != StoreMode::ReadWrite) {
            detail::ThrowFileError(paths.data, EBADF);
        }
    }

    void CheckPosition(std::uint32_t i) const {
        if (i >= count) {
            throw DataError("No message #" + std::to_string(i) + " in " + paths.data.string());
        }
    }

    std::uint64_t Entry(std::uint32_t i) const {
        CheckPosition(i);
        std::array<std::uint8_t, 4> entry{};
        if (ReadAt(index.Get(), StoreHeaderSize + std::uint64_t{i} * 4, entry, paths.index) != 4) {
            ThrowCrashed();
        }
        return LoadLe32(entry);
    }

    RecordPlace Locate(std::uint32_t i) const {
        return ReadRecordHead(data.Get(), Entry(i), dataLength, paths.data);
    }

    // Index entries first .. first + n - 1 in one read.
    std::vector<std::uint32_t> Entries(std::uint32_t first, std::uint32_t n) const {
        std::vector<std::uint8_t> bytes(std::size_t{n} * 4);
        if (ReadAt(index.Get(), StoreHeaderSize + std::uint64_t{first} * 4, bytes, paths.index) !=
            bytes.size()) {
            ThrowCrashed();
        }
        std::vector<std::uint32_t> entries(n);
        for (std::uint32_t k = 0; k < n; ++k) {
            entries[k] = LoadLe32(std::span(bytes).subspan(std::size_t{k} * 4, 4));
        }
        return entries;
    }

    template <typename Visit>
    void ForEachEntry(Visit visit) const {
        for (std::uint32_t first = 0; first < count;) {
            const auto n =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(EntriesPerRead, count - first));
            for (std::uint32_t offset : Entries(first, n)) {
                visit(offset);
            }
            first += n;
        }
    }

    void AddToCount(int fd, const fs::path& path, std::int64_t delta) const {
        std::array<std::uint8_t, 4> bytes{};
        if (ReadAt(fd, CountOffset, bytes, path) != bytes.size()) {
            ThrowCrashed();
        }
        StoreLe32(bytes, static_cast<std::uint32_t>(LoadLe32(bytes) + delta));
        WriteAt(fd, CountOffset, bytes, path);
    }
};

namespace {

std::unique_ptr<MessageStore::Impl> OpenPair(const StorePaths& paths, StoreMode mode,
                                             bool& missing) {
    auto impl = std::make_unique<MessageStore::Impl>();
    impl->paths = paths;
    impl->mode = mode;
    impl->data = OpenLocked(paths.data, mode);
    if (!impl->data.IsOpen()) {
        if (errno == ENOENT) {
            missing = true;
            return nullptr;
        }
        detail::ThrowFileError(paths.data, errno);
    }
    std::array<std::uint8_t, StoreHeaderSize> header{};
    const std::size_t got = ReadAt(impl->data.Get(), 0, header, paths.data);
    if (!HasMagic(std::span(header).first(got))) {
        throw DataError(IllegalStoreText(paths.data));
    }
    if (got < StoreHeaderSize) {
        ThrowCrashed();
    }
    impl->dataLength = detail::FileLength(impl->data.Get(), paths.data);
    RemoveCompactionLeftovers(paths);

    impl->index = OpenLocked(paths.index, mode);
    if (!impl->index.IsOpen() && errno != ENOENT) {
        detail::ThrowFileError(paths.index, errno);
    }
    if (impl->index.IsOpen() && !IndexLooksSound(impl->index.Get(), paths.index, impl->count)) {
        // Keep the damaged index for whoever wants to look at it; the data file is the truth.
        impl->index.Close();
        std::error_code ec;
        fs::rename(paths.index, fs::path(paths.index.string() + ".damaged"), ec);
    }
    if (!impl->index.IsOpen()) {
        RebuildIndexFrom(impl->data.Get(), paths.data, paths.index);
        impl->index = OpenLocked(paths.index, mode);
        if (!impl->index.IsOpen()) {
            detail::ThrowFileError(paths.index, errno);
        }
        if (!IndexLooksSound(impl->index.Get(), paths.index, impl->count)) {
            ThrowCrashed();
        }
    }
    return impl;
}

}  // namespace

MessageStore::MessageStore() = default;
MessageStore::MessageStore(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {
    if (m_impl) {
        m_paths = m_impl->paths;
    }
}
MessageStore::MessageStore(MessageStore&& other) noexcept = default;
MessageStore& MessageStore::operator=(MessageStore&& other) noexcept = default;
MessageStore::~MessageStore() = default;

MessageStore MessageStore::Open(const StorePaths& paths, StoreMode mode, bool createIfMissing) {
    bool missing = false;
    auto impl = OpenPair(paths, mode, missing);
    if (impl) {
        return MessageStore(std::move(impl));
    }
    if (!createIfMissing) {
        detail::ThrowFileError(paths.data, ENOENT);
    }
    return Create(paths, mode);
}

MessageStore MessageStore::Open(std::string_view accountId, StoreKind kind,
                                std::string_view correspondent, StoreMode mode,
                                bool createIfMissing) {
    return Open(StorePaths::For(accountId, kind, correspondent), mode, createIfMissing);
}

MessageStore MessageStore::Create(const StorePaths& paths, StoreMode mode) {
    {
        // Exclusive locks first, so that a store someone has open is never emptied under them.
        UniqueFd data = OpenLocked(paths.data, StoreMode::ReadWrite, O_CREAT);
        if (!data.IsOpen()) {
            detail::ThrowFileError(paths.data, errno);
        }
        UniqueFd index = OpenLocked(paths.index, StoreMode::ReadWrite, O_CREAT);
        if (!index.IsOpen()) {
            detail::ThrowFileError(paths.index, errno);
        }
        const auto header = MakeHeader(0);
        for (auto* file : {&data, &index}) {
            const fs::path& path = file == &data ? paths.data : paths.index;
            detail::Truncate(file->Get(), 0, path);
            WriteAt(file->Get(), 0, header, path);
        }
    }
    bool missing = false;
    auto impl = OpenPair(paths, mode, missing);
    if (!impl) {
        detail::ThrowFileError(paths.data, ENOENT);
    }
    return MessageStore(std::move(impl));
}

void MessageStore::RebuildIndex(const fs::path& dataFile, const fs::path& indexFile) {
    UniqueFd data = OpenLocked(dataFile, StoreMode::Read);
    if (!data.IsOpen()) {
        detail::ThrowFileError(dataFile, errno);
    }
    RebuildIndexFrom(data.Get(), dataFile, indexFile);
}

void MessageStore::SetCompactionHook(CompactionHook hook) {
    Hook() = std::move(hook);
}

void MessageStore::Compact(const StorePaths& paths) {
    MessageStore store = Open(paths, StoreMode::ReadWrite, false);
    const Impl& old = *store.m_impl;
    const fs::path newDataPath = CompactionFile(paths, ".dat");
    const fs::path newIndexPath = CompactionFile(paths, ".idx");

    UniqueFd newData = OpenLocked(newDataPath, StoreMode::ReadWrite, O_CREAT | O_TRUNC);
    if (!newData.IsOpen()) {
        detail::ThrowFileError(newDataPath, errno);
    }
    UniqueFd newIndex = OpenLocked(newIndexPath, StoreMode::ReadWrite, O_CREAT | O_TRUNC);
    if (!newIndex.IsOpen()) {
        RemoveQuietly(newDataPath);
        detail::ThrowFileError(newIndexPath, errno);
    }
    try {
        RunHook(CompactionStep::TemporaryCreated);
        const auto header = MakeHeader(old.count);
        WriteAt(newData.Get(), 0, header, newDataPath);
        std::vector<std::uint8_t> entries;
        entries.reserve(std::size_t{old.count} * 4);
        std::uint64_t position = StoreHeaderSize;
        std::vector<std::uint8_t> chunk(CopyChunk);
        // Compaction drops whatever the index does not list, so it runs only when the index
        // lists exactly the data file's live records; anything else would lose messages.
        std::vector<std::uint32_t> listed;
        listed.reserve(old.count);
        old.ForEachEntry([&](std::uint32_t offset) { listed.push_back(offset); });
        if (listed != LiveRecordOffsets(old.data.Get(), paths.data)) {
            ThrowCrashed();
        }
        old.ForEachEntry([&](std::uint32_t offset) {
            const RecordPlace place =
                ReadRecordHead(old.data.Get(), offset, old.dataLength, paths.data);
            std::array<std::uint8_t, 4> entry{};
            StoreLe32(entry, static_cast<std::uint32_t>(position));
            entries.insert(entries.end(), entry.begin(), entry.end());
            std::uint64_t left = RecordHeadSize + std::uint64_t{place.length};
            std::uint64_t from = place.offset;
            while (left > 0) {
                const std::size_t n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
                if (ReadAt(old.data.Get(), from, std::span(chunk).first(n), paths.data) != n) {
                    ThrowCrashed();
                }
                WriteAt(newData.Get(), position, std::span(chunk).first(n), newDataPath);
                from += n;
                position += n;
                left -= n;
            }
        });
        WriteAt(newIndex.Get(), 0, header, newIndexPath);
        WriteAt(newIndex.Get(), StoreHeaderSize, entries, newIndexPath);
        RunHook(CompactionStep::RecordsCopied);
        detail::Sync(newData.Get(), newDataPath);
        detail::Sync(newIndex.Get(), newIndexPath);
        RunHook(CompactionStep::TemporarySynced);
    } catch (...) {
        RemoveQuietly(newDataPath);
        RemoveQuietly(newIndexPath);
        throw;
    }
    // From here on the folder always holds a complete data file, and the index is either the
    // one that belongs to it or missing (rebuilt on the next open).
    const fs::path folder = paths.data.parent_path();
    try {
        if (::unlink(paths.index.c_str()) != 0 && errno != ENOENT) {
            detail::ThrowFileError(paths.index, errno);
        }
        detail::SyncFolder(folder);
        RunHook(CompactionStep::OldIndexRemoved);
        if (::rename(newDataPath.c_str(), paths.data.c_str()) != 0) {
            detail::ThrowFileError(paths.data, errno);
        }
        detail::SyncFolder(folder);
        RunHook(CompactionStep::DataReplaced);
        if (::rename(newIndexPath.c_str(), paths.index.c_str()) != 0) {
            detail::ThrowFileError(paths.index, errno);
        }
        detail::SyncFolder(folder);
        RunHook(CompactionStep::IndexReplaced);
    } catch (...) {
        RemoveQuietly(newDataPath);
        RemoveQuietly(newIndexPath);
        throw;
    }
}

bool MessageStore::IsOpen() const {
    return m_impl && m_impl->data.IsOpen() && m_impl->index.IsOpen();
}

void MessageStore::Close() {
    m_impl.reset();
}

namespace {
const MessageStore::Impl& Require(const std::unique_ptr<MessageStore::Impl>& impl) {
    if (!impl) {
        throw DataError("The message store is not open.");
    }
    return *impl;
}
}  // namespace

std::uint32_t MessageStore::Count() const {
    return Require(m_impl).count;
}

void MessageStore::Append(std::span<const std::uint8_t> payload) {
    Impl& s = const_cast<Impl&>(Require(m_impl));
    s.RequireWritable();
    const std::uint64_t position = s.dataLength;
    if (payload.size() > MaxOffset || position + RecordHeadSize + payload.size() > MaxOffset) {
        throw DataError(s.paths.data.string() +
                        ": the message file is full (4 GB). Delete or compact messages.");
    }
    std::vector<std::uint8_t> record(RecordHeadSize + payload.size());
    StoreLe32(std::span(record).subspan(1, 4), static_cast<std::uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), record.begin() + RecordHeadSize);
    WriteAt(s.data.Get(), position, record, s.paths.data);
    s.dataLength = position + record.size();
    s.AddToCount(s.data.Get(), s.paths.data, 1);

    std::array<std::uint8_t, 4> entry{};
    StoreLe32(entry, static_cast<std::uint32_t>(position));
    WriteAt(s.index.Get(), StoreHeaderSize + std::uint64_t{s.count} * 4, entry, s.paths.index);
    s.AddToCount(s.index.Get(), s.paths.index, 1);
    ++s.count;
}

void MessageStore::AppendMessage(std::span<const std::uint8_t> body, std::uint32_t readState) {
    MessageHeader header{static_cast<std::uint32_t>(body.size()), readState};
    std::vector<std::uint8_t> payload(MessageHeaderSize + body.size());
    const auto head = header.Encode();
    std::copy(head.begin(), head.end(), payload.begin());
    std::copy(body.begin(), body.end(), payload.begin() + MessageHeaderSize);
    Append(payload);
}

std::size_t MessageStore::Read(std::uint32_t i, std::span<std::uint8_t> buffer) const {
    const Impl& s = Require(m_impl);
    const RecordPlace place = s.Locate(i);
    const std::size_t n = std::min<std::size_t>(buffer.size(), place.length);
    if (ReadAt(s.data.Get(), place.offset + RecordHeadSize, buffer.first(n), s.paths.data) != n) {
        ThrowCrashed();
    }
    return n;
}

StoredMessage MessageStore::ReadMessage(std::uint32_t i, std::size_t size) const {
    std::vector<std::uint8_t> buffer(size + MessageHeaderSize);
    const std::size_t n = Read(i, buffer);
    if (n < MessageHeaderSize) {
        ThrowCrashed();
    }
    StoredMessage message;
    message.header = MessageHeader::Decode(buffer);
    message.body.assign(buffer.begin() + MessageHeaderSize,
                        buffer.begin() + static_cast<std::ptrdiff_t>(n));
    return message;
}

MessageHeader MessageStore::ReadHeader(std::uint32_t i) const {
    std::array<std::uint8_t, MessageHeaderSize> bytes{};
    if (Read(i, bytes) < MessageHeaderSize) {
        ThrowCrashed();
    }
    return MessageHeader::Decode(bytes);
}

void MessageStore::RewritePayloadPrefix(std::uint32_t i, std::span<const std::uint8_t> bytes) {
    Impl& s = const_cast<Impl&>(Require(m_impl));
    s.RequireWritable();
    const RecordPlace place = s.Locate(i);
    if (bytes.size() <= place.length) {
        WriteAt(s.data.Get(), place.offset + RecordHeadSize, bytes, s.paths.data);
    }
}

bool MessageStore::IsRead(std::uint32_t i) const {
    return ReadHeader(i).readState == 1;
}

void MessageStore::SetReadState(std::uint32_t i, std::uint32_t state) {
    MessageHeader header = ReadHeader(i);
    if (header.readState != state) {
        header.readState = state;
        RewritePayloadPrefix(i, header.Encode());
    }
}

std::uint32_t MessageStore::PayloadLength(std::uint32_t i) const {
    return Require(m_impl).Locate(i).length;
}

void MessageStore::Delete(std::uint32_t i) {
    Impl& s = const_cast<Impl&>(Require(m_impl));
    s.RequireWritable();
    const RecordPlace place = s.Locate(i);
    const std::array<std::uint8_t, 1> deleted{1};
    WriteAt(s.data.Get(), place.offset, deleted, s.paths.data);
    const std::vector<std::uint8_t> zeros(std::min<std::size_t>(place.length, CopyChunk), 0);
    for (std::uint64_t done = 0; done < place.length;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), place.length - done));
        WriteAt(s.data.Get(), place.offset + RecordHeadSize + done, std::span(zeros).first(n),
                s.paths.data);
        done += n;
    }
    const std::uint64_t from = StoreHeaderSize + (std::uint64_t{i} + 1) * 4;
    std::vector<std::uint8_t> later(static_cast<std::size_t>((s.count - i - 1)) * 4);
    if (ReadAt(s.index.Get(), from, later, s.paths.index) != later.size()) {
        ThrowCrashed();
    }
    WriteAt(s.index.Get(), from - 4, later, s.paths.index);
    detail::Truncate(s.index.Get(), StoreHeaderSize + (std::uint64_t{s.count} - 1) * 4,
                     s.paths.index);
    s.AddToCount(s.index.Get(), s.paths.index, -1);
    --s.count;
}

std::uint64_t MessageStore::DataLength() const {
    return Require(m_impl).dataLength;
}

std::uint64_t MessageStore::WastedSpace() const {
    if (!IsOpen()) {
        return 0;
    }
    const Impl& s = *m_impl;
    std::uint64_t live = StoreHeaderSize;
    s.ForEachEntry([&](std::uint32_t offset) {
        live += RecordHeadSize +
                ReadRecordHead(s.data.Get(), offset, s.dataLength, s.paths.data).length;
    });
    return s.dataLength > live ? s.dataLength - live : 0;
}

std::uint32_t MessageStore::CountUnread(std::uint32_t* reached) const {
    const Impl& s = Require(m_impl);
    std::uint32_t local = 0;
    std::uint32_t& unread = reached != nullptr ? *reached : local;
    unread = 0;
    s.ForEachEntry([&](std::uint32_t offset) {
        std::array<std::uint8_t, RecordHeadSize + MessageHeaderSize> bytes{};
        if (offset < StoreHeaderSize ||
            ReadAt(s.data.Get(), offset, bytes, s.paths.data) != bytes.size()) {
            ThrowCrashed();
        }
        const std::uint32_t length = LoadLe32(std::span(bytes).subspan(1, 4));
        if (length < MessageHeaderSize || offset + RecordHeadSize + length > s.dataLength) {
            ThrowCrashed();
        }
        if (MessageHeader::Decode(std::span(bytes).subspan(RecordHeadSize)).readState == 0) {
            ++unread;
        }
    });
    return unread;
}

std::vector<MessageBrief> MessageStore::ReadBriefs(std::uint32_t first, std::uint32_t count) const {
    const Impl& s = Require(m_impl);
    std::vector<MessageBrief> rows;
    if (first >= s.count) {
        return rows;
    }
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, s.count - first));
    const std::vector<std::uint32_t> entries = s.Entries(first, n);
    rows.reserve(n);
    constexpr std::size_t Wanted = RecordHeadSize + MessageHeaderSize + BriefBytes;
    for (std::uint32_t k = 0; k < n; ++k) {
        MessageBrief row;
        row.index = first + k;
        const std::uint64_t offset = entries[k];
        std::array<std::uint8_t, Wanted> bytes{};
        const std::size_t got =
            offset >= StoreHeaderSize ? ReadAt(s.data.Get(), offset, bytes, s.paths.data) : 0;
        const std::uint32_t length =
            got >= RecordHeadSize ? LoadLe32(std::span(bytes).subspan(1, 4)) : 0;
        if (got < RecordHeadSize || offset + RecordHeadSize + length > s.dataLength) {
            row.error = std::string(FileCrashedText);
        } else if (length < MessageHeaderSize + BriefBytes || got < Wanted) {
            row.error = "message size error";
        } else {
            auto body = std::span(bytes).subspan(RecordHeadSize + MessageHeaderSize);
            row.readable = true;
            row.read =
                MessageHeader::Decode(std::span(bytes).subspan(RecordHeadSize)).readState == 1;
            row.time = LoadLe32(body.subspan(0, 4));
            row.richText = body[4] != 0;
            row.brief = platform::ReadTextField(body.subspan(5, 31));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<MessageBrief> MessageStore::ReadNewestBriefs(std::uint32_t count) const {
    const std::uint32_t total = Count();
    const std::uint32_t n = std::min(count, total);
    std::vector<MessageBrief> rows = ReadBriefs(total - n, n);
    std::reverse(rows.begin(), rows.end());
    return rows;
}

void StoreSentMessage(std::string_view accountId, std::string_view recipient,
                      std::span<const std::uint8_t> body) {
    MessageStore::Open(accountId, StoreKind::Sent, recipient, StoreMode::ReadWrite, true)
        .AppendMessage(body, 0);
}

bool StoreReceivedMessage(std::string_view accountId, std::string_view sender,
                          std::span<const std::uint8_t> body) {
    if (body.size() <= BriefBytes) {
        return false;
    }
    MessageStore::Open(accountId, StoreKind::Received, sender, StoreMode::ReadWrite, true)
        .AppendMessage(body, 0);
    return true;
}

std::uint32_t CountUnreadMessages(std::string_view accountId, std::string_view correspondent) {
    std::uint32_t unread = 0;
    try {
        // A store that does not exist has nothing unread; it is not created just to count.
        const StorePaths paths = StorePaths::For(accountId, StoreKind::Received, correspondent);
        std::error_code ec;
        if (!fs::exists(paths.data, ec)) {
            return 0;
        }
        MessageStore store = MessageStore::Open(paths, StoreMode::Read, false);
        store.CountUnread(&unread);
    } catch (const std::exception&) {
    }
    return unread;
}

}  // namespace talvorine::client::data
