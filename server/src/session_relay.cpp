// Messages and relayed requests of a session: live messages pushed to the recipient's
// notification connection, offline messages stored and delivered, chat and file transfer
// requests relayed with the requester's address and ID.

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include "session.h"
#include "session_core.h"
#include "session_thread.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/platform/text.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/server/account_database.h"
#include "talvorine/server/server_context.h"
#include "talvorine/server/server_log.h"

namespace talvorine::server {

namespace pt = protocol::PacketType;
namespace rt = protocol::ReplyText;
namespace size = protocol::Size;
using protocol::NetError;

namespace {

constexpr std::size_t RequestUserIdOffset = size::SocketAddress;  // 16
constexpr std::size_t RequestAddressOffset = 4;

std::uint32_t ServerClock() {
    return static_cast<std::uint32_t>(std::time(nullptr));
}

bool IsTimeout(const NetError& error) {
    return error.what() == protocol::SocketErrorText(protocol::SocketCode::TimedOut);
}

[[noreturn]] void ThrowNotConnected() {
    throw NetError(protocol::SocketErrorText(protocol::SocketCode::NotConnected));
}

}  // namespace

void DiscardStaleAnswers(protocol::SocketHandle notification) {
    std::array<std::uint8_t, protocol::PacketChunkSize> scratch;
    while (protocol::ReceiveRaw(notification, scratch, MSG_DONTWAIT, protocol::Timeout::None) > 0) {
    }
}

std::string SessionThread::RecipientOf(const protocol::PacketHeader& request) {
    if (request.bodyLength != size::UserId) {
        ReplyAndEnd(pt::Failed, rt::PacketSizeError);
    }
    m_request.Body()[size::UserId - 1] = 0;
    return std::string(protocol::BodyText(request, m_request.Body()));
}

protocol::PacketHeader SessionThread::ReceiveRecord(std::string_view what,
                                                    const std::string& recipientId) {
    protocol::PacketHeader header;
    try {
        header = protocol::ReceivePacket(m_session->Request(), m_record, size::MessageMax,
                                         protocol::Timeout::Default);
    } catch (const std::bad_alloc&) {
        OutOfMemory(pt::Refused,
                    std::string(what) + ": " + m_session->UserId() + "->" + Printable(recipientId));
    }
    if (header.bodyLength < size::MessageMin) {
        ReplyAndEnd(pt::Refused, rt::PacketSizeError);
    }
    return header;
}

void SessionThread::ReleaseLargeRecord() {
    // Ordinary records reuse one small buffer; a rare large one is not kept for the whole
    // session.
    m_record.Trim(RecordKeptBytes);
}

void SessionThread::OutOfMemory(int replyType, const std::string& what) {
    m_core->Context().log.Always("Out of memory (" + what + ").");
    ReplyAndEnd(replyType, rt::ServerInternalError, "Out of memory");
}

void SessionThread::LiveMessage(const protocol::PacketHeader& request) {
    const std::string recipientId = RecipientOf(request);
    const auto recipient = m_core->Users().Find(recipientId);
    if (!recipient) {
        Reply(pt::Failed, rt::UserNotOnline);
        return;
    }
    if (recipient->Status() == static_cast<std::int32_t>(protocol::OnlineStatus::NotAvailable)) {
        Reply(pt::Refused, rt::UserInNaMode);
        return;
    }
    if (m_core->Context().log.Wants(LogSwitch::SendMessage)) {
        m_core->Context().log.Write(
            LogSwitch::SendMessage,
            m_session->UserId() + " sent a message to " + recipientId + ".");
    }
    Reply(pt::Ok);

    // The record is received into the session's own buffer, sized from its header; nothing
    // reads past its body, so nothing is zero-filled.
    const protocol::PacketHeader header = ReceiveRecord("Send Message", recipientId);
    platform::StoreLe32(m_record.Body(), ServerClock());

    std::optional<std::string> answer;
    try {
        answer = PushLiveMessage(*recipient, header);
    } catch (const NetError& error) {
        ReleaseLargeRecord();
        // A broken recipient is the sender's news, not the end of the sender's session.
        Reply(pt::Refused, error.what());
        return;
    }
    ReleaseLargeRecord();
    if (answer) {
        Reply(pt::Ok, *answer);
    } else {
        Reply(pt::Ok);
    }
}

std::optional<std::string> SessionThread::PushLiveMessage(Session& recipient,
                                                          const protocol::PacketHeader& header) {
    std::lock_guard lock(recipient.NotificationLock());
    const protocol::SocketRef socket = recipient.Notification();
    if (socket.handle == protocol::InvalidSocket) {
        ThrowNotConnected();
    }
    DiscardStaleAnswers(socket.handle);
    try {
        // The sender's ID and the record leave together: one call and one wake-up of the
        // recipient instead of two.
        protocol::SendTextPacketAndRelay(socket, pt::LiveMessage, m_session->UserId(), header,
                                         m_record.Body(), protocol::Timeout::Default);
    } catch (const NetError&) {
        recipient.BreakNotification();
        throw;
    }

    protocol::PacketHeader answer;
    try {
        answer =
            protocol::ReceivePacket(socket, m_request, protocol::Capacity::ServerRecipientAnswer,
                                    protocol::Timeout::Default);
    } catch (const NetError& error) {
        // A late answer leaves the stream whole (it is discarded before the next push); a
        // broken or garbled one does not.
        if (!IsTimeout(error)) {
            recipient.BreakNotification();
        }
        throw;
    }
    if (answer.bodyLength == 0) {
        return std::nullopt;
    }
    return std::string(protocol::BodyText(answer, m_request.Body()));
}

void SessionThread::OfflineMessage(const protocol::PacketHeader& request) {
    const std::string recipientId = RecipientOf(request);
    const std::string route = m_session->UserId() + "->" + Printable(recipientId);
    m_core->Context().log.Write(
        LogSwitch::SendOfflineMessage,
        m_session->UserId() + " sent a offline message to " + Printable(recipientId) + ".");
    Reply(pt::Ok);

    const protocol::PacketHeader header = ReceiveRecord("Send Offline Message", recipientId);
    // Decoding stops the brief at offset 35 and the body before the record's last byte.
    const protocol::MessageRecord record =
        protocol::MessageRecord::Decode(m_record.Body().first(header.bodyLength));
    ReleaseLargeRecord();

    const auto stored = m_core->Context().database.StoreOfflineMessage(
        m_session->UserId(), recipientId, record.richText, record.brief, record.body);
    if (stored) {
        Reply(pt::Ok);
        return;
    }
    Reply(pt::Failed, rt::FailedToSendOffline);
    m_core->Context().log.Always("Error: failed to send offline message(" + route + "). (" +
                                 stored.error + ")");
}

void SessionThread::RelayRequest(const protocol::PacketHeader& request) {
    const bool chat = request.type == pt::ChatRequest;
    const std::size_t expected = chat ? size::ChatRequest : size::FileRequest;
    if (request.bodyLength != expected) {
        ReplyAndEnd(pt::Failed, rt::PacketSizeError);
    }
    const auto body = m_request.Body().first(expected);
    // Every text field ends inside its field, whatever the requester sent.
    body[RequestUserIdOffset + size::UserId - 1] = 0;
    if (chat) {
        body[expected - 1] = 0;
    } else {
        body[RequestUserIdOffset + size::UserId + size::FileName - 1] = 0;  // 285
        body[expected - 2] = 0;                                             // 545
    }
    const std::string targetId =
        platform::ReadTextField(body.subspan(RequestUserIdOffset, size::UserId));
    const std::string route = m_session->UserId() + "->" + Printable(targetId);
    m_core->Context().log.Write(
        chat ? LogSwitch::ChatRequest : LogSwitch::FileTransfer,
        m_session->UserId() +
            (chat ? " sent a chat request to " : " sent a file transfer request to ") +
            Printable(targetId) + ".");
    const auto target = m_core->Users().Find(targetId);
    if (!target) {
        Reply(pt::Failed, rt::UserNotOnLine);
        return;
    }
    // The target learns who asks and where to connect, as the server sees the requester.
    platform::WriteTextField(body.subspan(RequestUserIdOffset, size::UserId), m_session->UserId());
    const std::uint32_t address = m_session->PeerAddress();
    std::memcpy(body.data() + RequestAddressOffset, &address, sizeof address);
    try {
        std::lock_guard lock(target->NotificationLock());
        const protocol::SocketRef socket = target->Notification();
        if (socket.handle == protocol::InvalidSocket) {
            ThrowNotConnected();
        }
        try {
            protocol::SendPacket(socket, request.type, body, protocol::Timeout::Default);
        } catch (const NetError&) {
            target->BreakNotification();
            throw;
        }
    } catch (const NetError& error) {
        Reply(pt::Failed, error.what());
        m_core->Context().log.Always((chat ? "Error: chat (" : "Error: Send File (") + route +
                                     "). (" + error.what() + ")");
        return;
    }
    // The requester accepts the direct connection only from the invited user's address, so
    // nobody else on the network can take the chat or the file. A client that reads no body
    // from this reply is not disturbed by it.
    char invited[INET_ADDRSTRLEN] = {};
    const in_addr invitedAddress{target->PeerAddress()};
    ::inet_ntop(AF_INET, &invitedAddress, invited, sizeof invited);
    Reply(pt::Ok, invited);
}

}  // namespace talvorine::server
