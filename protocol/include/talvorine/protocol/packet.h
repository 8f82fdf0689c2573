#pragma once
// Packet framing: an 8-byte header (magic 0xAA, version 1, reserved 0, type, 32-bit
// little-endian body length) and the body, moved in pieces of at most 4096 bytes.

#include <array>
#include <cstddef>
#include <cstdint>
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

// Sends a header of `type` (its low byte) and exactly `body` (empty: no body).
void SendPacket(SocketHandle socket, int type, std::span<const std::uint8_t> body,
                int timeoutSeconds);
// A packet with no body.
void SendPacket(SocketHandle socket, int type, int timeoutSeconds);
// A text body: the bytes before the first NUL of `text`, then one NUL.
void SendTextPacket(SocketHandle socket, int type, std::string_view text, int timeoutSeconds);
// Sends `header` as it stands (a relay keeps the received one) and the first
// header.bodyLength bytes of `body`; a shorter `body` is a caller's error
// (std::invalid_argument, nothing sent).
void SendHeaderAndBody(SocketHandle socket, const PacketHeader& header,
                       std::span<const std::uint8_t> body, int timeoutSeconds);

// Reads one whole packet into `buffer` (capacity = buffer.size()); zero-fills the buffer
// first. Raises NetError with "Connection is closed by remote computer.", "packet error." or
// the socket error text.
PacketHeader ReceivePacket(SocketHandle socket, std::span<std::uint8_t> buffer, int timeoutSeconds);

// A received body read as text: the bytes before the first NUL within the body length.
std::string_view BodyText(const PacketHeader& header, std::span<const std::uint8_t> buffer);

namespace FramingText {
inline constexpr std::string_view ClosedByRemote = "Connection is closed by remote computer.";
inline constexpr std::string_view PacketError = "packet error.";
}  // namespace FramingText

}  // namespace talvorine::protocol
