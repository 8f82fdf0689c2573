#pragma once
// One client's session: its request connection, the notification connection the server made
// back to the client, and the lock that serialises every exchange on the latter.

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "talvorine/protocol/socket.h"

namespace talvorine::server {

class Session {
public:
    Session(protocol::SocketHandle requestSocket, const sockaddr_in& peer);
    // Closes whatever the session thread left open.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Set once by the session thread before the session is put into the online users, so
    // other threads that find it there read it without a lock.
    const std::string& UserId() const { return m_userId; }
    void SetUserId(std::string userId) { m_userId = std::move(userId); }

    // The client's IPv4 address as accepted, in network byte order.
    std::uint32_t PeerAddress() const { return m_peer.sin_addr.s_addr; }
    // Only the session thread uses the request connection.
    protocol::SocketHandle RequestSocket() const { return m_requestSocket; }
    // The request connection with the memo of its time-outs; session thread only.
    protocol::SocketRef Request() { return {m_requestSocket, m_requestTimeouts}; }

    std::int32_t Status() const { return m_status.load(); }
    void SetStatus(std::int32_t status) { m_status.store(status); }

    // Set by shutdown when it stopped waiting for the session thread: from then on that
    // thread leaves the database alone (shutdown marked the user offline itself).
    bool Abandoned() const { return m_abandoned.load(); }
    void SetAbandoned() { m_abandoned.store(true); }

    // Held by every thread for the whole of one exchange on the notification connection.
    std::mutex& NotificationLock() { return m_notificationLock; }
    // Read under NotificationLock(); InvalidSocket before the connect-back, after the end and
    // once the connection was finished by a failed push.
    protocol::SocketHandle NotificationSocket() const {
        return m_notificationBroken.load() ? protocol::InvalidSocket : m_notificationSocket;
    }
    // Under NotificationLock(): NotificationSocket() with the memo of its time-outs, which the
    // lock guards as it guards the connection.
    protocol::SocketRef Notification() { return {NotificationSocket(), m_notificationTimeouts}; }
    // Under NotificationLock(), after a push failed part-way: the stream may hold half a
    // packet, so nothing may follow it. Shuts both connections down, which ends the session
    // (its thread marks the user offline); later pushes find no connection.
    void BreakNotification();

    // Session thread: connects to the client's address at `port`; raises NetError with the
    // socket error text. Wake() interrupts a connect in progress.
    void ConnectNotification(std::uint16_t port);

    // Any thread: interrupts every blocking call on both connections (shutdown, never close).
    void Wake();
    // Session thread: closes both connections. The notification connection is woken first,
    // then closed under the notification lock so that no relaying thread still uses it.
    void CloseConnections();

private:
    void Publish(protocol::SocketHandle& slot, protocol::SocketHandle socket);

    std::string m_userId;
    sockaddr_in m_peer;
    std::atomic<std::int32_t> m_status;
    std::atomic<bool> m_abandoned{false};
    std::atomic<bool> m_notificationBroken{false};
    std::mutex m_notificationLock;
    // Guards the two descriptor values against Wake() from other threads; held only for a
    // shutdown or close call, never while blocking.
    std::mutex m_socketMutex;
    protocol::SocketHandle m_requestSocket;
    protocol::SocketHandle m_notificationSocket = protocol::InvalidSocket;
    // What each connection's time-outs were last set to: most calls wait as long as the one
    // before, so the option is set only when that changes.
    protocol::SocketTimeouts m_requestTimeouts;
    protocol::SocketTimeouts m_notificationTimeouts;
};

}  // namespace talvorine::server
