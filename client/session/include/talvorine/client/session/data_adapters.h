#pragma once
// The data ports over the client's local files: the account's message stores and its
// contact list model.

#include <string>

#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/session/data_ports.h"

namespace talvorine::client::session {

// Appends to "Sent Messages" / "Received Messages" of `accountId`, one store opened for each
// append and closed at its end.
class AccountMessageHistory : public MessageHistory {
public:
    explicit AccountMessageHistory(std::string accountId) : m_accountId(std::move(accountId)) {}
    void AppendSent(std::string_view peerId, std::span<const std::uint8_t> record) override;
    void AppendReceived(std::string_view peerId, std::span<const std::uint8_t> record) override;

private:
    std::string m_accountId;
};

// The loaded contact list of the account in use.
class ContactListBook : public ContactBook {
public:
    explicit ContactListBook(data::ContactList& list) : m_list(list) {}
    std::optional<std::string> Nickname(std::string_view userId) override;
    void AddStranger(std::string_view userId) override;
    void AddUnread(std::string_view userId) override;

private:
    data::ContactList& m_list;
};

}  // namespace talvorine::client::session
