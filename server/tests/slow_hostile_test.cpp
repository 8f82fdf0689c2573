// Hostile peers that wait out the server's 30 s time-outs: a recipient that stops reading its
// notification connection, connections that trickle their login a byte at a time, and
// searches whose clients read nothing.
#include <gtest/gtest.h>

#include <fstream>

#include "server_harness.h"
#include "session_client.h"

namespace talvorine::server::testing {
namespace {

namespace rt = protocol::ReplyText;

class SlowHostileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
        first = NewAccount(server.AccountPort()).userId;
        second = NewAccount(server.AccountPort()).userId;
        third = NewAccount(server.AccountPort()).userId;
    }

    static std::array<std::uint8_t, protocol::Size::FileRequest> FileRequestTo(
        const std::string& target) {
        protocol::FileRequest request;
        request.userId = target;
        request.fileName = "report.txt";
        request.fileSize = 1234;
        request.description = std::string(200, 'd');
        return request.Encode();
    }
    bool IsOnline(const std::string& userId) {
        const auto rows = server.Query("SELECT Online FROM USERS WHERE ID='" + userId + "'");
        return !rows.empty() && rows[0][0] && *rows[0][0] == "1";
    }

    ServerHarness server;
    std::string first, second, third;
};

TEST_F(SlowHostileTest, APushThatTimesOutHalfWayEndsTheRecipientsSession) {
    SessionClient sender(server.Port()), stalled(server.Port()), next(server.Port());
    sender.LoginOk(first, first);
    stalled.LoginOk(second, second);
    next.LoginOk(third, third);
    const int small = 4096;
    ::setsockopt(stalled.NotificationSocket(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);

    // File requests until one cannot be written within the time-out.
    const auto request = FileRequestTo(second);
    Packet reply;
    int sent = 0;
    for (; sent < 100000; ++sent) {
        reply = sender.Request(pt::FileRequest, request);
        if (reply.type != pt::Ok) {
            break;
        }
    }
    EXPECT_EQ(reply.type, pt::Failed) << sent;
    EXPECT_EQ(reply.Text(), "connection timed out");

    // The stalled recipient's session is over and it is offline; the next requester is told
    // the truth instead of having its request written behind half a packet.
    EXPECT_TRUE(PeerCloses(stalled.RequestSocket()));
    EXPECT_TRUE(Eventually([&] { return !IsOnline(second); }));
    protocol::ChatRequest chat;
    chat.userId = second;
    chat.text = "hello?";
    const Packet refused = next.Request(pt::ChatRequest, chat.Encode());
    EXPECT_EQ(refused.type, pt::Failed);
    EXPECT_EQ(refused.Text(), rt::UserNotOnLine);

    // A new session of that user gets a well-framed stream.
    SessionClient again(server.Port());
    again.LoginOk(second, second);
    ASSERT_EQ(next.Request(pt::ChatRequest, chat.Encode()).type, pt::Ok);
    const Packet pushed = again.Notification();
    EXPECT_EQ(pushed.type, pt::ChatRequest);
    EXPECT_EQ(protocol::ChatRequest::Decode(pushed.body).text, "hello?");
    EXPECT_TRUE(Eventually([&] {
        return sender.QueryStatus(second) == static_cast<int>(protocol::OnlineStatus::Online);
    }));
}

TEST_F(SlowHostileTest, ALoginOrRequestHasThirtySecondsAsAWhole) {
    // One byte every 20 s: each read would be in time, the whole request is not.
    protocol::Socket login = Connect(server.Port());
    protocol::Socket account = Connect(server.AccountPort());
    const auto header = protocol::PacketHeader::For(pt::Login, 30).Encode();
    bool closed = false;
    for (std::size_t i = 0; i < header.size() && !closed; ++i) {
        for (auto* socket : {&login, &account}) {
            if (protocol::SendRaw(socket->Get(), std::span(&header[i], 1), 5) != 1) {
                closed = true;
            }
        }
        if (PeerCloses(login.Get(), 20)) {
            closed = true;
        }
    }
    EXPECT_TRUE(closed);
    EXPECT_TRUE(PeerCloses(account.Get(), 5));
    EXPECT_TRUE(Eventually([&] {
        return server.LogText().find(" failed to login. (connection timed out)") !=
               std::string::npos;
    })) << server.LogText();
}

int ServerThreads(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stoi(line.substr(8));
        }
    }
    return -1;
}

TEST_F(SlowHostileTest, ASearchWhoseClientStopsReadingEndsAtTheSendTimeOut) {
    server.Execute(
        "INSERT INTO USERS (ID, Password, Nickname, Email) "
        "WITH RECURSIVE n(x) AS (SELECT 1000 UNION ALL SELECT x + 1 FROM n WHERE x < 100999) "
        "SELECT printf('%08d', x), 'secret', 'nick' || x, 'user' || x || '@example.com' FROM n");
    const int idle = ServerThreads(server.Pid());
    std::vector<protocol::Socket> stalled;
    for (int i = 0; i < 3; ++i) {
        stalled.push_back(Connect(server.AccountPort()));
        protocol::SendPacket(stalled.back().Get(), pt::SearchUsers,
                             protocol::SearchRequest{1, 0, ""}.Encode(), 30);
    }
    ASSERT_TRUE(Eventually([&] { return ServerThreads(server.Pid()) == idle + 3; }));
    // Each search thread ends on its own once a send has waited 30 s.
    EXPECT_TRUE(Eventually([&] { return ServerThreads(server.Pid()) == idle; }, 60s))
        << ServerThreads(server.Pid()) << " threads, " << idle << " when idle";
    EXPECT_EQ(NewAccount(server.AccountPort()).userId, "00101000");
}

}  // namespace
}  // namespace talvorine::server::testing
