#include "talvorine/client/session/data_adapters.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "talvorine/client/data/message_store.h"

namespace talvorine::client::session {

namespace {

void Append(const std::string& accountId, data::StoreKind kind, std::string_view peerId,
            std::span<const std::uint8_t> record) {
    auto store =
        data::MessageStore::Open(accountId, kind, peerId, data::StoreMode::ReadWrite, true);
    store.AppendMessage(record, 0);
}

// The record's single-key updates report failure as false with errno set.
void CheckWritten(bool written, const std::filesystem::path& record) {
    if (!written) {
        throw data::DataError(record.string() + ": " + std::strerror(errno != 0 ? errno : EIO));
    }
}

}  // namespace

void AccountMessageHistory::AppendSent(std::string_view peerId,
                                       std::span<const std::uint8_t> record) {
    Append(m_accountId, data::StoreKind::Sent, peerId, record);
}

void AccountMessageHistory::AppendReceived(std::string_view peerId,
                                           std::span<const std::uint8_t> record) {
    Append(m_accountId, data::StoreKind::Received, peerId, record);
}

bool AccountMessageHistory::HasReceived(std::string_view peerId,
                                        std::span<const std::uint8_t> record) {
    // A repeat follows the first delivery closely: the server delivers again only what it
    // was not told was taken, so looking at the newest messages is enough.
    constexpr std::uint32_t Window = 512;
    const auto paths = data::StorePaths::For(m_accountId, data::StoreKind::Received, peerId);
    if (!std::filesystem::exists(paths.data)) {
        return false;
    }
    auto store = data::MessageStore::Open(paths, data::StoreMode::Read, false);
    const std::uint32_t count = store.Count();
    for (std::uint32_t back = 0; back < std::min(count, Window); ++back) {
        const std::uint32_t i = count - 1 - back;
        if (store.ReadHeader(i).bodyLength != record.size()) {
            continue;
        }
        const auto stored = store.ReadMessage(i, record.size());
        if (std::equal(stored.body.begin(), stored.body.end(), record.begin(), record.end())) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> ContactListBook::Nickname(std::string_view userId) {
    const auto position = m_list.FindContact(userId);
    if (!position) {
        return std::nullopt;
    }
    const auto* entry = m_list.Entry(*position);
    return entry ? std::optional<std::string>(entry->nickname) : std::nullopt;
}

void ContactListBook::AddStranger(std::string_view userId) {
    int group = m_list.FindGroup(data::StrangersGroup);
    if (group < 0) {
        group = m_list.AddGroup(data::StrangersGroup);
    }
    m_list.AddContact(group, userId, userId, 0);
}

void ContactListBook::AddUnread(std::string_view userId) {
    m_list.IncrementUnread(userId);
}

std::filesystem::path AccountChatFiles::Create(std::string_view peerId,
                                               const data::ChatFileHeader& head) {
    return data::CreateChatFile(m_accountId, peerId, head);
}

void AccountChatFiles::SetAnswer(const std::filesystem::path& file, bool accepted,
                                 std::string_view reason) {
    data::SetChatAnswer(file, accepted, reason);
}

void AccountChatFiles::SaveTranscript(const std::filesystem::path& file,
                                      std::string_view transcript) {
    data::SaveChatTranscript(file, transcript);
}

std::filesystem::path AccountTransferRecords::Create(std::string_view peerId,
                                                     const TransferRecordStart& start) {
    return data::CreateTransferRecord(m_accountId, peerId, start.type, start.fileName, start.size,
                                      start.description);
}

void AccountTransferRecords::SetAccepted(const std::filesystem::path& record, bool accepted) {
    errno = 0;
    CheckWritten(data::SetTransferAccepted(record, accepted), record);
}

void AccountTransferRecords::SetSavedAs(const std::filesystem::path& record,
                                        const std::filesystem::path& savedAs) {
    errno = 0;
    CheckWritten(data::SetTransferSavedAs(record, savedAs.string()), record);
}

void AccountTransferRecords::SetDone(const std::filesystem::path& record) {
    errno = 0;
    CheckWritten(data::SetTransferDone(record), record);
}

void AccountTransferRecords::SetStatus(const std::filesystem::path& record,
                                       std::string_view status) {
    errno = 0;
    CheckWritten(data::SetTransferStatus(record, status), record);
}

}  // namespace talvorine::client::session
