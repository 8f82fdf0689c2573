// Delivery of stored offline messages to their recipient. A message leaves the table only
// once there is evidence that the recipient's program took it:
// - a client that announces confirmations (a 4-byte body on request 42) later tells how many
//   offline messages it has taken, in the body of a keep-alive, and exactly that many of the
//   messages pushed to it, oldest first, are deleted;
// - for any other client, the evidence is that every pushed byte was acknowledged by the
//   client's machine and that a moment later its program had not dropped the connection with
//   data unread (which resets it).
// Without that evidence the messages stay and are delivered again at the next fetch: a
// duplicate is better than a loss, and our client drops exact duplicates.

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>

#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "session.h"
#include "session_core.h"
#include "session_thread.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/server/account_database.h"
#include "talvorine/server/server_context.h"
#include "talvorine/server/server_log.h"

namespace talvorine::server {

namespace pt = protocol::PacketType;
namespace rt = protocol::ReplyText;
using protocol::NetError;

namespace {

// Messages read from the database at a time (at most about 1.6 MB of bodies).
constexpr std::size_t OfflineBatch = 50;
// How long the client's machine may take to acknowledge what was pushed.
constexpr auto DrainLimit = std::chrono::seconds(protocol::Timeout::Default);
constexpr auto DrainPoll = std::chrono::milliseconds(10);
// How long a client that does not confirm must keep its connection after everything arrived.
constexpr int SettleMilliseconds = 1500;

[[noreturn]] void ThrowSocketError(int code) {
    protocol::SetLastSocketError(code);
    throw NetError(protocol::SocketErrorText(code));
}

// Bytes pushed on the connection that the peer's machine has not acknowledged yet.
int Unacknowledged(protocol::SocketHandle socket) {
    int pending = 0;
    if (::ioctl(socket, SIOCOUTQ, &pending) != 0) {
        ThrowSocketError(protocol::MapErrno(errno));
    }
    return pending;
}

}  // namespace

void SessionThread::DeliverOfflineMessages(const protocol::PacketHeader& request) {
    if (request.bodyLength == protocol::OfflineConfirmation::BodySize &&
        platform::LoadLe32(m_request.Body()) == protocol::OfflineConfirmation::Announce) {
        m_offline.clientConfirms = true;
    }
    const std::string& userId = m_session->UserId();
    try {
        for (bool first = true;; first = false) {
            auto batch = m_core->Context().database.FetchOfflineMessages(userId, m_offline.lastSent,
                                                                         OfflineBatch);
            if (!batch) {
                m_core->Context().log.Always("Error: Failed to receive offline message (" + userId +
                                             "). (" + batch.error + ")");
                if (first) {
                    Reply(pt::Failed, rt::FailedToReceiveOffline);
                    return;
                }
                break;  // what was not read stays for the next fetch
            }
            const std::size_t sent = PushOfflineBatch(*batch.value);
            if (sent < OfflineBatch) {
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        OutOfMemory(pt::Failed, "Receive Offline Message: " + userId);
    }
    if (!m_offline.clientConfirms && !m_offline.unconfirmed.empty()) {
        AwaitDeliveryTaken();
        RemoveConfirmed(m_offline.unconfirmed.size());
    }
}

std::size_t SessionThread::PushOfflineBatch(const std::vector<server::OfflineMessage>& batch) {
    std::lock_guard lock(m_session->NotificationLock());
    const protocol::SocketRef socket = m_session->Notification();
    if (socket.handle == protocol::InvalidSocket) {
        ThrowSocketError(protocol::SocketCode::NotConnected);
    }
    std::size_t sent = 0;
    try {
        for (const auto& message : batch) {
            if (message.key <= m_offline.lastSent) {
                break;  // a key that does not grow would fetch the same batch for ever
            }
            protocol::SendTextPacket(socket, pt::OfflineMessage, message.sender,
                                     protocol::Timeout::Default);
            // The stored body goes out whole (up to the record's limit), as it came in.
            const protocol::MessageRecord record{message.recvTime, message.richText, message.brief,
                                                 message.body};
            protocol::SendPacket(socket, pt::OfflineMessage, record.Encode(),
                                 protocol::Timeout::Default);
            m_offline.unconfirmed.push_back(message.key);
            m_offline.lastSent = message.key;
            ++sent;
        }
    } catch (const NetError&) {
        m_session->BreakNotification();
        throw;
    }
    return sent;
}

void SessionThread::AwaitDeliveryTaken() {
    // The session thread is the only one that closes this descriptor, so it stays valid here
    // without the notification lock; relays to this user go on meanwhile.
    protocol::SocketHandle socket;
    {
        std::lock_guard lock(m_session->NotificationLock());
        socket = m_session->NotificationSocket();
    }
    if (socket == protocol::InvalidSocket) {
        ThrowSocketError(protocol::SocketCode::NotConnected);
    }
    const auto deadline = std::chrono::steady_clock::now() + DrainLimit;
    while (Unacknowledged(socket) > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            // A client that reads nothing for so long holds a stream nobody can trust.
            m_session->BreakNotification();
            ThrowSocketError(protocol::SocketCode::TimedOut);
        }
        std::this_thread::sleep_for(DrainPoll);
    }
    // A program that ends with data unread makes its machine reset the connection (after an
    // orderly end of its stream, when it shut its side down first). Only the reset is waited
    // for: it shows as an error or as a connection closed both ways.
    pollfd entry{socket, 0, 0};
    int ready;
    while ((ready = ::poll(&entry, 1, SettleMilliseconds)) < 0 && errno == EINTR) {
    }
    if (ready > 0 && (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        ThrowSocketError(protocol::SocketCode::ConnectionReset);
    }
}

void SessionThread::ConfirmOffline(const protocol::PacketHeader& request) {
    if (request.bodyLength != protocol::OfflineConfirmation::BodySize ||
        !m_offline.clientConfirms) {
        return;
    }
    const std::uint32_t taken = platform::LoadLe32(m_request.Body());
    if (taken > m_offline.confirmed) {
        RemoveConfirmed(taken - m_offline.confirmed);
    }
}

void SessionThread::RemoveConfirmed(std::size_t count) {
    for (; count > 0 && !m_offline.unconfirmed.empty(); --count) {
        // A failed delete leaves the message for a later fetch; the client drops the repeat.
        m_core->Context().database.DeleteOfflineMessage(
            std::to_string(m_offline.unconfirmed.front()));
        m_offline.unconfirmed.pop_front();
        ++m_offline.confirmed;
    }
}

}  // namespace talvorine::server
