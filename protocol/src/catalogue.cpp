// Exact encode and decode of every record body. Text fields are written cut to width - 1
// bytes on a character boundary and read up to their NUL, at most width - 1 bytes.

#include "talvorine/protocol/catalogue.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "talvorine/platform/little_endian.h"
#include "talvorine/platform/text.h"
#include "talvorine/protocol/net_error.h"

namespace talvorine::protocol {

namespace {

using Bytes = std::span<const std::uint8_t>;
using MutableBytes = std::span<std::uint8_t>;

void CheckSize(std::string_view record, Bytes bytes, std::size_t expected) {
    if (bytes.size() != expected) {
        throw NetError(std::string(record) + ": expected " + std::to_string(expected) +
                       " bytes, got " + std::to_string(bytes.size()));
    }
}

// Reads a text field: the bytes before its NUL, at most width - 1 of them; a field that
// holds no NUL there is cut on a character boundary, as a writer would have cut it.
std::string ReadText(Bytes bytes, std::size_t offset, std::size_t width) {
    const Bytes field = bytes.subspan(offset, width);
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(field.data()),
                                static_cast<std::size_t>(end - field.begin()));
    return std::string(platform::CutUtf8(text, width - 1));
}

void WriteText(MutableBytes bytes, std::size_t offset, std::size_t width, std::string_view text) {
    platform::WriteTextField(bytes.subspan(offset, width), text);
}

std::uint32_t ReadU32(Bytes bytes, std::size_t offset) {
    return platform::LoadLe32(bytes.subspan(offset));
}

void WriteU32(MutableBytes bytes, std::size_t offset, std::uint32_t value) {
    platform::StoreLe32(bytes.subspan(offset), value);
}

std::int32_t ReadI32(Bytes bytes, std::size_t offset) {
    return static_cast<std::int32_t>(ReadU32(bytes, offset));
}

void WriteI32(MutableBytes bytes, std::size_t offset, std::int32_t value) {
    WriteU32(bytes, offset, static_cast<std::uint32_t>(value));
}

void WriteAddress(MutableBytes bytes, std::size_t offset, const WireSocketAddress& address) {
    const auto encoded = address.Encode();
    std::copy(encoded.begin(), encoded.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

WireSocketAddress ReadAddress(Bytes bytes, std::size_t offset) {
    return WireSocketAddress::Decode(bytes.subspan(offset, Size::SocketAddress));
}

// Offsets shared by several records.
constexpr std::size_t PasswordOffset = 9;
constexpr std::size_t RequestUserIdOffset = 16;
constexpr std::size_t RequestTextOffset = 25;
constexpr std::size_t FileSizeOffset = 286;
constexpr std::size_t FileDescriptionOffset = 290;
// The server forces a NUL at 545, so a description fills at most 255 bytes before it.
constexpr std::size_t FileDescriptionWidth = 545 - FileDescriptionOffset + 1;
constexpr std::size_t NicknameOffset = 91;
constexpr std::size_t EmailOffset = 414;
constexpr std::size_t NicknameWidth = 65;
constexpr std::size_t EmailWidth = 256;

}  // namespace

bool IsValidUserId(std::string_view text) {
    return text.size() == Size::UserId - 1 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::array<std::uint8_t, Size::SocketAddress> WireSocketAddress::Encode() const {
    std::array<std::uint8_t, Size::SocketAddress> bytes{};
    bytes[0] = 2;  // AF_INET as the peers number it, little-endian
    bytes[2] = static_cast<std::uint8_t>(port >> 8);
    bytes[3] = static_cast<std::uint8_t>(port & 0xFF);
    std::memcpy(bytes.data() + 4, &address, sizeof address);
    return bytes;
}

WireSocketAddress WireSocketAddress::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("WireSocketAddress", bytes, Size::SocketAddress);
    WireSocketAddress result;
    result.port = static_cast<std::uint16_t>((bytes[2] << 8) | bytes[3]);
    std::memcpy(&result.address, bytes.data() + 4, sizeof result.address);
    return result;
}

std::array<std::uint8_t, Size::LoginRequest> LoginRequest::Encode() const {
    std::array<std::uint8_t, Size::LoginRequest> bytes{};
    WriteText(bytes, 0, Size::UserId, userId);
    WriteText(bytes, PasswordOffset, Size::Password, password);
    WriteU32(bytes, 26, port);
    return bytes;
}

LoginRequest LoginRequest::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("LoginRequest", bytes, Size::LoginRequest);
    LoginRequest request;
    request.userId = ReadText(bytes, 0, Size::UserId);
    request.password = ReadText(bytes, PasswordOffset, Size::Password);
    request.port = ReadU32(bytes, 26);
    return request;
}

namespace {

// The body as it goes on the wire: the text before any NUL, cut so the record fits.
std::string_view WireBody(const std::string& body) {
    const std::string_view text(body.data(), std::min(body.find('\0'), body.size()));
    return platform::CutUtf8(text, Size::MessageMax - Size::MessageMin);
}

}  // namespace

std::size_t MessageRecord::EncodedSize() const {
    return Size::MessageMin + WireBody(body).size();
}

std::vector<std::uint8_t> MessageRecord::Encode() const {
    std::vector<std::uint8_t> bytes(EncodedSize(), 0);
    WriteU32(bytes, 0, time);
    bytes[4] = richText ? 1 : 0;
    WriteText(bytes, 5, Size::MessageBrief, brief);
    WriteText(bytes, Size::MessageHeader, bytes.size() - Size::MessageHeader, WireBody(body));
    return bytes;
}

MessageRecord MessageRecord::Decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < Size::MessageMin || bytes.size() > Size::MessageMax) {
        throw NetError("MessageRecord: expected " + std::to_string(Size::MessageMin) + " to " +
                       std::to_string(Size::MessageMax) + " bytes, got " +
                       std::to_string(bytes.size()));
    }
    MessageRecord record;
    record.time = ReadU32(bytes, 0);
    record.richText = bytes[4] == 1;
    record.brief = ReadText(bytes, 5, Size::MessageBrief);
    record.body = ReadText(bytes, Size::MessageHeader, bytes.size() - Size::MessageHeader);
    return record;
}

std::array<std::uint8_t, Size::ChatRequest> ChatRequest::Encode() const {
    std::array<std::uint8_t, Size::ChatRequest> bytes{};
    WriteAddress(bytes, 0, address);
    WriteText(bytes, RequestUserIdOffset, Size::UserId, userId);
    WriteText(bytes, RequestTextOffset, Size::ChatText, text);
    return bytes;
}

ChatRequest ChatRequest::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("ChatRequest", bytes, Size::ChatRequest);
    ChatRequest request;
    request.address = ReadAddress(bytes, 0);
    request.userId = ReadText(bytes, RequestUserIdOffset, Size::UserId);
    request.text = ReadText(bytes, RequestTextOffset, Size::ChatText);
    return request;
}

std::array<std::uint8_t, Size::FileRequest> FileRequest::Encode() const {
    std::array<std::uint8_t, Size::FileRequest> bytes{};
    WriteAddress(bytes, 0, address);
    WriteText(bytes, RequestUserIdOffset, Size::UserId, userId);
    WriteText(bytes, RequestTextOffset, Size::FileName, fileName);
    WriteU32(bytes, FileSizeOffset, fileSize);
    WriteText(bytes, FileDescriptionOffset, FileDescriptionWidth, description);
    return bytes;
}

FileRequest FileRequest::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("FileRequest", bytes, Size::FileRequest);
    FileRequest request;
    request.address = ReadAddress(bytes, 0);
    request.userId = ReadText(bytes, RequestUserIdOffset, Size::UserId);
    request.fileName = ReadText(bytes, RequestTextOffset, Size::FileName);
    request.fileSize = ReadU32(bytes, FileSizeOffset);
    request.description = ReadText(bytes, FileDescriptionOffset, FileDescriptionWidth);
    return request;
}

const std::array<ProfileField, 22> ProfileFields = {{
    {"UserId", 0, 9, &UserProfile::userId},
    {"Password", 9, 17, &UserProfile::password},
    {"RealName", 26, 65, &UserProfile::realName},
    {"Nickname", 91, 65, &UserProfile::nickname},
    {"Gender", 156, 2, &UserProfile::gender},
    {"Birthday", 158, 256, &UserProfile::birthday},
    {"Email", 414, 256, &UserProfile::email},
    {"Address", 670, 256, &UserProfile::address},
    {"City", 926, 65, &UserProfile::city},
    {"State", 991, 65, &UserProfile::state},
    {"Country", 1056, 65, &UserProfile::country},
    {"Zip", 1121, 17, &UserProfile::zip},
    {"Phone", 1138, 33, &UserProfile::phone},
    {"Fax", 1171, 33, &UserProfile::fax},
    {"MobilePhone", 1204, 33, &UserProfile::mobilePhone},
    {"BeepPager", 1237, 33, &UserProfile::beepPager},
    {"HomePage", 1270, 256, &UserProfile::homePage},
    {"Company", 1526, 129, &UserProfile::company},
    {"Department", 1655, 65, &UserProfile::department},
    {"Position", 1720, 65, &UserProfile::position},
    {"Occupation", 1785, 65, &UserProfile::occupation},
    {"Description", 1850, 256, &UserProfile::description},
}};

std::array<std::uint8_t, Size::UserProfile> UserProfile::Encode() const {
    std::array<std::uint8_t, Size::UserProfile> bytes{};
    for (const ProfileField& field : ProfileFields) {
        WriteText(bytes, field.offset, field.width, this->*field.member);
    }
    return bytes;
}

UserProfile UserProfile::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("UserProfile", bytes, Size::UserProfile);
    UserProfile profile;
    for (const ProfileField& field : ProfileFields) {
        profile.*field.member = ReadText(bytes, field.offset, field.width);
    }
    return profile;
}

std::array<std::uint8_t, Size::SearchRequest> SearchRequest::Encode() const {
    std::array<std::uint8_t, Size::SearchRequest> bytes{};
    bytes[0] = field;
    bytes[1] = match;
    WriteText(bytes, 2, Size::SearchText, text);
    return bytes;
}

SearchRequest SearchRequest::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("SearchRequest", bytes, Size::SearchRequest);
    SearchRequest request;
    request.field = bytes[0];
    request.match = bytes[1];
    request.text = ReadText(bytes, 2, Size::SearchText);
    return request;
}

std::array<std::uint8_t, Size::SearchRow> SearchRow::Encode() const {
    std::array<std::uint8_t, Size::SearchRow> bytes{};
    WriteText(bytes, 0, Size::UserId, userId);
    WriteText(bytes, NicknameOffset, NicknameWidth, nickname);
    WriteText(bytes, EmailOffset, EmailWidth, email);
    return bytes;
}

SearchRow SearchRow::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("SearchRow", bytes, Size::SearchRow);
    SearchRow row;
    row.userId = ReadText(bytes, 0, Size::UserId);
    row.nickname = ReadText(bytes, NicknameOffset, NicknameWidth);
    row.email = ReadText(bytes, EmailOffset, EmailWidth);
    return row;
}

std::array<std::uint8_t, Size::AccountCredentials> AccountCredentials::Encode() const {
    std::array<std::uint8_t, Size::AccountCredentials> bytes{};
    WriteText(bytes, 0, Size::UserId, userId);
    WriteText(bytes, PasswordOffset, Size::Password, password);
    return bytes;
}

AccountCredentials AccountCredentials::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("AccountCredentials", bytes, Size::AccountCredentials);
    AccountCredentials credentials;
    credentials.userId = ReadText(bytes, 0, Size::UserId);
    credentials.password = ReadText(bytes, PasswordOffset, Size::Password);
    return credentials;
}

std::array<std::uint8_t, Size::PasswordChange> PasswordChange::Encode() const {
    std::array<std::uint8_t, Size::PasswordChange> bytes{};
    WriteText(bytes, 0, Size::UserId, userId);
    WriteText(bytes, PasswordOffset, Size::Password, oldPassword);
    WriteText(bytes, PasswordOffset + Size::Password, Size::Password, newPassword);
    return bytes;
}

PasswordChange PasswordChange::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("PasswordChange", bytes, Size::PasswordChange);
    PasswordChange change;
    change.userId = ReadText(bytes, 0, Size::UserId);
    change.oldPassword = ReadText(bytes, PasswordOffset, Size::Password);
    change.newPassword = ReadText(bytes, PasswordOffset + Size::Password, Size::Password);
    return change;
}

std::array<std::uint8_t, Size::IconUpload> IconUpload::Encode() const {
    std::array<std::uint8_t, Size::IconUpload> bytes{};
    WriteText(bytes, 0, Size::UserId, userId);
    WriteText(bytes, PasswordOffset, Size::Password, password);
    WriteI32(bytes, 26, slot);
    WriteI32(bytes, 30, fileSize);
    return bytes;
}

IconUpload IconUpload::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("IconUpload", bytes, Size::IconUpload);
    IconUpload upload;
    upload.userId = ReadText(bytes, 0, Size::UserId);
    upload.password = ReadText(bytes, PasswordOffset, Size::Password);
    upload.slot = ReadI32(bytes, 26);
    upload.fileSize = ReadI32(bytes, 30);
    return upload;
}

std::array<std::uint8_t, Size::IconDownload> IconDownload::Encode() const {
    std::array<std::uint8_t, Size::IconDownload> bytes{};
    WriteText(bytes, 0, Size::UserId, userId);
    WriteI32(bytes, Size::UserId, slot);
    return bytes;
}

IconDownload IconDownload::Decode(std::span<const std::uint8_t> bytes) {
    CheckSize("IconDownload", bytes, Size::IconDownload);
    IconDownload download;
    download.userId = ReadText(bytes, 0, Size::UserId);
    download.slot = ReadI32(bytes, Size::UserId);
    return download;
}

}  // namespace talvorine::protocol
