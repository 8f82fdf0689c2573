#include "talvorine/platform/text.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace talvorine::platform {
namespace {

// True when `text` ends on a character boundary of well-formed UTF-8 input.
bool EndsOnBoundary(std::string_view whole, std::size_t cut) {
    return cut == whole.size() || (static_cast<unsigned char>(whole[cut]) & 0xC0) != 0x80;
}

TEST(CutUtf8, KeepsTextThatFits) {
    EXPECT_EQ(CutUtf8("abc", 3), "abc");
    EXPECT_EQ(CutUtf8("abc", 10), "abc");
    EXPECT_EQ(CutUtf8("", 0), "");
    EXPECT_EQ(CutUtf8("abc", 0), "");
}

TEST(CutUtf8, DropsIncompleteTrailingSequence) {
    const std::string text =
        "a\xC3\xA9"
        "b";  // a é b
    EXPECT_EQ(CutUtf8(text, 2), "a");
    EXPECT_EQ(CutUtf8(text, 3), "a\xC3\xA9");
    const std::string euro = "x\xE2\x82\xAC";  // x €
    EXPECT_EQ(CutUtf8(euro, 2), "x");
    EXPECT_EQ(CutUtf8(euro, 3), "x");
    EXPECT_EQ(CutUtf8(euro, 4), euro);
    const std::string emoji = "\xF0\x9F\x98\x80z";  // U+1F600 z
    for (std::size_t max = 0; max < 4; ++max) {
        EXPECT_EQ(CutUtf8(emoji, max), "") << max;
    }
    EXPECT_EQ(CutUtf8(emoji, 4), "\xF0\x9F\x98\x80");
}

TEST(CutUtf8, NeverLeavesHalfACharacterAtAnyWidth) {
    const std::string text =
        "Zo\xC3\xAB \xE2\x82\xAC"
        "5 \xF0\x9F\x98\x80!\xC3\x9F";
    for (std::size_t max = 0; max <= text.size() + 1; ++max) {
        const std::string_view cut = CutUtf8(text, max);
        ASSERT_LE(cut.size(), max);
        ASSERT_EQ(cut, std::string_view(text).substr(0, cut.size()));
        EXPECT_TRUE(EndsOnBoundary(text, cut.size())) << "width " << max;
        // Longest such prefix: the next boundary lies beyond the width.
        std::size_t next = cut.size() + 1;
        while (next < text.size() && !EndsOnBoundary(text, next)) {
            ++next;
        }
        EXPECT_TRUE(cut.size() == text.size() || next > max) << "width " << max;
    }
}

TEST(CutUtf8, KeepsInvalidBytesAsSingleCharacters) {
    // A lead byte not followed by its continuation bytes stands alone.
    EXPECT_EQ(CutUtf8("a\xC3z", 2), "a\xC3");
    // Stray continuation bytes and bytes that never lead are cut like ASCII.
    EXPECT_EQ(CutUtf8("\x80\x80\x80\x80\x80", 3), "\x80\x80\x80");
    EXPECT_EQ(CutUtf8("a\xFF\xFE", 2), "a\xFF");
}

TEST(TextField, ReadStopsAtNulOrFieldEnd) {
    const std::array<std::uint8_t, 6> withNul{'a', 'b', 0, 'c', 0, 0};
    EXPECT_EQ(ReadTextField(withNul), "ab");
    const std::array<std::uint8_t, 3> full{'x', 'y', 'z'};
    EXPECT_EQ(ReadTextField(full), "xyz");
    EXPECT_EQ(ReadTextField({}), "");
}

TEST(TextField, WriteZeroFillsAndKeepsRoomForNul) {
    std::array<std::uint8_t, 6> field;
    field.fill(0xEE);
    WriteTextField(field, "ab");
    EXPECT_EQ(field, (std::array<std::uint8_t, 6>{'a', 'b', 0, 0, 0, 0}));

    WriteTextField(field, "abcdefgh");
    EXPECT_EQ(field, (std::array<std::uint8_t, 6>{'a', 'b', 'c', 'd', 'e', 0}));

    // é would need bytes 4 and 5; the NUL needs byte 5.
    WriteTextField(field, "abcd\xC3\xA9");
    EXPECT_EQ(field, (std::array<std::uint8_t, 6>{'a', 'b', 'c', 'd', 0, 0}));
    EXPECT_EQ(ReadTextField(field), "abcd");
}

TEST(TextField, EmptyFieldIsLeftUntouched) {
    std::vector<std::uint8_t> bytes{7};
    WriteTextField(std::span<std::uint8_t>(bytes.data(), 0), "abc");
    EXPECT_EQ(bytes[0], 7);
}

}  // namespace
}  // namespace talvorine::platform
