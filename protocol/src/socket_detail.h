#pragma once
// Library-internal send variant for the packet framing.

#include <cstdint>
#include <span>

#include "talvorine/protocol/socket.h"

namespace talvorine::protocol::detail {

// SendRaw with extra send flags; the packet layer passes MSG_MORE for a header or chunk that
// is followed by more of the same packet, so that Nagle's algorithm does not hold the rest
// back waiting for an acknowledgement (the classic write-write-read stall).
long SendWithFlags(SocketHandle socket, std::span<const std::uint8_t> data, int flags,
                   int timeoutSeconds);

}  // namespace talvorine::protocol::detail
