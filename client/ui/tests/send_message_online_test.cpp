// The "Send Message" window end to end with the real server: account A in the real main
// window sends, accounts B, C and D are client engines in this process. A formatted message
// to B online, to B offline (with the question, delivered at his next login), to B in N/A
// (refused), to B away (his away text kept as received), and to three recipients at once.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

#include "engine_client.h"
#include "server_harness.h"
#include "shell_test_support.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/data/message_store.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/window_docker.h"
#include "talvorine/client/ui/messages/send_message_windows.h"
#include "talvorine/client/ui/shell/dlg_contact_list.h"
#include "talvorine/client/ui/shell/main_window_contacts.h"
#include "talvorine/protocol/socket.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui {
namespace {

using namespace std::chrono_literals;
using protocol::OnlineStatus;
using session::testing::EngineClient;
using talvorine::testing::AnswerBoxes;
using talvorine::testing::CaughtBox;
using talvorine::testing::PumpUntil;
using testing::PrepareAccount;
using testing::ScriptedServices;
using testing::TempClientHome;

std::vector<protocol::MessageRecord> Stored(const std::string& account, data::StoreKind kind,
                                            const std::string& peer) {
    std::vector<protocol::MessageRecord> records;
    try {
        auto store = data::MessageStore::Open(account, kind, peer, data::StoreMode::Read, false);
        for (std::uint32_t i = 0; i < store.Count(); ++i) {
            const auto message = store.ReadMessage(i);
            EXPECT_EQ(message.header.readState, 0u);
            records.push_back(protocol::MessageRecord::Decode(message.body));
        }
    } catch (const std::exception&) {
        // No store yet: nothing stored.
    }
    return records;
}

QAction* FindAction(QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

class SendMessageOnline : public ::testing::Test {
protected:
    void SetUp() override {
        protocol::StartSockets();
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
        const session::AccountServer accounts{"127.0.0.1", server.Port()};
        a = session::RequestNewAccount(accounts);
        b = session::RequestNewAccount(accounts);
        c = session::RequestNewAccount(accounts);
        d = session::RequestNewAccount(accounts);
        // After the harness, which points the registry at its own folder.
        home = std::make_unique<TempClientHome>("send-online");
        ASSERT_TRUE(PrepareAccount(a.userId, a.password, "Alice"));
        settings = data::ClientSettings::Defaults();
        settings.server = "127.0.0.1";
        settings.port = server.Port();
        settings.autoConnect = false;
        settings.windowAnimation = false;
        settings.minimizeOnSend = false;
        window = std::make_unique<CDlgContactList>(services, settings, true);
        window->Start();
        ASSERT_TRUE(PumpUntil([&] { return window->Session().Connected(); }, 20s));
        auto& bar = window->Contacts().Bar();
        ASSERT_TRUE(bar.AddContact(0, b.userId, "Bob", "").ok);
        ASSERT_TRUE(bar.AddContact(0, c.userId, "Carol", "").ok);
        ASSERT_TRUE(bar.AddContact(0, d.userId, "Dave", "").ok);
        bar.OpenGroup(0);
        bob = Engine(b, "Bob");
        ASSERT_TRUE(bob->ConnectAndWait());
    }
    void TearDown() override {
        if (window && !window->ShutdownFinished()) {
            window->ExitNow();
            PumpUntil([&] { return window->ShutdownFinished(); });
        }
        window.reset();
        bob.reset();
        carol.reset();
        dave.reset();
    }

    std::unique_ptr<EngineClient> Engine(const protocol::AccountCredentials& account,
                                         const char* nickname) {
        return std::make_unique<EngineClient>(
            loop, session::Account{account.userId, account.password, nickname},
            session::NetworkSettings{"127.0.0.1", server.Port(), false, 5});
    }
    // "Message..." of the contact menu.
    CDlgSendMessage* OpenFromMenu(const std::string& id) {
        auto menu = window->Contacts().Bar().BuildContactMenu(id);
        QAction* action = FindAction(*menu, QStringLiteral("Message..."));
        EXPECT_TRUE(action != nullptr && action->isEnabled());
        if (action != nullptr) {
            action->trigger();
        }
        return window->Contacts().SendWindows().Window(id);
    }
    bool WaitClosed(const std::string& id) {
        return PumpUntil([&] { return window->Contacts().SendWindows().Window(id) == nullptr; },
                         40s);
    }
    // Sends and answers every box with `answer` until the window has closed or shows an error
    // again (its Send button enabled).
    std::vector<CaughtBox> SendAndWait(CDlgSendMessage* sending, const std::string& id,
                                       QMessageBox::StandardButton answer = QMessageBox::Yes) {
        return AnswerBoxes(
            [&] {
                sending->Send();
                PumpUntil(
                    [&] {
                        CDlgSendMessage* open = window->Contacts().SendWindows().Window(id);
                        return open == nullptr ||
                               (!open->Sending() &&
                                open->findChild<QPushButton*>("send")->isEnabled());
                    },
                    40s);
            },
            answer);
    }
    // The engine's status, once the server has it: Alice's status poll reports it.
    void SetStatus(EngineClient& engine, OnlineStatus status) {
        engine.session->SetStatus(status);
        auto& bar = window->Contacts().Bar();
        ASSERT_TRUE(PumpUntil(
            [&] {
                engine.loop.ProcessPending();
                bar.WakeStatusPoll();
                std::lock_guard lock(window->Session().Locks().list);
                const auto& list = window->ContactList();
                const auto position = list.FindContact(engine.account.userId);
                return position && list.Entry(*position)->status == static_cast<int>(status);
            },
            20s));
    }
    int Sounds(int event) const {
        return static_cast<int>(std::count(services.sounds.begin(), services.sounds.end(), event));
    }

    server::testing::ServerHarness server;
    protocol::AccountCredentials a, b, c, d;
    std::unique_ptr<TempClientHome> home;
    ScriptedServices services;
    data::ClientSettings settings;
    std::unique_ptr<CDlgContactList> window;
    session::EventLoop loop;
    std::unique_ptr<EngineClient> bob, carol, dave;
};

TEST_F(SendMessageOnline, FormattedMessageToOnlineOfflineNaAndAwayRecipient) {
    // Online: a formatted message, live.
    CDlgSendMessage* send = OpenFromMenu(b.userId);
    ASSERT_NE(send, nullptr);
    send->ComposeBox()->setPlainText(QStringLiteral("Hello Bob\nsecond line"));
    send->ComposeBox()->selectAll();
    send->ToggleBold();
    auto boxes = SendAndWait(send, b.userId);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();
    ASSERT_TRUE(WaitClosed(b.userId));
    EXPECT_EQ(Sounds(data::SoundEvent::MessageSent), 1);
    ASSERT_TRUE(bob->WaitForMessages(1));
    auto received = Stored(b.userId, data::StoreKind::Received, a.userId);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_TRUE(received[0].richText);
    EXPECT_EQ(received[0].brief, "Hello Bob");
    EXPECT_NE(received[0].body.find("\\b"), std::string::npos) << received[0].body;
    auto sent = Stored(a.userId, data::StoreKind::Sent, b.userId);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body, received[0].body);
    EXPECT_EQ(bob->Unread(a.userId), 1) << "Alice is a stranger to Bob, counted unread";

    // Offline, with the question: the message waits in the server for Bob's next login.
    bob->DisconnectAndWait();
    send = OpenFromMenu(b.userId);
    send->findChild<QCheckBox*>("prompt")->setChecked(true);
    send->ComposeBox()->setPlainText(QStringLiteral("While you were out"));
    boxes = SendAndWait(send, b.userId, QMessageBox::Yes);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Recipient 'Bob' is not online currently. You can send offline message to him/her. "
              "the recipient will receive the message as soon as he/she connects, regardless of "
              "whether or not you are online.\nSend offline message to 'Bob' now?");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Question);
    ASSERT_TRUE(WaitClosed(b.userId));
    EXPECT_EQ(Stored(a.userId, data::StoreKind::Sent, b.userId).size(), 2u);
    ASSERT_TRUE(bob->ConnectAndWait());
    ASSERT_TRUE(bob->WaitForMessages(2));
    EXPECT_EQ(bob->Messages()[1].kind, session::IncomingMessage::Kind::Offline);
    received = Stored(b.userId, data::StoreKind::Received, a.userId);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].brief, "While you were out");

    // Saying No to the question sends nothing and leaves the window as it was.
    bob->DisconnectAndWait();
    send = OpenFromMenu(b.userId);
    ASSERT_TRUE(send->findChild<QCheckBox*>("prompt")->isChecked()) << "the option is kept";
    send->ComposeBox()->setPlainText(QStringLiteral("Never mind"));
    boxes = SendAndWait(send, b.userId, QMessageBox::No);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Failed to send message to Bob:\nUser is not online");
    EXPECT_EQ(send->ComposeBox()->toPlainText(), "Never mind");
    EXPECT_TRUE(send->ComposeBox()->isEnabled());
    ASSERT_TRUE(bob->ConnectAndWait());

    // N/A: the server refuses, the window stays with its text.
    SetStatus(*bob, OnlineStatus::NotAvailable);
    send->ComposeBox()->setPlainText(QStringLiteral("Are you there?"));
    boxes = SendAndWait(send, b.userId);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Failed to send message to Bob:\n%1")
                                 .arg(ToQString(protocol::ReplyText::UserInNaMode)));
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(window->Contacts().SendWindows().Window(b.userId), send);
    EXPECT_TRUE(send->findChild<QPushButton*>("send")->isEnabled());
    EXPECT_EQ(Stored(a.userId, data::StoreKind::Sent, b.userId).size(), 2u);

    // Away: delivered, and Bob's away text comes back as a message received from him.
    SetStatus(*bob, OnlineStatus::Away);
    const int incomingSounds = Sounds(data::SoundEvent::IncomingMessage);
    boxes = SendAndWait(send, b.userId);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();
    ASSERT_TRUE(WaitClosed(b.userId));
    const auto replies = Stored(a.userId, data::StoreKind::Received, b.userId);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_FALSE(replies[0].richText);
    EXPECT_EQ(replies[0].body, bob->awayText);
    EXPECT_EQ(replies[0].brief, bob->awayText);
    EXPECT_EQ(window->Contacts().Bar().FirstUnreadContact(), b.userId);
    EXPECT_EQ(Sounds(data::SoundEvent::IncomingMessage), incomingSounds) << "no sound for it";
}

// Closed while its thread waits for the request connection: the window goes, the thread, let
// in later, cancels at the server, and nobody sees a failure or a message.
TEST_F(SendMessageOnline, ClosingWhileSendingCancelsSilently) {
    CDlgSendMessage* send = OpenFromMenu(b.userId);
    ASSERT_NE(send, nullptr);
    send->ComposeBox()->setPlainText(QStringLiteral("Too late"));
    auto& request = window->Session().Locks().request;
    request.lock();
    const auto boxes = AnswerBoxes([&] {
        send->Send();
        ASSERT_TRUE(send->Sending());
        // Let in while the closing window waits for its thread (serving its queue meanwhile).
        QTimer::singleShot(300, [&request] { request.unlock(); });
        send->close();
    });
    EXPECT_TRUE(boxes.empty());
    ASSERT_TRUE(WaitClosed(b.userId));
    EXPECT_TRUE(Stored(a.userId, data::StoreKind::Sent, b.userId).empty());

    // The server takes a cancel in place of the record as the end of the session; the
    // client logs in again.
    ASSERT_TRUE(PumpUntil([&] { return !window->Session().Connected(); }, 20s));
    ASSERT_TRUE(PumpUntil(
        [&] { return !window->Session().Connecting() && !window->Session().Disconnecting(); },
        20s));
    window->Connect();
    ASSERT_TRUE(PumpUntil([&] { return window->Session().Connected(); }, 20s));
    send = OpenFromMenu(b.userId);
    send->ComposeBox()->setPlainText(QStringLiteral("On time"));
    EXPECT_TRUE(SendAndWait(send, b.userId).empty());
    ASSERT_TRUE(bob->WaitForMessages(1));
    const auto received = Stored(b.userId, data::StoreKind::Received, a.userId);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].brief, "On time");
}

TEST_F(SendMessageOnline, ThreeRecipientsOneOfflineThenOneRefusedThenNone) {
    dave = Engine(d, "Dave");
    ASSERT_TRUE(dave->ConnectAndWait());
    CDlgSendMessage* send = OpenFromMenu(b.userId);
    ASSERT_NE(send, nullptr);
    send->SetMultipleMode(true);
    for (const auto* id : {&b.userId, &c.userId, &d.userId}) {
        ASSERT_TRUE(send->CheckRecipient(*id, true));
    }
    send->findChild<QCheckBox*>("prompt")->setChecked(false);
    send->ComposeBox()->setPlainText(QStringLiteral("Team meeting at ten"));
    auto boxes = SendAndWait(send, b.userId);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();
    ASSERT_TRUE(WaitClosed(b.userId));
    ASSERT_TRUE(bob->WaitForMessages(1));
    ASSERT_TRUE(dave->WaitForMessages(1));
    for (const auto* id : {&b.userId, &c.userId, &d.userId}) {
        EXPECT_EQ(Stored(a.userId, data::StoreKind::Sent, *id).size(), 1u) << *id;
    }
    carol = Engine(c, "Carol");
    ASSERT_TRUE(carol->ConnectAndWait());
    ASSERT_TRUE(carol->WaitForMessages(1));
    EXPECT_EQ(Stored(c.userId, data::StoreKind::Received, a.userId).size(), 1u);

    // Carol in N/A between two who receive: only she is listed, the others get the message.
    SetStatus(*carol, OnlineStatus::NotAvailable);
    send = OpenFromMenu(b.userId);
    ASSERT_TRUE(send->MultipleMode()) << "the mode is remembered";
    for (const auto* id : {&b.userId, &c.userId, &d.userId}) {
        send->CheckRecipient(*id, true);
    }
    send->ComposeBox()->setPlainText(QStringLiteral("Moved to eleven"));
    boxes = SendAndWait(send, b.userId);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              QStringLiteral("Failed to send message to these recipients:\nCarol (%1)")
                  .arg(ToQString(protocol::ReplyText::UserInNaMode)));
    ASSERT_TRUE(bob->WaitForMessages(2));
    ASSERT_TRUE(dave->WaitForMessages(2));
    EXPECT_EQ(Stored(c.userId, data::StoreKind::Received, a.userId).size(), 1u);

    // A contact deleted from the list meanwhile is skipped and taken out of the tree (the
    // window stays open on Carol's refusal, so its tree can be seen).
    {
        auto menu = window->Contacts().Bar().BuildContactMenu(d.userId);
        QAction* remove = FindAction(*menu, QStringLiteral("Delete User"));
        ASSERT_NE(remove, nullptr);
        AnswerBoxes([&] { remove->trigger(); }, QMessageBox::Yes);
        std::lock_guard lock(window->Session().Locks().list);
        ASSERT_FALSE(window->ContactList().FindContact(d.userId));
    }
    boxes = SendAndWait(send, b.userId);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(
        boxes[0].text.endsWith("\nCarol (" + ToQString(protocol::ReplyText::UserInNaMode) + ")"));
    ASSERT_TRUE(bob->WaitForMessages(3));
    EXPECT_FALSE(send->CheckRecipient(d.userId, true)) << "Dave is out of the tree";
    EXPECT_EQ(Stored(a.userId, data::StoreKind::Sent, d.userId).size(), 2u) << "not a third";

    SetStatus(*carol, OnlineStatus::Online);
    boxes = SendAndWait(send, b.userId);
    EXPECT_TRUE(boxes.empty());
    ASSERT_TRUE(WaitClosed(b.userId));
    EXPECT_EQ(Stored(a.userId, data::StoreKind::Sent, c.userId).size(), 2u);
    EXPECT_EQ(Stored(a.userId, data::StoreKind::Sent, b.userId).size(), 4u);

    // Nothing ticked.
    send = OpenFromMenu(b.userId);
    send->ComposeBox()->setPlainText(QStringLiteral("To nobody"));
    boxes = SendAndWait(send, b.userId);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "No recipients selected");
}

}  // namespace
}  // namespace talvorine::client::ui
