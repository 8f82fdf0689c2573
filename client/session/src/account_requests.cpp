#include "talvorine/client/session/account_requests.h"

#include <vector>

#include "talvorine/client/session/texts.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"
#include "talvorine/protocol/socket.h"
#include "wire_util.h"

namespace talvorine::client::session {

namespace pt = protocol::PacketType;

namespace {

struct AccountReply {
    std::uint8_t code = 0;
    std::vector<std::uint8_t> body;
    std::string text;
};

AccountReply Exchange(const AccountServer& server, std::uint8_t type,
                      std::span<const std::uint8_t> body) {
    try {
        protocol::Socket socket;
        protocol::ConnectOrThrow(socket.Ref(), server.server,
                                 static_cast<std::uint16_t>(server.port + 1));
        protocol::SendPacket(socket.Get(), type, body, protocol::Timeout::Default);
        std::vector<std::uint8_t> buffer(protocol::Capacity::ServerAccountRequest);
        const auto header =
            protocol::ReceivePacket(socket.Get(), buffer, protocol::Timeout::Default);
        AccountReply reply;
        reply.code = header.type;
        reply.body.assign(buffer.begin(), buffer.begin() + header.bodyLength);
        reply.text = detail::BodyString(header, buffer);
        return reply;
    } catch (const protocol::NetError& e) {
        throw AccountRequestError(e.what());
    }
}

AccountReply ExchangeOrThrow(const AccountServer& server, std::uint8_t type,
                             std::span<const std::uint8_t> body) {
    auto reply = Exchange(server, type, body);
    if (reply.code != pt::Ok) {
        throw AccountRequestError(reply.text);
    }
    return reply;
}

}  // namespace

protocol::AccountCredentials RequestNewAccount(const AccountServer& server) {
    const auto reply = ExchangeOrThrow(server, pt::NewAccount, {});
    if (reply.body.size() != protocol::Size::AccountCredentials) {
        throw AccountRequestError(std::string(Text::IncorrectPacket));
    }
    return protocol::AccountCredentials::Decode(reply.body);
}

protocol::UserProfile ImportAccount(const AccountServer& server, std::string_view userId,
                                    std::string_view password) {
    const protocol::AccountCredentials credentials{std::string(userId), std::string(password)};
    const auto reply = ExchangeOrThrow(server, pt::ImportAccount, credentials.Encode());
    if (reply.body.size() != protocol::Size::UserProfile) {
        throw AccountRequestError(std::string(Text::IncorrectPacket));
    }
    return protocol::UserProfile::Decode(reply.body);
}

void ChangeUserInfo(const AccountServer& server, const protocol::UserProfile& profile) {
    ExchangeOrThrow(server, pt::ChangeUserInfo, profile.Encode());
}

void ChangePassword(const AccountServer& server, std::string_view userId,
                    std::string_view oldPassword, std::string_view newPassword) {
    const protocol::PasswordChange change{std::string(userId), std::string(oldPassword),
                                          std::string(newPassword)};
    ExchangeOrThrow(server, pt::ChangePassword, change.Encode());
}

}  // namespace talvorine::client::session
