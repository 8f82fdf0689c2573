// Sessions that wait out the server's time-outs: a recipient that never answers a message
// (30 s) and a client that stays silent (60 s).
#include <gtest/gtest.h>

#include "server_harness.h"
#include "session_client.h"

namespace talvorine::server::testing {
namespace {

namespace rt = protocol::ReplyText;

class SlowSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
        first = NewAccount(server.AccountPort()).userId;
        second = NewAccount(server.AccountPort()).userId;
    }

    ServerHarness server;
    std::string first, second;
};

TEST_F(SlowSessionTest, SilentRecipientGivesTheSenderATimeOutAndBothSessionsGoOn) {
    SessionClient a(server.Port()), b(server.Port());
    a.LoginOk(first, first);
    b.LoginOk(second, second);
    ASSERT_TRUE(Eventually([&] { return a.QueryStatus(second) == 2; }));

    ASSERT_EQ(a.Request(pt::LiveMessage, IdField(second)).type, pt::Ok);
    a.Send(pt::LiveMessage, Message("are you there?").Encode());
    EXPECT_EQ(b.Notification().type, pt::LiveMessage);
    EXPECT_EQ(b.Notification().type, pt::LiveMessage);
    const auto start = std::chrono::steady_clock::now();
    const Packet reply = a.Reply(45);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 25s);
    EXPECT_EQ(reply.type, pt::Refused);
    EXPECT_EQ(reply.Text(), "connection timed out");

    // The late answer is not taken for the answer to the next message.
    b.Answer("late answer");
    b.Send(pt::KeepAlive);
    EXPECT_EQ(a.QueryStatus(second), 2);
    EXPECT_EQ(b.QueryStatus(first), 2);
    ASSERT_EQ(a.Request(pt::LiveMessage, IdField(second)).type, pt::Ok);
    a.Send(pt::LiveMessage, Message("second try").Encode());
    EXPECT_EQ(b.Notification().Text(), first);
    EXPECT_EQ(protocol::MessageRecord::Decode(b.Notification().body).body, "second try");
    b.Answer("fresh answer");
    EXPECT_EQ(a.Reply().Text(), "fresh answer");
}

TEST_F(SlowSessionTest, SilentClientIsDroppedAfterSixtySecondsAndShownOffline) {
    SessionClient a(server.Port()), b(server.Port());
    a.LoginOk(first, first);
    b.LoginOk(second, second);
    ASSERT_TRUE(Eventually([&] { return a.QueryStatus(second) == 2; }));
    // a keeps its session with keep-alives; b says nothing.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(25s);
        a.Send(pt::KeepAlive);
    }
    EXPECT_TRUE(PeerCloses(b.RequestSocket(), 20));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 55s);
    EXPECT_EQ(a.QueryStatus(second), 1);
    const auto rows = server.Query("SELECT Online FROM USERS WHERE ID='" + second + "'");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].value_or(""), "0");
    EXPECT_NE(server.LogText().find("Error: connection timed out(" + second + ")."),
              std::string::npos);
}

}  // namespace
}  // namespace talvorine::server::testing
