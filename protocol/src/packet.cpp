// Packet framing. Nothing here allocates: bodies are the caller's buffers and the header is
// built on the stack.

#include "talvorine/protocol/packet.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "socket_detail.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/protocol/net_error.h"

namespace talvorine::protocol {

namespace {

[[noreturn]] void ThrowLastSocketError() {
    throw NetError(LastSocketErrorText());
}

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Body bytes go out without waiting when the socket's buffer has room, as it almost always
// has; such a call needs no time-out set. Only a send that would block sets the time-out and
// waits. Returns what the call moved, like a blocking send.
long SendBodyChunk(SocketHandle socket, std::span<const std::uint8_t> piece, int flags,
                   int timeoutSeconds) {
    ssize_t sent = 0;
    do {
        sent = ::send(socket, piece.data(), piece.size(), flags | MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent > 0) {
        return static_cast<long>(sent);
    }
    if (sent < 0 && !WouldBlock(errno)) {
        SetLastSocketError(MapErrno(errno));
        return -1;
    }
    return detail::SendWithFlags(socket, piece, flags, timeoutSeconds);
}

// A body usually arrives with its header: it is taken without waiting (and without setting a
// time-out) when it is there; 0 when nothing is there yet. A closed or failed connection
// raises as the blocking receive would.
std::size_t ReceiveBodyNow(SocketHandle socket, std::span<std::uint8_t> target) {
    ssize_t got = 0;
    do {
        got = ::recv(socket, target.data(), target.size(), MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got == 0) {
        throw NetError(std::string(FramingText::ClosedByRemote));
    }
    if (got < 0) {
        if (WouldBlock(errno)) {
            return 0;
        }
        SetLastSocketError(MapErrno(errno));
        ThrowLastSocketError();
    }
    return static_cast<std::size_t>(got);
}

void SendHeader(SocketHandle socket, const PacketHeader& header, bool bodyFollows,
                int timeoutSeconds) {
    const auto bytes = header.Encode();
    const long sent =
        detail::SendWithFlags(socket, bytes, bodyFollows ? MSG_MORE : 0, timeoutSeconds);
    if (sent != static_cast<long>(bytes.size())) {
        if (sent >= 0) {
            // A blocking send stops short only when its time-out ran out part way.
            SetLastSocketError(SocketCode::TimedOut);
        }
        ThrowLastSocketError();
    }
}

// Sends `length` bytes of which the first text.size() come from `text` and the rest are
// zero (SendTextPacket's terminating NUL), in chunks of at most PacketChunkSize, each chunk
// starting at the first unsent byte.
void SendBody(SocketHandle socket, std::span<const std::uint8_t> data, std::size_t length,
              int timeoutSeconds) {
    std::size_t offset = 0;
    while (offset < length) {
        const std::size_t chunk = std::min(length - offset, PacketChunkSize);
        const bool last = offset + chunk == length;
        std::span<const std::uint8_t> piece;
        std::array<std::uint8_t, PacketChunkSize> tail;
        if (offset + chunk <= data.size()) {
            piece = data.subspan(offset, chunk);
        } else {
            // Only the final chunk can reach past the data; it carries the zero bytes.
            tail.fill(0);
            const std::size_t fromData = data.size() > offset ? data.size() - offset : 0;
            std::memcpy(tail.data(), data.data() + offset, fromData);
            piece = std::span<const std::uint8_t>(tail.data(), chunk);
        }
        const long sent = SendBodyChunk(socket, piece, last ? 0 : MSG_MORE, timeoutSeconds);
        if (sent <= 0) {
            ThrowLastSocketError();
        }
        offset += static_cast<std::size_t>(sent);
    }
}

std::uint32_t CheckedLength(std::size_t length) {
    if (length > std::numeric_limits<std::uint32_t>::max()) {
        throw std::invalid_argument("packet body longer than 4 GiB");
    }
    return static_cast<std::uint32_t>(length);
}

// Repeats receive calls of at most `chunkLimit` bytes until `target` is full. With `tryNow`
// each call first takes what is already there without waiting.
void ReceiveExactly(SocketHandle socket, std::span<std::uint8_t> target, std::size_t chunkLimit,
                    int timeoutSeconds, bool tryNow = false) {
    std::size_t received = 0;
    while (received < target.size()) {
        const std::size_t want = std::min(target.size() - received, chunkLimit);
        if (tryNow) {
            if (const std::size_t now = ReceiveBodyNow(socket, target.subspan(received, want));
                now > 0) {
                received += now;
                continue;
            }
        }
        const long got = ReceiveRaw(socket, target.subspan(received, want), 0, timeoutSeconds);
        if (got == 0) {
            throw NetError(std::string(FramingText::ClosedByRemote));
        }
        if (got < 0) {
            ThrowLastSocketError();
        }
        received += static_cast<std::size_t>(got);
    }
}

}  // namespace

PacketHeader PacketHeader::For(int type, std::uint32_t bodyLength) {
    PacketHeader header;
    header.type = static_cast<std::uint8_t>(type & 0xFF);
    header.bodyLength = bodyLength;
    return header;
}

std::array<std::uint8_t, PacketHeaderSize> PacketHeader::Encode() const {
    std::array<std::uint8_t, PacketHeaderSize> bytes{magic, version, reserved, type};
    platform::StoreLe32(std::span(bytes).subspan(4), bodyLength);
    return bytes;
}

PacketHeader PacketHeader::Decode(std::span<const std::uint8_t, PacketHeaderSize> bytes) {
    PacketHeader header;
    header.magic = bytes[0];
    header.version = bytes[1];
    header.reserved = bytes[2];
    header.type = bytes[3];
    header.bodyLength = platform::LoadLe32(bytes.subspan<4>());
    return header;
}

void SendPacket(SocketHandle socket, int type, std::span<const std::uint8_t> body,
                int timeoutSeconds) {
    SendHeaderAndBody(socket, PacketHeader::For(type, CheckedLength(body.size())), body,
                      timeoutSeconds);
}

void SendPacket(SocketHandle socket, int type, int timeoutSeconds) {
    SendHeaderAndBody(socket, PacketHeader::For(type, 0), {}, timeoutSeconds);
}

void SendTextPacket(SocketHandle socket, int type, std::string_view text, int timeoutSeconds) {
    const std::size_t textLength = std::min(text.find('\0'), text.size());
    const std::uint32_t length = CheckedLength(textLength + 1);
    SendHeader(socket, PacketHeader::For(type, length), true, timeoutSeconds);
    SendBody(socket, {reinterpret_cast<const std::uint8_t*>(text.data()), textLength}, length,
             timeoutSeconds);
}

void SendHeaderAndBody(SocketHandle socket, const PacketHeader& header,
                       std::span<const std::uint8_t> body, int timeoutSeconds) {
    if (body.size() < header.bodyLength) {
        throw std::invalid_argument("packet body shorter than the header's body length");
    }
    SendHeader(socket, header, header.bodyLength > 0, timeoutSeconds);
    SendBody(socket, body.first(header.bodyLength), header.bodyLength, timeoutSeconds);
}

PacketHeader ReceivePacket(SocketHandle socket, std::span<std::uint8_t> buffer,
                           int timeoutSeconds) {
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    std::array<std::uint8_t, PacketHeaderSize> bytes{};
    ReceiveExactly(socket, bytes, PacketHeaderSize, timeoutSeconds);
    const PacketHeader header = PacketHeader::Decode(bytes);
    if (header.magic != PacketMagic || header.bodyLength > buffer.size()) {
        throw NetError(std::string(FramingText::PacketError));
    }
    ReceiveExactly(socket, buffer.first(header.bodyLength), PacketChunkSize, timeoutSeconds, true);
    return header;
}

std::string_view BodyText(const PacketHeader& header, std::span<const std::uint8_t> buffer) {
    const std::size_t length = std::min<std::size_t>(header.bodyLength, buffer.size());
    const auto* begin = reinterpret_cast<const char*>(buffer.data());
    const std::string_view body(begin, length);
    return body.substr(0, std::min(body.find('\0'), body.size()));
}

}  // namespace talvorine::protocol
