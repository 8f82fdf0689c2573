#pragma once
// Every packet type, status value, size and reply text that passes between the client and
// the server. Records are plain data with exact little-endian encode/decode; text fields are
// std::string (bytes, UTF-8) cut to their field width minus the NUL when encoded, and read
// up to the first NUL, at most width - 1 bytes, when decoded. Decoders refuse a wrong size
// with NetError and never read past their input.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvorine::protocol {

namespace PacketType {
// Request connection
inline constexpr std::uint8_t Login = 10;
inline constexpr std::uint8_t KeepAlive = 20;
inline constexpr std::uint8_t SetStatus = 21;
inline constexpr std::uint8_t QueryStatus = 30;
inline constexpr std::uint8_t LiveMessage = 40;
inline constexpr std::uint8_t OfflineMessage = 41;
inline constexpr std::uint8_t FetchOfflineMessages = 42;
inline constexpr std::uint8_t ChatRequest = 45;
inline constexpr std::uint8_t FileRequest = 46;
inline constexpr std::uint8_t Logout = 90;
// Account connection
inline constexpr std::uint8_t UploadIcon = 1;
inline constexpr std::uint8_t DownloadIcon = 2;
inline constexpr std::uint8_t NewAccount = 50;
inline constexpr std::uint8_t ImportAccount = 51;
inline constexpr std::uint8_t ViewUserInfo = 52;
inline constexpr std::uint8_t ChangeUserInfo = 53;
inline constexpr std::uint8_t ChangePassword = 54;
inline constexpr std::uint8_t SearchUsers = 60;
// Generic results
inline constexpr std::uint8_t Ok = 0;
inline constexpr std::uint8_t Failed = 1;
inline constexpr std::uint8_t Refused = 2;
// Login results
inline constexpr std::uint8_t LoginAccepted = 1;
inline constexpr std::uint8_t LoginAuthorizationFailed = 2;
inline constexpr std::uint8_t LoginDisabled = 3;
inline constexpr std::uint8_t LoginAlreadyOnline = 5;
}  // namespace PacketType

enum class OnlineStatus : std::int32_t { Offline = 1, Online = 2, Away = 3, NotAvailable = 4 };

namespace Size {
inline constexpr std::size_t UserId = 9;
inline constexpr std::size_t Password = 17;
inline constexpr std::size_t LoginRequest = 30;
inline constexpr std::size_t MessageMin = 37;
inline constexpr std::size_t MessageMax = 32768;
inline constexpr std::size_t MessageHeader = 36;  // time, flag, brief
inline constexpr std::size_t MessageBrief = 31;
inline constexpr std::size_t SocketAddress = 16;
inline constexpr std::size_t ChatRequest = 282;
inline constexpr std::size_t ChatText = 257;
inline constexpr std::size_t FileRequest = 547;
inline constexpr std::size_t FileName = 261;
inline constexpr std::size_t FileDescription = 257;
inline constexpr std::size_t UserProfile = 2106;
inline constexpr std::size_t SearchRequest = 258;
inline constexpr std::size_t SearchText = 256;
inline constexpr std::size_t SearchRow = 670;
inline constexpr std::size_t AccountCredentials = 26;
inline constexpr std::size_t PasswordChange = 43;
inline constexpr std::size_t IconUpload = 34;
inline constexpr std::size_t IconDownload = 13;
inline constexpr std::size_t IconMaxBytes = 32767;
inline constexpr int IconSlots = 3;
}  // namespace Size

// Capacities and time-outs callers pass to ReceivePacket.
namespace Capacity {
inline constexpr std::size_t ServerLogin = 30;
inline constexpr std::size_t ServerRequest = 4096;
inline constexpr std::size_t ServerMessageRecord = 32768;
inline constexpr std::size_t ServerRecipientAnswer = 4095;
inline constexpr std::size_t ServerAccountRequest = 4095;
inline constexpr std::size_t ClientReply = 4095;
inline constexpr std::size_t ClientNotification = 4096;
inline constexpr std::size_t ClientMessageRecord = 32768;
}  // namespace Capacity

namespace Timeout {
inline constexpr int Default = 30;
inline constexpr int SessionIdle = 60;
inline constexpr int KeepAliveInterval = 30;
inline constexpr int None = 0;
}  // namespace Timeout

// Confirmation of offline messages, which our client sends so that the server removes a stored
// message only once the program has taken it. Both bodies ride on requests whose body the
// server otherwise ignores, so a server that does not know them is not disturbed.
namespace OfflineConfirmation {
// Body of request 42 from a client that will confirm: 4 bytes, this value.
inline constexpr std::uint32_t Announce = 1;
// Body of a keep-alive (request 20) that confirms: 4 bytes, how many offline messages the
// program has taken since its login.
inline constexpr std::size_t BodySize = 4;
}  // namespace OfflineConfirmation

// Reply texts, exactly as the peers show them.
namespace ReplyText {
inline constexpr std::string_view LoginAuthorizationFailed =
    "Authorization failed. Please check if your have provided the correct ID and password";
inline constexpr std::string_view LoginDisabled =
    "Your account is disabled. please contact with the administrator";
inline constexpr std::string_view LoginAlreadyOnline =
    "User is already online. Please try again later";
inline constexpr std::string_view PacketSizeError = "packet size error";
inline constexpr std::string_view ServerInternalError = "Server internal error";
inline constexpr std::string_view FailedToReceiveOffline = "Failed to receive offline message";
inline constexpr std::string_view UserNotOnLine = "User is not on-line";
inline constexpr std::string_view UnknownRequest = "Unknown request.";
inline constexpr std::string_view UserNotOnline = "User is not online";
inline constexpr std::string_view UserInNaMode =
    "User is in N/A mode and will not accept any message";
inline constexpr std::string_view FailedToSendOffline = "Failed to send offline message";
// Account connection
inline constexpr std::string_view AuthorizationFailed = "Authorization failed";
inline constexpr std::string_view InvalidRequest = "Invalid request";
inline constexpr std::string_view IconServerInternalError = "server internal error";
inline constexpr std::string_view ServerFailedToSaveFile = "server failed to save the file";
inline constexpr std::string_view CustomizedIconNotFound = "Customized icon not found";
inline constexpr std::string_view FailedToImportAccount =
    "Failed to import account. Please check whether you have provided the correct ID and password";
inline constexpr std::string_view FailedToGetUserInfo = "Failed to get user info";
inline constexpr std::string_view FailedToChangeUserInfo = "Failed to change user info";
inline constexpr std::string_view FailedToChangePassword = "Failed to change password";
inline constexpr std::string_view NoMatchedUsers = "No matched user(s) found.";
inline constexpr std::string_view UnknownMessageId = "Unknown message ID";
}  // namespace ReplyText

// True when `text` is exactly 8 decimal digits.
bool IsValidUserId(std::string_view text);

// IPv4 socket address as carried in chat and file requests: family 2 (little-endian), port
// and address in network byte order, 8 zero bytes.
struct WireSocketAddress {
    std::uint16_t port = 0;     // host byte order
    std::uint32_t address = 0;  // network byte order, as in in_addr.s_addr

    std::array<std::uint8_t, Size::SocketAddress> Encode() const;
    // The family bytes are not checked: the peers only use the port and address.
    static WireSocketAddress Decode(std::span<const std::uint8_t> bytes);  // exactly 16 bytes
};

struct LoginRequest {
    std::string userId;
    std::string password;
    std::uint32_t port = 0;  // only the low 16 bits are used

    std::array<std::uint8_t, Size::LoginRequest> Encode() const;
    static LoginRequest Decode(std::span<const std::uint8_t> bytes);
};

struct MessageRecord {
    std::uint32_t time = 0;
    bool richText = false;
    std::string brief;  // at most 30 bytes
    std::string body;   // at most 32731 bytes

    std::size_t EncodedSize() const;  // 37 + body length (body cut to fit 32768)
    std::vector<std::uint8_t> Encode() const;
    static MessageRecord Decode(std::span<const std::uint8_t> bytes);  // 37..32768 bytes
};

struct ChatRequest {
    WireSocketAddress address;
    std::string userId;
    std::string text;

    std::array<std::uint8_t, Size::ChatRequest> Encode() const;
    static ChatRequest Decode(std::span<const std::uint8_t> bytes);
};

struct FileRequest {
    WireSocketAddress address;
    std::string userId;
    std::string fileName;
    std::uint32_t fileSize = 0;
    std::string description;  // at most 255 bytes arrive (NUL forced at 545)

    std::array<std::uint8_t, Size::FileRequest> Encode() const;
    static FileRequest Decode(std::span<const std::uint8_t> bytes);
};

struct UserProfile {
    std::string userId, password, realName, nickname, gender, birthday, email, address, city, state,
        country, zip, phone, fax, mobilePhone, beepPager, homePage, company, department, position,
        occupation, description;

    std::array<std::uint8_t, Size::UserProfile> Encode() const;
    static UserProfile Decode(std::span<const std::uint8_t> bytes);
};

// The 22 fields of UserProfile in record order, for code that maps them onto files and columns.
struct ProfileField {
    std::string_view name;  // the field's name in the record: "UserId", "Password", "RealName", ...
    std::size_t offset;
    std::size_t width;
    std::string UserProfile::*member;
};
extern const std::array<ProfileField, 22> ProfileFields;

enum class SearchField : std::uint8_t { Id = 0, Nickname = 1, Email = 2 };
enum class SearchMatch : std::uint8_t { Contains = 0, Equals = 1 };

struct SearchRequest {
    std::uint8_t field = 0;  // raw bytes: the server refuses field > 2 and match > 1
    std::uint8_t match = 0;
    std::string text;

    std::array<std::uint8_t, Size::SearchRequest> Encode() const;
    static SearchRequest Decode(std::span<const std::uint8_t> bytes);
};

struct SearchRow {
    std::string userId, nickname, email;

    std::array<std::uint8_t, Size::SearchRow> Encode() const;
    static SearchRow Decode(std::span<const std::uint8_t> bytes);
};

struct AccountCredentials {
    std::string userId, password;
    std::array<std::uint8_t, Size::AccountCredentials> Encode() const;
    static AccountCredentials Decode(std::span<const std::uint8_t> bytes);
};

struct PasswordChange {
    std::string userId, oldPassword, newPassword;
    std::array<std::uint8_t, Size::PasswordChange> Encode() const;
    static PasswordChange Decode(std::span<const std::uint8_t> bytes);
};

struct IconUpload {
    std::string userId, password;
    std::int32_t slot = 0;
    std::int32_t fileSize = 0;
    std::array<std::uint8_t, Size::IconUpload> Encode() const;
    static IconUpload Decode(std::span<const std::uint8_t> bytes);
};

struct IconDownload {
    std::string userId;
    std::int32_t slot = 0;
    std::array<std::uint8_t, Size::IconDownload> Encode() const;
    static IconDownload Decode(std::span<const std::uint8_t> bytes);
};

}  // namespace talvorine::protocol
