#include "talvorine/platform/password_cipher.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "blowfish_tables.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/platform/text.h"

namespace talvorine::platform {
namespace {

constexpr std::size_t BlockSize = 8;
constexpr int Rounds = 16;

// Runs `transform` over each 8-byte block in place; refuses a partial block before touching any.
template <typename Transform>
bool ForEachBlock(std::span<std::uint8_t> data, Transform transform) {
    if (data.size() % BlockSize != 0) {
        return false;
    }
    for (std::size_t offset = 0; offset < data.size(); offset += BlockSize) {
        const auto block = data.subspan(offset, BlockSize);
        std::uint32_t left = LoadLe32(block);
        std::uint32_t right = LoadLe32(block.subspan(4));
        transform(left, right);
        StoreLe32(block, left);
        StoreLe32(block.subspan(4), right);
    }
    return true;
}

}  // namespace

Blowfish::Blowfish(std::span<const std::uint8_t> key)
    : m_p(detail::BlowfishInitialP), m_s(detail::BlowfishInitialS) {
    if (key.empty()) {
        return;  // nothing to cycle over the P-array
    }
    std::size_t keyIndex = 0;
    for (auto& word : m_p) {
        std::uint32_t keyWord = 0;
        for (int i = 0; i < 4; ++i) {
            keyWord = keyWord << 8 | key[keyIndex];
            keyIndex = (keyIndex + 1) % key.size();
        }
        word ^= keyWord;
    }
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    for (std::size_t i = 0; i < m_p.size(); i += 2) {
        EncipherBlock(left, right);
        m_p[i] = left;
        m_p[i + 1] = right;
    }
    for (auto& box : m_s) {
        for (std::size_t i = 0; i < box.size(); i += 2) {
            EncipherBlock(left, right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
}

std::uint32_t Blowfish::F(std::uint32_t x) const {
    const std::uint32_t a = m_s[0][x >> 24];
    const std::uint32_t b = m_s[1][(x >> 16) & 0xff];
    const std::uint32_t c = m_s[2][(x >> 8) & 0xff];
    const std::uint32_t d = m_s[3][x & 0xff];
    return ((a + b) ^ c) + d;
}

void Blowfish::EncipherBlock(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (int i = 0; i < Rounds; ++i) {
        l ^= m_p[i];
        r ^= F(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= m_p[Rounds];
    l ^= m_p[Rounds + 1];
    left = l;
    right = r;
}

void Blowfish::DecipherBlock(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left;
    std::uint32_t r = right;
    for (int i = Rounds + 1; i > 1; --i) {
        l ^= m_p[i];
        r ^= F(l);
        std::swap(l, r);
    }
    std::swap(l, r);
    r ^= m_p[1];
    l ^= m_p[0];
    left = l;
    right = r;
}

bool Blowfish::Encipher(std::span<std::uint8_t> data) const {
    return ForEachBlock(
        data, [this](std::uint32_t& left, std::uint32_t& right) { EncipherBlock(left, right); });
}

bool Blowfish::Decipher(std::span<std::uint8_t> data) const {
    return ForEachBlock(
        data, [this](std::uint32_t& left, std::uint32_t& right) { DecipherBlock(left, right); });
}

Blowfish StoredPasswordCipher() {
    // The key text in 16-bit characters, as the stored values were made: its bytes read as 8-bit
    // text end at the zero high byte of the first character, so the key is that one byte.
    static constexpr std::uint8_t KeyText[] = {'M', 0, 'I', 0, 'R', 0, 'T', 0,
                                               'A', 0, 'N', 0, 'E', 0, 0,   0};
    const auto keyLength = static_cast<std::int16_t>(
        ::strnlen(reinterpret_cast<const char*>(KeyText), sizeof KeyText));
    const std::size_t usable = keyLength > 0 ? static_cast<std::size_t>(keyLength) : 0;
    return Blowfish(std::span<const std::uint8_t>(KeyText, usable));
}

std::array<std::uint8_t, StoredPasswordSize> EncipherPassword(std::string_view password) {
    // 17 bytes so that a full-length password still has its terminating NUL before enciphering.
    std::array<std::uint8_t, StoredPasswordSize + 1> field{};
    const std::string_view text = CutUtf8(password, StoredPasswordSize);
    std::copy(text.begin(), text.end(), field.begin());
    std::array<std::uint8_t, StoredPasswordSize> stored{};
    std::memcpy(stored.data(), field.data(), stored.size());
    StoredPasswordCipher().Encipher(stored);
    return stored;
}

std::string DecipherPassword(std::span<const std::uint8_t, StoredPasswordSize> stored) {
    std::array<std::uint8_t, StoredPasswordSize> plain{};
    std::memcpy(plain.data(), stored.data(), plain.size());
    StoredPasswordCipher().Decipher(plain);
    return ReadTextField(plain);
}

}  // namespace talvorine::platform
