#pragma once
// Library-internal socket calls for the packet framing.

#include <sys/uio.h>

#include <cstdint>
#include <span>

#include "talvorine/protocol/socket.h"

namespace talvorine::protocol::detail {

// SendRaw with extra send flags; the packet layer passes MSG_MORE for a header or chunk that
// is followed by more of the same packet, so that Nagle's algorithm does not hold the rest
// back waiting for an acknowledgement (the classic write-write-read stall).
long SendWithFlags(SocketRef socket, std::span<const std::uint8_t> data, int flags,
                   int timeoutSeconds);

// One send call of several pieces (sendmsg). It first goes without waiting, which needs no
// time-out; only when the socket's buffer is full does it set the send time-out and wait.
// Returns the bytes moved (possibly fewer than asked), or -1 with the last error set.
long SendPieces(SocketRef socket, std::span<const iovec> pieces, int flags, int timeoutSeconds);

// ReceiveRaw that sets the receive time-out only when the socket's memo says it changed.
long ReceiveWithTimeout(SocketRef socket, std::span<std::uint8_t> buffer, int flags,
                        int timeoutSeconds);

}  // namespace talvorine::protocol::detail
