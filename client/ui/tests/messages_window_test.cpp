// The "Messages" window offscreen over real message stores of a test account.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>

#include "messages_test_support.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/messages/dlg_messages.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui {
namespace {

using namespace testing;
using data::StoreKind;
using talvorine::testing::AnswerBoxes;
using talvorine::testing::PumpUntil;

class MessagesWindowTest : public MessageStores {
protected:
    MessagesWindowServices Services(int markInterval = 0, bool markAsRead = true) {
        MessagesWindowServices services;
        services.accountId = Own;
        services.contactId = Peer;
        services.nickname = "Bob";
        services.historyLock = &historyLock;
        services.unread = unread;
        services.settings = [=] {
            data::ClientSettings settings = data::ClientSettings::Defaults();
            settings.markAsRead = markAsRead;
            settings.markAsReadInterval = markInterval;
            settings.closeViewerOnReply = false;
            return settings;
        };
        services.reply = [this](const MessageReply& reply) { replies.push_back(reply); };
        services.openLink = [this](const QUrl& url) { opened.push_back(url); };
        return services;
    }

    static std::vector<std::string> Briefs(const QTreeWidget& list) {
        std::vector<std::string> briefs;
        for (int row = 0; row < list.topLevelItemCount(); ++row) {
            briefs.push_back(list.topLevelItem(row)->text(0).toStdString());
        }
        return briefs;
    }
    static bool Marked(const QTreeWidget& list, int row) {
        return !list.topLevelItem(row)->icon(0).isNull();
    }
    static QAction* Item(QMenu& menu, const char* name) {
        return menu.findChild<QAction*>(QString::fromLatin1(name));
    }

    std::mutex historyLock;
    std::shared_ptr<CountingUnread> unread = std::make_shared<CountingUnread>(0);
    std::vector<MessageReply> replies;
    std::vector<QUrl> opened;
};

TEST_F(MessagesWindowTest, OpensOnReceivedWithTheNewestSelectedAndItsFormattingShown) {
    AddMessages(2);
    Store().AppendMessage(FormattedBody(1'700'000'100));
    CDlgMessages window(Services(5));
    window.show();
    EXPECT_EQ(window.windowTitle(), "Messages");
    EXPECT_EQ(window.Tabs()->tabText(0), "Received");
    EXPECT_EQ(window.Tabs()->tabText(1), "Sent");
    EXPECT_EQ(window.Page(MessagesPageKind::Sent), nullptr);  // built when first selected
    CMessagesListPage* page = window.Page(MessagesPageKind::Received);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->List()->headerItem()->text(1), "Time");
    EXPECT_EQ(Briefs(*page->List()),
              (std::vector<std::string>{"Hello world red see https://ex", "m1", "m0"}));
    EXPECT_EQ(page->List()->currentItem(), page->List()->topLevelItem(0));
    EXPECT_TRUE(Marked(*page->List(), 0));
    EXPECT_TRUE(page->Pane()->isReadOnly());

    // The bold word is bold, the red one red, the link a link.
    QTextDocument* document = page->Pane()->document();
    EXPECT_EQ(document->toPlainText(), "Hello world red see https://example.org/x.");
    auto formatAt = [&](int position) {
        QTextCursor cursor(document);
        cursor.setPosition(position + 1);
        return cursor.charFormat();
    };
    EXPECT_EQ(formatAt(6).fontWeight(), QFont::Bold);                 // "world"
    EXPECT_NE(formatAt(0).fontWeight(), QFont::Bold);                 // "Hello"
    EXPECT_EQ(formatAt(12).foreground().color(), QColor(255, 0, 0));  // "red"
    EXPECT_EQ(formatAt(20).anchorHref(), "https://example.org/x");

    // A click on it opens it; a file: link that a sender wrote is not opened.
    emit page->Pane()->anchorClicked(QUrl(QStringLiteral("https://example.org/x")));
    emit page->Pane()->anchorClicked(QUrl(QStringLiteral("file:///etc/passwd")));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://example.org/x")));

    // Reply hands the shown message over for quoting.
    page->findChild<QPushButton*>("reply")->click();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].contactId, Peer);
    EXPECT_EQ(replies[0].plainText, "Hello world red see https://example.org/x.");
    EXPECT_FALSE(replies[0].rtfText.empty());
}

TEST_F(MessagesWindowTest, MarkAsReadWithIntervalZeroMarksOnceAndStops) {
    AddMessages(2);
    unread->count = 2;
    CDlgMessages window(Services(0));
    CMessagesListPage* page = window.Page(MessagesPageKind::Received);
    EXPECT_EQ(page->MarkTimer()->interval(), 1);
    EXPECT_TRUE(page->MarkTimer()->isSingleShot());
    ASSERT_TRUE(PumpUntil([&] { return Store().IsRead(1); }));
    EXPECT_FALSE(page->MarkTimer()->isActive());  // not firing a thousand times a second
    EXPECT_FALSE(Marked(*page->List(), 0));
    EXPECT_EQ(unread->count, 1);

    // "Mark as unread" stays: no timer runs on to undo it.
    auto menu = page->BuildListMenu();
    ASSERT_EQ(Item(*menu, "markReadItem"), nullptr);
    Item(*menu, "markUnreadItem")->trigger();
    PumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(Store().IsRead(1));
    EXPECT_TRUE(Marked(*page->List(), 0));
    EXPECT_EQ(unread->count, 2);
    EXPECT_FALSE(page->MarkTimer()->isActive());
}

TEST_F(MessagesWindowTest, MarkAsReadWithIntervalTwoWaitsForTheIntervalAndMovesWithTheSelection) {
    AddMessages(2);
    CDlgMessages window(Services(2));
    CMessagesListPage* page = window.Page(MessagesPageKind::Received);
    EXPECT_EQ(page->MarkTimer()->interval(), 2001);
    EXPECT_TRUE(page->MarkTimer()->isActive());
    EXPECT_FALSE(Store().IsRead(1));
    // Another selection restarts it for that message; the first stays unread.
    page->List()->setCurrentItem(page->List()->topLevelItem(1));
    ASSERT_TRUE(PumpUntil([&] { return Store().IsRead(0); }, std::chrono::seconds(10)));
    EXPECT_FALSE(Store().IsRead(1));
    EXPECT_FALSE(page->MarkTimer()->isActive());

    // With "Mark as read" off no timer starts.
    CDlgMessages off(Services(0, false));
    EXPECT_FALSE(off.Page(MessagesPageKind::Received)->MarkTimer()->isActive());
}

TEST_F(MessagesWindowTest, DeletingSelectedRowsRemovesExactlyThoseMessages) {
    AddMessages(6);
    unread->count = 6;
    CDlgMessages window(Services(30));
    CMessagesListPage* page = window.Page(MessagesPageKind::Received);
    QTreeWidget* list = page->List();
    list->clearSelection();
    for (const int row : {1, 2, 4}) {  // m4, m3, m1
        list->topLevelItem(row)->setSelected(true);
    }
    page->findChild<QPushButton*>("delete")->click();
    EXPECT_EQ(Briefs(*list), (std::vector<std::string>{"m5", "m2", "m0"}));
    EXPECT_EQ(StoredBriefs(), (std::vector<std::string>{"m0", "m2", "m5"}));
    EXPECT_EQ(unread->count, 3);
    EXPECT_EQ(list->currentItem(), list->topLevelItem(1));  // where the first deleted row was
    EXPECT_EQ(page->Pane()->toPlainText(), "m2");
}

TEST_F(MessagesWindowTest, DeleteAllAsksAndEmptiesListPaneAndCount) {
    AddMessages(3);
    unread->count = 3;
    CDlgMessages window(Services(30));
    CMessagesListPage* page = window.Page(MessagesPageKind::Received);
    auto boxes = AnswerBoxes([&] { page->DeleteAll(); }, QMessageBox::No);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure to delete all messages?");
    EXPECT_EQ(page->List()->topLevelItemCount(), 3);

    AnswerBoxes([&] { page->DeleteAll(); }, QMessageBox::Yes);
    EXPECT_EQ(page->List()->topLevelItemCount(), 0);
    EXPECT_TRUE(page->Pane()->toPlainText().isEmpty());
    EXPECT_EQ(unread->count, 0);
    EXPECT_EQ(std::filesystem::file_size(page->Page().Paths().data), 38u);

    window.ShowPage(MessagesPageKind::Sent);
    boxes = AnswerBoxes([&] { window.Page(MessagesPageKind::Sent)->DeleteAll(); }, QMessageBox::No);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Are you sure to delete all sent messages?");
}

TEST_F(MessagesWindowTest, CompactShowsItsTwoTexts) {
    AddMessages(3);
    CDlgMessages window(Services(30));
    CMessagesListPage* page = window.Page(MessagesPageKind::Received);
    auto boxes = AnswerBoxes([&] { page->Compact(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.endsWith("Nothing to do."));
    EXPECT_TRUE(boxes[0].text.startsWith("Total file size  : "));
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);

    page->List()->setCurrentItem(page->List()->topLevelItem(1));
    page->DeleteSelected();
    boxes = AnswerBoxes([&] { page->Compact(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.endsWith("bytes have been freed successfully."));
    EXPECT_EQ(boxes[0].icon, QMessageBox::Information);
}

TEST_F(MessagesWindowTest, MessagesArrivingWhileOpenComeOnTopUnreadAndTheReaderKeepsHisMessage) {
    AddMessages(2);
    CDlgMessages window(Services(30));
    CMessagesListPage* page = window.Page(MessagesPageKind::Received);
    page->List()->setCurrentItem(page->List()->topLevelItem(1));  // reading "m0"
    AddMessages(2, StoreKind::Received, 2);
    window.MessageArrived();
    EXPECT_EQ(Briefs(*page->List()), (std::vector<std::string>{"m3", "m2", "m1", "m0"}));
    EXPECT_TRUE(Marked(*page->List(), 0));
    EXPECT_EQ(page->List()->currentItem()->text(0), "m0");
    EXPECT_EQ(page->Pane()->toPlainText(), "m0");
    window.MessageArrived();  // nothing new: nothing added
    EXPECT_EQ(page->List()->topLevelItemCount(), 4);
}

TEST_F(MessagesWindowTest, ContextMenusOfferWhatTheSelectionAllows) {
    AddMessages(2);
    AddMessages(1, StoreKind::Sent);
    CDlgMessages window(Services(30));
    CMessagesListPage* received = window.Page(MessagesPageKind::Received);
    auto menu = received->BuildListMenu();
    for (const char* name : {"replyItem", "deleteItem", "copyItem", "markReadItem"}) {
        ASSERT_NE(Item(*menu, name), nullptr) << name;
        EXPECT_TRUE(Item(*menu, name)->isEnabled()) << name;
    }
    EXPECT_EQ(Item(*menu, "markUnreadItem"), nullptr);
    received->List()->selectAll();
    menu = received->BuildListMenu();
    EXPECT_NE(Item(*menu, "markUnreadItem"), nullptr);  // several rows: both
    EXPECT_NE(Item(*menu, "markReadItem"), nullptr);
    received->List()->clearSelection();
    menu = received->BuildListMenu();
    EXPECT_FALSE(Item(*menu, "deleteItem")->isEnabled());
    EXPECT_EQ(Item(*menu, "markReadItem"), nullptr);

    auto pane = received->BuildPaneMenu();
    EXPECT_FALSE(Item(*pane, "copyTextItem")->isEnabled());
    received->Pane()->selectAll();
    pane = received->BuildPaneMenu();
    EXPECT_TRUE(Item(*pane, "copyTextItem")->isEnabled());

    window.ShowPage(MessagesPageKind::Sent);
    CMessagesListPage* sent = window.Page(MessagesPageKind::Sent);
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(window.Tabs()->currentWidget(), sent);
    EXPECT_EQ(sent->List()->headerItem()->text(1), "Date");
    EXPECT_EQ(sent->findChild<QPushButton*>("reply"), nullptr);
    EXPECT_FALSE(Marked(*sent->List(), 0));
    EXPECT_FALSE(sent->MarkTimer()->isActive());
    menu = sent->BuildListMenu();
    EXPECT_EQ(Item(*menu, "replyItem"), nullptr);
    EXPECT_EQ(Item(*menu, "markReadItem"), nullptr);
    EXPECT_NE(Item(*menu, "copyItem"), nullptr);
}

TEST_F(MessagesWindowTest, LayoutAndWordWrapAreKeptBetweenOpenings) {
    AddMessages(1);
    {
        CDlgMessages window(Services(30));
        CMessagesListPage* page = window.Page(MessagesPageKind::Received);
        EXPECT_EQ(page->Pane()->lineWrapMode(), QTextEdit::WidgetWidth);
        page->findChild<QCheckBox*>("wordWrap")->setChecked(false);
        EXPECT_EQ(page->Pane()->lineWrapMode(), QTextEdit::NoWrap);
        page->List()->setColumnWidth(0, 123);
    }
    const data::WindowSettings stored(data::WindowSection::ReceivedMessageHistory);
    EXPECT_FALSE(stored.GetBool("Word Wrap"));
    EXPECT_EQ(stored.GetDword("Col1"), 123u);
    CDlgMessages again(Services(30));
    EXPECT_EQ(again.Page(MessagesPageKind::Received)->Pane()->lineWrapMode(), QTextEdit::NoWrap);
}

}  // namespace
}  // namespace talvorine::client::ui
