#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/platform/password_cipher.h"

namespace talvorine::platform {
namespace {

std::vector<std::uint8_t> FromHex(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

std::uint32_t BigEndianWord(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

// The published vectors write each word most significant byte first; the byte interface reads
// words least significant byte first, so each 4-byte group is reversed to compare.
std::vector<std::uint8_t> SwapWordBytes(std::vector<std::uint8_t> bytes) {
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        std::swap(bytes[i], bytes[i + 3]);
        std::swap(bytes[i + 1], bytes[i + 2]);
    }
    return bytes;
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Eric Young's ECB test data and variable key length ("set_key") data.
constexpr Vector PublishedVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
    {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
    {"F0E1", "FEDCBA9876543210", "E91D21C1D961A6D6"},
    {"F0E1D2", "FEDCBA9876543210", "E9C2B70A1BC65CF3"},
    {"F0E1D2C3B4A59687", "FEDCBA9876543210", "E87A244E2CC85E82"},
    {"F0E1D2C3B4A5968778", "FEDCBA9876543210", "15750E7A4F4EC577"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F", "FEDCBA9876543210", "93142887EE3BE15C"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F00", "FEDCBA9876543210", "03429E838CE2D14B"},
    {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
};

TEST(BlowfishTest, PublishedVectorsThroughTheWordInterface) {
    for (const auto& vector : PublishedVectors) {
        SCOPED_TRACE(std::string(vector.key) + " " + vector.plain);
        const auto key = FromHex(vector.key);
        const auto plain = FromHex(vector.plain);
        const auto cipher = FromHex(vector.cipher);
        const Blowfish blowfish(key);

        std::uint32_t left = BigEndianWord(plain.data());
        std::uint32_t right = BigEndianWord(plain.data() + 4);
        blowfish.EncipherBlock(left, right);
        EXPECT_EQ(left, BigEndianWord(cipher.data()));
        EXPECT_EQ(right, BigEndianWord(cipher.data() + 4));

        blowfish.DecipherBlock(left, right);
        EXPECT_EQ(left, BigEndianWord(plain.data()));
        EXPECT_EQ(right, BigEndianWord(plain.data() + 4));
    }
}

TEST(BlowfishTest, PublishedVectorsThroughTheByteInterfaceWithWordsSwapped) {
    for (const auto& vector : PublishedVectors) {
        SCOPED_TRACE(std::string(vector.key) + " " + vector.plain);
        const Blowfish blowfish(FromHex(vector.key));
        const auto plain = SwapWordBytes(FromHex(vector.plain));
        auto data = plain;
        ASSERT_TRUE(blowfish.Encipher(data));
        EXPECT_EQ(data, SwapWordBytes(FromHex(vector.cipher)));
        ASSERT_TRUE(blowfish.Decipher(data));
        EXPECT_EQ(data, plain);
    }
}

TEST(BlowfishTest, BlocksAreEncipheredOnTheirOwn) {
    const Blowfish blowfish(FromHex("0123456789ABCDEF"));
    // The same plain block twice gives the same cipher block twice: no chaining.
    auto data = SwapWordBytes(FromHex("11111111111111111111111111111111"));
    ASSERT_TRUE(blowfish.Encipher(data));
    EXPECT_EQ(data, SwapWordBytes(FromHex("61F9C3802281B09661F9C3802281B096")));
}

TEST(BlowfishTest, LengthNotAMultipleOfEightIsRefusedAndLeftUnchanged) {
    const Blowfish blowfish(FromHex("F0"));
    for (std::size_t length : {1u, 7u, 9u, 15u}) {
        std::vector<std::uint8_t> data(length, 0x5a);
        const auto before = data;
        EXPECT_FALSE(blowfish.Encipher(data)) << length;
        EXPECT_EQ(data, before);
        EXPECT_FALSE(blowfish.Decipher(data)) << length;
        EXPECT_EQ(data, before);
    }
    std::vector<std::uint8_t> empty;
    EXPECT_TRUE(blowfish.Encipher(empty));
    EXPECT_TRUE(blowfish.Decipher(empty));
}

TEST(StoredPasswordCipherTest, KeyIsTheSingleByteOfTheFirstCharacter) {
    const std::array<std::uint8_t, 1> m{0x4D};
    const Blowfish expected(m);
    const Blowfish stored = StoredPasswordCipher();
    for (const char* plainHex : {"0000000000000000", "0123456789ABCDEF", "FFFFFFFFFFFFFFFF"}) {
        auto a = FromHex(plainHex);
        auto b = a;
        ASSERT_TRUE(expected.Encipher(a));
        ASSERT_TRUE(stored.Encipher(b));
        EXPECT_EQ(a, b) << plainHex;
    }
    // ... and not the whole text, in either width.
    const std::string narrow = "MIRTANE";
    const Blowfish wholeText(
        std::span(reinterpret_cast<const std::uint8_t*>(narrow.data()), narrow.size()));
    auto a = FromHex("0000000000000000");
    auto b = a;
    ASSERT_TRUE(wholeText.Encipher(a));
    ASSERT_TRUE(stored.Encipher(b));
    EXPECT_NE(a, b);
}

TEST(StoredPasswordCipherTest, FullLengthPasswordFillsBothBlocksAndDeciphersWhole) {
    const std::string password = "0123456789abcdef";
    ASSERT_EQ(password.size(), StoredPasswordSize);
    const auto stored = EncipherPassword(password);

    std::array<std::uint8_t, 16> expected{};
    std::copy(password.begin(), password.end(), expected.begin());
    const std::array<std::uint8_t, 1> m{0x4D};
    ASSERT_TRUE(Blowfish(m).Encipher(expected));
    EXPECT_EQ(stored, expected);

    EXPECT_EQ(DecipherPassword(stored), password);
}

TEST(StoredPasswordCipherTest, ShortAndEmptyPasswords) {
    EXPECT_EQ(DecipherPassword(EncipherPassword("secret")), "secret");
    EXPECT_EQ(DecipherPassword(EncipherPassword("12345678")), "12345678");

    const auto empty = EncipherPassword("");
    std::array<std::uint8_t, 16> zeros{};
    const std::array<std::uint8_t, 1> m{0x4D};
    ASSERT_TRUE(Blowfish(m).Encipher(zeros));
    EXPECT_EQ(empty, zeros);
    EXPECT_EQ(DecipherPassword(empty), "");
    // A default view has no data pointer at all; it must encipher like the empty text.
    EXPECT_EQ(EncipherPassword(std::string_view{}), empty);
}

TEST(StoredPasswordCipherTest, OverlongPasswordIsCutWithoutHalfACharacter) {
    // 15 ASCII bytes and a two-byte character: the character does not fit and is dropped.
    const std::string password = "abcdefghijklmno\xC3\xA9xyz";
    EXPECT_EQ(DecipherPassword(EncipherPassword(password)), "abcdefghijklmno");
    EXPECT_EQ(DecipherPassword(EncipherPassword("abcdefghijklmnopqrstuvwxyz")), "abcdefghijklmnop");
}

}  // namespace
}  // namespace talvorine::platform
