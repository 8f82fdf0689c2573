#include "talvorine/client/session/user_directory.h"

#include "talvorine/client/session/texts.h"
#include "talvorine/platform/little_endian.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"
#include "talvorine/protocol/socket.h"
#include "wire_util.h"

namespace talvorine::client::session {

namespace pt = protocol::PacketType;

namespace {

protocol::Socket Connect(const AccountServer& server) {
    protocol::Socket socket;
    protocol::ConnectOrThrow(socket.Ref(), server.server,
                             static_cast<std::uint16_t>(server.port + 1));
    return socket;
}

std::string IncorrectPacket() {
    return std::string(Text::IncorrectPacket);
}

}  // namespace

std::vector<protocol::SearchRow> SearchUsers(
    const AccountServer& server, const protocol::SearchRequest& request,
    const std::function<void(const protocol::SearchRow&)>& onRow) {
    std::vector<protocol::SearchRow> rows;
    try {
        protocol::Socket socket = Connect(server);
        protocol::SendPacket(socket.Get(), pt::SearchUsers, request.Encode(),
                             protocol::Timeout::Default);
        std::vector<std::uint8_t> buffer(protocol::Capacity::ClientReply);
        auto header = protocol::ReceivePacket(socket.Get(), buffer, protocol::Timeout::Default);
        if (header.type != pt::Ok) {
            throw AccountRequestError(detail::BodyString(header, buffer));
        }
        while (rows.size() < static_cast<std::size_t>(MaxSearchRows)) {
            header = protocol::ReceivePacket(socket.Get(), buffer, protocol::Timeout::Default);
            if (header.type != pt::Ok || header.bodyLength != protocol::Size::SearchRow) {
                break;  // the end mark
            }
            rows.push_back(protocol::SearchRow::Decode(
                std::span<const std::uint8_t>(buffer).first(protocol::Size::SearchRow)));
            if (onRow) {
                onRow(rows.back());
            }
        }
    } catch (const protocol::NetError& e) {
        throw AccountRequestError(e.what());
    }
    return rows;
}

protocol::UserProfile GetUserInfo(const AccountServer& server, std::string_view userId) {
    try {
        protocol::Socket socket = Connect(server);
        // The id text with its NUL.
        const std::string body(userId.substr(0, protocol::Size::UserId - 1));
        protocol::SendTextPacket(socket.Get(), pt::ViewUserInfo, body, protocol::Timeout::Default);
        std::vector<std::uint8_t> buffer(protocol::Capacity::ClientReply);
        const auto header =
            protocol::ReceivePacket(socket.Get(), buffer, protocol::Timeout::Default);
        if (header.type != pt::Ok) {
            throw AccountRequestError(detail::BodyString(header, buffer));
        }
        if (header.bodyLength != protocol::Size::UserProfile) {
            throw AccountRequestError(IncorrectPacket());
        }
        return protocol::UserProfile::Decode(
            std::span<const std::uint8_t>(buffer).first(protocol::Size::UserProfile));
    } catch (const protocol::NetError& e) {
        throw AccountRequestError(e.what());
    }
}

}  // namespace talvorine::client::session
