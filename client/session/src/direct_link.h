#pragma once
// The steps of a direct client-to-client connection that chat and file transfer share: the
// asking side listens, has the server relay its request and accepts the peer; the answering
// side connects to the address the server filled in. Each step throws protocol::NetError
// with the text to show; the sockets stay registered with their waker, so a closing window
// wakes any of the blocking calls.

#include <cstdint>
#include <optional>
#include <span>

#include "talvorine/client/session/server_session.h"
#include "talvorine/client/session/worker.h"

namespace talvorine::client::session::detail {

// Listens on a free port of all interfaces; returns the port.
std::uint16_t ListenForPeer(WakeableSocket& listening);
// Sends the request through the server; a refusal throws the server's text. Our server's
// acceptance carries the invited user's IPv4 address (dotted) as its body; it is returned in
// network byte order, nullopt when the reply carries none (a server that names no address).
std::optional<std::uint32_t> RelayRequest(RequestChannel& channel, std::uint8_t type,
                                          std::span<const std::uint8_t> body);
// Waits without time-out for the peer's connection (it comes when the peer's user answers),
// then closes the listening socket. With `expected`, a connection from any other address is
// closed at once and the wait goes on: nobody else on the network joins the chat or takes the
// file.
void AcceptPeer(WakeableSocket& listening, WakeableSocket& direct,
                std::optional<std::uint32_t> expected = std::nullopt);
// Connects to the asking side; `address` in network byte order.
void ConnectToPeer(WakeableSocket& direct, std::uint32_t address, std::uint16_t port);

}  // namespace talvorine::client::session::detail
