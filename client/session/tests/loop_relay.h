#pragma once
// A stand-in for the server's relay of chat and file requests, for tests of the direct
// connections without a server.

#include <arpa/inet.h>

#include <functional>
#include <string>

#include "talvorine/client/session/server_session.h"
#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/packet.h"

namespace talvorine::client::session::testing {

// Relays chat and file requests to a handler the way the server does: the requester's
// address (127.0.0.1) and id are written into the request; the reply is 0.
class LoopRelay : public RequestChannel {
public:
    explicit LoopRelay(std::string requesterId) : m_requesterId(std::move(requesterId)) {}
    std::function<void(const protocol::ChatRequest&)> onChat;
    std::function<void(const protocol::FileRequest&)> onFile;
    Reply refusal;  // code != 0: refuse like the server does for an offline target
    // The body of the acceptance: our server names the invited user's address there.
    std::string invitedAddress;

    Reply Exchange(std::uint8_t type, std::span<const std::uint8_t> body) override {
        if (refusal.code != 0) {
            return refusal;
        }
        if (type == protocol::PacketType::ChatRequest) {
            auto request = protocol::ChatRequest::Decode(body);
            request.address.address = htonl(INADDR_LOOPBACK);
            request.userId = m_requesterId;
            onChat(request);
        } else if (type == protocol::PacketType::FileRequest) {
            auto request = protocol::FileRequest::Decode(body);
            request.address.address = htonl(INADDR_LOOPBACK);
            request.userId = m_requesterId;
            onFile(request);
        }
        return Reply{protocol::PacketType::Ok, invitedAddress};
    }

private:
    std::string m_requesterId;
};

}  // namespace talvorine::client::session::testing
