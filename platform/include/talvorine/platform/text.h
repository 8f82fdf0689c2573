#pragma once
// Fixed-width text fields: cutting UTF-8 text without leaving half a character.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace talvorine::platform {

// The longest prefix of `text` of at most `maxBytes` bytes that does not end inside a UTF-8
// sequence. Bytes that are not valid UTF-8 lead bytes are kept as single characters.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes);

// The text stored in a NUL-terminated, zero-filled field: the bytes before the first NUL,
// at most `field.size()` bytes (a full field without NUL gives all of it).
std::string ReadTextField(std::span<const std::uint8_t> field);

// Writes `text` into a field of `field.size()` bytes: zero-filled, cut by CutUtf8 to
// field.size() - 1 bytes so that the NUL always fits. An empty field is left untouched.
void WriteTextField(std::span<std::uint8_t> field, std::string_view text);

}  // namespace talvorine::platform
