#pragma once
// Numbers on the wire and in the suite's files are little-endian whatever the host's order.
// Callers pass a span of at least the number's width (checked by span::first).

#include <cstdint>
#include <span>

namespace talvorine::platform {

inline std::uint32_t LoadLe32(std::span<const std::uint8_t> bytes) {
    const auto b = bytes.first<4>();
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

inline void StoreLe32(std::span<std::uint8_t> bytes, std::uint32_t value) {
    const auto b = bytes.first<4>();
    b[0] = static_cast<std::uint8_t>(value);
    b[1] = static_cast<std::uint8_t>(value >> 8);
    b[2] = static_cast<std::uint8_t>(value >> 16);
    b[3] = static_cast<std::uint8_t>(value >> 24);
}

inline void StoreLe16(std::span<std::uint8_t> bytes, std::uint16_t value) {
    const auto b = bytes.first<2>();
    b[0] = static_cast<std::uint8_t>(value);
    b[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace talvorine::platform
