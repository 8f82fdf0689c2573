// The rules of the "Messages" window without its widgets, over real message stores.
#include <gtest/gtest.h>

#include <QTextDocument>
#include <filesystem>

#include "messages_test_support.h"
#include "talvorine/client/data/history_files.h"
#include "talvorine/client/ui/messages/incoming_popup.h"
#include "talvorine/client/ui/messages/messages_pane.h"

namespace talvorine::client::ui {
namespace {

using namespace testing;
using data::StoreKind;

class MessagesPageTest : public MessageStores {};

std::vector<std::string> Names(int from, int downTo) {
    std::vector<std::string> names;
    for (int i = from; i >= downTo; --i) {
        names.push_back("m" + std::to_string(i));
    }
    return names;
}

TEST_F(MessagesPageTest, ListsNewestFirstAPageAtATime) {
    AddMessages(450);
    MessagesPage page(Own, Peer, MessagesPageKind::Received, nullptr, nullptr);
    EXPECT_FALSE(page.Fill({}).has_value());
    EXPECT_EQ(page.StoreCount(), 450u);
    ASSERT_EQ(page.Rows().size(), MessagesPage::PageSize);
    EXPECT_EQ(page.Rows().front().brief, "m449");
    EXPECT_EQ(page.Rows().front().index, 449u);
    EXPECT_FALSE(page.Rows().front().read);
    EXPECT_EQ(page.Rows().front().timeText,
              data::FormatLocalTime(static_cast<std::time_t>(1'700'000'449)));
    ASSERT_TRUE(page.CanFetchMore());
    EXPECT_FALSE(page.FetchMore({}).has_value());
    EXPECT_FALSE(page.FetchMore({}).has_value());
    EXPECT_FALSE(page.CanFetchMore());
    EXPECT_EQ(RowBriefs(page), Names(449, 0));
}

TEST_F(MessagesPageTest, ADamagedRecordIsAskedAboutByItsNumberAndNoStopsListing) {
    {
        data::MessageStore store = Store();
        store.AppendMessage(std::vector<std::uint8_t>(30, 'x'));  // cannot be listed
        store.AppendMessage(PlainBody("good", 5));
    }
    std::vector<std::uint32_t> asked;
    MessagesPage page(Own, Peer, MessagesPageKind::Received, nullptr, nullptr);
    EXPECT_FALSE(page.Fill([&](std::uint32_t record) {
                         asked.push_back(record);
                         return true;
                     })
                     .has_value());
    EXPECT_EQ(asked, std::vector<std::uint32_t>{0});
    EXPECT_EQ(RowBriefs(page), std::vector<std::string>{"good"});

    EXPECT_EQ(page.Fill([](std::uint32_t) { return false; }), std::string(MessagesText::Canceled));
    EXPECT_TRUE(page.Rows().empty());
    EXPECT_FALSE(page.CanFetchMore());
}

TEST_F(MessagesPageTest, AHostileRecordWithoutNulsIsReadWithinItsLength) {
    // No NUL anywhere: neither the brief nor the text may run past the record.
    std::vector<std::uint8_t> body(300, 'A');
    body[4] = 0;      // plain text
    body[10] = '\n';  // a brief of several lines would make a row of several lines
    Store().AppendMessage(body);
    MessagesPage page(Own, Peer, MessagesPageKind::Received, nullptr, nullptr);
    ASSERT_FALSE(page.Fill({}).has_value());
    ASSERT_EQ(page.Rows().size(), 1u);
    EXPECT_EQ(page.Rows()[0].brief, std::string(5, 'A') + ' ' + std::string(25, 'A'));
    const MessagesPage::Shown shown = page.Read(0);
    ASSERT_TRUE(shown.message.has_value());
    EXPECT_EQ(shown.message->text, std::string(300 - 36, 'A'));
    EXPECT_TRUE(shown.unread);

    // The same directly on a body cut one byte after the text's start.
    const std::vector<std::uint8_t> shortest(37, 'B');
    const auto text = DecodeMessageText(shortest);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->text, "B");
    EXPECT_FALSE(DecodeMessageText(std::span(shortest).first(36)).has_value());
}

TEST_F(MessagesPageTest, ShortBodiesGiveEachPageItsOwnSizeText) {
    for (const StoreKind kind : {StoreKind::Received, StoreKind::Sent}) {
        {
            // 36 body bytes: listed, but not shown.
            std::vector<std::uint8_t> body(36, 0);
            body[5] = 'b';
            Store(kind).AppendMessage(body);
        }
        const bool received = kind == StoreKind::Received;
        MessagesPage page(Own, Peer, received ? MessagesPageKind::Received : MessagesPageKind::Sent,
                          nullptr, nullptr);
        ASSERT_FALSE(page.Fill({}).has_value());
        ASSERT_EQ(page.Rows().size(), 1u);
        const MessagesPage::Shown shown = page.Read(0);
        EXPECT_FALSE(shown.message.has_value());
        EXPECT_EQ(shown.error,
                  received ? MessagesText::ReceivedSizeError : MessagesText::SentSizeError);
    }
}

TEST_F(MessagesPageTest, DeletingSeveralRowsDeletesExactlyThoseMessagesAndCountsUnread) {
    AddMessages(8);
    {
        data::MessageStore store = Store();
        store.SetReadState(6, 1);  // "m6" has been read
    }
    CountingUnread unread(7);
    MessagesPage page(Own, Peer, MessagesPageKind::Received, nullptr, &unread);
    ASSERT_FALSE(page.Fill({}).has_value());
    // Rows: m7 m6 m5 m4 m3 m2 m1 m0; delete m6 (read), m4, m3 and m0, given in any order.
    const MessagesPage::Deleted deleted = page.Delete({7, 1, 4, 3, 4});
    EXPECT_FALSE(deleted.error.has_value());
    EXPECT_EQ(deleted.count, 4u);
    EXPECT_EQ(deleted.removed, (std::vector<std::size_t>{1, 2, 2, 4}));  // m6, m4, m3, m0
    EXPECT_EQ(unread.count, 4);                                          // three unread ones went
    EXPECT_EQ(StoredBriefs(), (std::vector<std::string>{"m1", "m2", "m5", "m7"}));
    EXPECT_EQ(RowBriefs(page), (std::vector<std::string>{"m7", "m5", "m2", "m1"}));
    EXPECT_EQ(deleted.select, 1);  // the row where the first deleted one was
    // Each row still reads its own message.
    for (std::size_t row = 0; row < page.Rows().size(); ++row) {
        const auto shown = page.Read(row);
        ASSERT_TRUE(shown.message.has_value());
        EXPECT_EQ(shown.message->text, page.Rows()[row].brief);
    }
    // The last rows gone: the new last row is selected; the count never goes below 0.
    unread.count = 0;
    const auto last = page.Delete({2, 3});
    EXPECT_EQ(last.select, 1);
    EXPECT_EQ(unread.count, 0);
    EXPECT_EQ(StoredBriefs(), (std::vector<std::string>{"m5", "m7"}));
}

TEST_F(MessagesPageTest, DeletingAfterPagingAndArrivalsKeepsPositionsRight) {
    AddMessages(250);
    MessagesPage page(Own, Peer, MessagesPageKind::Received, nullptr, nullptr);
    ASSERT_FALSE(page.Fill({}).has_value());   // m249 .. m50
    AddMessages(2, StoreKind::Received, 250);  // arrive while open
    EXPECT_EQ(page.TakeArrivals({}), 2u);
    EXPECT_EQ(page.Rows().front().brief, "m251");
    EXPECT_EQ(page.Delete({1, 5}).count, 2u);  // m250 and m246
    ASSERT_FALSE(page.FetchMore({}).has_value());
    EXPECT_EQ(page.Rows().back().brief, "m0");
    EXPECT_EQ(page.Delete({page.Rows().size() - 1}).count, 1u);  // m0, listed late
    std::vector<std::string> stored = StoredBriefs();
    EXPECT_EQ(stored.size(), 249u);
    EXPECT_EQ(stored.front(), "m1");
    EXPECT_EQ(std::count(stored.begin(), stored.end(), "m246"), 0);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), "m250"), 0);
    EXPECT_EQ(page.Rows().size(), stored.size());
}

TEST_F(MessagesPageTest, ReadStateChangesOnlyWhenItDiffersAndMovesTheUnreadCount) {
    AddMessages(2);
    CountingUnread unread(2);
    MessagesPage page(Own, Peer, MessagesPageKind::Received, nullptr, &unread);
    ASSERT_FALSE(page.Fill({}).has_value());
    EXPECT_FALSE(page.SetRead(0, true).has_value());
    EXPECT_FALSE(page.SetRead(0, true).has_value());
    EXPECT_EQ(unread.count, 1);
    EXPECT_TRUE(Store().IsRead(1));
    std::string error;
    EXPECT_EQ(page.IsRead(0, error), true);
    EXPECT_FALSE(page.SetRead(0, false).has_value());
    EXPECT_EQ(unread.count, 2);
    EXPECT_FALSE(Store().IsRead(1));
}

TEST_F(MessagesPageTest, CompactFreesDeadSpaceOrSaysNothingToDo) {
    AddMessages(3);
    MessagesPage page(Own, Peer, MessagesPageKind::Received, nullptr, nullptr);
    ASSERT_FALSE(page.Fill({}).has_value());
    const auto size = std::filesystem::file_size(page.Paths().data);
    const BoxText nothing = page.Compact();
    EXPECT_EQ(nothing.icon, BoxIcon::Warning);
    EXPECT_EQ(nothing.text, "Total file size  : " + std::to_string(size) +
                                " (bytes)\r\nWasted space size : 0 (bytes)\r\n\r\nNothing to do.");
    EXPECT_EQ(std::filesystem::file_size(page.Paths().data), size);

    const std::uint32_t length = Store().PayloadLength(1);
    ASSERT_EQ(page.Delete({1}).count, 1u);
    const BoxText freed = page.Compact();
    const std::string wasted = std::to_string(5 + length);
    EXPECT_EQ(freed.icon, BoxIcon::Information);
    EXPECT_EQ(freed.text, "Total file size  : " + std::to_string(size) +
                              " (bytes)\r\nWasted space size : " + wasted + " (bytes)\r\n\r\n" +
                              wasted + " bytes have been freed successfully.");
    EXPECT_EQ(std::filesystem::file_size(page.Paths().data), size - 5 - length);
    // The rows still read their messages after the rewrite.
    EXPECT_EQ(page.Read(1).message->text, "m0");

    // Past 2 GiB and 4 GiB the figures stay whole and positive.
    EXPECT_EQ(CompactBox(5'000'000'000ull, 2'500'000'000ull).text,
              "Total file size  : 5000000000 (bytes)\r\nWasted space size : 2500000000 "
              "(bytes)\r\n\r\n2500000000 bytes have been freed successfully.");
}

TEST_F(MessagesPageTest, AnUnreadableStoreIsReportedAsTextAndNothingChanges) {
    AddMessages(2);
    CountingUnread unread(2);
    MessagesPage page(Own, Peer, MessagesPageKind::Received, nullptr, &unread);
    ASSERT_FALSE(page.Fill({}).has_value());
    WriteText(page.Paths().data, std::string(64, 'Z'));
    const std::string illegal = data::IllegalStoreText(page.Paths().data);
    EXPECT_EQ(page.Read(0).error, "Failed to read this message:\r\n" + illegal);
    EXPECT_EQ(page.SetRead(0, true),
              "Failed to change read/unread state of this message:\r\n" + illegal);
    const MessagesPage::Deleted deleted = page.Delete({0, 1});
    EXPECT_EQ(deleted.error, "Failed to delete this message:\r\n" + illegal);
    EXPECT_EQ(deleted.count, 0u);
    EXPECT_EQ(page.Rows().size(), 2u);
    EXPECT_EQ(unread.count, 2);
    const auto error = page.Fill({});
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, data::IllegalStoreText(page.Paths().data));
    EXPECT_EQ(page.Compact().icon, BoxIcon::Error);
}

TEST(MessagesRules, MarkAsReadDelayIsTheIntervalPlusOneMillisecond) {
    EXPECT_EQ(MarkAsReadDelay(true, 0), 1);
    EXPECT_EQ(MarkAsReadDelay(true, 2), 2001);
    EXPECT_EQ(MarkAsReadDelay(false, 2), std::nullopt);
}

TEST(MessagesRules, LinksAreFoundAsTheRichEditFindsThemButOnlyWebAndMailOpen) {
    const auto links = FindLinks(QStringLiteral(
        "See https://a.example/x?y=1, (www.b.example) mailto:c@example.org file:///etc/passwd "
        "and ftp://d.example/f."));
    ASSERT_EQ(links.size(), 5u);
    EXPECT_EQ(links[0].url, QUrl(QStringLiteral("https://a.example/x?y=1")));
    EXPECT_EQ(links[0].start, 4);
    EXPECT_EQ(links[1].url, QUrl(QStringLiteral("http://www.b.example")));
    EXPECT_EQ(links[2].url, QUrl(QStringLiteral("mailto:c@example.org")));
    EXPECT_EQ(links[3].url, QUrl(QStringLiteral("file:///etc/passwd")));
    EXPECT_EQ(links[4].url, QUrl(QStringLiteral("ftp://d.example/f")));

    EXPECT_TRUE(IsOpenableLink(links[0].url));
    EXPECT_TRUE(IsOpenableLink(links[1].url));
    EXPECT_TRUE(IsOpenableLink(links[2].url));
    EXPECT_FALSE(IsOpenableLink(links[3].url));
    EXPECT_FALSE(IsOpenableLink(links[4].url));
    EXPECT_FALSE(IsOpenableLink(QUrl(QStringLiteral("javascript:alert(1)"))));
    EXPECT_FALSE(IsOpenableLink(QUrl(QStringLiteral("smb://host/share"))));
}

TEST(MessagesRules, IncomingMessagesPopUpAsTheSettingsSay) {
    IncomingSituation viewer{false, true, true, false, true, true};
    IncomingPopup popup = ChooseIncomingPopup(viewer);
    EXPECT_TRUE(popup.openViewer);
    EXPECT_FALSE(popup.showMain);  // a new viewer; the main window stays hidden
    viewer.viewerOpen = true;
    popup = ChooseIncomingPopup(viewer);
    EXPECT_TRUE(popup.openViewer);
    EXPECT_TRUE(popup.showMain);

    IncomingSituation list{false, false, true, false, true, true};
    popup = ChooseIncomingPopup(list);
    EXPECT_FALSE(popup.openViewer);
    EXPECT_TRUE(popup.showMain);
    list.mainHidden = false;
    EXPECT_FALSE(ChooseIncomingPopup(list).showMain);

    IncomingSituation reply{true, true, true, true, true, true};
    popup = ChooseIncomingPopup(reply);
    EXPECT_FALSE(popup.openViewer || popup.showMain);
}

}  // namespace
}  // namespace talvorine::client::ui
