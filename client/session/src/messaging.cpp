#include "talvorine/client/session/messaging.h"

#include <charconv>

#include "talvorine/client/session/texts.h"
#include "talvorine/platform/text.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"
#include "wire_util.h"

namespace talvorine::client::session {

namespace pt = protocol::PacketType;

std::string MakeBrief(std::string_view text) {
    const auto end = text.find_first_of(std::string_view("\0\r", 2));
    if (end != std::string_view::npos) {
        text = text.substr(0, end);
    }
    std::string brief(platform::CutUtf8(text, protocol::Size::MessageBrief - 1));
    for (auto& c : brief) {
        if (static_cast<unsigned char>(c) < 0x20) {
            c = ' ';
        }
    }
    return brief;
}

protocol::MessageRecord BuildRecord(const OutgoingMessage& message, std::uint32_t time) {
    protocol::MessageRecord record;
    record.time = time;
    record.richText = message.richText;
    record.brief = MakeBrief(message.plainText);
    record.body = platform::CutUtf8(message.body, MaxMessageBody);
    return record;
}

std::optional<std::string> CheckOutgoing(const OutgoingMessage& message) {
    if (message.plainText.empty() || message.body.empty()) {
        return std::string(Text::EmptyMessage);
    }
    const auto length = std::to_string(message.body.size());
    if (message.body.size() >= protocol::Size::MessageMax) {
        return detail::Format(Text::MessageTooLong,
                              {length, std::to_string(protocol::Size::MessageMax - 1)});
    }
    if (message.body.size() > MaxMessageBody) {
        // Longer bodies do not fit a record; the server would refuse them and end the session.
        return detail::Format(Text::MessageTooLong, {length, std::to_string(MaxMessageBody)});
    }
    return std::nullopt;
}

namespace {

struct Failure {
    std::string reason;
};

protocol::PacketHeader ReadReply(protocol::SocketHandle socket, std::vector<std::uint8_t>& buffer) {
    return protocol::ReceivePacket(socket, buffer, protocol::Timeout::Default);
}

// "%08d" of a tree item's number; ids that are already eight digits stay as they are.
std::string FormatUserId(std::string_view id) {
    unsigned value = 0;
    const auto [ptr, ec] = std::from_chars(id.data(), id.data() + id.size(), value);
    if (ec != std::errc() || ptr != id.data() + id.size()) {
        return std::string(id);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%08u", value);
    return text;
}

}  // namespace

SendOutcome MessageSender::SendLocked(const Recipient& recipient, const OutgoingMessage& message,
                                      const SendOptions& options, const std::atomic<bool>& closing,
                                      std::string& replyBody) {
    SendOutcome outcome;
    outcome.userId = recipient.userId;
    std::unique_lock requestLock(m_session.Locks().request, std::defer_lock);
    if (!requestLock.try_lock_for(std::chrono::milliseconds(30000))) {
        outcome.reason = Text::RequestMutexTimeout;
        return outcome;
    }
    const auto socket = m_session.RequestSocket();
    std::vector<std::uint8_t> reply(protocol::Capacity::ClientReply);
    try {
        if (socket == protocol::InvalidSocket) {
            throw Failure{protocol::SocketErrorText(protocol::SocketCode::NotConnected)};
        }
        const auto idField = detail::UserIdField(recipient.userId);
        protocol::SendPacket(socket, pt::LiveMessage, idField, protocol::Timeout::Default);
        auto header = ReadReply(socket, reply);
        std::uint8_t type = pt::LiveMessage;
        if (header.type == pt::Failed) {
            const auto offlineText = detail::BodyString(header, reply);
            if (!options.sendOffline) {
                throw Failure{offlineText};
            }
            if (options.prompt &&
                !m_prompts.ConfirmOfflineSend(detail::Format(
                    Text::OfflinePrompt, {recipient.nickname, recipient.nickname}))) {
                throw Failure{offlineText};
            }
            protocol::SendPacket(socket, pt::OfflineMessage, idField, protocol::Timeout::Default);
            header = ReadReply(socket, reply);
            if (header.type != pt::Ok) {
                throw Failure{detail::BodyString(header, reply)};
            }
            type = pt::OfflineMessage;
        } else if (header.type != pt::Ok) {
            throw Failure{detail::BodyString(header, reply)};
        }
        if (closing) {
            protocol::SendPacket(socket, pt::Failed, protocol::Timeout::Default);
            throw Failure{std::string(Text::Canceled)};
        }
        const auto record = BuildRecord(message, detail::Now()).Encode();
        protocol::SendPacket(socket, type, record, protocol::Timeout::Default);
        header = ReadReply(socket, reply);
        if (header.type != pt::Ok) {
            throw Failure{detail::BodyString(header, reply)};
        }
        if (header.bodyLength > 0) {
            replyBody = detail::BodyString(header, reply);
        }
        outcome.ok = true;
        outcome.offline = type == pt::OfflineMessage;
        requestLock.unlock();

        try {
            m_session.Incoming().AppendSent(recipient.userId, record);
        } catch (const std::exception& e) {
            outcome.historyWarning = detail::Format(Text::SentHistoryFailed, {e.what()});
        }
    } catch (const Failure& failure) {
        outcome.reason = detail::CutReason(failure.reason);
    } catch (const std::exception& e) {
        outcome.reason = detail::CutReason(e.what());
    }
    return outcome;
}

SendOutcome MessageSender::SendTo(const Recipient& recipient, const OutgoingMessage& message,
                                  const SendOptions& options, const std::atomic<bool>& closing) {
    std::string replyBody;
    auto outcome = SendLocked(recipient, message, options, closing, replyBody);
    if (outcome.ok && !replyBody.empty()) {
        // The recipient is away: its answer is kept as a message received from it.
        OutgoingMessage reply{replyBody, replyBody, false};
        const auto record = BuildRecord(reply, detail::Now()).Encode();
        outcome.autoReply = m_session.Incoming().Deliver(IncomingMessage::Kind::AutoReply,
                                                         recipient.userId, record);
        if (outcome.autoReply) {
            m_session.Window().MessageReceived(*outcome.autoReply);
        }
    }
    return outcome;
}

SendReport MessageSender::SendSingle(const Recipient& recipient, const OutgoingMessage& message,
                                     const SendOptions& options, const std::atomic<bool>& closing) {
    SendReport report;
    report.outcomes.push_back(SendTo(recipient, message, options, closing));
    const auto& outcome = report.outcomes.back();
    report.allSent = outcome.ok;
    if (!outcome.ok) {
        report.errorText =
            detail::Format(Text::SendFailedOne, {recipient.nickname, outcome.reason});
        report.silent = closing;
    }
    return report;
}

SendReport MessageSender::SendMultiple(const std::vector<std::string>& checkedIds,
                                       const OutgoingMessage& message, const SendOptions& options,
                                       const std::atomic<bool>& closing) {
    SendReport report;
    bool anyFailed = false;
    for (const auto& checked : checkedIds) {
        const auto userId = FormatUserId(checked);
        if (!m_session.Incoming().IsContact(userId)) {
            report.removedIds.push_back(userId);
            continue;
        }
        const Recipient recipient{userId, m_session.Incoming().NicknameOf(userId)};
        report.outcomes.push_back(SendTo(recipient, message, options, closing));
        const auto& outcome = report.outcomes.back();
        if (outcome.ok) {
            continue;
        }
        if (closing) {
            report.silent = true;
            return report;
        }
        if (!anyFailed) {
            report.errorText = Text::SendFailedMany;
            anyFailed = true;
        }
        report.errorText +=
            detail::Format(Text::SendFailedManyItem, {recipient.nickname, outcome.reason});
    }
    if (report.outcomes.empty()) {
        report.errorText = Text::NoRecipients;
        return report;
    }
    report.allSent = !anyFailed;
    return report;
}

void MessageSendJob::StartSingle(Recipient recipient, OutgoingMessage message, SendOptions options,
                                 std::function<void(const SendReport&)> done) {
    m_closing = false;
    m_worker.Start([this, recipient = std::move(recipient), message = std::move(message), options,
                    done = std::move(done)] {
        const auto report = m_sender.SendSingle(recipient, message, options, m_closing);
        if (!report.silent && done) {
            done(report);
        }
    });
}

void MessageSendJob::StartMultiple(std::vector<std::string> checkedIds, OutgoingMessage message,
                                   SendOptions options,
                                   std::function<void(const SendReport&)> done) {
    m_closing = false;
    m_worker.Start([this, ids = std::move(checkedIds), message = std::move(message), options,
                    done = std::move(done)] {
        const auto report = m_sender.SendMultiple(ids, message, options, m_closing);
        if (!report.silent && done) {
            done(report);
        }
    });
}

void MessageSendJob::Close(const std::function<void()>& dispatch) {
    m_closing = true;
    m_worker.WaitDispatching(dispatch);
}

}  // namespace talvorine::client::session
