// Packet framing. Bodies are the caller's buffers (or a PacketBuffer that the caller keeps) and
// the header is built on the stack; nothing else allocates.

#include "talvorine/protocol/packet.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#include "socket_detail.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/protocol/net_error.h"

namespace talvorine::protocol {

namespace {

[[noreturn]] void ThrowLastSocketError() {
    throw NetError(LastSocketErrorText());
}

// The pieces of body bytes [offset, offset + count) of a body that is `data` followed by
// zero bytes (a text's terminating NUL): at most one piece of data and one of zeros, since a
// count is never more than one chunk. Returns how many pieces were written to `out`.
std::size_t BodyPieces(std::span<const std::uint8_t> data, std::size_t offset, std::size_t count,
                       iovec* out) {
    static constexpr std::array<std::uint8_t, PacketChunkSize> Zeros{};
    std::size_t pieces = 0;
    if (offset < data.size() && count > 0) {
        const std::size_t take = std::min(count, data.size() - offset);
        out[pieces++] = iovec{const_cast<std::uint8_t*>(data.data() + offset), take};
        count -= take;
    }
    if (count > 0) {
        out[pieces++] = iovec{const_cast<std::uint8_t*>(Zeros.data()), count};
    }
    return pieces;
}

// Sends `header` and a body of header.bodyLength bytes (the first data.size() from `data`,
// the rest zero). The header leaves in one call with the body's first chunk; the body goes
// on in chunks of at most PacketChunkSize, each starting at the first unsent byte.
void SendFramed(SocketRef socket, const PacketHeader& header, std::span<const std::uint8_t> data,
                int timeoutSeconds) {
    const auto bytes = header.Encode();
    const std::size_t length = header.bodyLength;
    std::array<iovec, 3> pieces{};
    pieces[0] = iovec{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
    std::size_t chunk = std::min(length, PacketChunkSize);
    std::size_t count = 1 + BodyPieces(data, 0, chunk, &pieces[1]);
    long sent = detail::SendPieces(socket, std::span(pieces).first(count),
                                   chunk < length ? MSG_MORE : 0, timeoutSeconds);
    if (sent < static_cast<long>(bytes.size())) {
        if (sent >= 0) {
            // A waiting send stops short only when its time-out ran out part way.
            SetLastSocketError(SocketCode::TimedOut);
        }
        ThrowLastSocketError();
    }
    std::size_t offset = static_cast<std::size_t>(sent) - bytes.size();
    while (offset < length) {
        chunk = std::min(length - offset, PacketChunkSize);
        count = BodyPieces(data, offset, chunk, pieces.data());
        sent = detail::SendPieces(socket, std::span(pieces).first(count),
                                  offset + chunk < length ? MSG_MORE : 0, timeoutSeconds);
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

// A body usually arrives with its header: it is taken without waiting (and without setting a
// time-out) when it is there; 0 when nothing is there yet. A closed or failed connection
// raises as the waiting receive would.
std::size_t ReceiveNow(SocketRef socket, std::span<std::uint8_t> target) {
    ssize_t got = 0;
    do {
        got = ::recv(socket.handle, target.data(), target.size(), MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got == 0) {
        throw NetError(std::string(FramingText::ClosedByRemote));
    }
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        SetLastSocketError(MapErrno(errno));
        ThrowLastSocketError();
    }
    return static_cast<std::size_t>(got);
}

// Repeats receive calls of at most `chunkLimit` bytes until `target` is full. With `tryNow`
// each call first takes what is already there without waiting.
void ReceiveExactly(SocketRef socket, std::span<std::uint8_t> target, std::size_t chunkLimit,
                    int timeoutSeconds, bool tryNow = false) {
    std::size_t received = 0;
    while (received < target.size()) {
        const std::size_t want = std::min(target.size() - received, chunkLimit);
        if (tryNow) {
            if (const std::size_t now = ReceiveNow(socket, target.subspan(received, want));
                now > 0) {
                received += now;
                continue;
            }
        }
        const long got =
            detail::ReceiveWithTimeout(socket, target.subspan(received, want), 0, timeoutSeconds);
        if (got == 0) {
            throw NetError(std::string(FramingText::ClosedByRemote));
        }
        if (got < 0) {
            ThrowLastSocketError();
        }
        received += static_cast<std::size_t>(got);
    }
}

PacketHeader ReceiveHeader(SocketRef socket, std::size_t capacity, int timeoutSeconds) {
    std::array<std::uint8_t, PacketHeaderSize> bytes{};
    ReceiveExactly(socket, bytes, PacketHeaderSize, timeoutSeconds);
    const PacketHeader header = PacketHeader::Decode(bytes);
    if (header.magic != PacketMagic || header.bodyLength > capacity) {
        throw NetError(std::string(FramingText::PacketError));
    }
    return header;
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

void SendPacket(SocketRef socket, int type, std::span<const std::uint8_t> body,
                int timeoutSeconds) {
    SendFramed(socket, PacketHeader::For(type, CheckedLength(body.size())), body, timeoutSeconds);
}

void SendPacket(SocketRef socket, int type, int timeoutSeconds) {
    SendFramed(socket, PacketHeader::For(type, 0), {}, timeoutSeconds);
}

void SendTextPacket(SocketRef socket, int type, std::string_view text, int timeoutSeconds) {
    const std::size_t textLength = std::min(text.find('\0'), text.size());
    const std::uint32_t length = CheckedLength(textLength + 1);
    SendFramed(socket, PacketHeader::For(type, length),
               {reinterpret_cast<const std::uint8_t*>(text.data()), textLength}, timeoutSeconds);
}

void SendHeaderAndBody(SocketRef socket, const PacketHeader& header,
                       std::span<const std::uint8_t> body, int timeoutSeconds) {
    if (body.size() < header.bodyLength) {
        throw std::invalid_argument("packet body shorter than the header's body length");
    }
    SendFramed(socket, header, body.first(header.bodyLength), timeoutSeconds);
}

void SendTextPacketAndRelay(SocketRef socket, int textType, std::string_view text,
                            const PacketHeader& header, std::span<const std::uint8_t> body,
                            int timeoutSeconds) {
    if (body.size() < header.bodyLength) {
        throw std::invalid_argument("packet body shorter than the header's body length");
    }
    const std::size_t textLength = std::min(text.find('\0'), text.size());
    if (textLength + 1 + header.bodyLength > PacketChunkSize) {
        SendTextPacket(socket, textType, text, timeoutSeconds);
        SendHeaderAndBody(socket, header, body, timeoutSeconds);
        return;
    }
    static constexpr std::uint8_t Nul = 0;
    const auto first = PacketHeader::For(textType, CheckedLength(textLength + 1)).Encode();
    const auto second = header.Encode();
    const std::array<iovec, 5> pieces{
        iovec{const_cast<std::uint8_t*>(first.data()), first.size()},
        iovec{const_cast<char*>(text.data()), textLength},
        iovec{const_cast<std::uint8_t*>(&Nul), 1},
        iovec{const_cast<std::uint8_t*>(second.data()), second.size()},
        iovec{const_cast<std::uint8_t*>(body.data()), header.bodyLength}};
    const std::size_t total = first.size() + textLength + 1 + second.size() + header.bodyLength;
    const long sent = detail::SendPieces(socket, pieces, 0, timeoutSeconds);
    if (sent < 0) {
        ThrowLastSocketError();
    }
    if (static_cast<std::size_t>(sent) < total) {
        // A waiting send stops short only when its time-out ran out part way.
        SetLastSocketError(SocketCode::TimedOut);
        ThrowLastSocketError();
    }
}

PacketHeader ReceivePacket(SocketRef socket, std::span<std::uint8_t> buffer, int timeoutSeconds) {
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    const PacketHeader header = ReceiveHeader(socket, buffer.size(), timeoutSeconds);
    ReceiveExactly(socket, buffer.first(header.bodyLength), PacketChunkSize, timeoutSeconds, true);
    return header;
}

PacketHeader ReceivePacket(SocketRef socket, PacketBuffer& buffer, std::size_t capacity,
                           int timeoutSeconds) {
    buffer.Resize(0);
    const PacketHeader header = ReceiveHeader(socket, capacity, timeoutSeconds);
    ReceiveExactly(socket, buffer.Resize(header.bodyLength), PacketChunkSize, timeoutSeconds, true);
    return header;
}

std::span<std::uint8_t> PacketBuffer::Resize(std::size_t length) {
    if (length > m_capacity) {
        // Rounded up so that bodies of about one size reuse one allocation.
        const std::size_t capacity = (length + 255) / 256 * 256;
        m_data = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        m_capacity = capacity;
    }
    m_length = length;
    return Body();
}

void PacketBuffer::Trim(std::size_t keep) {
    if (m_capacity > keep) {
        m_data.reset();
        m_capacity = 0;
        m_length = 0;
    }
}

std::string_view BodyText(const PacketHeader& header, std::span<const std::uint8_t> buffer) {
    const std::size_t length = std::min<std::size_t>(header.bodyLength, buffer.size());
    const auto* begin = reinterpret_cast<const char*>(buffer.data());
    const std::string_view body(begin, length);
    return body.substr(0, std::min(body.find('\0'), body.size()));
}

}  // namespace talvorine::protocol
