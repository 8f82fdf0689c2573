// The server against crashing and hostile peers, through the real server binary: offline
// messages survive a recipient that dies during their delivery, connections that trickle or
// flood before login cannot lock a real user out, a stalled search holds no memory, a deleted
// database file is noticed, and passwords are not readable from the table.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <set>

#include "server_harness.h"
#include "session_client.h"
#include "talvorine/platform/little_endian.h"

namespace talvorine::server::testing {
namespace {

namespace rt = protocol::ReplyText;

class HostileTest : public ::testing::Test {
protected:
    void StartServer() {
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
        sender = NewAccount(server.AccountPort()).userId;
        recipient = NewAccount(server.AccountPort()).userId;
    }

    std::size_t StoredMessages(const std::string& to) {
        return server.Query("SELECT MsgId FROM OFFLINEMSG WHERE Recipient='" + to + "'").size();
    }
    bool IsOnline(const std::string& userId) {
        const auto rows = server.Query("SELECT Online FROM USERS WHERE ID='" + userId + "'");
        return !rows.empty() && rows[0][0] && *rows[0][0] == "1";
    }

    // Stores `count` offline messages for the recipient, each acknowledged by the server.
    void StoreOffline(std::size_t count, std::size_t bodySize) {
        SessionClient from(server.Port());
        from.LoginOk(sender, sender);
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(from.Request(pt::OfflineMessage, IdField(recipient)).type, pt::Ok);
            std::string body = std::to_string(i) + ":";
            body.resize(bodySize, 'x');
            from.Send(pt::OfflineMessage, Message(body).Encode());
            ASSERT_EQ(from.Reply().type, pt::Ok) << i;
        }
        from.Send(pt::Logout);
    }

    static void Fetch(SessionClient& client, bool announceConfirmation) {
        if (announceConfirmation) {
            std::array<std::uint8_t, 4> body{};
            platform::StoreLe32(body, protocol::OfflineConfirmation::Announce);
            client.Send(pt::FetchOfflineMessages, body);
        } else {
            client.Send(pt::FetchOfflineMessages);
        }
    }

    // The program dies without reading: its machine resets both connections.
    static void Crash(SessionClient& client) {
        const linger reset{1, 0};
        for (auto socket : {client.RequestSocket(), client.NotificationSocket()}) {
            ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        client.Close();
    }

    static bool WaitReadable(protocol::SocketHandle socket) {
        pollfd entry{socket, POLLIN, 0};
        return ::poll(&entry, 1, 10000) == 1;
    }

    // Reads `count` offline messages and returns their bodies in order.
    static std::vector<std::string> ReadOffline(SessionClient& client, std::size_t count) {
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

    ServerHarness server;
    std::string sender, recipient;
};

TEST_F(HostileTest, ARecipientThatDiesDuringOfflineDeliveryLosesNothing) {
    StartServer();
    StoreOffline(200, 20);
    ASSERT_EQ(StoredMessages(recipient), 200u);

    // A client that confirms, and one that speaks only the original protocol: both die with
    // the first messages in their machine's buffers, unread.
    for (bool confirms : {true, false}) {
        SessionClient dying(server.Port());
        dying.LoginOk(recipient, recipient);
        Fetch(dying, confirms);
        ASSERT_TRUE(WaitReadable(dying.NotificationSocket()));
        Crash(dying);
        ASSERT_TRUE(Eventually([&] { return !IsOnline(recipient); })) << confirms;
        EXPECT_EQ(StoredMessages(recipient), 200u) << confirms;
    }

    // A confirming client that took 120 and confirmed 100 before it died: the 100 are gone,
    // the rest come again, oldest first.
    {
        SessionClient partial(server.Port());
        partial.LoginOk(recipient, recipient);
        Fetch(partial, true);
        const auto first = ReadOffline(partial, 120);
        EXPECT_EQ(first.front().substr(0, 2), "0:");
        std::array<std::uint8_t, 4> taken{};
        platform::StoreLe32(taken, 100);
        partial.Send(pt::KeepAlive, taken);
        EXPECT_TRUE(Eventually([&] { return StoredMessages(recipient) == 100; }));
        Crash(partial);
        ASSERT_TRUE(Eventually([&] { return !IsOnline(recipient); }));
    }
    EXPECT_EQ(StoredMessages(recipient), 100u);

    // A client of the original protocol that reads everything gets each message once, and
    // the table empties.
    SessionClient reader(server.Port());
    reader.LoginOk(recipient, recipient);
    Fetch(reader, false);
    const auto bodies = ReadOffline(reader, 100);
    EXPECT_EQ(bodies.front().substr(0, 4), "100:");
    EXPECT_EQ(std::set<std::string>(bodies.begin(), bodies.end()).size(), 100u);
    EXPECT_TRUE(Eventually([&] { return StoredMessages(recipient) == 0; }));
    Fetch(reader, false);
    EXPECT_EQ(reader.QueryStatus(sender), static_cast<int>(protocol::OnlineStatus::Offline));
    EXPECT_FALSE(protocol::HasPendingData(reader.NotificationSocket()));
}

TEST_F(HostileTest, LargeOfflineMessagesSurviveARecipientThatDies) {
    StartServer();
    StoreOffline(60, 30000);
    SessionClient dying(server.Port());
    dying.LoginOk(recipient, recipient);
    Fetch(dying, false);
    ASSERT_TRUE(WaitReadable(dying.NotificationSocket()));
    Crash(dying);
    ASSERT_TRUE(Eventually([&] { return !IsOnline(recipient); }));
    EXPECT_EQ(StoredMessages(recipient), 60u);

    // Confirmations only count what was pushed: a count beyond it deletes nothing more.
    SessionClient reader(server.Port());
    reader.LoginOk(recipient, recipient);
    Fetch(reader, true);
    EXPECT_EQ(ReadOffline(reader, 60).size(), 60u);
    EXPECT_EQ(StoredMessages(recipient), 60u);  // taken, not yet confirmed
    std::array<std::uint8_t, 4> taken{};
    platform::StoreLe32(taken, 1000);
    reader.Send(pt::KeepAlive, taken);
    EXPECT_TRUE(Eventually([&] { return StoredMessages(recipient) == 0; }));
}

}  // namespace
}  // namespace talvorine::server::testing
