#include "direct_link.h"

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

void RelayRequest(RequestChannel& channel, std::uint8_t type, std::span<const std::uint8_t> body) {
    const auto reply = channel.Exchange(type, body);
    if (reply.code != protocol::PacketType::Ok) {
        throw NetError(reply.text);
    }
}

void AcceptPeer(WakeableSocket& listening, WakeableSocket& direct) {
    direct.Ref() = protocol::AcceptOn(listening.Get(), nullptr);
    direct.Register();
    if (!direct.IsOpen()) {
        throw NetError(protocol::LastSocketErrorText());
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
