// Engines against the real server binary (SQLite data source, temporary folders), two or
// three in one process on loopback.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

#include "engine_client.h"
#include "fakes.h"
#include "server_harness.h"
#include "talvorine/client/data/message_store.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/session/chat.h"
#include "talvorine/client/session/file_transfer.h"
#include "talvorine/client/session/texts.h"
#include "talvorine/protocol/packet.h"

namespace talvorine::client::session {
namespace {

using namespace std::chrono_literals;
using server::testing::ServerHarness;
using server::testing::TempFolder;
using testing::EngineClient;
namespace fs = std::filesystem;

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_server = new ServerHarness();
        ASSERT_TRUE(s_server->Start()) << s_server->ConsoleOutput();
        s_clientHome = new TempFolder("tlv-client-home");
        ::setenv("TALVORINE_CLIENT_HOME", s_clientHome->Path().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete s_server;
        delete s_clientHome;
        s_server = nullptr;
    }

    static NetworkSettings Network() {
        return NetworkSettings{"127.0.0.1", s_server->Port(), true, 5};
    }
    static Account NewAccount(const std::string& nickname) {
        const auto credentials = RequestNewAccount({"127.0.0.1", s_server->Port()});
        return Account{credentials.userId, credentials.password, nickname};
    }
    std::unique_ptr<EngineClient> Client(const std::string& nickname) {
        return std::make_unique<EngineClient>(loop, NewAccount(nickname), Network());
    }
    static std::uint32_t StoreCount(const std::string& account, data::StoreKind kind,
                                    const std::string& peer) {
        return data::MessageStore::Open(account, kind, peer, data::StoreMode::Read, true).Count();
    }

    EventLoop loop;
    static inline ServerHarness* s_server = nullptr;
    static inline TempFolder* s_clientHome = nullptr;
};

TEST_F(EndToEnd, LoginConnectBackAndALiveMessageInBothStores) {
    auto alice = Client("Alice");
    auto bob = Client("Bob");
    ASSERT_TRUE(alice->ConnectAndWait());
    ASSERT_TRUE(bob->ConnectAndWait());
    EXPECT_EQ(alice->session->Status(), OnlineStatus::Online);
    alice->AddContact(bob->account.userId, "Bob");

    const auto outcome = alice->Send(bob->account.userId, "hello Bob\r\nsecond line");
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    EXPECT_FALSE(outcome.offline);
    EXPECT_FALSE(outcome.autoReply);
    ASSERT_TRUE(bob->WaitForMessages(1));
    const auto message = bob->Messages()[0];
    EXPECT_EQ(message.kind, IncomingMessage::Kind::Live);
    EXPECT_EQ(message.senderId, alice->account.userId);
    EXPECT_TRUE(message.stored);
    EXPECT_TRUE(message.newStranger);
    const auto record = protocol::MessageRecord::Decode(message.record);
    EXPECT_EQ(record.brief, "hello Bob");
    EXPECT_EQ(record.body, "hello Bob\r\nsecond line");
    EXPECT_FALSE(record.richText);

    EXPECT_EQ(StoreCount(alice->account.userId, data::StoreKind::Sent, bob->account.userId), 1u);
    EXPECT_EQ(StoreCount(bob->account.userId, data::StoreKind::Received, alice->account.userId),
              1u);
    EXPECT_EQ(bob->Unread(alice->account.userId), 1);
    const auto strangers = bob->list.FindGroup(data::StrangersGroup);
    ASSERT_GE(strangers, 0);
    EXPECT_EQ(bob->list.FindContact(alice->account.userId)->group, strangers);

    alice->DisconnectAndWait();
    EXPECT_FALSE(alice->session->Connected());
    EXPECT_FALSE(alice->session->ReconnectWanted());
}

TEST_F(EndToEnd, OfflineMessageArrivesAtTheNextLoginAfterThePrompt) {
    auto alice = Client("Alice");
    auto bob = Client("Bob");
    ASSERT_TRUE(alice->ConnectAndWait());

    SendOptions noOffline{false, false};
    const auto refused = alice->Send(bob->account.userId, "not now", noOffline);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.reason, "User is not online");

    alice->offlineAnswer = false;
    const auto declined = alice->Send(bob->account.userId, "x", SendOptions{true, true});
    EXPECT_FALSE(declined.ok);
    ASSERT_EQ(alice->questions.size(), 1u);
    EXPECT_NE(alice->questions[0].find("Recipient '" + bob->account.userId +
                                       "' is not online currently."),
              std::string::npos);

    alice->offlineAnswer = true;
    const auto stored =
        alice->Send(bob->account.userId, "read this later", SendOptions{true, true});
    ASSERT_TRUE(stored.ok) << stored.reason;
    EXPECT_TRUE(stored.offline);

    ASSERT_TRUE(bob->ConnectAndWait());
    ASSERT_TRUE(bob->WaitForMessages(1));
    const auto message = bob->Messages()[0];
    EXPECT_EQ(message.kind, IncomingMessage::Kind::Offline);
    EXPECT_EQ(protocol::MessageRecord::Decode(message.record).body, "read this later");
    EXPECT_EQ(bob->Unread(alice->account.userId), 1);
}

TEST_F(EndToEnd, AwayRecipientAnswersWithItsTextAndNaRefuses) {
    auto alice = Client("Alice");
    auto bob = Client("Bob");
    ASSERT_TRUE(alice->ConnectAndWait());
    ASSERT_TRUE(bob->ConnectAndWait());
    alice->AddContact(bob->account.userId, "Bob");

    bob->session->SetStatus(OnlineStatus::Away);
    ASSERT_TRUE(loop.RunUntil([&] { return bob->session->Status() == OnlineStatus::Away; }, 10s));
    bob->awayText = "back at three";
    const auto outcome = alice->Send(bob->account.userId, "are you there?");
    ASSERT_TRUE(outcome.ok) << outcome.reason;
    ASSERT_TRUE(outcome.autoReply);
    EXPECT_EQ(outcome.autoReply->kind, IncomingMessage::Kind::AutoReply);
    const auto reply = protocol::MessageRecord::Decode(outcome.autoReply->record);
    EXPECT_EQ(reply.body, "back at three");
    EXPECT_FALSE(reply.richText);
    EXPECT_EQ(StoreCount(alice->account.userId, data::StoreKind::Received, bob->account.userId),
              1u);
    EXPECT_EQ(alice->Unread(bob->account.userId), 1);

    bob->session->SetStatus(OnlineStatus::NotAvailable);
    EXPECT_EQ(bob->session->Status(), OnlineStatus::NotAvailable);  // shown at once
    loop.RunFor(300ms);
    std::atomic<bool> closing{false};
    const auto report =
        alice->sender->SendSingle({bob->account.userId, "Bob"}, {"hi", "hi", false}, {}, closing);
    EXPECT_FALSE(report.allSent);
    EXPECT_EQ(
        report.errorText,
        "Failed to send message to Bob:\r\nUser is in N/A mode and will not accept any message");
}

TEST_F(EndToEnd, ThreeRecipientsOfWhichTheSecondFails) {
    auto alice = Client("Alice");
    auto bob = Client("Bob");
    auto carol = Client("Carol");
    auto dave = Client("Dave");
    ASSERT_TRUE(alice->ConnectAndWait());
    ASSERT_TRUE(bob->ConnectAndWait());
    ASSERT_TRUE(dave->ConnectAndWait());
    alice->AddContact(bob->account.userId, "Bob");
    alice->AddContact(carol->account.userId, "Carol");
    alice->AddContact(dave->account.userId, "Dave");

    std::atomic<bool> closing{false};
    const auto report = alice->sender->SendMultiple(
        {bob->account.userId, carol->account.userId, dave->account.userId, "99999999"},
        {"to all", "to all", false}, SendOptions{false, false}, closing);
    EXPECT_FALSE(report.allSent);
    EXPECT_EQ(report.errorText,
              "Failed to send message to these recipients:\r\nCarol (User is not online)");
    EXPECT_EQ(report.removedIds, std::vector<std::string>{"99999999"});
    EXPECT_TRUE(bob->WaitForMessages(1));
    EXPECT_TRUE(dave->WaitForMessages(1));

    const auto none = alice->sender->SendMultiple({}, {"x", "x", false}, {}, closing);
    EXPECT_EQ(none.errorText, "No recipients selected");
}

TEST_F(EndToEnd, RejectedLoginsShowTheTextAndOnlyCodeTwoAsksForTheAccount) {
    auto account = NewAccount("Eve");
    account.password = "wrong";
    EngineClient wrongPassword(loop, account, Network());
    EXPECT_FALSE(wrongPassword.ConnectAndWait());
    ASSERT_EQ(wrongPassword.loginFailures.size(), 1u);
    EXPECT_EQ(wrongPassword.loginFailures[0],
              "Failed to login:\r\nAuthorization failed. Please check if your have provided the "
              "correct ID and password");
    EXPECT_EQ(wrongPassword.chooseAccount, 1);
    EXPECT_FALSE(wrongPassword.session->ReconnectWanted());

    auto disabledAccount = NewAccount("Mallory");
    s_server->Execute("UPDATE USERS SET Disabled = 1 WHERE ID = '" + disabledAccount.userId + "'");
    EngineClient disabled(loop, disabledAccount, Network());
    EXPECT_FALSE(disabled.ConnectAndWait());
    ASSERT_EQ(disabled.loginFailures.size(), 1u);
    EXPECT_EQ(
        disabled.loginFailures[0],
        "Failed to login:\r\nYour account is disabled. please contact with the administrator");
    EXPECT_EQ(disabled.chooseAccount, 0);
    EXPECT_FALSE(disabled.session->ReconnectWanted());
}

// A server of the test's own: answers the login with `reply` (code and raw bytes).
class FakeServer {
public:
    explicit FakeServer(std::function<void(protocol::SocketHandle)> behave) {
        EXPECT_EQ(protocol::ListenOn(m_listening.Ref(), 0), 0);
        m_port = protocol::LocalPort(m_listening.Get());
        m_thread = std::thread([this, behave = std::move(behave)] {
            protocol::Socket peer(protocol::AcceptOn(m_listening.Get(), nullptr));
            if (peer.IsOpen()) {
                behave(peer.Get());
            }
        });
    }
    ~FakeServer() {
        protocol::ShutdownSocket(m_listening.Get());
        m_thread.join();
    }
    std::uint16_t Port() const { return m_port; }

private:
    protocol::Socket m_listening;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

TEST_F(EndToEnd, LoginCodeZeroOnlyShowsTheTextAndGarbageLeavesTheClientOfflineQuietly) {
    FakeServer codeZero([](protocol::SocketHandle peer) {
        std::vector<std::uint8_t> login(30);
        protocol::ReceivePacket(peer, login, 5);
        protocol::SendTextPacket(peer, 0, "odd answer", 5);
    });
    EngineClient zero(loop, Account{"00000042", "pw", "Z"},
                      {"127.0.0.1", codeZero.Port(), true, 5});
    EXPECT_FALSE(zero.ConnectAndWait());
    ASSERT_EQ(zero.loginFailures.size(), 1u);
    EXPECT_EQ(zero.loginFailures[0], "Failed to login:\r\nodd answer");
    EXPECT_EQ(zero.chooseAccount, 0);

    FakeServer garbage([](protocol::SocketHandle peer) {
        std::vector<std::uint8_t> login(30);
        protocol::ReceivePacket(peer, login, 5);
        const std::uint8_t junk[12] = {0x13, 0x37, 1, 1, 4, 0, 0, 0, 'j', 'u', 'n', 'k'};
        protocol::SendRaw(peer, junk, 5);
    });
    EngineClient broken(loop, Account{"00000042", "pw", "Z"},
                        {"127.0.0.1", garbage.Port(), true, 5});
    EXPECT_FALSE(broken.ConnectAndWait());
    EXPECT_TRUE(broken.loginFailures.empty());
    EXPECT_TRUE(broken.session->ReconnectWanted());  // the timer tries again
}

TEST_F(EndToEnd, ChatAndFileRequestsRelayedThroughTheServer) {
    auto alice = Client("Alice");
    auto bob = Client("Bob");
    ASSERT_TRUE(alice->ConnectAndWait());
    ASSERT_TRUE(bob->ConnectAndWait());

    testing::MemoryChatFiles aliceChats, bobChats;
    ChatRequester requester(*alice->session, aliceChats, bob->account.userId, "chat?");
    auto requested = std::async(std::launch::async, [&] { return requester.Run(); });
    ASSERT_TRUE(loop.RunUntil([&] { return !bob->chatRequests.empty(); }, 10s));
    const auto request = bob->chatRequests[0];
    EXPECT_EQ(request.userId, alice->account.userId);
    EXPECT_EQ(request.address.address, htonl(INADDR_LOOPBACK));
    ChatAnswerer answerer(bobChats, IncomingChatRequest::From(request));
    auto answered = answerer.Answer(true, "ok");
    auto asked = requested.get();
    ASSERT_TRUE(asked.link && answered.link) << asked.failure << answered.failure;

    TempFolder folder("tlv-e2e-file");
    const auto file = folder.Path() / "notes.txt";
    std::ofstream(file) << "some notes";
    testing::MemoryTransferRecords aliceRecords, bobRecords;
    FileSender sender(*alice->session, aliceRecords, bob->account.userId);
    ASSERT_FALSE(sender.Open(file));
    auto sending = std::async(std::launch::async, [&] { return sender.Run({}, "read me"); });
    ASSERT_TRUE(loop.RunUntil([&] { return !bob->fileRequests.empty(); }, 10s));
    FileReceiveOptions options{1, 1, true, folder.Path() / "in"};
    FileReceiver receiver(bobRecords, options, FileOffer::From(bob->fileRequests[0]));
    struct NoDialog : SavePrompt {
        std::optional<fs::path> AskSavePath(const fs::path&) override { return std::nullopt; }
    } noDialog;
    const auto target = receiver.ChooseTarget(noDialog);
    ASSERT_TRUE(target);
    ASSERT_FALSE(receiver.OpenTarget(*target));
    EXPECT_EQ(receiver.Receive({}).end, TransferResult::End::Done);
    EXPECT_EQ(sending.get().end, TransferResult::End::Done);
    EXPECT_EQ(*target, folder.Path() / "in" / alice->account.userId / "notes.txt");

    bob->DisconnectAndWait();
    FileSender toOffline(*alice->session, aliceRecords, bob->account.userId);
    ASSERT_FALSE(toOffline.Open(file));
    EXPECT_EQ(toOffline.Run({}, "").reason, "Failed: User is not on-line");
}

TEST_F(EndToEnd, AGarbageRequestMakesTheServerDropTheSessionAndTheEngineNoticesIt) {
    auto alice = Client("Alice");
    alice->session->SetNetworkSettings({"127.0.0.1", s_server->Port(), false, 5});
    ASSERT_TRUE(alice->ConnectAndWait());
    {
        std::lock_guard lock(alice->session->Locks().request);
        protocol::SendPacket(alice->session->RequestSocket(), 99, 5);
    }
    ASSERT_TRUE(loop.RunUntil([&] { return !alice->session->Connected(); }, 10s));
    EXPECT_EQ(alice->session->Status(), OnlineStatus::Offline);
    EXPECT_EQ(alice->lostReasons.size(), 1u);
    // AutoConnect off: the client stays offline.
    for (int i = 0; i < 14; ++i) {
        alice->session->ReconnectTick();
    }
    EXPECT_FALSE(alice->session->Connecting());
}

}  // namespace
}  // namespace talvorine::client::session
