// The "Messages" windows joined to the main window: the contact menu and the unread opener
// open one per contact, a received message reaches the open window and pops up what the
// options say, and marking read in the window lowers the contact's unread mark.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "shell_test_support.h"
#include "talvorine/client/data/message_store.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/window_docker.h"
#include "talvorine/client/ui/messages/dlg_messages.h"
#include "talvorine/client/ui/shell/dlg_contact_list.h"
#include "talvorine/client/ui/shell/main_window_contacts.h"
#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/socket.h"
#include "talvorine/testing/qt_test_support.h"

#ifdef TALVORINE_WITH_SERVER_HARNESS
#include <QTextBrowser>
#include <future>

#include "engine_client.h"
#include "server_harness.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"
#endif

namespace talvorine::client::ui {
namespace {

using namespace std::chrono_literals;
using talvorine::testing::PumpUntil;
using testing::ClosedPort;
using testing::PrepareAccount;
using testing::ScriptedServices;
using testing::TempClientHome;

constexpr const char* AccountId = "00001234";
constexpr const char* FriendId = "00000777";

std::vector<std::uint8_t> Record(const std::string& text) {
    protocol::MessageRecord record;
    record.time = 1'700'000'000;
    record.brief = text;
    record.body = text;
    return record.Encode();
}

class MessagesWiringTest : public ::testing::Test {
protected:
    void SetUp() override {
        protocol::StartSockets();
        ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
        settings = data::ClientSettings::Defaults();
        settings.server = "127.0.0.1";
        settings.port = ClosedPort();
        settings.autoConnect = false;
        settings.windowAnimation = false;
        settings.markAsReadInterval = 30;
        window = std::make_unique<CDlgContactList>(services, settings, true);
        window->Start();
        ASSERT_TRUE(PumpUntil([&] { return !window->Session().Connecting(); }, 40s));
        ASSERT_TRUE(Bar().AddContact(0, FriendId, "Friend", "").ok);
        Bar().OpenGroup(0);
    }
    void TearDown() override {
        if (window && !window->ShutdownFinished()) {
            window->ExitNow();
            PumpUntil([&] { return window->ShutdownFinished(); });
        }
        window.reset();
    }
    contacts::CContactListBar& Bar() { return window->Contacts().Bar(); }
    CDlgMessages* Messages() { return window->Contacts().MessagesWindow(FriendId); }
    int Unread() {
        auto& list = window->ContactList();
        return list.Entry(*list.FindContact(FriendId))->unread.load();
    }
    // A message from the friend as the notification reader hands it over once stored.
    void Receive(const std::string& text) {
        const std::vector<std::uint8_t> record = Record(text);
        ASSERT_TRUE(data::StoreReceivedMessage(AccountId, FriendId, record));
        window->ContactList().IncrementUnread(FriendId);
        session::IncomingMessage message;
        message.senderId = FriendId;
        message.record = record;
        message.stored = true;
        emit window->messageReceived(message);
    }

    TempClientHome home{"messages"};
    ScriptedServices services;
    data::ClientSettings settings;
    std::unique_ptr<CDlgContactList> window;
};

TEST_F(MessagesWiringTest, MessageHistoryAndTheUnreadOpenerOpenOneWindowPerContact) {
    auto menu = Bar().BuildContactMenu(FriendId);
    QAction* history = nullptr;
    for (QAction* action : menu->findChildren<QAction*>()) {
        if (action->text() == "Message History...") {
            history = action;
        }
    }
    ASSERT_NE(history, nullptr);
    ASSERT_TRUE(history->isEnabled());
    history->trigger();
    CDlgMessages* opened = Messages();
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->windowTitle(), "Messages");
    EXPECT_EQ(opened->Tabs()->currentIndex(), 0);

    opened->ShowPage(MessagesPageKind::Sent);
    window->Contacts().OpenReceivedMessages(FriendId);  // found again, on its received page
    EXPECT_EQ(Messages(), opened);
    EXPECT_EQ(opened->Tabs()->currentIndex(), 0);
    EXPECT_TRUE(window->OpenNamed("sent-messages:00000777"));
    EXPECT_EQ(opened->Tabs()->currentIndex(), 1);

    // A message sent meanwhile is listed on the sent page.
    data::StoreSentMessage(AccountId, FriendId, Record("sent meanwhile"));
    window->Contacts().SentMessageStored(FriendId);
    CMessagesListPage* sent = opened->Page(MessagesPageKind::Sent);
    ASSERT_EQ(sent->List()->topLevelItemCount(), 1);
    EXPECT_EQ(sent->List()->topLevelItem(0)->text(0), "sent meanwhile");
}

TEST_F(MessagesWiringTest, ReplyOpensTheSendWindowAndClosesTheViewerAsTheOptionsSay) {
    Receive("question");
    window->Contacts().OpenMessageHistory(FriendId);
    auto* reply = Messages()->findChild<QPushButton*>("reply");
    ASSERT_NE(reply, nullptr);
    ASSERT_TRUE(reply->isEnabled());
    reply->click();
    EXPECT_NE(window->Contacts().SendWindows().Window(FriendId), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Messages() == nullptr; }, 5s));
    window->Contacts().SendWindows().CloseAll();

    std::vector<MessageReply> replies;
    window->Contacts().SetReplyOpener([&](const MessageReply& r) { replies.push_back(r); });
    window->Contacts().OpenMessageHistory(FriendId);
    reply = Messages()->findChild<QPushButton*>("reply");
    ASSERT_TRUE(reply->isEnabled());
    reply->click();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].contactId, FriendId);
    EXPECT_EQ(replies[0].nickname, "Friend");
    EXPECT_EQ(replies[0].plainText, "question");
    EXPECT_TRUE(replies[0].rtfText.empty());  // a plain message
    // "Close message viewer on reply" is on by default.
    EXPECT_TRUE(PumpUntil([&] { return Messages() == nullptr; }, 5s));
}

TEST_F(MessagesWiringTest, AReceivedMessageReachesTheOpenWindowAndReadingItLowersTheMark) {
    window->Contacts().OpenMessageHistory(FriendId);
    ASSERT_NE(Messages(), nullptr);
    Receive("first");
    Receive("second");
    CMessagesListPage* page = Messages()->Page(MessagesPageKind::Received);
    ASSERT_EQ(page->List()->topLevelItemCount(), 2);
    EXPECT_EQ(page->List()->topLevelItem(0)->text(0), "second");
    EXPECT_EQ(Unread(), 2);
    EXPECT_TRUE(Bar().HasUnread());

    page->List()->clearSelection();
    page->List()->topLevelItem(0)->setSelected(true);
    page->List()->topLevelItem(1)->setSelected(true);
    page->MarkSelected(true);
    EXPECT_EQ(Unread(), 0);
    EXPECT_FALSE(Bar().HasUnread());
}

TEST_F(MessagesWiringTest, TheOptionsDecideWhatPopsUp) {
    // Neither option: nothing opens and a hidden main window stays hidden.
    window->HideWindow();
    Receive("quiet");
    EXPECT_EQ(Messages(), nullptr);
    EXPECT_TRUE(window->isHidden());

    settings.autoPopup = true;
    Receive("list");
    EXPECT_EQ(Messages(), nullptr);
    EXPECT_FALSE(window->isHidden());

    settings.autoPopup = false;
    settings.popupViewer = true;
    window->HideWindow();
    Receive("viewer");
    ASSERT_NE(Messages(), nullptr);
    EXPECT_EQ(Messages()->Page(MessagesPageKind::Received)->List()->topLevelItemCount(), 3);
    EXPECT_TRUE(window->isHidden());
    Messages()->ShowPage(MessagesPageKind::Sent);
    Receive("again");  // brought to the front on its received page, with the main window
    EXPECT_EQ(Messages()->Tabs()->currentIndex(), 0);
    EXPECT_FALSE(window->isHidden());
    EXPECT_EQ(Messages()->Page(MessagesPageKind::Received)->List()->topLevelItemCount(), 4);

    // An automatic reply is listed but brings nothing up.
    Messages()->close();
    QApplication::processEvents();
    ASSERT_TRUE(PumpUntil([&] { return Messages() == nullptr; }, 5s));
    session::IncomingMessage reply;
    reply.kind = session::IncomingMessage::Kind::AutoReply;
    reply.senderId = FriendId;
    reply.record = Record("away");
    emit window->messageReceived(reply);
    EXPECT_EQ(Messages(), nullptr);
}

#ifdef TALVORINE_WITH_SERVER_HARNESS

// Account A in the main window, account B a second engine in this process that sends to A
// through the real server.
TEST(MessagesOnline, AFormattedMessageSoundsMarksUnreadPopsUpTheViewerAndAStorageFailureIsShown) {
    protocol::StartSockets();
    server::testing::ServerHarness server;
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    const auto a = session::RequestNewAccount({"127.0.0.1", server.Port()});
    const auto b = session::RequestNewAccount({"127.0.0.1", server.Port()});
    TempClientHome home{"messages-online"};  // after the harness, which sets its own registry
    ASSERT_TRUE(PrepareAccount(a.userId, a.password, "Alice"));
    ScriptedServices services;
    data::ClientSettings settings = data::ClientSettings::Defaults();
    settings.server = "127.0.0.1";
    settings.port = server.Port();
    settings.autoConnect = false;
    settings.windowAnimation = false;
    settings.popupViewer = true;
    settings.markAsReadInterval = 30;
    CDlgContactList window(services, settings, true);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return window.Session().Connected(); }, 20s));
    ASSERT_TRUE(window.Contacts().Bar().AddContact(0, b.userId, "Bob", "").ok);

    session::EventLoop loop;
    session::testing::EngineClient bob(loop, {b.userId, b.password, "Bob"},
                                       {"127.0.0.1", server.Port(), false, 5});
    ASSERT_TRUE(bob.ConnectAndWait());
    // Sent from a thread of its own: Alice's reader hands the message to this thread.
    const auto send = [&](const session::OutgoingMessage& message) {
        auto sent = std::async(std::launch::async, [&] {
            std::atomic<bool> closing{false};
            return bob.sender->SendTo({a.userId, "Alice"}, message, {}, closing);
        });
        PumpUntil([&] { return sent.wait_for(0ms) == std::future_status::ready; }, 30s);
        return sent.get();
    };

    QTextDocument document;
    QTextCursor cursor(&document);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    cursor.insertText(QStringLiteral("Meeting at "));
    cursor.insertText(QStringLiteral("ten"), bold);
    const auto sounds = [&] {
        return std::count(services.sounds.begin(), services.sounds.end(),
                          data::SoundEvent::IncomingMessage);
    };
    ASSERT_TRUE(send({"Meeting at ten", rtf::WriteRtf(document), true}).ok);
    ASSERT_TRUE(PumpUntil([&] { return window.Contacts().MessagesWindow(b.userId) != nullptr; }));
    EXPECT_EQ(sounds(), 1);
    EXPECT_EQ(window.Contacts().Bar().FirstUnreadContact(), b.userId);
    CMessagesListPage* page =
        window.Contacts().MessagesWindow(b.userId)->Page(MessagesPageKind::Received);
    ASSERT_EQ(page->List()->topLevelItemCount(), 1);
    EXPECT_EQ(page->List()->topLevelItem(0)->text(0), "Meeting at ten");
    EXPECT_EQ(page->Pane()->toPlainText(), "Meeting at ten");
    QTextCursor shown(page->Pane()->document());
    shown.setPosition(13);
    EXPECT_EQ(shown.charFormat().fontWeight(), QFont::Bold);

    // A store that cannot be written: the message is not lost silently, the user is told.
    const auto folder = data::ReceivedFolder(a.userId);
    ASSERT_TRUE(folder.has_value());
    std::filesystem::remove(*folder / (b.userId + ".dat"));
    std::filesystem::remove(*folder / (b.userId + ".idx"));
    std::filesystem::create_directories(*folder / (b.userId + ".dat"));
    const auto boxes = talvorine::testing::AnswerBoxes([&] {
        EXPECT_TRUE(send({"Lost?", "Lost?", false}).ok);
        PumpUntil([&] { return sounds() == 2 && QApplication::activeModalWidget() == nullptr; },
                  5s);
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith(
        "You have received a message, but the following error occured while saving the "
        "message:"));
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    window.ExitNow();
    PumpUntil([&] { return window.ShutdownFinished(); });
}

#endif

}  // namespace
}  // namespace talvorine::client::ui
