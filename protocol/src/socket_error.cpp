// Error numbers and texts: the platform's errno and resolver codes are translated onto the
// Windows Sockets numbers that the suite's texts are keyed by.

#include <netdb.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "talvorine/protocol/socket.h"

namespace talvorine::protocol {

namespace {

constexpr std::size_t MaxTextLength = 255;

thread_local int t_lastSocketError = 0;

struct CodeText {
    int code;
    const char* text;
};

constexpr CodeText ErrorTexts[] = {
    {10004, "Blocking call cancelled"},
    {10022, "app version not supported by DLL"},
    {10024, "no file descriptors available"},
    {10035, "socket marked as non-blocking and SO_LINGER set not 0"},
    {10036, "Blocking operation in progress"},
    {10038, "descriptor is not a socket"},
    {10041, "protocol wrong type for this socket"},
    {10043, "specified protocol not supported"},
    {10044, "socket type not supported for address family"},
    {10047, "address family not supported"},
    {10048, "address already in use"},
    {10049, "address not available"},
    {10050, "Network subsystem failed"},
    {10053, "connection aborted"},
    {10054, "connection reset"},
    {10055, "no buffer space available"},
    {10057, "not connected"},
    {10058, "connection is closed"},
    {10060, "connection timed out"},
    {10061, "connection refused"},
    {10064, "host down"},
    {10065, "host unreachable"},
    {10091, "WinSock not present or not responding"},
    {10092, "version of WinSock not supported"},
    {10093, "WSA Startup not initialized"},
    {11001, "Authoritive: Host not found"},
    {11002, "Non-authoritive: host not found or server failure"},
    {11003, "Non-recoverable: refused or not implemented"},
    {11004, "Valid name, no data record for type"},
};

std::string CutToLimit(std::string text) {
    if (text.size() > MaxTextLength) {
        text.resize(MaxTextLength);
    }
    return text;
}

}  // namespace

int MapErrno(int errnoValue) {
    switch (errnoValue) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case ETIMEDOUT:
            return SocketCode::TimedOut;
        case ECONNRESET:
            return SocketCode::ConnectionReset;
        case ECONNREFUSED:
            return SocketCode::ConnectionRefused;
        case EADDRINUSE:
            return SocketCode::AddressInUse;
        case ECONNABORTED:
            return SocketCode::ConnectionAborted;
        case ENOTCONN:
            return SocketCode::NotConnected;
        case EHOSTUNREACH:
            return SocketCode::HostUnreachable;
        case EHOSTDOWN:
            return SocketCode::HostDown;
        case ENETDOWN:
            return SocketCode::NetworkDown;
        case ENOBUFS:
            return SocketCode::NoBuffers;
        case EMFILE:
            return SocketCode::TooManyFiles;
        case ENOTSOCK:
        case EBADF:
            return SocketCode::NotSocket;
        case EAFNOSUPPORT:
            return SocketCode::FamilyNotSupported;
        case EADDRNOTAVAIL:
            return SocketCode::AddressNotAvailable;
        case EPIPE:
        case ESHUTDOWN:
            return SocketCode::Shutdown;
        case EINVAL:
            return SocketCode::InvalidArgument;
        case EINTR:
            return 10004;
        case EINPROGRESS:
            return 10036;
        case EPROTOTYPE:
            return 10041;
        case EPROTONOSUPPORT:
            return 10043;
        case ESOCKTNOSUPPORT:
            return 10044;
        case ENETUNREACH:
            return 10051;
        default:
            return errnoValue;
    }
}

int MapResolverError(int eaiValue) {
    switch (eaiValue) {
        case 0:
            return 0;
        case EAI_NONAME:
            return SocketCode::HostNotFound;
        case EAI_AGAIN:
            return SocketCode::TryAgain;
        case EAI_NODATA:
        case EAI_ADDRFAMILY:
            return SocketCode::NoData;
        case EAI_SYSTEM:
            return MapErrno(errno);
        case EAI_MEMORY:
            return SocketCode::NoBuffers;
        default:
            return SocketCode::NoRecovery;
    }
}

int LastSocketError() {
    return t_lastSocketError;
}

void SetLastSocketError(int code) {
    t_lastSocketError = code;
}

std::string SocketErrorText(int code) {
    const auto* found = std::find_if(std::begin(ErrorTexts), std::end(ErrorTexts),
                                     [code](const CodeText& entry) { return entry.code == code; });
    if (found != std::end(ErrorTexts)) {
        return found->text;
    }
    char text[MaxTextLength + 1];
    std::snprintf(text, sizeof text, "error number is %u", static_cast<unsigned>(code));
    return text;
}

std::string LastSocketErrorText() {
    return SocketErrorText(LastSocketError());
}

std::string SystemErrorText() {
    const int code = errno;
    char buffer[MaxTextLength + 1] = {};
    // GNU strerror_r: returns the text, which may or may not be placed in the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return CutToLimit(text != nullptr ? std::string(text) : std::string());
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace talvorine::protocol
