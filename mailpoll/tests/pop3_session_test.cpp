#include "talvorine/mailpoll/pop3_session.h"

#include <gtest/gtest.h>

#include <chrono>

#include "talvorine/mailpoll/testing/scripted_pop3_peer.h"

namespace talvorine::mailpoll {
namespace {

using namespace std::chrono_literals;
using testing::MakeMessage;
using testing::PeerScript;
using testing::ScriptedPop3Peer;

std::vector<testing::PeerMessage> ThreeMessages() {
    return {MakeMessage("a@example.org", "One", "Mon, 1 Jan 2024 10:00:00 +0000", 1200),
            MakeMessage("b@example.org", "Two", "Tue, 2 Jan 2024 10:00:00 +0000", 2400),
            MakeMessage("c@example.org", "Three", "Wed, 3 Jan 2024 10:00:00 +0000", 1520)};
}

bool ConnectTo(Pop3Session& session, const ScriptedPop3Peer& peer) {
    return session.Connect("127.0.0.1", "user", "secret", peer.Port());
}

TEST(Pop3SessionTest, GreetingInThreePiecesIsReadAsOneLine) {
    PeerScript script;
    script.greeting = {"+OK PO", "P3 rea", "dy\r\n"};
    script.pieceDelay = 150ms;
    ScriptedPop3Peer peer({}, script);
    Pop3Session session;
    ASSERT_TRUE(ConnectTo(session, peer)) << session.LastReplyText();
    // USER follows the greeting only once all three pieces made the one line.
    const auto commands = peer.Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], "USER user");
    EXPECT_EQ(commands[1], "PASS secret");
}

TEST(Pop3SessionTest, PositiveReplyIgnoresCaseAndNegativeReplyIsKept) {
    PeerScript script;
    script.greeting = {"+ok Hello\r\n"};
    script.replies["PASS"] = "-ERR locked\r\n";
    ScriptedPop3Peer peer({}, script);
    Pop3Session session;
    EXPECT_FALSE(ConnectTo(session, peer));
    EXPECT_EQ(session.LastReplyText(), "-ERR locked");
    EXPECT_EQ(session.LastError(), Pop3Error::NegativeReply);
    EXPECT_FALSE(session.IsConnected());
    // The greeting passed: USER and PASS were sent, then the failed session was closed.
    const auto commands = peer.Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[1], "PASS secret");
}

TEST(Pop3SessionTest, StatisticsListAndSizes) {
    PeerScript script;
    script.replies["STAT"] = "+OK 3 5120\r\n";
    ScriptedPop3Peer peer(ThreeMessages(), script);
    Pop3Session session;
    ASSERT_TRUE(ConnectTo(session, peer));
    const auto statistics = session.Statistics();
    ASSERT_TRUE(statistics);
    EXPECT_EQ(statistics->count, 3u);
    EXPECT_EQ(statistics->totalSize, 5120u);
    EXPECT_EQ(session.MessageSize(2), 2400u);
    EXPECT_EQ(session.MessageSize(1), 1200u);
    EXPECT_EQ(session.MessageSize(3), 1520u);
    EXPECT_FALSE(session.MessageSize(4));
    EXPECT_FALSE(session.MessageSize(0));
    EXPECT_TRUE(session.Disconnect());
    // LIST was asked once; the sizes came from it in message order.
    const auto commands = peer.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "LIST"), 1);
    EXPECT_EQ(commands.back(), "QUIT");
}

TEST(Pop3SessionTest, StatisticsWithFewerThanTwoNumbersFails) {
    PeerScript script;
    script.replies["STAT"] = "+OK 3\r\n";
    ScriptedPop3Peer peer({}, script);
    Pop3Session session;
    ASSERT_TRUE(ConnectTo(session, peer));
    EXPECT_FALSE(session.Statistics());
    EXPECT_EQ(session.LastReplyText(), "+OK 3");
}

TEST(Pop3SessionTest, HeaderWithFoldedSubject) {
    testing::PeerMessage message;
    message.header =
        "From: Ann <ann@example.org>\r\nSubject: Quarterly\r\n\treport\r\nDate: Thu, 4 Jan 2024 "
        "08:00:00 +0000\r\n";
    message.size = 3000;
    ScriptedPop3Peer peer({message});
    Pop3Session session;
    ASSERT_TRUE(ConnectTo(session, peer));
    const auto header = session.MessageHeader(1);
    ASSERT_TRUE(header);
    EXPECT_EQ(Pop3Session::HeaderField(*header, "subject"), "Quarterly report");
    EXPECT_EQ(Pop3Session::HeaderField(*header, "From"), "Ann <ann@example.org>");
    EXPECT_EQ(Pop3Session::HeaderField(*header, "Date"), "Thu, 4 Jan 2024 08:00:00 +0000");
    EXPECT_EQ(Pop3Session::HeaderField(*header, "Cc"), "");
    EXPECT_EQ(peer.Commands().back(), "TOP 1 0");
}

TEST(Pop3SessionTest, HeaderFieldRules) {
    const std::string header =
        "Received: one\r\nReceived: two\r\n  more\r\nX-Subject: no\r\n\r\nSubject: in the body";
    EXPECT_EQ(Pop3Session::HeaderField(header, "Received"), "one");
    EXPECT_EQ(Pop3Session::HeaderField(header, "received", 1), "two  more");
    EXPECT_EQ(Pop3Session::HeaderField(header, "Received", 2), "");
    // Only whole field names at a line start count, and nothing after the blank line.
    EXPECT_EQ(Pop3Session::HeaderField(header, "Subject"), "");
    EXPECT_EQ(Pop3Session::HeaderField("Subject:\t tabbed \t", "Subject"), "tabbed");
}

TEST(Pop3SessionTest, SilentServerFailsAfterTheReplyTimeout) {
    PeerScript script;
    script.silent = {"STAT"};
    ScriptedPop3Peer peer(ThreeMessages(), script);
    Pop3Session session;
    session.SetReplyTimeout(600ms);
    ASSERT_TRUE(ConnectTo(session, peer));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.Statistics());
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(session.LastError(), Pop3Error::TimedOut);
    EXPECT_GE(waited, 600ms);
    EXPECT_LT(waited, 5s);
    // The stream is out of step: no QUIT is sent into it.
    EXPECT_FALSE(session.Disconnect());
    EXPECT_EQ(peer.Commands().back(), "STAT");
}

TEST(Pop3SessionTest, SilentGreetingFailsConnect) {
    PeerScript script;
    script.greeting = {"+OK partial"};
    ScriptedPop3Peer peer({}, script);
    Pop3Session session;
    session.SetReplyTimeout(400ms);
    EXPECT_FALSE(ConnectTo(session, peer));
    EXPECT_EQ(session.LastError(), Pop3Error::TimedOut);
    EXPECT_EQ(session.LastReplyText(), "+OK partial");
}

TEST(Pop3SessionTest, RefusedConnectionAndUnknownHost) {
    std::uint16_t freePort = 0;
    {
        ScriptedPop3Peer peer({});
        freePort = peer.Port();
    }
    Pop3Session session;
    EXPECT_FALSE(session.Connect("127.0.0.1", "u", "p", freePort));
    EXPECT_EQ(session.LastError(), protocol::SocketCode::ConnectionRefused);
    EXPECT_FALSE(session.Connect("no-such-host.invalid", "u", "p", 110));
    EXPECT_EQ(session.LastError(), Pop3Error::InvalidArgument);
}

TEST(Pop3SessionTest, LineBreakInPasswordIsRefused) {
    ScriptedPop3Peer peer({});
    Pop3Session session;
    EXPECT_FALSE(session.Connect("127.0.0.1", "user", "x\r\nDELE 1", peer.Port()));
    for (const std::string& command : peer.Commands()) {
        EXPECT_EQ(command.find("DELE"), std::string::npos);
    }
}

TEST(Pop3SessionTest, ReplyWithoutEndIsCutAtTheLimit) {
    PeerScript script;
    script.endless = {"TOP"};
    ScriptedPop3Peer peer(ThreeMessages(), script);
    Pop3Session session;
    session.SetReplyLimit(256 * 1024);
    ASSERT_TRUE(ConnectTo(session, peer));
    EXPECT_FALSE(session.MessageHeader(1));
    EXPECT_EQ(session.LastError(), Pop3Error::ReplyTooLong);
    EXPECT_EQ(session.LastReplyText(), ReplyTooLongText);
    EXPECT_FALSE(session.IsUsable());
}

TEST(Pop3SessionTest, ListOfHundredThousandMessagesFitsTheDefaultLimit) {
    std::vector<testing::PeerMessage> mailbox(100000);
    for (std::size_t i = 0; i < mailbox.size(); ++i) {
        mailbox[i].size = 4000000000u - static_cast<std::uint32_t>(i);
    }
    ScriptedPop3Peer peer(std::move(mailbox));
    Pop3Session session;
    ASSERT_TRUE(ConnectTo(session, peer));
    EXPECT_EQ(session.MessageSize(1), 4000000000u);
    EXPECT_EQ(session.MessageSize(100000), 4000000000u - 99999);
}

TEST(Pop3SessionTest, AbortWakesAPendingRead) {
    PeerScript script;
    script.silent = {"STAT"};
    ScriptedPop3Peer peer({}, script);
    Pop3Session session;
    session.SetReplyTimeout(30s);
    ASSERT_TRUE(ConnectTo(session, peer));
    std::thread aborter([&session] {
        std::this_thread::sleep_for(200ms);
        session.Abort();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.Statistics());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    aborter.join();
}

}  // namespace
}  // namespace talvorine::mailpoll
