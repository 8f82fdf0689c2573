#pragma once
// Sending messages to one recipient or several (live, or through the server's offline store),
// the brief of a message, and the automatic replies of away recipients.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/session/server_session.h"
#include "talvorine/client/session/worker.h"
#include "talvorine/protocol/catalogue.h"

namespace talvorine::client::session {

// The brief of a text: at most 30 bytes of its first line (up to the first NUL or carriage
// return), other control characters as spaces, never ending inside a UTF-8 character.
std::string MakeBrief(std::string_view text);

// What the send window composed.
struct OutgoingMessage {
    std::string plainText;  // for the brief
    std::string body;       // RTF when richText, else plain text
    bool richText = true;
};

// The record as sent: time now, the flag, the brief, the body and its NUL.
protocol::MessageRecord BuildRecord(const OutgoingMessage& message, std::uint32_t time);

// The longest body a record carries (32768 - 37).
inline constexpr std::size_t MaxMessageBody =
    protocol::Size::MessageMax - protocol::Size::MessageMin;

// The checks of Send before anything goes out: "Can not send empty message.\r\n" or the size
// text; nullopt when the message may be sent.
std::optional<std::string> CheckOutgoing(const OutgoingMessage& message);

struct SendOptions {
    bool sendOffline = true;  // "Send Offline Message"
    bool prompt = false;      // "Prompt"
};

// The question before an offline send; the window shows it with Yes/No.
class SendPrompts {
public:
    virtual ~SendPrompts() = default;
    virtual bool ConfirmOfflineSend(const std::string& question) = 0;
};

struct Recipient {
    std::string userId;
    std::string nickname;
};

// The outcome of sending to one recipient.
struct SendOutcome {
    bool ok = false;
    bool offline = false;                      // went to the offline store
    std::string reason;                        // on failure, at most 255 bytes
    std::string historyWarning;                // sent, but the sent store could not be written
    std::optional<IncomingMessage> autoReply;  // the recipient's automatic reply, stored
    std::string userId;                        // the recipient
};

// The outcome of a whole send (the send window's 1025 or 1026).
struct SendReport {
    bool allSent = false;                 // 1025
    bool silent = false;                  // the window was closing: nothing to report
    std::string errorText;                // 1026
    std::vector<SendOutcome> outcomes;    // one per recipient tried, in order
    std::vector<std::string> removedIds;  // checked ids no longer in the contact list
};

class MessageSender {
public:
    MessageSender(ServerSession& session, SendPrompts& prompts)
        : m_session(session), m_prompts(prompts) {}

    // Sending to one recipient; runs on the sending thread. `closing` is the window's flag.
    SendOutcome SendTo(const Recipient& recipient, const OutgoingMessage& message,
                       const SendOptions& options, const std::atomic<bool>& closing);

    // Single mode: "Failed to send message to %s:\r\n%s" on failure.
    SendReport SendSingle(const Recipient& recipient, const OutgoingMessage& message,
                          const SendOptions& options, const std::atomic<bool>& closing);
    // Multiple mode: the checked ids in display order, looked up in the contact list.
    SendReport SendMultiple(const std::vector<std::string>& checkedIds,
                            const OutgoingMessage& message, const SendOptions& options,
                            const std::atomic<bool>& closing);

private:
    SendOutcome SendLocked(const Recipient& recipient, const OutgoingMessage& message,
                           const SendOptions& options, const std::atomic<bool>& closing,
                           std::string& replyBody);

    ServerSession& m_session;
    SendPrompts& m_prompts;
};

// The sending thread of one send window.
class MessageSendJob {
public:
    explicit MessageSendJob(MessageSender& sender) : m_sender(sender) {}
    ~MessageSendJob() { Close(); }

    // Starts the thread; `done` runs on it at the end (post 1025/1026 from there) unless
    // the report is silent. Throws std::system_error when the thread cannot be created.
    void StartSingle(Recipient recipient, OutgoingMessage message, SendOptions options,
                     std::function<void(const SendReport&)> done);
    void StartMultiple(std::vector<std::string> checkedIds, OutgoingMessage message,
                       SendOptions options, std::function<void(const SendReport&)> done);
    bool Running() const { return m_worker.Running(); }
    // The window is being destroyed: set closing and wait for the thread.
    void Close(const std::function<void()>& dispatch = {});

private:
    MessageSender& m_sender;
    std::atomic<bool> m_closing{false};
    Worker m_worker;
};

}  // namespace talvorine::client::session
