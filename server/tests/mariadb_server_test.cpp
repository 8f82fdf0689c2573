// The real server on a MariaDB data source: accounts, logins and offline messages end to end,
// and a database that goes away while sessions are running and comes back.
#include <gtest/gtest.h>

#include <ctime>

#include "server_harness.h"
#include "session_client.h"

namespace talvorine::server::testing {
namespace {

namespace rt = protocol::ReplyText;
using protocol::OnlineStatus;

std::string Column(const std::vector<Row>& rows) {
    return rows.empty() || !rows[0][0] ? "" : *rows[0][0];
}

// Sends one offline message; the reply to the record.
Packet SendOffline(SessionClient& from, const std::string& to, const std::string& body) {
    const Packet go = from.Request(pt::OfflineMessage, IdField(to));
    EXPECT_EQ(go.type, pt::Ok) << go.Text();
    from.Send(pt::OfflineMessage, Message(body).Encode());
    return from.Reply();
}

// Fetches the stored messages: the bodies in the order delivered.
std::vector<std::string> FetchOffline(SessionClient& client, std::size_t expected) {
    client.Send(pt::FetchOfflineMessages);
    return ReadOfflineMessages(client, expected);
}

class MariaDbServerTest : public ::testing::Test {
protected:
    void StartServer(const MariaDbInstance& instance) {
        server.UseMariaDb(instance);
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput() << server.SetupOutput();
    }
    std::string OnlineFlag(const std::string& userId) {
        return Column(server.Query("SELECT Online FROM USERS WHERE ID='" + userId + "'"));
    }
    std::size_t StoredFor(const std::string& recipient) {
        return server.Query("SELECT MsgId FROM OFFLINEMSG WHERE Recipient='" + recipient + "'")
            .size();
    }

    ServerHarness server;
};

TEST_F(MariaDbServerTest, AccountsLoginsAndOfflineMessagesGoThroughMariaDb) {
    MariaDbInstance instance;
    TALVORINE_MARIADB_OR_SKIP(instance);
    StartServer(instance);
    const std::string first = NewAccount(server.AccountPort()).userId;
    const std::string second = NewAccount(server.AccountPort()).userId;
    EXPECT_EQ(first, "00000001");
    EXPECT_EQ(second, "00000002");

    SessionClient a(server.Port());
    a.LoginOk(first, first);
    EXPECT_TRUE(Eventually([&] { return OnlineFlag(first) == "1"; }));
    SessionClient wrong(server.Port());
    EXPECT_EQ(wrong.Login(second, "nonsense").type, pt::LoginAuthorizationFailed);

    const std::vector<std::string> bodies = {
        "It's \"quoted\" \\ back\\slash \\' -- ''double''",
        "Grüße, 你好, \xF0\x9F\x98\x80 and\r\nlines",
        std::string(20000, 'r') + "{\\rtf1 end}",
    };
    for (const auto& body : bodies) {
        EXPECT_EQ(SendOffline(a, second, body).type, pt::Ok);
    }
    EXPECT_EQ(StoredFor(second), 3u);

    SessionClient b(server.Port());
    b.LoginOk(second, second);
    EXPECT_EQ(FetchOffline(b, bodies.size()), bodies);
    EXPECT_TRUE(Eventually([&] { return StoredFor(second) == 0; }));
    EXPECT_EQ(b.QueryStatus(first), static_cast<int>(OnlineStatus::Online));

    b.Send(pt::Logout);
    EXPECT_TRUE(Eventually([&] { return OnlineFlag(second) == "0"; }));
    EXPECT_EQ(server.Stop(), 0) << server.ConsoleOutput();
    EXPECT_EQ(OnlineFlag(first), "0");  // every flag is reset at shutdown
}

TEST_F(MariaDbServerTest, SessionsOutliveADatabaseThatGoesAwayAndNothingStoredIsLost) {
    MariaDbInstance shared;
    TALVORINE_MARIADB_OR_SKIP(shared);
    ASSERT_FALSE(shared.control.empty()) << "TALVORINE_TEST_MARIADB_CONTROL is not set";
    // An instance of its own: stopping it must not disturb tests running beside this one.
    TempFolder folder("talvorine-mariadb");
    auto own = MariaDbInstance::StartPrivate(shared.control, folder.Path());
    ASSERT_TRUE(own) << "the private instance did not start";
    struct Destroy {
        const MariaDbInstance& instance;
        ~Destroy() { instance.Control("destroy"); }
    } destroy{*own};

    server.SetLogValue("Enable log", 1);
    StartServer(*own);
    const std::string first = NewAccount(server.AccountPort()).userId;
    const std::string second = NewAccount(server.AccountPort()).userId;
    const std::string third = NewAccount(server.AccountPort()).userId;
    SessionClient a(server.Port());
    a.LoginOk(first, first);
    SessionClient b(server.Port());
    b.LoginOk(second, second);
    ASSERT_EQ(SendOffline(a, third, "stored before").type, pt::Ok);

    ASSERT_EQ(own->Control("stop"), 0);

    // The sessions go on; what needs no database still works.
    EXPECT_EQ(a.QueryStatus(second), static_cast<int>(OnlineStatus::Online));
    ASSERT_EQ(a.Request(pt::LiveMessage, IdField(second)).type, pt::Ok);
    a.Send(pt::LiveMessage, Message("live while away").Encode());
    EXPECT_EQ(b.Notification().Text(), first);
    EXPECT_EQ(protocol::MessageRecord::Decode(b.Notification().body).body, "live while away");
    b.Answer();
    EXPECT_EQ(a.Reply().type, pt::Ok);

    // What needs it gets the designed failure texts.
    const Packet refused = SendOffline(a, third, "sent while away");
    EXPECT_EQ(refused.type, pt::Failed);
    EXPECT_EQ(refused.Text(), rt::FailedToSendOffline);
    SessionClient c(server.Port());
    EXPECT_EQ(c.Login(third, third).type, pt::LoginAuthorizationFailed);
    b.Send(pt::Logout);  // its Online flag cannot be written now
    EXPECT_EQ(a.QueryStatus(first), static_cast<int>(OnlineStatus::Online));

    ASSERT_EQ(own->Control("start"), 0);

    // The server connects again by itself; every message stored is there exactly once.
    EXPECT_TRUE(
        Eventually([&] { return SendOffline(a, third, "sent after").type == pt::Ok; }, 20s));
    SessionClient later(server.Port());
    later.LoginOk(third, third);
    EXPECT_EQ(FetchOffline(later, 2), (std::vector<std::string>{"stored before", "sent after"}));
    EXPECT_TRUE(Eventually([&] { return StoredFor(third) == 0; }));
    // The flag that could not be written while the database was away is written now.
    EXPECT_TRUE(Eventually([&] { return OnlineFlag(second) == "0"; }));
    EXPECT_EQ(OnlineFlag(first), "1");
    EXPECT_EQ(a.QueryStatus(third), static_cast<int>(OnlineStatus::Online));

    EXPECT_EQ(server.Stop(), 0) << server.ConsoleOutput();
    const std::string log = server.LogText();
    EXPECT_NE(log.find("Error: failed to send offline message(" + first + "->" + third + ")"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Failed to update database - "), std::string::npos) << log;
}

}  // namespace
}  // namespace talvorine::server::testing
