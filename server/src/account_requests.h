#pragma once
// The account connection: one request per connection on the session port + 1 (new account,
// import, user information, password change, search, icon upload and download).

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/packet.h"
#include "talvorine/protocol/socket.h"
#include "waiting_connections.h"

namespace talvorine::server {

class SessionCore;

// "<server folder>/Icons/<UserId>-<slot + 1>.bmp"; the caller has checked the ID and slot.
std::filesystem::path IconPath(const std::filesystem::path& serverFolder, std::string_view userId,
                               int slot);

class AccountThread {
public:
    // The core must already list `socket` as an account connection; Run removes it.
    AccountThread(std::shared_ptr<SessionCore> core, protocol::Socket socket,
                  WaitingConnections::Ticket waiting = {});
    AccountThread(const AccountThread&) = delete;
    AccountThread& operator=(const AccountThread&) = delete;

    // Serves the one request and closes the connection; never throws.
    void Run();

private:
    void Serve();
    void UploadIcon(std::span<const std::uint8_t> body);
    void ReceiveIconFile(const std::filesystem::path& target, std::int32_t size);
    void DownloadIcon(std::span<const std::uint8_t> body);
    void NewAccount();
    void ImportAccount(std::span<const std::uint8_t> body);
    void ViewUserInfo(std::span<const std::uint8_t> body);
    void ChangeUserInfo(std::span<const std::uint8_t> body);
    void ChangePassword(std::span<const std::uint8_t> body);
    void SearchUsers(std::span<const std::uint8_t> body);

    void Reply(int type, std::span<const std::uint8_t> body = {});
    void Fail(std::string_view text);

    std::shared_ptr<SessionCore> m_core;
    protocol::Socket m_socket;
    WaitingConnections::Ticket m_waiting;  // until the request (and an icon's bytes) arrived
    std::array<std::uint8_t, protocol::Capacity::ServerAccountRequest> m_request{};
};

}  // namespace talvorine::server
