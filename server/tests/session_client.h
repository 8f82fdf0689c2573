#pragma once
// A test client that speaks to the real server through the protocol library: a logged-in
// session with its request and notification connections, and one-shot account requests.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::server::testing {

namespace pt = protocol::PacketType;
using namespace std::chrono_literals;

// Repeats `check` until it holds or the time runs out.
template <class Check>
bool Eventually(Check check, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!check()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

inline std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A UserId field: the digits and NUL.
inline std::array<std::uint8_t, protocol::Size::UserId> IdField(std::string_view userId) {
    std::array<std::uint8_t, protocol::Size::UserId> field{};
    std::copy_n(userId.begin(), std::min(userId.size(), field.size() - 1), field.begin());
    return field;
}

struct Packet {
    std::uint8_t type = 0;
    std::vector<std::uint8_t> body;

    std::string Text() const {
        const std::string_view all(reinterpret_cast<const char*>(body.data()), body.size());
        return std::string(all.substr(0, std::min(all.find('\0'), all.size())));
    }
};

// Reads one packet of at most `capacity` body bytes.
inline Packet Receive(protocol::SocketHandle socket, std::size_t capacity = 32768,
                      int timeoutSeconds = 30) {
    std::vector<std::uint8_t> buffer(capacity);
    const auto header = protocol::ReceivePacket(socket, buffer, timeoutSeconds);
    buffer.resize(header.bodyLength);
    return {header.type, std::move(buffer)};
}

// True when the peer closed the connection (or reset it) within the time-out.
inline bool PeerCloses(protocol::SocketHandle socket, int timeoutSeconds = 10) {
    std::array<std::uint8_t, 4096> scratch;
    for (;;) {
        const long got = protocol::ReceiveRaw(socket, scratch, 0, timeoutSeconds);
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            return protocol::LastSocketError() != protocol::SocketCode::TimedOut;
        }
    }
}

inline protocol::Socket Connect(std::uint16_t port) {
    protocol::Socket socket;
    protocol::ConnectOrThrow(socket.Ref(), "127.0.0.1", port);
    return socket;
}

// The replies of one account request, in order, until the server closes the connection.
inline std::vector<Packet> AccountRequest(std::uint16_t accountPort, int type,
                                          std::span<const std::uint8_t> body,
                                          std::size_t expectedReplies = 1) {
    protocol::Socket socket = Connect(accountPort);
    protocol::SendPacket(socket.Get(), type, body, 30);
    std::vector<Packet> replies;
    while (replies.size() < expectedReplies) {
        replies.push_back(Receive(socket.Get(), 4095));
    }
    return replies;
}

inline protocol::AccountCredentials NewAccount(std::uint16_t accountPort) {
    const auto replies = AccountRequest(accountPort, pt::NewAccount, {});
    EXPECT_EQ(replies.at(0).type, pt::Ok);
    return protocol::AccountCredentials::Decode(replies.at(0).body);
}

// One client session: the request connection and, after a login that was accepted, the
// notification connection the server made back.
class SessionClient {
public:
    explicit SessionClient(std::uint16_t sessionPort) : m_sessionPort(sessionPort) {}

    // Sends the login and returns the reply; accepts the connect-back after reply 1.
    Packet Login(std::string_view userId, std::string_view password) {
        protocol::Socket listener;
        if (protocol::ListenOn(listener.Ref(), 0, 16) != 0) {
            throw protocol::NetError(protocol::LastSocketErrorText());
        }
        m_request = Connect(m_sessionPort);
        protocol::LoginRequest login{std::string(userId), std::string(password),
                                     protocol::LocalPort(listener.Get())};
        protocol::SendPacket(m_request.Get(), pt::Login, login.Encode(), 30);
        Packet reply = Receive(m_request.Get(), 4095);
        if (reply.type == pt::LoginAccepted) {
            const timeval wait{10, 0};
            ::setsockopt(listener.Get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
            sockaddr_in peer{};
            m_notification = protocol::Socket(protocol::AcceptOn(listener.Get(), &peer));
        }
        return reply;
    }

    // Logs in and expects success.
    void LoginOk(std::string_view userId, std::string_view password) {
        const Packet reply = Login(userId, password);
        ASSERT_EQ(reply.type, pt::LoginAccepted) << reply.Text();
        ASSERT_TRUE(m_notification.IsOpen());
    }

    void Send(int type, std::span<const std::uint8_t> body = {}) {
        protocol::SendPacket(m_request.Get(), type, body, 30);
    }
    Packet Reply(int timeoutSeconds = 40) { return Receive(m_request.Get(), 4095, timeoutSeconds); }
    Packet Request(int type, std::span<const std::uint8_t> body = {}) {
        Send(type, body);
        return Reply();
    }

    // The status the server reports for another user.
    int QueryStatus(std::string_view userId) {
        return Request(pt::QueryStatus, IdField(userId)).type;
    }
    void SetStatus(protocol::OnlineStatus status) {
        const auto value = static_cast<std::uint32_t>(status);
        const std::array<std::uint8_t, 4> body{static_cast<std::uint8_t>(value), 0, 0, 0};
        Send(pt::SetStatus, body);
    }

    Packet Notification(int timeoutSeconds = 30) {
        return Receive(m_notification.Get(), 32768, timeoutSeconds);
    }
    void Answer(std::optional<std::string_view> text = std::nullopt) {
        if (text) {
            protocol::SendTextPacket(m_notification.Get(), pt::Ok, *text, 30);
        } else {
            protocol::SendPacket(m_notification.Get(), pt::Ok, 30);
        }
    }

    protocol::SocketHandle RequestSocket() const { return m_request.Get(); }
    protocol::SocketHandle NotificationSocket() const { return m_notification.Get(); }
    void Close() {
        m_request.Close();
        m_notification.Close();
    }

private:
    std::uint16_t m_sessionPort;
    protocol::Socket m_request;
    protocol::Socket m_notification;
};

// Reads `count` offline messages (type 41 with the sender, then the record) from the
// notification connection; their bodies in the order delivered.
inline std::vector<std::string> ReadOfflineMessages(SessionClient& client, std::size_t count) {
    std::vector<std::string> bodies;
    for (std::size_t i = 0; i < count; ++i) {
        const Packet from = client.Notification();
        EXPECT_EQ(from.type, pt::OfflineMessage);
        const Packet record = client.Notification();
        EXPECT_EQ(record.type, pt::OfflineMessage);
        bodies.push_back(protocol::MessageRecord::Decode(record.body).body);
    }
    return bodies;
}

inline protocol::MessageRecord Message(std::string body, std::string brief = "brief") {
    protocol::MessageRecord record;
    record.time = 1;
    record.brief = std::move(brief);
    record.body = std::move(body);
    return record;
}

}  // namespace talvorine::server::testing
