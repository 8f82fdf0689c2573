#include "account_requests.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "session_core.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/platform/text.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/server/account_database.h"
#include "talvorine/server/server_context.h"
#include "talvorine/server/server_log.h"

namespace talvorine::server {

namespace pt = protocol::PacketType;
namespace rt = protocol::ReplyText;
namespace size = protocol::Size;
using protocol::NetError;

namespace {

constexpr std::string_view Succeeded = "succeeded";
constexpr std::string_view Failed = "failed";

std::string_view Outcome(bool ok) {
    return ok ? Succeeded : Failed;
}

bool ValidSlot(std::int32_t slot) {
    return slot >= 0 && slot < size::IconSlots;
}

// Numbers the temporary files of uploads running at the same time.
std::atomic<unsigned> g_uploadCounter{0};

// Deletes a temporary upload file unless it was kept.
class TemporaryFile {
public:
    explicit TemporaryFile(std::filesystem::path path) : m_path(std::move(path)) {}
    ~TemporaryFile() {
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove(m_path, ignored);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // Moves the file to `target` (replacing it) and keeps it; false when that failed.
    bool MoveTo(const std::filesystem::path& target) {
        std::error_code error;
        std::filesystem::rename(m_path, target, error);
        if (error) {
            return false;
        }
        m_path.clear();
        return true;
    }

private:
    std::filesystem::path m_path;
};

}  // namespace

std::filesystem::path IconPath(const std::filesystem::path& serverFolder, std::string_view userId,
                               int slot) {
    return serverFolder / "Icons" / (std::string(userId) + "-" + std::to_string(slot + 1) + ".bmp");
}

AccountThread::AccountThread(std::shared_ptr<SessionCore> core, protocol::Socket socket,
                             WaitingConnections::Ticket waiting)
    : m_core(std::move(core)), m_socket(std::move(socket)), m_waiting(std::move(waiting)) {}

void AccountThread::Run() {
    try {
        Serve();
    } catch (const std::exception& error) {
        const auto reason = LeaveWithReason(m_core->AccountGate(), m_waiting, error);
        if (reason && !m_core->Stopping()) {
            m_core->Context().log.Event(LogKind::ConsoleOnly(), "Warning: " + *reason + ".");
        }
    }
    // Out of the gate and the shutdown list before the descriptor is closed, so nothing is
    // ever shut down by a reused number.
    m_core->AccountGate().Leave(m_waiting);
    m_core->RemoveAccountConnection(m_socket.Get());
    m_socket.Close();
}

void AccountThread::Serve() {
    const protocol::PacketHeader request =
        protocol::ReceivePacket(m_socket.Get(), m_request, protocol::Timeout::Default);
    if (request.type != pt::UploadIcon) {
        m_core->AccountGate().Leave(m_waiting);
    }
    const auto body = std::span<const std::uint8_t>(m_request).first(request.bodyLength);
    switch (request.type) {
        case pt::UploadIcon:
            return UploadIcon(body);
        case pt::DownloadIcon:
            return DownloadIcon(body);
        case pt::NewAccount:
            return NewAccount();
        case pt::ImportAccount:
            return ImportAccount(body);
        case pt::ViewUserInfo:
            return ViewUserInfo(body);
        case pt::ChangeUserInfo:
            return ChangeUserInfo(body);
        case pt::ChangePassword:
            return ChangePassword(body);
        case pt::SearchUsers:
            return SearchUsers(body);
        default:
            return Fail(rt::UnknownMessageId);
    }
}

void AccountThread::Reply(int type, std::span<const std::uint8_t> body) {
    protocol::SendPacket(m_socket.Get(), type, body, protocol::Timeout::Default);
}

void AccountThread::Fail(std::string_view text) {
    protocol::SendTextPacket(m_socket.Get(), pt::Failed, text, protocol::Timeout::Default);
}

void AccountThread::UploadIcon(std::span<const std::uint8_t> body) {
    if (body.size() != size::IconUpload) {
        return Fail(rt::PacketSizeError);
    }
    const auto upload = protocol::IconUpload::Decode(body);
    // The ID becomes part of a file name: only eight digits get that far.
    if (!protocol::IsValidUserId(upload.userId) ||
        m_core->Context().database.CheckPassword(upload.userId, upload.password) ==
            PasswordCheck::Refused) {
        return Fail(rt::AuthorizationFailed);
    }
    if (!ValidSlot(upload.slot) || upload.fileSize < 0 ||
        upload.fileSize > static_cast<std::int32_t>(size::IconMaxBytes)) {
        return Fail(rt::InvalidRequest);
    }
    const std::filesystem::path target =
        IconPath(m_core->Context().folder, upload.userId, upload.slot);
    std::error_code error;
    std::filesystem::create_directories(target.parent_path(), error);
    if (error) {
        return Fail(rt::IconServerInternalError);
    }
    ReceiveIconFile(target, upload.fileSize);
}

void AccountThread::ReceiveIconFile(const std::filesystem::path& target, std::int32_t size) {
    // The bytes go to a temporary file that replaces the icon only when it is complete, so a
    // broken upload never leaves a truncated icon behind.
    TemporaryFile temporary(target.string() + "." + std::to_string(++g_uploadCounter) + ".part");
    std::ofstream file(temporary.Path(), std::ios::binary | std::ios::trunc);
    if (!file) {
        m_core->Context().log.Always("Failed to create file" + protocol::SystemErrorText());
        return Fail(rt::ServerFailedToSaveFile);
    }
    Reply(pt::Ok);
    // The file's bytes have a deadline of their own, as a whole.
    if (m_waiting) {
        m_core->AccountGate().Rearm(m_waiting);
    }
    const auto saveFailed = [] { return NetError(std::string(rt::ServerFailedToSaveFile)); };
    std::array<std::uint8_t, protocol::PacketChunkSize> chunk;
    auto remaining = static_cast<std::size_t>(size);
    try {
        while (remaining > 0) {
            const auto want = std::min(remaining, chunk.size());
            const long got = protocol::ReceiveOrThrow(m_socket.Get(), std::span(chunk).first(want),
                                                      0, protocol::Timeout::Default);
            file.write(reinterpret_cast<const char*>(chunk.data()), got);
            if (!file) {
                throw saveFailed();
            }
            remaining -= static_cast<std::size_t>(got);
        }
    } catch (const NetError&) {
        throw saveFailed();
    }
    file.close();
    if (!file || !temporary.MoveTo(target)) {
        throw saveFailed();
    }
}

void AccountThread::DownloadIcon(std::span<const std::uint8_t> body) {
    if (body.size() != size::IconDownload) {
        return Fail(rt::PacketSizeError);
    }
    const auto download = protocol::IconDownload::Decode(body);
    if (!ValidSlot(download.slot)) {
        return Fail(rt::InvalidRequest);
    }
    // Anything but eight digits would name a path outside the icon folder.
    if (!protocol::IsValidUserId(download.userId)) {
        return Fail(rt::CustomizedIconNotFound);
    }
    const std::filesystem::path path =
        IconPath(m_core->Context().folder, download.userId, download.slot);
    std::ifstream file(path, std::ios::binary);
    std::error_code error;
    const auto fileSize = std::filesystem::file_size(path, error);
    if (!file || error || fileSize > 0xFFFFFFFFu) {
        return Fail(rt::CustomizedIconNotFound);
    }
    const auto length = static_cast<std::uint32_t>(fileSize);
    std::array<std::uint8_t, 4> lengthBytes{};
    platform::StoreLe32(lengthBytes, length);
    Reply(pt::Ok, lengthBytes);

    std::array<std::uint8_t, protocol::PacketChunkSize> chunk;
    std::size_t remaining = length;
    while (remaining > 0) {
        const auto want = std::min(remaining, chunk.size());
        file.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(want));
        if (static_cast<std::size_t>(file.gcount()) != want) {
            throw NetError(protocol::SystemErrorText());
        }
        std::size_t sent = 0;
        while (sent < want) {
            sent += static_cast<std::size_t>(
                protocol::SendOrThrow(m_socket.Get(), std::span(chunk).subspan(sent, want - sent),
                                      protocol::Timeout::Default));
        }
        remaining -= want;
    }
}

void AccountThread::NewAccount() {
    const auto credentials = m_core->Context().database.CreateAccount();
    m_core->Context().log.Write(
        LogSwitch::ApplyImportAccount,
        "Applied new account ID: " + std::string(Outcome(credentials.has_value())) + ".");
    if (!credentials) {
        return Fail(rt::ServerInternalError);
    }
    Reply(pt::Ok, credentials->Encode());
}

void AccountThread::ImportAccount(std::span<const std::uint8_t> body) {
    if (body.size() != size::AccountCredentials) {
        return Fail(rt::FailedToImportAccount);
    }
    const auto credentials = protocol::AccountCredentials::Decode(body);
    auto& database = m_core->Context().database;
    std::optional<protocol::UserProfile> profile;
    if (protocol::IsValidUserId(credentials.userId) &&
        database.CheckPassword(credentials.userId, credentials.password) !=
            PasswordCheck::Refused) {
        profile = database.ReadProfile(credentials.userId);
    }
    m_core->Context().log.Write(LogSwitch::ApplyImportAccount,
                                "Imported account ID " + Printable(credentials.userId) + ": " +
                                    std::string(Outcome(profile.has_value())) + ".");
    if (!profile) {
        return Fail(rt::FailedToImportAccount);
    }
    profile->userId = credentials.userId;
    profile->password.clear();
    Reply(pt::Ok, profile->Encode());
}

void AccountThread::ViewUserInfo(std::span<const std::uint8_t> body) {
    // The first nine bytes are the ID; a shorter body reads as zeros.
    std::array<std::uint8_t, size::UserId> field{};
    std::copy_n(body.begin(), std::min(body.size(), field.size() - 1), field.begin());
    const std::string userId = platform::ReadTextField(field);
    std::optional<protocol::UserProfile> profile;
    if (protocol::IsValidUserId(userId)) {
        profile = m_core->Context().database.ReadProfile(userId);
    }
    m_core->Context().log.Write(LogSwitch::ViewUserInformation,
                                "View user info of " + Printable(userId) + ": " +
                                    std::string(Outcome(profile.has_value())));
    if (!profile) {
        return Fail(rt::FailedToGetUserInfo);
    }
    profile->userId = userId;
    profile->password.clear();
    Reply(pt::Ok, profile->Encode());
}

void AccountThread::ChangeUserInfo(std::span<const std::uint8_t> body) {
    if (body.size() != size::UserProfile) {
        return Fail(rt::PacketSizeError);
    }
    const auto profile = protocol::UserProfile::Decode(body);
    auto& database = m_core->Context().database;
    std::string_view failure;
    if (!protocol::IsValidUserId(profile.userId) ||
        database.CheckPassword(profile.userId, profile.password) == PasswordCheck::Refused) {
        failure = rt::AuthorizationFailed;
    } else if (!database.WriteProfile(profile)) {
        failure = rt::FailedToChangeUserInfo;
    }
    m_core->Context().log.Write(LogSwitch::ModifyUserInformation,
                                "Change user info of " + Printable(profile.userId) + ": " +
                                    std::string(Outcome(failure.empty())) + ".");
    if (!failure.empty()) {
        return Fail(failure);
    }
    Reply(pt::Ok);
}

void AccountThread::ChangePassword(std::span<const std::uint8_t> body) {
    if (body.size() != size::PasswordChange) {
        return Fail(rt::FailedToChangePassword);
    }
    const auto change = protocol::PasswordChange::Decode(body);
    // An empty password could never log in again: refuse it rather than lock the user out.
    const bool ok = protocol::IsValidUserId(change.userId) && !change.newPassword.empty() &&
                    m_core->Context().database.ChangePassword(change);
    m_core->Context().log.Write(
        LogSwitch::ChangePassword,
        "Change password of " + Printable(change.userId) + ": " + std::string(Outcome(ok)));
    if (!ok) {
        return Fail(rt::FailedToChangePassword);
    }
    Reply(pt::Ok);
}

void AccountThread::SearchUsers(std::span<const std::uint8_t> body) {
    if (body.size() != size::SearchRequest || body[0] > 2 || body[1] > 1) {
        return Fail(rt::PacketSizeError);
    }
    const auto request = protocol::SearchRequest::Decode(body);
    const auto field = static_cast<protocol::SearchField>(request.field);
    const auto match = static_cast<protocol::SearchMatch>(request.match);
    m_core->Context().log.Write(
        LogSwitch::SearchForUsers,
        "Search for users: QueryString = " +
            Printable(AccountDatabase::SearchStatementText(field, match, request.text)) + ".");
    // Rows go out as they are read; a client that stops reading ends its own search at the
    // send time-out.
    bool started = false;
    const auto found = m_core->Context().database.SearchUsers(field, match, request.text,
                                                              [&](const protocol::SearchRow& row) {
                                                                  if (!started) {
                                                                      Reply(pt::Ok);
                                                                      started = true;
                                                                  }
                                                                  Reply(pt::Ok, row.Encode());
                                                              });
    if (!found) {
        throw NetError(found.error);
    }
    if (!started) {
        return Fail(rt::NoMatchedUsers);
    }
    Reply(pt::Failed);
}

}  // namespace talvorine::server
