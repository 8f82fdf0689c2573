#include "talvorine/platform/text.h"

#include <algorithm>
#include <cstring>

namespace talvorine::platform {

namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the sequence a lead byte starts; 0 for bytes that cannot start a sequence of
// more than one byte (ASCII, stray continuation bytes, invalid leads).
std::size_t SequenceLength(unsigned char byte) {
    if (byte >= 0xC2 && byte <= 0xDF) {
        return 2;
    }
    if (byte >= 0xE0 && byte <= 0xEF) {
        return 3;
    }
    if (byte >= 0xF0 && byte <= 0xF4) {
        return 4;
    }
    return 0;
}

}  // namespace

std::string_view CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    // Walk back over the continuation bytes before the cut to the lead byte of the last
    // character; a genuine sequence that reaches past the cut is dropped whole.
    std::size_t lead = maxBytes;
    while (lead > 0 && maxBytes - lead < 3 &&
           IsContinuation(static_cast<unsigned char>(text[lead - 1]))) {
        --lead;
    }
    if (lead == 0) {
        return text.substr(0, maxBytes);
    }
    --lead;
    const std::size_t length = SequenceLength(static_cast<unsigned char>(text[lead]));
    if (length == 0 || lead + length <= maxBytes || lead + length > text.size()) {
        return text.substr(0, maxBytes);
    }
    for (std::size_t i = lead + 1; i < lead + length; ++i) {
        if (!IsContinuation(static_cast<unsigned char>(text[i]))) {
            // Not a whole sequence: the lead byte stands alone and the cut is between characters.
            return text.substr(0, maxBytes);
        }
    }
    return text.substr(0, lead);
}

std::string ReadTextField(std::span<const std::uint8_t> field) {
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string(field.begin(), end);
}

void WriteTextField(std::span<std::uint8_t> field, std::string_view text) {
    if (field.empty()) {
        return;
    }
    std::fill(field.begin(), field.end(), std::uint8_t{0});
    const std::string_view cut = CutUtf8(text, field.size() - 1);
    std::memcpy(field.data(), cut.data(), cut.size());
}

}  // namespace talvorine::platform
