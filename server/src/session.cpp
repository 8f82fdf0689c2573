#include "session.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/net_error.h"

namespace talvorine::server {

namespace {

[[noreturn]] void ThrowErrno() {
    protocol::SetLastSocketError(protocol::MapErrno(errno));
    throw protocol::NetError(protocol::LastSocketErrorText());
}

// A connect interrupted by a signal goes on in the background; wait for its outcome.
void WaitForInterruptedConnect(protocol::SocketHandle socket) {
    pollfd entry{socket, POLLOUT, 0};
    while (::poll(&entry, 1, -1) < 0) {
        if (errno != EINTR) {
            ThrowErrno();
        }
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        ThrowErrno();
    }
    if (error != 0) {
        errno = error;
        ThrowErrno();
    }
}

}  // namespace

Session::Session(protocol::SocketHandle requestSocket, const sockaddr_in& peer)
    : m_peer(peer),
      m_status(static_cast<std::int32_t>(protocol::OnlineStatus::Offline)),
      m_requestSocket(requestSocket) {}

Session::~Session() {
    CloseConnections();
}

void Session::Publish(protocol::SocketHandle& slot, protocol::SocketHandle socket) {
    std::lock_guard lock(m_socketMutex);
    slot = socket;
}

void Session::ConnectNotification(std::uint16_t port) {
    // The descriptor is made visible to Wake() before the connect blocks, which is why this
    // does not go through ConnectOrThrow.
    const protocol::SocketHandle socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket == protocol::InvalidSocket) {
        ThrowErrno();
    }
    protocol::SendWithoutDelay(socket);
    {
        std::lock_guard lock(m_notificationLock);
        Publish(m_notificationSocket, socket);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr = m_peer.sin_addr;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return;
    }
    if (errno != EINTR) {
        ThrowErrno();
    }
    WaitForInterruptedConnect(socket);
}

void Session::Wake() {
    std::lock_guard lock(m_socketMutex);
    protocol::ShutdownSocket(m_requestSocket);
    protocol::ShutdownSocket(m_notificationSocket);
}

void Session::BreakNotification() {
    m_notificationBroken.store(true);
    Wake();
}

void Session::CloseConnections() {
    {
        std::lock_guard lock(m_socketMutex);
        protocol::ShutdownSocket(m_notificationSocket);
    }
    {
        std::lock_guard notification(m_notificationLock);
        std::lock_guard lock(m_socketMutex);
        protocol::CloseSocket(m_notificationSocket);
    }
    std::lock_guard lock(m_socketMutex);
    protocol::CloseSocket(m_requestSocket);
}

}  // namespace talvorine::server
