#pragma once
// Thin helpers over POSIX TCP sockets (IPv4, blocking), with per-call time-outs in whole
// seconds set on the socket before every send or receive (0 = no limit), and the error codes
// of the platform mapped onto the Windows Sockets numbers whose texts the suite shows.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace talvorine::protocol {

using SocketHandle = int;
inline constexpr SocketHandle InvalidSocket = -1;

// Backlog used for every listening socket (the kernel caps it at somaxconn).
inline constexpr int MaxBacklog = 0x7FFFFFFF;

// Windows Sockets error numbers the texts are keyed by.
namespace SocketCode {
inline constexpr int TimedOut = 10060;
inline constexpr int ConnectionReset = 10054;
inline constexpr int ConnectionRefused = 10061;
inline constexpr int AddressInUse = 10048;
inline constexpr int ConnectionAborted = 10053;
inline constexpr int NotConnected = 10057;
inline constexpr int HostUnreachable = 10065;
inline constexpr int HostDown = 10064;
inline constexpr int NetworkDown = 10050;
inline constexpr int NoBuffers = 10055;
inline constexpr int TooManyFiles = 10024;
inline constexpr int NotSocket = 10038;
inline constexpr int FamilyNotSupported = 10047;
inline constexpr int AddressNotAvailable = 10049;
inline constexpr int Shutdown = 10058;
inline constexpr int InvalidArgument = 10022;
inline constexpr int HostNotFound = 11001;
inline constexpr int TryAgain = 11002;
inline constexpr int NoRecovery = 11003;
inline constexpr int NoData = 11004;
}  // namespace SocketCode

int StartSockets();  // 0 ok, 1 failed (ignores SIGPIPE for the process)
void StopSockets();

// errno -> Windows Sockets number (unknown errno values are passed through unchanged).
int MapErrno(int errnoValue);
// getaddrinfo EAI_* -> 11001..11004.
int MapResolverError(int eaiValue);

// The calling thread's last socket error, as a Windows Sockets number.
int LastSocketError();
void SetLastSocketError(int code);

std::string SocketErrorText(int code);  // at most 255 characters
std::string LastSocketErrorText();
// strerror text of the calling thread's errno at most 255 characters.
std::string SystemErrorText();
bool IsDirectory(const std::string& path);

// Turns off Nagle's algorithm. Every exchange is a small request waiting for a small answer,
// and the packet layer already coalesces a header with its body (MSG_MORE); without this a
// second small packet waits for the peer's delayed acknowledgement (about 40 ms). ConnectTo and
// AcceptOn set it on every socket they make.
void SendWithoutDelay(SocketHandle socket);

// 0 ok, -1 name not resolved, else the connect result (-1 with the last error set).
// The socket is stored into `socket` before anything can fail.
int ConnectTo(SocketHandle& socket, std::string_view host, std::uint16_t port);
int ConnectOrThrow(SocketHandle& socket, std::string_view host, std::uint16_t port);
// 0 ok, -1 failed; binds 0.0.0.0:port. Port 0 picks a free port (see LocalPort).
int ListenOn(SocketHandle& socket, std::uint16_t port, int backlog = MaxBacklog);
SocketHandle AcceptOn(SocketHandle listening, sockaddr_in* peer);
// 0 if nothing to close; else shuts down the sending direction, closes, stores -1.
int CloseSocket(SocketHandle& socket);
// Wakes a thread blocked on `socket` in another thread; never closes the descriptor.
void ShutdownSocket(SocketHandle socket);
// True when bytes (or the end of the stream) can be read at once, without waiting.
bool HasPendingData(SocketHandle socket);

std::uint16_t LocalPort(SocketHandle socket);
// The peer's IPv4 address in network byte order (0 when unknown).
std::uint32_t PeerAddress(SocketHandle socket);

// The time-outs a socket was last given, kept by the socket's owner beside the descriptor so
// that the packet layer sets the option only when the value changes (a connection that always
// waits 30 s sets it once). Belongs to one descriptor: an owner that closes the socket and
// makes another starts a fresh memo. Not thread-safe: guarded as the socket itself is.
struct SocketTimeouts {
    static constexpr int Unknown = -1;
    int send = Unknown;
    int receive = Unknown;
};

// A socket as the packet layer takes it: the descriptor and, when its owner keeps one, the
// memo of its time-outs (without one, every waiting call sets its time-out).
struct SocketRef {
    // Implicit: every packet call that is given a bare descriptor keeps working.
    SocketRef(SocketHandle socket) : handle(socket) {}
    SocketRef(SocketHandle socket, SocketTimeouts& memo) : handle(socket), timeouts(&memo) {}

    SocketHandle handle;
    SocketTimeouts* timeouts = nullptr;
};

long SendRaw(SocketHandle socket, std::span<const std::uint8_t> data, int timeoutSeconds);
long ReceiveRaw(SocketHandle socket, std::span<std::uint8_t> buffer, int flags, int timeoutSeconds);
long SendOrThrow(SocketHandle socket, std::span<const std::uint8_t> data, int timeoutSeconds);
long ReceiveOrThrow(SocketHandle socket, std::span<std::uint8_t> buffer, int flags,
                    int timeoutSeconds);

// Owns one descriptor; closes it (CloseSocket) when destroyed. Ref() gives the variable the
// socket helpers above store into.
class Socket {
public:
    Socket() = default;
    explicit Socket(SocketHandle handle) : m_handle(handle) {}
    Socket(Socket&& other) noexcept : m_handle(other.Release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { Close(); }

    SocketHandle Get() const { return m_handle; }
    SocketHandle& Ref() { return m_handle; }
    bool IsOpen() const { return m_handle != InvalidSocket; }
    SocketHandle Release();
    int Close() { return CloseSocket(m_handle); }

private:
    SocketHandle m_handle = InvalidSocket;
};

}  // namespace talvorine::protocol
