#include "talvorine/client/session/picture_requests.h"

#include <sys/socket.h>

#include "talvorine/client/session/texts.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"
#include "talvorine/protocol/socket.h"
#include "wire_util.h"

namespace talvorine::client::session {

namespace pt = protocol::PacketType;

namespace {

// A reply's body is a text or the 4-byte size; a buffer of the account capacity holds either.
struct Reply {
    protocol::PacketHeader header;
    std::vector<std::uint8_t> buffer =
        std::vector<std::uint8_t>(protocol::Capacity::ServerAccountRequest);
};

protocol::Socket Connect(const AccountServer& server) {
    protocol::Socket socket;
    protocol::ConnectOrThrow(socket.Ref(), server.server,
                             static_cast<std::uint16_t>(server.port + 1));
    return socket;
}

Reply Receive(const protocol::Socket& socket) {
    Reply reply;
    reply.header = protocol::ReceivePacket(socket.Get(), reply.buffer, protocol::Timeout::Default);
    return reply;
}

void SendAll(const protocol::Socket& socket, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const long sent = protocol::SendOrThrow(socket.Get(), bytes, protocol::Timeout::Default);
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
}

void ReceiveAll(const protocol::Socket& socket, std::span<std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const long received =
            protocol::ReceiveRaw(socket.Get(), bytes, 0, protocol::Timeout::Default);
        if (received == 0) {
            throw protocol::NetError(std::string(protocol::FramingText::ClosedByRemote));
        }
        if (received < 0) {
            throw protocol::NetError(protocol::LastSocketErrorText());
        }
        bytes = bytes.subspan(static_cast<std::size_t>(received));
    }
}

}  // namespace

void UploadPicture(const AccountServer& server, std::string_view userId, std::string_view password,
                   int slot, std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= PictureBufferSize) {
        throw AccountRequestError(std::string(PictureSizeErrorText));
    }
    try {
        const protocol::Socket socket = Connect(server);
        const protocol::IconUpload request{std::string(userId), std::string(password), slot,
                                           static_cast<std::int32_t>(bytes.size())};
        protocol::SendPacket(socket.Get(), pt::UploadIcon, request.Encode(),
                             protocol::Timeout::Default);
        const Reply reply = Receive(socket);
        if (reply.header.type != pt::Ok) {
            throw AccountRequestError(detail::BodyString(reply.header, reply.buffer));
        }
        SendAll(socket, bytes);
        // The server sends nothing more and closes once the file is written: waiting for that
        // close means a download that follows finds the new picture.
        ::shutdown(socket.Get(), SHUT_WR);
        std::uint8_t rest[64];
        long received = 0;
        do {
            received = protocol::ReceiveRaw(socket.Get(), rest, 0, protocol::Timeout::Default);
        } while (received > 0);
        if (received < 0) {
            throw protocol::NetError(protocol::LastSocketErrorText());
        }
    } catch (const protocol::NetError& e) {
        throw AccountRequestError(e.what());
    }
}

DownloadedPicture DownloadPicture(const AccountServer& server, std::string_view userId, int slot) {
    try {
        const protocol::Socket socket = Connect(server);
        const protocol::IconDownload request{std::string(userId), slot};
        protocol::SendPacket(socket.Get(), pt::DownloadIcon, request.Encode(),
                             protocol::Timeout::Default);
        const Reply reply = Receive(socket);
        DownloadedPicture picture;
        if (reply.header.type != pt::Ok) {
            picture.refusal = detail::BodyString(reply.header, reply.buffer);
            if (picture.refusal.empty()) {
                // A refusal without a text is still a refusal, never an empty picture.
                picture.refusal = std::string(Text::IncorrectPacket);
            }
            return picture;
        }
        if (reply.header.bodyLength < 4) {
            picture.refusal = std::string(Text::IncorrectPacket);
            return picture;
        }
        const std::uint32_t size = static_cast<std::uint32_t>(reply.buffer[0]) |
                                   static_cast<std::uint32_t>(reply.buffer[1]) << 8 |
                                   static_cast<std::uint32_t>(reply.buffer[2]) << 16 |
                                   static_cast<std::uint32_t>(reply.buffer[3]) << 24;
        // The size is signed on the wire: a negative one reads as huge and is refused too.
        if (size >= PictureBufferSize) {
            picture.refusal = std::string(PictureSizeErrorText);
            return picture;
        }
        picture.bytes.resize(size);
        ReceiveAll(socket, picture.bytes);
        return picture;
    } catch (const protocol::NetError& e) {
        throw AccountRequestError(e.what());
    }
}

}  // namespace talvorine::client::session
