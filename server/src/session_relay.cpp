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
    m_request[size::UserId - 1] = 0;
    return std::string(protocol::BodyText(request, m_request));
}

protocol::PacketHeader SessionThread::ReceiveRecord(std::span<std::uint8_t> record) {
    const protocol::PacketHeader header =
        protocol::ReceivePacket(m_session->RequestSocket(), record, protocol::Timeout::Default);
    if (header.bodyLength < size::MessageMin) {
        ReplyAndEnd(pt::Refused, rt::PacketSizeError);
    }
    return header;
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
    const std::string route = m_session->UserId() + "->" + recipientId;
    m_core->Context().log.Write(LogSwitch::SendMessage,
                                m_session->UserId() + " sent a message to " + recipientId + ".");
    Reply(pt::Ok);

    // Not zeroed here: ReceivePacket zero-fills the buffer itself.
    RecordBuffer record;
    try {
        record = std::make_unique_for_overwrite<std::uint8_t[]>(size::MessageMax);
    } catch (const std::bad_alloc&) {
        OutOfMemory(pt::Refused, "Send Message: " + route);
    }
    const protocol::PacketHeader header = ReceiveRecord(std::span(record.get(), size::MessageMax));
    platform::StoreLe32(std::span(record.get(), size::MessageMax), ServerClock());

    std::optional<std::string> answer;
    try {
        answer = PushLiveMessage(*recipient, header, record);
    } catch (const NetError& error) {
        // A broken recipient is the sender's news, not the end of the sender's session.
        Reply(pt::Refused, error.what());
        return;
    }
    if (answer) {
        Reply(pt::Ok, *answer);
    } else {
        Reply(pt::Ok);
    }
}

std::optional<std::string> SessionThread::PushLiveMessage(Session& recipient,
                                                          const protocol::PacketHeader& header,
                                                          RecordBuffer& record) {
    std::lock_guard lock(recipient.NotificationLock());
    const protocol::SocketHandle socket = recipient.NotificationSocket();
    if (socket == protocol::InvalidSocket) {
        ThrowNotConnected();
    }
    DiscardStaleAnswers(socket);
    try {
        protocol::SendTextPacket(socket, pt::LiveMessage, m_session->UserId(),
                                 protocol::Timeout::Default);
        protocol::SendHeaderAndBody(socket, header, std::span(record.get(), header.bodyLength),
                                    protocol::Timeout::Default);
    } catch (const NetError&) {
        recipient.BreakNotification();
        throw;
    }
    record.reset();

    const auto answerBuffer = std::span(m_request).first(protocol::Capacity::ServerRecipientAnswer);
    protocol::PacketHeader answer;
    try {
        answer = protocol::ReceivePacket(socket, answerBuffer, protocol::Timeout::Default);
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
    return std::string(protocol::BodyText(answer, answerBuffer));
}

void SessionThread::OfflineMessage(const protocol::PacketHeader& request) {
    const std::string recipientId = RecipientOf(request);
    const std::string route = m_session->UserId() + "->" + Printable(recipientId);
    m_core->Context().log.Write(
        LogSwitch::SendOfflineMessage,
        m_session->UserId() + " sent a offline message to " + Printable(recipientId) + ".");
    Reply(pt::Ok);

    RecordBuffer buffer;
    try {
        buffer = std::make_unique_for_overwrite<std::uint8_t[]>(size::MessageMax);
    } catch (const std::bad_alloc&) {
        OutOfMemory(pt::Refused, "Send Offline Message: " + route);
    }
    const protocol::PacketHeader header = ReceiveRecord(std::span(buffer.get(), size::MessageMax));
    // Decoding stops the brief at offset 35 and the body before the record's last byte.
    const protocol::MessageRecord record =
        protocol::MessageRecord::Decode(std::span(buffer.get(), header.bodyLength));
    buffer.reset();

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
    const auto body = std::span(m_request).first(expected);
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
        const protocol::SocketHandle socket = target->NotificationSocket();
        if (socket == protocol::InvalidSocket) {
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
