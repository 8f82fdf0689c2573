#include "talvorine/protocol/catalogue.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "talvorine/protocol/net_error.h"

namespace talvorine::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The text stored at `offset`, read up to the NUL that must lie inside `width`.
std::string TextAt(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t width) {
    const auto field = bytes.subspan(offset, width);
    const auto nul = std::find(field.begin(), field.end(), std::uint8_t{0});
    EXPECT_NE(nul, field.end()) << "no NUL in the field at " << offset;
    return std::string(field.begin(), nul);
}

std::uint32_t U32At(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

std::string ErrorOf(void (*decode)(std::span<const std::uint8_t>), std::size_t size) {
    const Bytes bytes(size, 0);
    try {
        decode(bytes);
    } catch (const NetError& error) {
        return error.what();
    }
    return "(no error)";
}

template <typename Record>
void Decode(std::span<const std::uint8_t> bytes) {
    static_cast<void>(Record::Decode(bytes));
}

TEST(Catalogue, UserIdValidation) {
    EXPECT_TRUE(IsValidUserId("00000001"));
    EXPECT_FALSE(IsValidUserId("0000001"));
    EXPECT_FALSE(IsValidUserId("000000012"));
    EXPECT_FALSE(IsValidUserId("0000000a"));
    EXPECT_FALSE(IsValidUserId(""));
}

TEST(Catalogue, DecodersRefuseWrongSizesWithAClearText) {
    EXPECT_EQ(ErrorOf(Decode<UserProfile>, 2105), "UserProfile: expected 2106 bytes, got 2105");
    EXPECT_EQ(ErrorOf(Decode<UserProfile>, 2107), "UserProfile: expected 2106 bytes, got 2107");
    EXPECT_EQ(ErrorOf(Decode<LoginRequest>, 29), "LoginRequest: expected 30 bytes, got 29");
    EXPECT_EQ(ErrorOf(Decode<ChatRequest>, 281), "ChatRequest: expected 282 bytes, got 281");
    EXPECT_EQ(ErrorOf(Decode<FileRequest>, 548), "FileRequest: expected 547 bytes, got 548");
    EXPECT_EQ(ErrorOf(Decode<SearchRequest>, 0), "SearchRequest: expected 258 bytes, got 0");
    EXPECT_EQ(ErrorOf(Decode<SearchRow>, 669), "SearchRow: expected 670 bytes, got 669");
    EXPECT_EQ(ErrorOf(Decode<AccountCredentials>, 25),
              "AccountCredentials: expected 26 bytes, got 25");
    EXPECT_EQ(ErrorOf(Decode<PasswordChange>, 44), "PasswordChange: expected 43 bytes, got 44");
    EXPECT_EQ(ErrorOf(Decode<IconUpload>, 33), "IconUpload: expected 34 bytes, got 33");
    EXPECT_EQ(ErrorOf(Decode<IconDownload>, 14), "IconDownload: expected 13 bytes, got 14");
    EXPECT_EQ(ErrorOf(Decode<WireSocketAddress>, 8), "WireSocketAddress: expected 16 bytes, got 8");
    EXPECT_EQ(ErrorOf(Decode<MessageRecord>, 36),
              "MessageRecord: expected 37 to 32768 bytes, got 36");
    EXPECT_EQ(ErrorOf(Decode<MessageRecord>, 32769),
              "MessageRecord: expected 37 to 32768 bytes, got 32769");
    EXPECT_EQ(ErrorOf(Decode<MessageRecord>, 37), "(no error)");
    EXPECT_EQ(ErrorOf(Decode<MessageRecord>, 32768), "(no error)");
}

TEST(Catalogue, ProfileFieldsTileTheRecord) {
    std::size_t offset = 0;
    for (const ProfileField& field : ProfileFields) {
        EXPECT_EQ(field.offset, offset) << field.name;
        offset += field.width;
    }
    EXPECT_EQ(offset, Size::UserProfile);
    EXPECT_EQ(ProfileFields.front().name, "UserId");
    EXPECT_EQ(ProfileFields[4].name, "Gender");
    EXPECT_EQ(ProfileFields[4].width, 2u);
    EXPECT_EQ(ProfileFields.back().name, "Description");
    EXPECT_EQ(ProfileFields.back().offset, 1850u);
    EXPECT_EQ(ProfileFields.back().width, 256u);
    EXPECT_EQ(ProfileFields.back().member, &UserProfile::description);
}

TEST(Catalogue, UserProfileFieldsAtTheirOffsets) {
    UserProfile profile;
    for (const ProfileField& field : ProfileFields) {
        profile.*field.member = std::string(field.name).substr(0, field.width - 1);
    }
    profile.description = "likes chess";
    const auto bytes = profile.Encode();
    EXPECT_EQ(TextAt(bytes, 0, 9), "UserId");
    EXPECT_EQ(TextAt(bytes, 9, 17), "Password");
    EXPECT_EQ(TextAt(bytes, 91, 65), "Nickname");
    EXPECT_EQ(TextAt(bytes, 156, 2), "G");
    EXPECT_EQ(TextAt(bytes, 414, 256), "Email");
    EXPECT_EQ(TextAt(bytes, 1121, 17), "Zip");
    EXPECT_EQ(TextAt(bytes, 1526, 129), "Company");
    EXPECT_EQ(TextAt(bytes, 1850, 256), "likes chess");
    EXPECT_EQ(bytes[1850 + 11], 0);
    EXPECT_EQ(bytes.back(), 0);

    const UserProfile decoded = UserProfile::Decode(bytes);
    for (const ProfileField& field : ProfileFields) {
        EXPECT_EQ(decoded.*field.member, profile.*field.member) << field.name;
    }
}

TEST(Catalogue, OverlongTextsAreCutOnCharacterBoundaries) {
    UserProfile profile;
    profile.userId = "123456789";
    profile.realName = std::string(63, 'a') + "\xC3\xA9" + "tail";  // é would straddle the NUL
    profile.description = std::string(300, 'd');
    const auto bytes = profile.Encode();
    EXPECT_EQ(TextAt(bytes, 0, 9), "12345678");
    EXPECT_EQ(TextAt(bytes, 26, 65), std::string(63, 'a'));
    EXPECT_EQ(TextAt(bytes, 1850, 256), std::string(255, 'd'));
}

TEST(Catalogue, DecodersNeverReadPastAField) {
    // No NUL anywhere: every text is its field minus the NUL's byte, nothing of the next field.
    const Bytes full(Size::UserProfile, 'x');
    const UserProfile profile = UserProfile::Decode(full);
    for (const ProfileField& field : ProfileFields) {
        EXPECT_EQ((profile.*field.member).size(), field.width - 1) << field.name;
    }

    // A multi-byte character that the missing NUL would cut in half is dropped whole.
    Bytes login(Size::LoginRequest, 0);
    std::fill_n(login.begin(), 7, '1');
    login[7] = 0xC3;
    login[8] = 0xA9;
    EXPECT_EQ(LoginRequest::Decode(login).userId, "1111111");
}

TEST(Catalogue, LoginRequestLayout) {
    const LoginRequest request{"00000042", "secret", 0x00011F41};
    const auto bytes = request.Encode();
    EXPECT_EQ(TextAt(bytes, 0, 9), "00000042");
    EXPECT_EQ(TextAt(bytes, 9, 17), "secret");
    EXPECT_EQ(U32At(bytes, 26), 0x00011F41u);
    const LoginRequest decoded = LoginRequest::Decode(bytes);
    EXPECT_EQ(decoded.userId, "00000042");
    EXPECT_EQ(decoded.password, "secret");
    EXPECT_EQ(decoded.port, 0x00011F41u);
}

TEST(Catalogue, SocketAddressLayout) {
    WireSocketAddress address;
    address.port = 0x1F40;
    address.address = inet_addr("192.168.1.20");
    const auto bytes = address.Encode();
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()),
              (Bytes{2, 0, 0x1F, 0x40, 192, 168, 1, 20, 0, 0, 0, 0, 0, 0, 0, 0}));
    const WireSocketAddress decoded = WireSocketAddress::Decode(bytes);
    EXPECT_EQ(decoded.port, 0x1F40);
    EXPECT_EQ(decoded.address, address.address);
}

TEST(Catalogue, ChatRequestLayout) {
    ChatRequest request;
    request.address.port = 4000;
    request.userId = "00000007";
    request.text = "Let's chat";
    const auto bytes = request.Encode();
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[2] << 8 | bytes[3], 4000);
    EXPECT_EQ(TextAt(bytes, 16, 9), "00000007");
    EXPECT_EQ(TextAt(bytes, 25, 257), "Let's chat");
    const ChatRequest decoded = ChatRequest::Decode(bytes);
    EXPECT_EQ(decoded.address.port, 4000);
    EXPECT_EQ(decoded.userId, "00000007");
    EXPECT_EQ(decoded.text, "Let's chat");
}

TEST(Catalogue, FileRequestLayoutAndForcedNuls) {
    FileRequest request;
    request.address.port = 5000;
    request.address.address = inet_addr("10.0.0.9");
    request.userId = "123456789";
    request.fileName = std::string(300, 'f');
    request.fileSize = 0x12345678;
    request.description = std::string(300, 'e');
    const auto bytes = request.Encode();
    EXPECT_EQ(bytes[24], 0);
    EXPECT_EQ(bytes[285], 0);
    EXPECT_EQ(bytes[545], 0);
    EXPECT_EQ(bytes[546], 0);
    EXPECT_EQ(U32At(bytes, 286), 0x12345678u);
    EXPECT_EQ(TextAt(bytes, 290, 257), std::string(255, 'e'));
    EXPECT_EQ(TextAt(bytes, 25, 261), std::string(260, 'f'));

    // A received request is read as if bytes 24, 285 and 545 were NUL.
    Bytes received(Size::FileRequest, 'z');
    const FileRequest decoded = FileRequest::Decode(received);
    EXPECT_EQ(decoded.userId, std::string(8, 'z'));
    EXPECT_EQ(decoded.fileName, std::string(260, 'z'));
    EXPECT_EQ(decoded.description, std::string(255, 'z'));

    const FileRequest roundTrip = FileRequest::Decode(bytes);
    EXPECT_EQ(roundTrip.address.address, request.address.address);
    EXPECT_EQ(roundTrip.fileSize, 0x12345678u);
    EXPECT_EQ(roundTrip.description, std::string(255, 'e'));
}

TEST(Catalogue, MessageRecordLayout) {
    MessageRecord record;
    record.time = 1700000000;
    record.richText = true;
    record.brief = "Hello";
    record.body = "Hello there";
    EXPECT_EQ(record.EncodedSize(), 37u + 11u);
    const auto bytes = record.Encode();
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_EQ(U32At(bytes, 0), 1700000000u);
    EXPECT_EQ(bytes[4], 1);
    EXPECT_EQ(TextAt(bytes, 5, 31), "Hello");
    EXPECT_EQ(TextAt(bytes, 36, 12), "Hello there");
    const MessageRecord decoded = MessageRecord::Decode(bytes);
    EXPECT_EQ(decoded.time, record.time);
    EXPECT_TRUE(decoded.richText);
    EXPECT_EQ(decoded.brief, "Hello");
    EXPECT_EQ(decoded.body, "Hello there");

    EXPECT_EQ(MessageRecord{}.Encode().size(), 37u);
}

TEST(Catalogue, MessageRecordBodyIsCutToFitTheLargestRecord) {
    MessageRecord record;
    record.brief = std::string(40, 'b');
    record.body = std::string(32730, 'm') + "\xE2\x82\xAC";  // the € would end past 32767
    const auto bytes = record.Encode();
    EXPECT_EQ(bytes.size(), 37u + 32730u);
    EXPECT_EQ(bytes.back(), 0);
    EXPECT_EQ(TextAt(bytes, 5, 31), std::string(30, 'b'));

    record.body = std::string(40000, 'm');
    EXPECT_EQ(record.EncodedSize(), Size::MessageMax);
    EXPECT_EQ(MessageRecord::Decode(record.Encode()).body.size(), 32731u);
}

TEST(Catalogue, MessageRecordBodyEndsAtItsNul) {
    // An offline delivery may carry zeros after the body's NUL.
    Bytes bytes(4096, 0);
    const std::string body = "stored text";
    std::copy(body.begin(), body.end(), bytes.begin() + 36);
    EXPECT_EQ(MessageRecord::Decode(bytes).body, body);

    // Without a NUL the last byte is taken as the terminator's place.
    const Bytes full(40, 'k');
    EXPECT_EQ(MessageRecord::Decode(full).body, "kkk");
    EXPECT_FALSE(MessageRecord::Decode(full).richText);
}

TEST(Catalogue, SearchRecordsLayout) {
    const SearchRequest request{static_cast<std::uint8_t>(SearchField::Nickname),
                                static_cast<std::uint8_t>(SearchMatch::Equals), "an"};
    const auto requestBytes = request.Encode();
    EXPECT_EQ(requestBytes[0], 1);
    EXPECT_EQ(requestBytes[1], 1);
    EXPECT_EQ(TextAt(requestBytes, 2, 256), "an");
    const SearchRequest decodedRequest = SearchRequest::Decode(requestBytes);
    EXPECT_EQ(decodedRequest.field, 1);
    EXPECT_EQ(decodedRequest.text, "an");

    const SearchRow row{"00000003", "Anna", "anna@example.org"};
    const auto rowBytes = row.Encode();
    EXPECT_EQ(TextAt(rowBytes, 0, 9), "00000003");
    EXPECT_EQ(TextAt(rowBytes, 91, 65), "Anna");
    EXPECT_EQ(TextAt(rowBytes, 414, 256), "anna@example.org");
    Bytes others(rowBytes.begin(), rowBytes.end());
    std::fill_n(others.begin(), 9, 0);
    std::fill_n(others.begin() + 91, 65, 0);
    std::fill_n(others.begin() + 414, 256, 0);
    EXPECT_TRUE(std::all_of(others.begin(), others.end(), [](auto b) { return b == 0; }));
    // A row is the head of a profile: a profile decoder sees the same fields.
    Bytes asProfile(Size::UserProfile, 0);
    std::copy(rowBytes.begin(), rowBytes.end(), asProfile.begin());
    EXPECT_EQ(UserProfile::Decode(asProfile).nickname, "Anna");
    const SearchRow decodedRow = SearchRow::Decode(rowBytes);
    EXPECT_EQ(decodedRow.email, "anna@example.org");
}

TEST(Catalogue, AccountBodiesLayout) {
    const auto credentials = AccountCredentials{"00000001", "00000001"}.Encode();
    EXPECT_EQ(TextAt(credentials, 0, 9), "00000001");
    EXPECT_EQ(TextAt(credentials, 9, 17), "00000001");
    EXPECT_EQ(AccountCredentials::Decode(credentials).password, "00000001");

    const auto change = PasswordChange{"00000001", "old", "sixteen-chars-pw"}.Encode();
    EXPECT_EQ(TextAt(change, 9, 17), "old");
    EXPECT_EQ(TextAt(change, 26, 17), "sixteen-chars-pw");
    const PasswordChange decodedChange = PasswordChange::Decode(change);
    EXPECT_EQ(decodedChange.oldPassword, "old");
    EXPECT_EQ(decodedChange.newPassword, "sixteen-chars-pw");

    const auto upload = IconUpload{"00000001", "pw", 2, 32767}.Encode();
    EXPECT_EQ(U32At(upload, 26), 2u);
    EXPECT_EQ(U32At(upload, 30), 32767u);
    const IconUpload negative = IconUpload::Decode(IconUpload{"00000001", "pw", -1, -5}.Encode());
    EXPECT_EQ(negative.slot, -1);
    EXPECT_EQ(negative.fileSize, -5);

    const auto download = IconDownload{"00000009", 1}.Encode();
    EXPECT_EQ(TextAt(download, 0, 9), "00000009");
    EXPECT_EQ(U32At(download, 9), 1u);
    EXPECT_EQ(IconDownload::Decode(download).slot, 1);
}

}  // namespace
}  // namespace talvorine::protocol
