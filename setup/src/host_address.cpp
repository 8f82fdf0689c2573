#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>

#include "talvorine/setup/user_share.h"

namespace talvorine::setup {

namespace {

bool IsLoopback(const in_addr& address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

std::string Dotted(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof(text));
    return text;
}

// The design's way, kept as the fall-back: the host name's addresses. Debian maps the host
// name to 127.0.1.1, so loopback answers are skipped here too.
std::optional<std::string> ResolvedHostAddress() {
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0) {
        return std::nullopt;
    }
    std::optional<std::string> result;
    for (addrinfo* a = found; a != nullptr && !result; a = a->ai_next) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
        if (!IsLoopback(address->sin_addr)) {
            result = Dotted(address->sin_addr);
        }
    }
    ::freeaddrinfo(found);
    return result;
}

}  // namespace

std::optional<std::string> FirstHostAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        std::optional<std::string> result;
        for (ifaddrs* i = list; i != nullptr && !result; i = i->ifa_next) {
            if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
                (i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_LOOPBACK) != 0) {
                continue;
            }
            const auto* address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            if (!IsLoopback(address->sin_addr)) {
                result = Dotted(address->sin_addr);
            }
        }
        ::freeifaddrs(list);
        if (result) {
            return result;
        }
    }
    return ResolvedHostAddress();
}

int CopyTerminated(std::string_view address, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    if (address.empty() || address.size() + 1 > static_cast<std::size_t>(size)) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, address.data(), address.size());
    buffer[address.size()] = '\0';
    return 1;
}

}  // namespace talvorine::setup
