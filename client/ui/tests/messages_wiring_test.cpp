// The "Messages" windows joined to the main window: the contact menu and the unread opener
// open one per contact, a received message reaches the open window and pops up what the
// options say, and marking read in the window lowers the contact's unread mark.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
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

}  // namespace
}  // namespace talvorine::client::ui
