#pragma once
// Blowfish in electronic-code-book mode, as the suite keeps passwords in the registry:
// each 8-byte block is two 32-bit words read and written least significant byte first
// (the first four bytes are the left half); no IV, no padding.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace talvorine::platform {

class Blowfish {
public:
    // Standard key schedule; `key` is 1 to 56 bytes (an empty key leaves the initial tables).
    explicit Blowfish(std::span<const std::uint8_t> key);

    void EncipherBlock(std::uint32_t& left, std::uint32_t& right) const;
    void DecipherBlock(std::uint32_t& left, std::uint32_t& right) const;

    // In place, block by block. A length that is not a multiple of 8 is refused (false, the data
    // unchanged); length 0 succeeds.
    bool Encipher(std::span<std::uint8_t> data) const;
    bool Decipher(std::span<std::uint8_t> data) const;

private:
    std::array<std::uint32_t, 18> m_p{};
    std::array<std::array<std::uint32_t, 256>, 4> m_s{};
    std::uint32_t F(std::uint32_t x) const;
};

// The cipher keyed as the suite's stored passwords are: the key text "MIRTANE" held as 16-bit
// characters, of which the bytes before the first zero byte (one byte, 'M') are the key.
Blowfish StoredPasswordCipher();

inline constexpr std::size_t StoredPasswordSize = 16;

// The text (at most 16 bytes, the caller guarantees it) copied into 17 zero bytes, the first 16
// enciphered.
std::array<std::uint8_t, StoredPasswordSize> EncipherPassword(std::string_view password);
// The 16 bytes deciphered, taken up to the first NUL (a full 16-byte password has none).
std::string DecipherPassword(std::span<const std::uint8_t, StoredPasswordSize> stored);

}  // namespace talvorine::platform
