// Blocking IPv4 TCP helpers. Every send or receive call first sets the socket's time-out
// for that direction; there is no other time-out mechanism.

#include "talvorine/protocol/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>

#include "socket_detail.h"
#include "talvorine/protocol/net_error.h"

namespace talvorine::protocol {

namespace {

int FailWithErrno() {
    SetLastSocketError(MapErrno(errno));
    return -1;
}

bool SetTimeout(SocketRef socket, int option, int timeoutSeconds) {
    const int seconds = timeoutSeconds > 0 ? timeoutSeconds : 0;
    int* memo = nullptr;
    if (socket.timeouts != nullptr) {
        memo = option == SO_SNDTIMEO ? &socket.timeouts->send : &socket.timeouts->receive;
        if (*memo == seconds) {
            return true;
        }
    }
    timeval value{};
    value.tv_sec = seconds;
    if (::setsockopt(socket.handle, SOL_SOCKET, option, &value, sizeof value) != 0) {
        if (memo != nullptr) {
            *memo = SocketTimeouts::Unknown;
        }
        FailWithErrno();
        return false;
    }
    if (memo != nullptr) {
        *memo = seconds;
    }
    return true;
}

struct AddrInfoDeleter {
    void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};

// Resolves `host` to an IPv4 address (network byte order); 0 on success, else the mapped
// resolver code.
int ResolveIpv4(const std::string& host, in_addr& address) {
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1) {
        return 0;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &raw);
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
    if (result != 0) {
        return MapResolverError(result);
    }
    for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr;
            return 0;
        }
    }
    return SocketCode::NoData;
}

// A connect interrupted by a signal goes on in the background; wait for its outcome.
int FinishInterruptedConnect(SocketHandle socket) {
    pollfd entry{socket, POLLOUT, 0};
    while (::poll(&entry, 1, -1) < 0) {
        if (errno != EINTR) {
            return FailWithErrno();
        }
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return FailWithErrno();
    }
    if (error != 0) {
        SetLastSocketError(MapErrno(error));
        return -1;
    }
    return 0;
}

}  // namespace

int StartSockets() {
    // Writes to a closed connection must fail with an error, not end the process.
    return std::signal(SIGPIPE, SIG_IGN) == SIG_ERR ? 1 : 0;
}

void StopSockets() {
    // POSIX sockets need no library shutdown; SIGPIPE stays ignored for the process's rest.
}

void SendWithoutDelay(SocketHandle socket) {
    const int enable = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &enable, sizeof enable);
}

int ConnectTo(SocketHandle& socket, std::string_view host, std::uint16_t port) {
    socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket == InvalidSocket) {
        return FailWithErrno();
    }
    SendWithoutDelay(socket);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    const int resolved = ResolveIpv4(std::string(host), address.sin_addr);
    if (resolved != 0) {
        SetLastSocketError(resolved);
        return -1;
    }
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return 0;
    }
    if (errno == EINTR) {
        return FinishInterruptedConnect(socket);
    }
    return FailWithErrno();
}

int ConnectOrThrow(SocketHandle& socket, std::string_view host, std::uint16_t port) {
    if (ConnectTo(socket, host, port) != 0) {
        throw NetError(LastSocketErrorText());
    }
    return 0;
}

int ListenOn(SocketHandle& socket, std::uint16_t port, int backlog) {
    socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket == InvalidSocket) {
        return FailWithErrno();
    }
    // Lets a restarted server bind while old connections linger in TIME_WAIT; on Linux a port
    // that another socket is listening on still refuses the bind with EADDRINUSE.
    const int enable = 1;
    if (::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &enable, sizeof enable) != 0) {
        return FailWithErrno();
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return FailWithErrno();
    }
    if (::listen(socket, backlog) != 0) {
        return FailWithErrno();
    }
    return 0;
}

SocketHandle AcceptOn(SocketHandle listening, sockaddr_in* peer) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    SocketHandle accepted = InvalidSocket;
    do {
        length = sizeof address;
        accepted =
            ::accept4(listening, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
    } while (accepted == InvalidSocket && errno == EINTR);
    if (accepted == InvalidSocket) {
        return FailWithErrno();
    }
    SendWithoutDelay(accepted);
    if (peer != nullptr) {
        *peer = address;
    }
    return accepted;
}

int CloseSocket(SocketHandle& socket) {
    if (socket == InvalidSocket) {
        return 0;
    }
    ::shutdown(socket, SHUT_WR);
    const int result = ::close(socket);
    socket = InvalidSocket;
    return result == 0 ? 0 : FailWithErrno();
}

void ShutdownSocket(SocketHandle socket) {
    if (socket != InvalidSocket) {
        ::shutdown(socket, SHUT_RDWR);
    }
}

std::uint16_t LocalPort(SocketHandle socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET) {
        return 0;
    }
    return ntohs(address.sin_port);
}

std::uint32_t PeerAddress(SocketHandle socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET) {
        return 0;
    }
    return address.sin_addr.s_addr;
}

long detail::SendWithFlags(SocketRef socket, std::span<const std::uint8_t> data, int flags,
                           int timeoutSeconds) {
    if (!SetTimeout(socket, SO_SNDTIMEO, timeoutSeconds)) {
        return -1;
    }
    ssize_t sent = 0;
    do {
        sent = ::send(socket.handle, data.data(), data.size(), flags | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? FailWithErrno() : static_cast<long>(sent);
}

long detail::SendPieces(SocketRef socket, std::span<const iovec> pieces, int flags,
                        int timeoutSeconds) {
    std::array<iovec, 6> rest{};
    if (pieces.size() > rest.size()) {
        SetLastSocketError(SocketCode::InvalidArgument);
        return -1;
    }
    std::size_t total = 0;
    for (const iovec& piece : pieces) {
        total += piece.iov_len;
    }
    msghdr message{};
    message.msg_iov = const_cast<iovec*>(pieces.data());
    message.msg_iovlen = pieces.size();
    ssize_t moved = 0;
    do {
        moved = ::sendmsg(socket.handle, &message, flags | MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (moved < 0 && errno == EINTR);
    if (moved < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return FailWithErrno();
        }
        moved = 0;
    }
    if (static_cast<std::size_t>(moved) == total) {
        return static_cast<long>(moved);
    }
    // The socket's buffer is full: the rest waits for room, bounded by the send time-out.
    std::size_t count = 0;
    std::size_t skip = static_cast<std::size_t>(moved);
    for (const iovec& piece : pieces) {
        if (skip >= piece.iov_len) {
            skip -= piece.iov_len;
            continue;
        }
        rest[count++] =
            iovec{static_cast<std::uint8_t*>(piece.iov_base) + skip, piece.iov_len - skip};
        skip = 0;
    }
    if (!SetTimeout(socket, SO_SNDTIMEO, timeoutSeconds)) {
        return -1;
    }
    message.msg_iov = rest.data();
    message.msg_iovlen = count;
    ssize_t more = 0;
    do {
        more = ::sendmsg(socket.handle, &message, flags | MSG_NOSIGNAL);
    } while (more < 0 && errno == EINTR);
    if (more < 0) {
        return FailWithErrno();
    }
    return static_cast<long>(moved + more);
}

long SendRaw(SocketHandle socket, std::span<const std::uint8_t> data, int timeoutSeconds) {
    return detail::SendWithFlags(socket, data, 0, timeoutSeconds);
}

long detail::ReceiveWithTimeout(SocketRef socket, std::span<std::uint8_t> buffer, int flags,
                                int timeoutSeconds) {
    // A call that cannot block has no use for a time-out.
    if ((flags & MSG_DONTWAIT) == 0 && !SetTimeout(socket, SO_RCVTIMEO, timeoutSeconds)) {
        return -1;
    }
    ssize_t received = 0;
    do {
        received = ::recv(socket.handle, buffer.data(), buffer.size(), flags);
    } while (received < 0 && errno == EINTR);
    if (received < 0) {
        return FailWithErrno();
    }
    if (received == 0 && !buffer.empty()) {
        // An orderly close carries no error code.
        SetLastSocketError(0);
    }
    return static_cast<long>(received);
}

long ReceiveRaw(SocketHandle socket, std::span<std::uint8_t> buffer, int flags,
                int timeoutSeconds) {
    return detail::ReceiveWithTimeout(socket, buffer, flags, timeoutSeconds);
}

long SendOrThrow(SocketHandle socket, std::span<const std::uint8_t> data, int timeoutSeconds) {
    const long sent = SendRaw(socket, data, timeoutSeconds);
    if (sent <= 0) {
        throw NetError(LastSocketErrorText());
    }
    return sent;
}

long ReceiveOrThrow(SocketHandle socket, std::span<std::uint8_t> buffer, int flags,
                    int timeoutSeconds) {
    const long received = ReceiveRaw(socket, buffer, flags, timeoutSeconds);
    if (received <= 0) {
        throw NetError(LastSocketErrorText());
    }
    return received;
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.Release();
    }
    return *this;
}

SocketHandle Socket::Release() {
    const SocketHandle handle = m_handle;
    m_handle = InvalidSocket;
    return handle;
}

bool HasPendingData(SocketHandle socket) {
    pollfd entry{socket, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0;
}

}  // namespace talvorine::protocol
