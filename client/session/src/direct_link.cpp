#include "direct_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"
#include "wire_util.h"

namespace talvorine::client::session::detail {

using protocol::NetError;

std::uint16_t ListenForPeer(WakeableSocket& listening) {
    const int result = protocol::ListenOn(listening.Ref(), 0);
    listening.Register();
    if (result != 0) {
        throw NetError(protocol::LastSocketErrorText());
    }
    return protocol::LocalPort(listening.Get());
}

std::optional<std::uint32_t> RelayRequest(RequestChannel& channel, std::uint8_t type,
                                          std::span<const std::uint8_t> body) {
    const auto reply = channel.Exchange(type, body);
    if (reply.code != protocol::PacketType::Ok) {
        throw NetError(reply.text);
    }
    const std::string text = reply.text.substr(0, reply.text.find('\0'));
    in_addr address{};
    if (text.empty() || ::inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return address.s_addr;
}

void AcceptPeer(WakeableSocket& listening, WakeableSocket& direct,
                std::optional<std::uint32_t> expected) {
    for (;;) {
        sockaddr_in peer{};
        direct.Ref() = protocol::AcceptOn(listening.Get(), &peer);
        direct.Register();
        if (!direct.IsOpen()) {
            throw NetError(protocol::LastSocketErrorText());
        }
        if (!expected || peer.sin_addr.s_addr == *expected) {
            break;
        }
        direct.Close();  // someone else: turned away, the invited user may still come
    }
    listening.Close();
}

void ConnectToPeer(WakeableSocket& direct, std::uint32_t address, std::uint16_t port) {
    const int result = protocol::ConnectTo(direct.Ref(), DottedAddress(address), port);
    direct.Register();
    if (result != 0) {
        throw NetError(protocol::LastSocketErrorText());
    }
}

}  // namespace talvorine::client::session::detail
