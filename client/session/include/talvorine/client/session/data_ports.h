#pragma once
// What the engine needs from the client's local data, as narrow interfaces. The windows hand
// in implementations over the account's files (see data_adapters.h); tests may hand in their
// own. Every operation reports a failure by throwing an exception whose what() is the text
// to show.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "talvorine/client/data/history_files.h"

namespace talvorine::client::session {

// The contact list, as far as the received-message path uses it. Called with ListMutex held.
class ContactBook {
public:
    virtual ~ContactBook() = default;
    // The contact's nickname, or nullopt when `userId` is not in the contact list.
    virtual std::optional<std::string> Nickname(std::string_view userId) = 0;
    // Adds the user to the built-in group "Strangers" with its id as nickname.
    virtual void AddStranger(std::string_view userId) = 0;
    // One more unread message from this contact.
    virtual void AddUnread(std::string_view userId) = 0;
};

// The message history of the own account: one store per correspondent and direction.
class MessageHistory {
public:
    virtual ~MessageHistory() = default;
    virtual void AppendSent(std::string_view peerId, std::span<const std::uint8_t> record) = 0;
    virtual void AppendReceived(std::string_view peerId, std::span<const std::uint8_t> record) = 0;
    // True when one of the newest received messages from `peerId` is exactly this record (a
    // stored message the server delivered again after an interrupted delivery).
    virtual bool HasReceived(std::string_view /*peerId*/,
                             std::span<const std::uint8_t> /*record*/) {
        return false;
    }
};

// The chat files of the own account (folder "Chat"), heads as data::ChatFileHeader.
class ChatFiles {
public:
    virtual ~ChatFiles() = default;
    // Creates a new chat file for `peerId` under a free name, with an empty transcript.
    virtual std::filesystem::path Create(std::string_view peerId,
                                         const data::ChatFileHeader& head) = 0;
    // Rewrites the head's accepted flag and, for a denial, its reason.
    virtual void SetAnswer(const std::filesystem::path& file, bool accepted,
                           std::string_view reason) = 0;
    // Writes the transcript after the head and its length into the head.
    virtual void SaveTranscript(const std::filesystem::path& file, std::string_view transcript) = 0;
};

// The keys of a transfer record at its creation.
struct TransferRecordStart {
    data::TransferType type = data::TransferType::Outgoing;
    std::string fileName;  // sender: the full path; receiver: the offered name
    std::uint32_t size = 0;
    std::string description;
};

// The transfer records of the own account (folder "File Transfer"), section "Parameters".
class TransferRecords {
public:
    virtual ~TransferRecords() = default;
    // Creates a record under a free name with the keys of `start` and "Time".
    virtual std::filesystem::path Create(std::string_view peerId,
                                         const TransferRecordStart& start) = 0;
    virtual void SetAccepted(const std::filesystem::path& record, bool accepted) = 0;
    virtual void SetSavedAs(const std::filesystem::path& record,
                            const std::filesystem::path& savedAs) = 0;
    virtual void SetDone(const std::filesystem::path& record) = 0;
    // "Done", "Canceled" or "Failed: " and the reason.
    virtual void SetStatus(const std::filesystem::path& record, std::string_view status) = 0;
};

// The receiving options of a file transfer ("Settings\File\").
struct FileReceiveOptions {
    int acceptMode = 0;     // 0 ask, 1 accept at once, 2 refuse at once
    int overwriteMode = 1;  // 0 overwrite, 1 "(%d)%s", 2 ask
    bool useUserName = true;
    std::filesystem::path receiveFolder;
};

}  // namespace talvorine::client::session
