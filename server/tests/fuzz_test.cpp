// Random bytes, random packets and oversized lengths on both ports, before and after a login:
// each may end its own connection, but the server goes on serving everyone else and no user
// stays marked online.
#include <gtest/gtest.h>

#include <random>

#include "server_harness.h"
#include "session_client.h"

namespace talvorine::server::testing {
namespace {

constexpr unsigned Seed = 20240611;
constexpr int ConnectionsPerRound = 120;

class FuzzTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
        for (int i = 0; i < 4; ++i) {
            users.push_back(NewAccount(server.AccountPort()).userId);
        }
    }

    std::vector<std::uint8_t> RandomBytes(std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(random());
        }
        return bytes;
    }
    std::size_t Below(std::size_t limit) { return random() % limit; }

    // A header with magic and a length that may lie, then a body of some other length.
    std::vector<std::uint8_t> RandomPacket() {
        static constexpr std::array<std::uint32_t, 8> lengths = {0,    4,    9,     30,
                                                                 4096, 4097, 32769, 0xFFFFFFFFu};
        static constexpr std::array<std::uint8_t, 16> types = {1,  2,  10, 20, 21, 30, 40, 41,
                                                               42, 45, 46, 50, 51, 52, 53, 60};
        const std::uint8_t type =
            Below(4) == 0 ? static_cast<std::uint8_t>(random()) : types[Below(types.size())];
        const std::uint32_t length =
            Below(3) == 0 ? lengths[Below(lengths.size())] : static_cast<std::uint32_t>(Below(600));
        auto bytes = protocol::PacketHeader::For(type, length).Encode();
        std::vector<std::uint8_t> packet(bytes.begin(), bytes.end());
        const auto body = RandomBytes(std::min<std::size_t>(length, Below(700)));
        packet.insert(packet.end(), body.begin(), body.end());
        if (Below(8) == 0) {
            packet[0] = static_cast<std::uint8_t>(random());  // a broken magic byte
        }
        return packet;
    }

    // Sends `data` and closes without reading; the server sees the close at once.
    static void SendAndClose(protocol::SocketHandle socket, std::span<const std::uint8_t> data) {
        if (!data.empty()) {
            protocol::SendRaw(socket, data, 5);
        }
    }

    void ThrowAt(std::uint16_t port) {
        for (int i = 0; i < ConnectionsPerRound; ++i) {
            protocol::Socket socket = Connect(port);
            const auto data = Below(2) == 0 ? RandomBytes(Below(300)) : RandomPacket();
            SendAndClose(socket.Get(), data);
        }
    }

    ServerHarness server;
    std::vector<std::string> users;
    std::mt19937 random{Seed};
};

TEST_F(FuzzTest, RandomInputOnBothPortsLeavesTheServerServing) {
    ThrowAt(server.Port());
    ThrowAt(server.AccountPort());

    // Logged-in sessions that then send nonsense. The login names a port on which nobody
    // listens here or the client's own listener.
    int loggedIn = 0;
    for (int i = 0; i < ConnectionsPerRound / 4; ++i) {
        const std::string& user = users[Below(users.size())];
        SessionClient client(server.Port());
        const Packet reply = client.Login(user, user);
        if (reply.type != pt::LoginAccepted) {
            continue;  // another round still holds this user
        }
        ++loggedIn;
        for (std::size_t n = Below(4) + 1; n > 0; --n) {
            const auto packet = RandomPacket();
            if (protocol::SendRaw(client.RequestSocket(), packet, 5) <= 0) {
                break;
            }
        }
        client.Close();
    }
    EXPECT_GT(loggedIn, 0);
    // A login of a real user whose notification port is closed fails after the reply.
    {
        protocol::Socket raw = server.ConnectSession();
        protocol::LoginRequest login{users[0], users[0], 0};
        protocol::SendPacket(raw.Get(), pt::Login, login.Encode(), 30);
        EXPECT_TRUE(PeerCloses(raw.Get(), 20));
    }

    // Every session that ended has left its user offline.
    EXPECT_TRUE(Eventually(
        [&] { return server.Query("SELECT ID FROM USERS WHERE Online<>0").empty(); }, 40s));

    // And the server still serves a normal client on both ports.
    ASSERT_TRUE(server.IsRunning());
    const std::string fresh = NewAccount(server.AccountPort()).userId;
    SessionClient a(server.Port()), b(server.Port());
    a.LoginOk(fresh, fresh);
    b.LoginOk(users[1], users[1]);
    ASSERT_TRUE(Eventually([&] { return a.QueryStatus(users[1]) == 2; }));
    ASSERT_EQ(a.Request(pt::LiveMessage, IdField(users[1])).type, pt::Ok);
    a.Send(pt::LiveMessage, Message("still here").Encode());
    EXPECT_EQ(b.Notification().type, pt::LiveMessage);
    EXPECT_EQ(protocol::MessageRecord::Decode(b.Notification().body).body, "still here");
    b.Answer();
    EXPECT_EQ(a.Reply().type, pt::Ok);
}

}  // namespace
}  // namespace talvorine::server::testing
