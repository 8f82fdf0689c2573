// Sessions against the real server: login replies and the connect-back, status, live and
// offline messages, chat and file transfer relay, and how a session ends.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "server_harness.h"
#include "session_client.h"

namespace talvorine::server::testing {
namespace {

namespace rt = protocol::ReplyText;
using protocol::OnlineStatus;

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
        first = NewAccount(server.AccountPort()).userId;
        second = NewAccount(server.AccountPort()).userId;
    }

    std::string OnlineFlag(const std::string& userId) {
        const auto rows = server.Query("SELECT Online FROM USERS WHERE ID='" + userId + "'");
        return rows.empty() || !rows[0][0] ? "" : *rows[0][0];
    }
    std::size_t StoredMessages(const std::string& recipient) {
        return server.Query("SELECT MsgId FROM OFFLINEMSG WHERE Recipient='" + recipient + "'")
            .size();
    }

    // Sends a live message from `from` to the user `to` and returns the record bytes sent.
    static std::vector<std::uint8_t> SendLive(SessionClient& from, const std::string& to,
                                              const protocol::MessageRecord& record) {
        const Packet go = from.Request(pt::LiveMessage, IdField(to));
        EXPECT_EQ(go.type, pt::Ok) << go.Text();
        const auto bytes = record.Encode();
        from.Send(pt::LiveMessage, bytes);
        return bytes;
    }

    ServerHarness server;
    std::string first, second;
};

TEST_F(SessionTest, NewAccountsCountUpFromOneWithTheIdAsPassword) {
    EXPECT_EQ(first, "00000001");
    EXPECT_EQ(second, "00000002");
    SessionClient client(server.Port());
    client.LoginOk("00000001", "00000001");
}

TEST_F(SessionTest, LoginRepliesWithTheirTexts) {
    SessionClient wrong(server.Port());
    Packet reply = wrong.Login(first, "nonsense");
    EXPECT_EQ(reply.type, pt::LoginAuthorizationFailed);
    EXPECT_EQ(reply.Text(), rt::LoginAuthorizationFailed);
    EXPECT_TRUE(PeerCloses(wrong.RequestSocket()));

    server.Execute("UPDATE USERS SET Disabled=1 WHERE ID='" + second + "'");
    SessionClient disabled(server.Port());
    reply = disabled.Login(second, second);
    EXPECT_EQ(reply.type, pt::LoginDisabled);
    EXPECT_EQ(reply.Text(), rt::LoginDisabled);

    SessionClient accepted(server.Port());
    accepted.LoginOk(first, first);
    EXPECT_TRUE(Eventually([&] { return OnlineFlag(first) == "1"; }));

    // A second login with an ID that is online is refused; the first session is untouched.
    SessionClient again(server.Port());
    reply = again.Login(first, first);
    EXPECT_EQ(reply.type, pt::LoginAlreadyOnline);
    EXPECT_EQ(reply.Text(), rt::LoginAlreadyOnline);
    EXPECT_TRUE(PeerCloses(again.RequestSocket()));
    EXPECT_EQ(accepted.QueryStatus(first), static_cast<int>(OnlineStatus::Online));
    EXPECT_EQ(OnlineFlag(first), "1");
    EXPECT_NE(server.LogText().find(first + " logged in."), std::string::npos);
}

TEST_F(SessionTest, LoginWithAnIdThatIsNotEightDigitsIsRefused) {
    for (const std::string id : {"1", "0000001'", "../../x", "0000000a"}) {
        SessionClient client(server.Port());
        const Packet reply = client.Login(id, "00000001");
        EXPECT_EQ(reply.type, pt::LoginAuthorizationFailed) << id;
    }
    // A login body shorter than a LoginRequest reads as empty fields.
    protocol::Socket raw = server.ConnectSession();
    protocol::SendPacket(raw.Get(), pt::Login, Bytes("0000"), 30);
    EXPECT_EQ(Receive(raw.Get(), 4095).type, pt::LoginAuthorizationFailed);
}

TEST_F(SessionTest, StatusQueryAnswersWithTheOtherUsersStatus) {
    SessionClient a(server.Port()), b(server.Port());
    a.LoginOk(first, first);
    EXPECT_EQ(a.QueryStatus(second), static_cast<int>(OnlineStatus::Offline));
    b.LoginOk(second, second);
    // Online from the moment the connect-back is made.
    EXPECT_TRUE(Eventually([&] { return a.QueryStatus(second) == 2; }));
    b.SetStatus(OnlineStatus::Away);
    EXPECT_TRUE(Eventually([&] { return a.QueryStatus(second) == 3; }));
    // A body that is not one UserId answers 1 with no body.
    const Packet odd = a.Request(pt::QueryStatus, Bytes("00000002\0\0"));
    EXPECT_EQ(odd.type, static_cast<int>(OnlineStatus::Offline));
    EXPECT_TRUE(odd.body.empty());
}

TEST_F(SessionTest, LiveMessageIsRelayedAndTheAwayTextComesBack) {
    SessionClient a(server.Port()), b(server.Port());
    a.LoginOk(first, first);
    b.LoginOk(second, second);
    b.SetStatus(OnlineStatus::Away);
    ASSERT_TRUE(Eventually([&] { return a.QueryStatus(second) == 3; }));

    const auto sent = SendLive(a, second, Message("Hello there"));
    const Packet from = b.Notification();
    EXPECT_EQ(from.type, pt::LiveMessage);
    EXPECT_EQ(from.Text(), first);
    EXPECT_EQ(from.body.size(), protocol::Size::UserId);
    const Packet record = b.Notification();
    EXPECT_EQ(record.type, pt::LiveMessage);
    ASSERT_EQ(record.body.size(), sent.size());
    // The time is the server's; everything after it is the sender's.
    const auto decoded = protocol::MessageRecord::Decode(record.body);
    EXPECT_NEAR(static_cast<double>(decoded.time), static_cast<double>(std::time(nullptr)), 60);
    EXPECT_TRUE(std::equal(sent.begin() + 4, sent.end(), record.body.begin() + 4));

    b.Answer("I am away");  // nine characters
    const Packet reply = a.Reply();
    EXPECT_EQ(reply.type, pt::Ok);
    EXPECT_EQ(reply.body.size(), 10u);
    EXPECT_EQ(reply.Text(), "I am away");

    // An answer without a body gives a reply without a body.
    SendLive(a, second, Message("again"));
    b.Notification();
    b.Notification();
    b.Answer();
    const Packet plain = a.Reply();
    EXPECT_EQ(plain.type, pt::Ok);
    EXPECT_TRUE(plain.body.empty());
}

TEST_F(SessionTest, LiveMessageRefusals) {
    SessionClient a(server.Port()), b(server.Port());
    a.LoginOk(first, first);
    Packet reply = a.Request(pt::LiveMessage, IdField(second));
    EXPECT_EQ(reply.type, pt::Failed);
    EXPECT_EQ(reply.Text(), rt::UserNotOnline);

    b.LoginOk(second, second);
    b.SetStatus(OnlineStatus::NotAvailable);
    ASSERT_TRUE(Eventually([&] { return a.QueryStatus(second) == 4; }));
    reply = a.Request(pt::LiveMessage, IdField(second));
    EXPECT_EQ(reply.type, pt::Refused);
    EXPECT_EQ(reply.Text(), rt::UserInNaMode);
    // No record is read: the session goes on with the next request.
    EXPECT_EQ(a.QueryStatus(second), 4);

    // A recipient field of the wrong size ends the session.
    reply = a.Request(pt::LiveMessage, Bytes("0000000"));
    EXPECT_EQ(reply.type, pt::Failed);
    EXPECT_EQ(reply.Text(), rt::PacketSizeError);
    EXPECT_TRUE(PeerCloses(a.RequestSocket()));
}

TEST_F(SessionTest, ShortRecordEndsTheSessionWhileTheLargestIsRelayed) {
    SessionClient a(server.Port()), b(server.Port());
    a.LoginOk(first, first);
    b.LoginOk(second, second);

    const auto largest = SendLive(a, second, Message(std::string(32731, 'x')));
    ASSERT_EQ(largest.size(), 32768u);
    EXPECT_EQ(b.Notification().type, pt::LiveMessage);
    const Packet record = b.Notification();
    EXPECT_EQ(record.body.size(), 32768u);
    b.Answer();
    EXPECT_EQ(a.Reply().type, pt::Ok);

    ASSERT_EQ(a.Request(pt::LiveMessage, IdField(second)).type, pt::Ok);
    const std::vector<std::uint8_t> shortRecord(36, 'y');
    a.Send(pt::LiveMessage, shortRecord);
    const Packet reply = a.Reply();
    EXPECT_EQ(reply.type, pt::Refused);
    EXPECT_EQ(reply.Text(), rt::PacketSizeError);
    EXPECT_TRUE(PeerCloses(a.RequestSocket()));
    EXPECT_TRUE(PeerCloses(a.NotificationSocket()));
    EXPECT_TRUE(Eventually([&] { return b.QueryStatus(first) == 1; }));
    EXPECT_TRUE(Eventually([&] { return OnlineFlag(first) == "0"; }));
}

TEST_F(SessionTest, OfflineMessagesAreStoredAndDeliveredWholeOnce) {
    SessionClient a(server.Port());
    a.LoginOk(first, first);
    const std::vector<std::string> bodies = {
        "It's \"quoted\" -- ''double'' and 'single'; DROP TABLE USERS; --",
        "Grüße, 你好, ½ € \xF0\x9F\x98\x80 and a tab\tand\r\nlines",
        std::string(20000, 'r') + "{\\rtf1 end}",
    };
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        ASSERT_EQ(a.Request(pt::OfflineMessage, IdField(second)).type, pt::Ok);
        auto record = Message(bodies[i], "brief " + std::to_string(i));
        record.richText = i == 2;
        a.Send(pt::OfflineMessage, record.Encode());
        EXPECT_EQ(a.Reply().type, pt::Ok) << i;
    }
    EXPECT_EQ(StoredMessages(second), 3u);

    SessionClient b(server.Port());
    b.LoginOk(second, second);
    b.Send(pt::FetchOfflineMessages);
    std::vector<std::string> received;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const Packet from = b.Notification();
        EXPECT_EQ(from.type, pt::OfflineMessage);
        EXPECT_EQ(from.Text(), first);
        const Packet record = b.Notification();
        EXPECT_EQ(record.type, pt::OfflineMessage);
        const auto decoded = protocol::MessageRecord::Decode(record.body);
        EXPECT_EQ(record.body.size(), 37 + decoded.body.size());
        EXPECT_EQ(decoded.richText, decoded.body == bodies[2]);
        EXPECT_EQ(decoded.brief.substr(0, 6), "brief ");
        EXPECT_NEAR(static_cast<double>(decoded.time), static_cast<double>(std::time(nullptr)), 60);
        received.push_back(decoded.body);
    }
    std::sort(received.begin(), received.end());
    auto expected = bodies;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(Eventually([&] { return StoredMessages(second) == 0; }));

    // Nothing is left for the next fetch; the session goes on.
    b.Send(pt::FetchOfflineMessages);
    EXPECT_EQ(b.QueryStatus(first), static_cast<int>(OnlineStatus::Online));
}

TEST_F(SessionTest, OfflineMessageToAnIdThatIsNotEightDigitsIsRefused) {
    SessionClient a(server.Port());
    a.LoginOk(first, first);
    ASSERT_EQ(a.Request(pt::OfflineMessage, IdField("1' OR '1")).type, pt::Ok);
    a.Send(pt::OfflineMessage, Message("text").Encode());
    const Packet reply = a.Reply();
    EXPECT_EQ(reply.type, pt::Failed);
    EXPECT_EQ(reply.Text(), rt::FailedToSendOffline);
    EXPECT_TRUE(server.Query("SELECT MsgId FROM OFFLINEMSG").empty());
    EXPECT_EQ(a.QueryStatus(first), static_cast<int>(OnlineStatus::Online));
}

TEST_F(SessionTest, ChatAndFileRequestsCarryTheRequestersAddressAndId) {
    SessionClient a(server.Port()), b(server.Port());
    a.LoginOk(first, first);
    b.LoginOk(second, second);
    // The login is complete once others see the user online.
    ASSERT_TRUE(Eventually([&] { return a.QueryStatus(second) == 2; }));

    protocol::ChatRequest chat;
    chat.address.port = 5555;
    chat.userId = second;
    chat.text = "Let's chat";
    // The acceptance names the invited user's address, for the requester's check.
    Packet accepted = a.Request(pt::ChatRequest, chat.Encode());
    EXPECT_EQ(accepted.type, pt::Ok);
    EXPECT_EQ(accepted.Text(), "127.0.0.1");
    Packet relayed = b.Notification();
    ASSERT_EQ(relayed.type, pt::ChatRequest);
    ASSERT_EQ(relayed.body.size(), protocol::Size::ChatRequest);
    const auto gotChat = protocol::ChatRequest::Decode(relayed.body);
    EXPECT_EQ(gotChat.address.address, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(gotChat.address.port, 5555);
    EXPECT_EQ(gotChat.userId, first);
    EXPECT_EQ(gotChat.text, "Let's chat");

    // Every field of a file request ends inside itself, whatever the requester sent.
    auto file = protocol::FileRequest{{6666, 0}, second, "report.pdf", 12345, ""}.Encode();
    std::fill(file.begin() + 290, file.end(), 'd');
    std::fill(file.begin() + 25, file.begin() + 286, 'n');
    EXPECT_EQ(a.Request(pt::FileRequest, file).type, pt::Ok);
    relayed = b.Notification();
    ASSERT_EQ(relayed.type, pt::FileRequest);
    ASSERT_EQ(relayed.body.size(), protocol::Size::FileRequest);
    EXPECT_EQ(relayed.body[24], 0);
    EXPECT_EQ(relayed.body[285], 0);
    EXPECT_EQ(relayed.body[545], 0);
    const auto gotFile = protocol::FileRequest::Decode(relayed.body);
    EXPECT_EQ(gotFile.address.address, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(gotFile.userId, first);
    EXPECT_EQ(gotFile.fileName, std::string(260, 'n'));
    EXPECT_EQ(gotFile.fileSize, 12345u);
    EXPECT_EQ(gotFile.description, std::string(255, 'd'));

    b.Close();
    EXPECT_TRUE(Eventually([&] { return a.QueryStatus(second) == 1; }));
    Packet reply = a.Request(pt::ChatRequest, chat.Encode());
    EXPECT_EQ(reply.type, pt::Failed);
    EXPECT_EQ(reply.Text(), rt::UserNotOnLine);

    const auto chatBytes = chat.Encode();
    reply = a.Request(pt::ChatRequest, std::span(chatBytes).first(281));
    EXPECT_EQ(reply.type, pt::Failed);
    EXPECT_EQ(reply.Text(), rt::PacketSizeError);
    EXPECT_TRUE(PeerCloses(a.RequestSocket()));
}

TEST_F(SessionTest, UnknownRequestEndsTheSessionAndTheUserIsOffline) {
    SessionClient a(server.Port()), b(server.Port());
    a.LoginOk(first, first);
    b.LoginOk(second, second);
    const Packet reply = a.Request(77);
    EXPECT_EQ(reply.type, pt::Failed);
    EXPECT_EQ(reply.Text(), rt::UnknownRequest);
    EXPECT_TRUE(PeerCloses(a.RequestSocket()));
    EXPECT_TRUE(Eventually([&] { return b.QueryStatus(first) == 1; }));
    EXPECT_TRUE(Eventually([&] { return OnlineFlag(first) == "0"; }));
    EXPECT_NE(server.LogText().find("Error: Unknown request (" + first + ")."), std::string::npos);

    // The user can log in again at once.
    SessionClient again(server.Port());
    again.LoginOk(first, first);
}

TEST_F(SessionTest, SetStatusWithAWrongSizeEndsTheSessionWithoutReply) {
    SessionClient a(server.Port());
    a.LoginOk(first, first);
    a.Send(pt::SetStatus, Bytes("\x03\0\0\0\0"));
    EXPECT_TRUE(PeerCloses(a.RequestSocket()));
    EXPECT_TRUE(Eventually([&] { return OnlineFlag(first) == "0"; }));
}

TEST_F(SessionTest, LogoutEndsTheSession) {
    SessionClient a(server.Port());
    a.LoginOk(first, first);
    a.Send(pt::KeepAlive, Bytes("ignored body"));
    a.Send(pt::Logout);
    EXPECT_TRUE(PeerCloses(a.RequestSocket()));
    EXPECT_TRUE(PeerCloses(a.NotificationSocket()));
    EXPECT_TRUE(Eventually([&] { return OnlineFlag(first) == "0"; }));
    EXPECT_TRUE(server.WaitForConsole(first + " logged out."));
}

TEST_F(SessionTest, ShutdownEndsEverySessionAndMarksUsersOffline) {
    SessionClient a(server.Port()), b(server.Port());
    a.LoginOk(first, first);
    b.LoginOk(second, second);
    ASSERT_TRUE(server.WaitForConsole(first + " logged in."));
    ASSERT_TRUE(server.WaitForConsole(second + " logged in."));
    protocol::Socket waiting = server.ConnectSession();  // never sends its login
    EXPECT_EQ(server.Stop(), 0) << server.ConsoleOutput();
    EXPECT_TRUE(PeerCloses(a.RequestSocket()));
    EXPECT_TRUE(PeerCloses(b.NotificationSocket()));
    EXPECT_TRUE(PeerCloses(waiting.Get()));
    const std::string console = server.ConsoleOutput();
    EXPECT_NE(console.find("Closing active connections, please wait ..."), std::string::npos);
    EXPECT_NE(console.find("                    Closing connection to " + first + " ...OK."),
              std::string::npos)
        << console;
    for (const auto& row : server.Query("SELECT Online FROM USERS")) {
        EXPECT_EQ(row[0].value_or(""), "0");
    }
}

}  // namespace
}  // namespace talvorine::server::testing
