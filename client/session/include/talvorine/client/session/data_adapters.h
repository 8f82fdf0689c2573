#pragma once
// The data ports over the client's local files: the account's message stores, its contact
// list model, its chat files and its transfer records.

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
    bool HasReceived(std::string_view peerId, std::span<const std::uint8_t> record) override;

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

// Chat files in the account's "Chat" folder.
class AccountChatFiles : public ChatFiles {
public:
    explicit AccountChatFiles(std::string accountId) : m_accountId(std::move(accountId)) {}
    std::filesystem::path Create(std::string_view peerId,
                                 const data::ChatFileHeader& head) override;
    void SetAnswer(const std::filesystem::path& file, bool accepted,
                   std::string_view reason) override;
    void SaveTranscript(const std::filesystem::path& file, std::string_view transcript) override;

private:
    std::string m_accountId;
};

// Transfer records in the account's "File Transfer" folder. A key that cannot be written
// throws data::DataError with the file's name.
class AccountTransferRecords : public TransferRecords {
public:
    explicit AccountTransferRecords(std::string accountId) : m_accountId(std::move(accountId)) {}
    std::filesystem::path Create(std::string_view peerId,
                                 const TransferRecordStart& start) override;
    void SetAccepted(const std::filesystem::path& record, bool accepted) override;
    void SetSavedAs(const std::filesystem::path& record,
                    const std::filesystem::path& savedAs) override;
    void SetDone(const std::filesystem::path& record) override;
    void SetStatus(const std::filesystem::path& record, std::string_view status) override;

private:
    std::string m_accountId;
};

}  // namespace talvorine::client::session
