#pragma once
// Packet framing: an 8-byte header (magic 0xAA, version 1, reserved 0, type, 32-bit
// little-endian body length) and the body, moved in pieces of at most 4096 bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "talvorine/protocol/socket.h"

namespace talvorine::protocol {

inline constexpr std::size_t PacketHeaderSize = 8;
inline constexpr std::uint8_t PacketMagic = 0xAA;
inline constexpr std::size_t PacketChunkSize = 4096;

struct PacketHeader {
    std::uint8_t magic = PacketMagic;
    std::uint8_t version = 1;
    std::uint8_t reserved = 0;
    std::uint8_t type = 0;
    std::uint32_t bodyLength = 0;

    static PacketHeader For(int type, std::uint32_t bodyLength);
    std::array<std::uint8_t, PacketHeaderSize> Encode() const;
    static PacketHeader Decode(std::span<const std::uint8_t, PacketHeaderSize> bytes);
};

// Every call takes the socket as a SocketRef: a bare descriptor, or one with its owner's
// memo of time-outs so that the time-out option is set only when it changes. A header leaves
// in one send call together with the first chunk of its body.

// Sends a header of `type` (its low byte) and exactly `body` (empty: no body).
void SendPacket(SocketRef socket, int type, std::span<const std::uint8_t> body, int timeoutSeconds);
// A packet with no body.
void SendPacket(SocketRef socket, int type, int timeoutSeconds);
// A text body: the bytes before the first NUL of `text`, then one NUL.
void SendTextPacket(SocketRef socket, int type, std::string_view text, int timeoutSeconds);
// Sends `header` as it stands (a relay keeps the received one) and the first
// header.bodyLength bytes of `body`; a shorter `body` is a caller's error
// (std::invalid_argument, nothing sent).
void SendHeaderAndBody(SocketRef socket, const PacketHeader& header,
                       std::span<const std::uint8_t> body, int timeoutSeconds);
// SendTextPacket(textType, text) and then SendHeaderAndBody(header, body): the same bytes, in
// one send call when both bodies together fit into one chunk (a live message's sender ID and
// an ordinary record), else as the two calls.
void SendTextPacketAndRelay(SocketRef socket, int textType, std::string_view text,
                            const PacketHeader& header, std::span<const std::uint8_t> body,
                            int timeoutSeconds);

// Reads one whole packet into `buffer` (capacity = buffer.size()); zero-fills the buffer
// first. Raises NetError with "Connection is closed by remote computer.", "packet error." or
// the socket error text.
PacketHeader ReceivePacket(SocketRef socket, std::span<std::uint8_t> buffer, int timeoutSeconds);

// A body buffer that its owner keeps from packet to packet: sized from each header, grown
// only when a body needs more, and never zero-filled. For callers that read nothing past the
// body (a relayed or stored message record), so a packet costs neither an allocation nor the
// clearing of a whole capacity.
class PacketBuffer {
public:
    std::span<std::uint8_t> Body() { return {m_data.get(), m_length}; }
    std::span<const std::uint8_t> Body() const { return {m_data.get(), m_length}; }
    std::size_t Capacity() const { return m_capacity; }
    // Makes `length` bytes the body, growing the storage when needed (std::bad_alloc when it
    // cannot); the bytes are whatever the storage held.
    std::span<std::uint8_t> Resize(std::size_t length);
    // Gives the storage back when it is larger than `keep` bytes.
    void Trim(std::size_t keep);

private:
    std::unique_ptr<std::uint8_t[]> m_data;
    std::size_t m_capacity = 0;
    std::size_t m_length = 0;
};

// Reads one whole packet of at most `capacity` body bytes into `buffer`, sized from the
// header (buffer.Body() is the body afterwards). Errors as above; std::bad_alloc when the
// body does not fit into memory.
PacketHeader ReceivePacket(SocketRef socket, PacketBuffer& buffer, std::size_t capacity,
                           int timeoutSeconds);

// A received body read as text: the bytes before the first NUL within the body length.
std::string_view BodyText(const PacketHeader& header, std::span<const std::uint8_t> buffer);

namespace FramingText {
inline constexpr std::string_view ClosedByRemote = "Connection is closed by remote computer.";
inline constexpr std::string_view PacketError = "packet error.";
}  // namespace FramingText

}  // namespace talvorine::protocol
