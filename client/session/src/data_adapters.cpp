#include "talvorine/client/session/data_adapters.h"

#include "talvorine/client/data/message_store.h"

namespace talvorine::client::session {

namespace {

void Append(const std::string& accountId, data::StoreKind kind, std::string_view peerId,
            std::span<const std::uint8_t> record) {
    auto store =
        data::MessageStore::Open(accountId, kind, peerId, data::StoreMode::ReadWrite, true);
    store.AppendMessage(record, 0);
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

}  // namespace talvorine::client::session
