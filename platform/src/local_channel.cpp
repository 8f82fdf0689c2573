#include "talvorine/platform/local_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "talvorine/platform/file_descriptor.h"

namespace talvorine::platform {
namespace {

using Clock = std::chrono::steady_clock;

// A line longer than this is not a channel message; the sender is dropped.
constexpr std::size_t MaxLineBytes = 256;
// How long one connected peer may take to deliver its line, so a silent peer cannot stall the
// listener; and how long a sender waits for a listener whose backlog is full.
constexpr auto PeerTimeout = std::chrono::milliseconds(1000);
constexpr auto ConnectTimeout = std::chrono::milliseconds(2000);

constexpr std::size_t MaxNameBytes = sizeof(sockaddr_un::sun_path) - 1;

struct ChannelAddress {
    sockaddr_un address{};
    socklen_t length = 0;
};

// The abstract-namespace address of `name`: a leading zero byte, then the name, and a length
// that covers exactly those bytes (the rest of sun_path is not part of the name). nullopt when
// the name is empty or too long for an address.
std::optional<ChannelAddress> MakeAddress(std::string_view name) {
    ChannelAddress result;
    result.address.sun_family = AF_UNIX;
    if (name.empty() || name.size() > MaxNameBytes) {
        return std::nullopt;
    }
    result.address.sun_path[0] = '\0';
    std::memcpy(result.address.sun_path + 1, name.data(), name.size());
    result.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return result;
}

void SetTimeout(int fd, int option, std::chrono::milliseconds timeout) {
    const auto micro = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
    timeval value{};
    value.tv_sec = static_cast<time_t>(micro / 1000000);
    value.tv_usec = static_cast<suseconds_t>(micro % 1000000);
    ::setsockopt(fd, SOL_SOCKET, option, &value, sizeof value);
}

// A connected socket, or -1 with errno set.
int ConnectTo(std::string_view name) {
    const std::optional<ChannelAddress> address = MakeAddress(name);
    if (!address) {
        errno = EINVAL;
        return -1;
    }
    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) {
        return -1;
    }
    SetTimeout(fd.Get(), SO_SNDTIMEO, ConnectTimeout);
    int result = 0;
    do {
        result = ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address->address),
                           address->length);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd.Release());
        errno = error;
        return -1;
    }
    return fd.Release();
}

// Reads one line of at most MaxLineBytes from a peer; nullopt if the peer closes, stays silent
// past PeerTimeout or sends no "\n" in time.
std::optional<std::string> ReadOneLine(int fd) {
    SetTimeout(fd, SO_RCVTIMEO, PeerTimeout);
    const auto deadline = Clock::now() + PeerTimeout;
    std::string received;
    char buffer[MaxLineBytes];
    while (received.size() < MaxLineBytes && Clock::now() < deadline) {
        const ssize_t count = ::recv(fd, buffer, MaxLineBytes - received.size(), 0);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return std::nullopt;
        }
        received.append(buffer, static_cast<std::size_t>(count));
        if (const auto end = received.find('\n'); end != std::string::npos) {
            received.resize(end);
            return received;
        }
    }
    return std::nullopt;
}

int PollTimeout(std::optional<Clock::time_point> deadline) {
    if (!deadline) {
        return -1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                  : static_cast<int>(left);
}

void ReportToStderr(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
}

}  // namespace

bool IsPeerAllowed(PeerPolicy policy, uid_t peerUid, uid_t ownUid) {
    switch (policy) {
        case PeerPolicy::SameUser:
            return peerUid == ownUid;
        case PeerPolicy::RootOrSameUser:
            return peerUid == 0 || peerUid == ownUid;
    }
    return false;
}

std::string DesktopChannelName(std::string_view baseName) {
    return std::string(baseName) + "/" + std::to_string(::getuid());
}

namespace {
std::string ChannelFromEnvironment(const char* variable, std::string_view baseName) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
        return value;
    }
    return DesktopChannelName(baseName);
}
}  // namespace

std::string ClientChannelName() {
    return ChannelFromEnvironment(ClientChannelVariable, ClientChannelBase);
}

std::string PostSentryChannelName() {
    return ChannelFromEnvironment(PostSentryChannelVariable, PostSentryChannelBase);
}

std::optional<ChannelListener> ChannelListener::TryCreate(std::string_view name,
                                                          PeerPolicy policy) {
    const std::optional<ChannelAddress> address = MakeAddress(name);
    if (!address) {
        throw std::invalid_argument("a channel name is 1 to " + std::to_string(MaxNameBytes) +
                                    " bytes: \"" + std::string(name) + "\"");
    }
    // Non-blocking, so a connection that is gone again between poll and accept cannot block.
    FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (fd.Get() < 0) {
        throw std::system_error(errno, std::generic_category(), "channel socket");
    }
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address->address), address->length) !=
        0) {
        if (errno == EADDRINUSE) {
            return std::nullopt;
        }
        throw std::system_error(errno, std::generic_category(),
                                "bind channel \"" + std::string(name) + "\"");
    }
    if (::listen(fd.Get(), SOMAXCONN) != 0) {
        throw std::system_error(errno, std::generic_category(),
                                "listen on channel \"" + std::string(name) + "\"");
    }
    return ChannelListener(fd.Release(), std::string(name), policy);
}

ChannelListener::ChannelListener(int fd, std::string name, PeerPolicy policy)
    : m_fd(fd), m_name(std::move(name)), m_policy(policy) {}

ChannelListener::ChannelListener(ChannelListener&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_name(std::move(other.m_name)),
      m_policy(other.m_policy),
      m_onRefused(other.m_onRefused) {}

ChannelListener& ChannelListener::operator=(ChannelListener&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
        m_name = std::move(other.m_name);
        m_policy = other.m_policy;
        m_onRefused = other.m_onRefused;
    }
    return *this;
}

ChannelListener::~ChannelListener() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::optional<std::string> ChannelListener::WaitLine(std::chrono::milliseconds timeout) {
    if (m_fd < 0) {
        return std::nullopt;
    }
    std::optional<Clock::time_point> deadline;
    if (timeout.count() >= 0) {
        deadline = Clock::now() + timeout;
    }
    const uid_t ownUid = ::geteuid();
    for (;;) {
        pollfd entry{m_fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, PollTimeout(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        // After Wake the shut-down listener reports a hang-up on every poll.
        if ((entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return std::nullopt;
        }
        FileDescriptor peer(::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC));
        if (peer.Get() < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ||
                errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of resources for a moment: the waiting connection stays queued.
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            return std::nullopt;  // EINVAL: the listener was shut down
        }
        ucred credentials{};
        socklen_t length = sizeof credentials;
        const bool known =
            ::getsockopt(peer.Get(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
            length == sizeof credentials;
        if (!known || !IsPeerAllowed(m_policy, credentials.uid, ownUid)) {
            const std::string who =
                known ? "uid " + std::to_string(credentials.uid) : "an unknown uid";
            (m_onRefused ? m_onRefused : ReportToStderr)("refused a connection from " + who +
                                                         " on \"" + m_name + "\"");
            continue;
        }
        if (auto line = ReadOneLine(peer.Get())) {
            return line;
        }
    }
}

void ChannelListener::Wake() {
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
    }
}

void ChannelListener::SetRefusalHandler(void (*handler)(const std::string& message)) {
    m_onRefused = handler;
}

bool ChannelExists(std::string_view name) {
    const int fd = ConnectTo(name);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    // A full backlog still means somebody holds the name.
    return errno == EAGAIN;
}

bool SendChannelLine(std::string_view name, std::string_view line) {
    // The listener takes one line of bounded length; refuse what it would drop.
    if (line.find('\n') != std::string_view::npos || line.size() + 1 > MaxLineBytes) {
        return false;
    }
    FileDescriptor fd(ConnectTo(name));
    if (fd.Get() < 0) {
        return false;
    }
    std::string message(line);
    message += '\n';
    std::size_t sent = 0;
    while (sent < message.size()) {
        const ssize_t count =
            ::send(fd.Get(), message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(count);
    }
    return true;
}

ChannelReader::ChannelReader(ChannelListener& listener,
                             std::function<void(const std::string&)> onLine)
    : m_listener(listener), m_thread([this, onLine = std::move(onLine)] {
          while (const auto line = m_listener.WaitLine()) {
              onLine(*line);
          }
      }) {}

ChannelReader::~ChannelReader() {
    m_listener.Wake();
    m_thread.join();
}

}  // namespace talvorine::platform
