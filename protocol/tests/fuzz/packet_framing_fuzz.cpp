// The packet reader on a stream of arbitrary bytes: the first byte picks the receive
// capacity of one of the real callers, the rest arrives on a socket that then closes. Every
// packet is read until the reader raises its error; nothing may read or write out of bounds.
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"

namespace pr = talvorine::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A socket buffer holds the whole input, so writing never blocks.
    if (size == 0 || size > 100000) {
        return 0;
    }
    constexpr std::array<std::size_t, 6> Capacities = {
        pr::Capacity::ServerLogin,         pr::Capacity::ServerRequest,
        pr::Capacity::ServerMessageRecord, pr::Capacity::ServerRecipientAnswer,
        pr::Capacity::ClientNotification,  0};
    std::vector<std::uint8_t> buffer(Capacities[data[0] % Capacities.size()]);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
        return 0;
    }
    int sendSize = static_cast<int>(size) * 2 + 4096;
    ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &sendSize, sizeof sendSize);
    ::setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &sendSize, sizeof sendSize);
    const long written = ::send(pair[0], data + 1, size - 1, MSG_NOSIGNAL);
    ::close(pair[0]);
    if (written == static_cast<long>(size - 1)) {
        try {
            for (;;) {
                const pr::PacketHeader header = pr::ReceivePacket(pair[1], buffer, 1);
                (void)pr::BodyText(header, buffer);
            }
        } catch (const pr::NetError&) {
            // The end of the stream, or a packet the reader refuses: both are expected.
        }
    }
    ::close(pair[1]);
    return 0;
}
