// Engines against the real server binary (SQLite data source, temporary folders), two or
// three in one process on loopback.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <memory>
#include <thread>

#include "account_files.h"
#include "engine_client.h"
#include "recording_chat_events.h"
#include "server_harness.h"
#include "session_client.h"
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
        s_server = std::make_unique<ServerHarness>();
        ASSERT_TRUE(s_server->Start()) << s_server->ConsoleOutput();
        s_clientHome = std::make_unique<TempFolder>("tlv-client-home");
        ::setenv("TALVORINE_CLIENT_HOME", s_clientHome->Path().c_str(), 1);
    }
    static void TearDownTestSuite() {
        s_server.reset();
        s_clientHome.reset();
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
    static inline std::unique_ptr<ServerHarness> s_server;
    static inline std::unique_ptr<TempFolder> s_clientHome;
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

TEST_F(EndToEnd, ARedeliveredOfflineMessageIsShownOnceAndTakenOnesLeaveTheServer) {
    auto alice = Client("Alice");
    auto bob = Client("Bob");
    ASSERT_TRUE(alice->ConnectAndWait());
    alice->offlineAnswer = true;
    for (const char* text : {"one", "two", "three"}) {
        ASSERT_TRUE(alice->Send(bob->account.userId, text, SendOptions{true, true}).ok);
    }
    const std::string table =
        "SELECT MsgId FROM OFFLINEMSG WHERE Recipient='" + bob->account.userId + "'";
    ASSERT_EQ(s_server->Query(table).size(), 3u);

    // A first delivery that stored two messages and died before it told the server.
    {
        server::testing::SessionClient raw(s_server->Port());
        raw.LoginOk(bob->account.userId, bob->account.password);
        raw.Send(protocol::PacketType::FetchOfflineMessages);
        AccountMessageHistory history(bob->account.userId);
        for (int i = 0; i < 2; ++i) {
            const auto from = raw.Notification();
            const auto record = raw.Notification();
            history.AppendReceived(from.Text(), record.body);
        }
        const linger reset{1, 0};
        ::setsockopt(raw.NotificationSocket(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        raw.Close();
    }
    ASSERT_TRUE(server::testing::Eventually([&] { return s_server->Query(table).size() == 3; }))
        << s_server->Query(table).size() << s_server->ConsoleOutput();

    // Our client gets all three again, shows only the new one, and the server forgets them.
    ASSERT_TRUE(bob->ConnectAndWait());
    ASSERT_TRUE(bob->WaitForMessages(1));
    EXPECT_TRUE(server::testing::Eventually([&] { return s_server->Query(table).empty(); }));
    ASSERT_EQ(bob->Messages().size(), 1u);
    EXPECT_EQ(protocol::MessageRecord::Decode(bob->Messages()[0].record).body, "three");
    EXPECT_EQ(StoreCount(bob->account.userId, data::StoreKind::Received, alice->account.userId),
              3u);
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

// A server of the test's own that accepts any login, connects back, and then plays
// `notify` on the notification connection; it holds the session until the client lets go.
class LoggedInServer {
public:
    explicit LoggedInServer(std::function<void(protocol::SocketHandle)> notify)
        : m_fake([notify = std::move(notify)](protocol::SocketHandle request) {
              std::vector<std::uint8_t> login(protocol::Size::LoginRequest);
              protocol::ReceivePacket(request, login, 5);
              const auto port = protocol::LoginRequest::Decode(login).port;
              protocol::SendPacket(request, protocol::PacketType::LoginAccepted, 5);
              protocol::Socket notification;
              if (protocol::ConnectTo(notification.Ref(), "127.0.0.1",
                                      static_cast<std::uint16_t>(port)) != 0) {
                  return;
              }
              notify(notification.Get());
              // Until the client closes the request connection (fetch and keep-alive ignored).
              std::vector<std::uint8_t> ignored(4096);
              try {
                  while (true) {
                      protocol::ReceivePacket(request, ignored, 10);
                  }
              } catch (const std::exception&) {
              }
          }) {}
    std::uint16_t Port() const { return m_fake.Port(); }

private:
    FakeServer m_fake;
};

std::vector<std::string> LostReasons(EngineClient& client) {
    std::lock_guard lock(client.m_mutex);
    return client.lostReasons;
}

TEST_F(EndToEnd, NotificationGarbageOrAMidPacketCloseEndsTheSessionWithTheFramingText) {
    const std::uint8_t garbage[8] = {0x55, 1, 0, 40, 0, 0, 0, 0};
    LoggedInServer sendsGarbage([&](protocol::SocketHandle notification) {
        protocol::SendTextPacket(notification, 77, "not for clients", 5);  // skipped
        protocol::SendTextPacket(notification, protocol::PacketType::OfflineMessage, "00000007", 5);
        protocol::MessageRecord record{1234, false, "still read", "still read after 77"};
        protocol::SendPacket(notification, protocol::PacketType::OfflineMessage, record.Encode(),
                             5);
        protocol::SendRaw(notification, garbage, 5);
        std::this_thread::sleep_for(200ms);
    });
    EngineClient first(loop, Account{"00000042", "pw", "Z"},
                       {"127.0.0.1", sendsGarbage.Port(), false, 5});
    first.session->Connect();  // the session may end before the login is seen
    ASSERT_TRUE(loop.RunUntil([&] { return !LostReasons(first).empty(); }, 10s));
    loop.RunFor(100ms);  // the posted connection-lost handling
    EXPECT_FALSE(first.session->Connected());
    ASSERT_EQ(first.Messages().size(), 1u);
    EXPECT_EQ(protocol::MessageRecord::Decode(first.Messages()[0].record).body,
              "still read after 77");
    EXPECT_EQ(LostReasons(first), std::vector<std::string>{"packet error."});
    EXPECT_EQ(first.session->Status(), OnlineStatus::Offline);

    LoggedInServer closesMidPacket([](protocol::SocketHandle notification) {
        const std::uint8_t half[12] = {0xAA, 1, 0, 40, 9, 0, 0, 0, '0', '0', '0', '0'};
        protocol::SendRaw(notification, half, 5);
        protocol::ShutdownSocket(notification);  // the end of the stream, mid-packet
    });
    EngineClient second(loop, Account{"00000042", "pw", "Z"},
                        {"127.0.0.1", closesMidPacket.Port(), false, 5});
    second.session->Connect();  // the session may end before the login is seen
    ASSERT_TRUE(loop.RunUntil([&] { return !LostReasons(second).empty(); }, 10s));
    loop.RunFor(100ms);  // the posted connection-lost handling
    EXPECT_FALSE(second.session->Connected());
    EXPECT_EQ(LostReasons(second),
              std::vector<std::string>{"Connection is closed by remote computer."});
}

TEST_F(EndToEnd, ShutdownWakesALoginWaitingForTheConnectBack) {
    std::promise<void> loggedIn;
    FakeServer neverConnectsBack([&](protocol::SocketHandle request) {
        std::vector<std::uint8_t> login(protocol::Size::LoginRequest);
        protocol::ReceivePacket(request, login, 5);
        protocol::SendPacket(request, protocol::PacketType::LoginAccepted, 5);
        loggedIn.set_value();
        std::vector<std::uint8_t> ignored(4096);
        try {
            protocol::ReceivePacket(request, ignored, 20);  // until the client gives up
        } catch (const std::exception&) {
        }
    });
    EngineClient client(loop, Account{"00000042", "pw", "Z"},
                        {"127.0.0.1", neverConnectsBack.Port(), true, 5});
    client.session->Connect();
    ASSERT_EQ(loggedIn.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(client.session->Connecting());
    const auto start = std::chrono::steady_clock::now();
    client.session->Shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(client.session->Connected());
}

// The relayed chat request, answered on the other side; both links or a failure.
struct ChatLinks {
    ChatStepResult asked, answered;
};
ChatLinks RequestChat(EventLoop& loop, EngineClient& from, ChatFiles& fromFiles, EngineClient& to,
                      ChatFiles& toFiles, bool accept, const std::string& reply) {
    const auto before = to.chatRequests.size();
    ChatRequester requester(*from.session, fromFiles, to.account.userId, "chat?");
    auto requested = std::async(std::launch::async, [&] { return requester.Run(); });
    if (!loop.RunUntil([&] { return to.chatRequests.size() > before; }, 10s)) {
        requester.Cancel();
        return {requested.get(), {}};
    }
    const auto request = to.chatRequests.back();
    EXPECT_EQ(request.userId, from.account.userId);
    EXPECT_EQ(request.address.address, htonl(INADDR_LOOPBACK));
    ChatAnswerer answerer(toFiles, IncomingChatRequest::From(request));
    auto answered = answerer.Answer(accept, reply);
    return {requested.get(), std::move(answered)};
}

TEST_F(EndToEnd, ChatThroughTheServerWithBothChatFilesAndADenial) {
    auto alice = Client("Alice");
    auto bob = Client("Bob");
    ASSERT_TRUE(alice->ConnectAndWait());
    ASSERT_TRUE(bob->ConnectAndWait());
    AccountChatFiles aliceChats(alice->account.userId), bobChats(bob->account.userId);

    auto links = RequestChat(loop, *alice, aliceChats, *bob, bobChats, true, "ok");
    ASSERT_TRUE(links.asked.link && links.answered.link)
        << links.asked.failure << links.answered.failure;
    testing::RecordingChatEvents aliceEvents, bobEvents;
    ChatSession aliceChat(std::move(*links.asked.link), aliceChats, "Alice", "Bob", aliceEvents);
    ChatSession bobChat(std::move(*links.answered.link), bobChats, "Bob", "Alice", bobEvents);
    aliceChat.Start();
    bobChat.Start();
    EXPECT_EQ(aliceChat.Send("hi Bob").status, ChatSendResult::Status::Sent);
    ASSERT_TRUE(bobEvents.WaitFor([&] { return bobEvents.Lines().size() == 1; }));
    EXPECT_EQ(bobChat.Send("hi Alice").status, ChatSendResult::Status::Sent);
    ASSERT_TRUE(aliceEvents.WaitFor([&] { return aliceEvents.Lines().size() == 2; }));
    bobChat.Close();
    ASSERT_TRUE(aliceEvents.WaitFor([&] { return !aliceEvents.Left().empty(); }));
    EXPECT_EQ(aliceEvents.Left(), "Bob has quit.");
    aliceChat.Close();

    const std::string transcript = "Alice: hi Bob\r\nBob: hi Alice\r\n";
    const auto aliceFiles = testing::StoredChats(alice->account.userId, bob->account.userId);
    const auto bobFiles = testing::StoredChats(bob->account.userId, alice->account.userId);
    ASSERT_EQ(aliceFiles.size(), 1u);
    ASSERT_EQ(bobFiles.size(), 1u);
    for (const auto* chat : {&aliceFiles[0], &bobFiles[0]}) {
        EXPECT_TRUE(chat->header.accepted);
        EXPECT_EQ(chat->header.requestText, "chat?");
        EXPECT_EQ(chat->transcript, transcript);
    }
    EXPECT_EQ(aliceFiles[0].header.direction, data::ChatDirection::Sent);
    EXPECT_EQ(bobFiles[0].header.direction, data::ChatDirection::Received);

    links = RequestChat(loop, *alice, aliceChats, *bob, bobChats, false, "");
    EXPECT_FALSE(links.asked.link);
    EXPECT_EQ(links.asked.failure,
              "Your request is not accepted due to the following reason:\n\nNo reason given");
    for (const auto& chats : {testing::StoredChats(alice->account.userId, bob->account.userId),
                              testing::StoredChats(bob->account.userId, alice->account.userId)}) {
        ASSERT_EQ(chats.size(), 2u);
        EXPECT_EQ(std::count_if(chats.begin(), chats.end(),
                                [](const auto& chat) { return !chat.header.accepted; }),
                  1);
    }
}

// Offers `file` from `from` to `to`; `answer` plays the receiving window.
TransferResult OfferFile(EventLoop& loop, EngineClient& from, TransferRecords& records,
                         EngineClient& to, const fs::path& file,
                         const std::function<TransferResult(const protocol::FileRequest&)>& answer,
                         TransferResult* received = nullptr) {
    const auto before = to.fileRequests.size();
    FileSender sender(*from.session, records, to.account.userId);
    EXPECT_FALSE(sender.Open(file));
    auto sending = std::async(std::launch::async, [&] { return sender.Run({}, "read me"); });
    if (!loop.RunUntil([&] { return to.fileRequests.size() > before; }, 10s)) {
        sender.Cancel();
        return sending.get();
    }
    const auto result = answer(to.fileRequests.back());
    if (received) {
        *received = result;
    }
    return sending.get();
}

TEST_F(EndToEnd, FileTransfersThroughTheServerRecordedOnBothSides) {
    auto alice = Client("Alice");
    auto bob = Client("Bob");
    ASSERT_TRUE(alice->ConnectAndWait());
    ASSERT_TRUE(bob->ConnectAndWait());
    AccountTransferRecords aliceRecords(alice->account.userId), bobRecords(bob->account.userId);
    TempFolder folder("tlv-e2e-file");
    const auto file = folder.Path() / "notes.txt";
    std::ofstream(file) << "some notes";
    FileReceiveOptions options{1, 1, true, folder.Path() / "in"};
    struct NoDialog : SavePrompt {
        std::optional<fs::path> AskSavePath(const fs::path&) override { return std::nullopt; }
    } noDialog;

    TransferResult received;
    const auto sent = OfferFile(
        loop, *alice, aliceRecords, *bob, file,
        [&](const protocol::FileRequest& request) {
            FileReceiver receiver(bobRecords, options, FileOffer::From(request));
            const auto target = receiver.ChooseTarget(noDialog);
            EXPECT_EQ(target, folder.Path() / "in" / alice->account.userId / "notes.txt");
            EXPECT_FALSE(receiver.OpenTarget(*target));
            return receiver.Receive({});
        },
        &received);
    EXPECT_EQ(sent.end, TransferResult::End::Done) << sent.reason;
    EXPECT_EQ(received.end, TransferResult::End::Done) << received.reason;
    EXPECT_EQ(testing::TransferKey(sent.record, "Status"), "Done");
    EXPECT_EQ(testing::TransferKey(received.record, "Status"), "Done");
    EXPECT_EQ(testing::TransferKey(received.record, "Description"), "read me");
    EXPECT_EQ(testing::TransferKey(received.record, "Saved As"),
              (folder.Path() / "in" / alice->account.userId / "notes.txt").string());

    const auto refused = OfferFile(
        loop, *alice, aliceRecords, *bob, file,
        [&](const protocol::FileRequest& request) {
            FileReceiver receiver(bobRecords, options, FileOffer::From(request));
            return receiver.Refuse();
        },
        &received);
    EXPECT_EQ(refused.end, TransferResult::End::Refused);
    EXPECT_EQ(refused.reason, "Failed: Your request is not accepted");
    EXPECT_EQ(testing::TransferKey(refused.record, "Accepted"), "0");
    EXPECT_EQ(testing::TransferKey(refused.record, "Status"),
              "Failed: Your request is not accepted");
    EXPECT_EQ(testing::TransferKey(received.record, "Accepted"), "0");
    EXPECT_EQ(testing::TransferKey(received.record, "Type"), "1");

    // The receiver never answers; closing the "Send File" window cancels.
    FileSender waiting(*alice->session, aliceRecords, bob->account.userId);
    ASSERT_FALSE(waiting.Open(file));
    const auto before = bob->fileRequests.size();
    auto pending = std::async(std::launch::async, [&] { return waiting.Run({}, ""); });
    ASSERT_TRUE(loop.RunUntil([&] { return bob->fileRequests.size() > before; }, 10s));
    waiting.Cancel();
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
    const auto cancelled = pending.get();
    EXPECT_EQ(cancelled.end, TransferResult::End::Canceled);
    EXPECT_EQ(testing::TransferKey(cancelled.record, "Status"), "Canceled");

    bob->DisconnectAndWait();
    FileSender toOffline(*alice->session, aliceRecords, bob->account.userId);
    ASSERT_FALSE(toOffline.Open(file));
    const auto offline = toOffline.Run({}, "");
    EXPECT_EQ(offline.reason, "Failed: User is not on-line");
    EXPECT_EQ(testing::TransferKey(offline.record, "Status"), "Failed: User is not on-line");
    EXPECT_EQ(data::ListTransferRecords(alice->account.userId, bob->account.userId).size(), 4u);
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
