#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

#include "talvorine/mailpoll/testing/scripted_pop3_peer.h"
#include "talvorine/mailpoll/ui/dlg_mail_account.h"
#include "talvorine/mailpoll/ui/dlg_mail_list.h"
#include "talvorine/mailpoll/ui/dlg_post_sentry.h"
#include "talvorine/mailpoll/ui/post_sentry_app.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/testing/qt_test_support.h"
#include "temp_registry.h"

namespace talvorine::mailpoll::ui {
namespace {

using namespace std::chrono_literals;
using mailpoll::testing::MakeMessage;
using mailpoll::testing::ScriptedPop3Peer;
using talvorine::testing::AnswerBoxes;
using talvorine::testing::PumpUntil;

std::vector<mailpoll::testing::PeerMessage> Messages(int count) {
    std::vector<mailpoll::testing::PeerMessage> messages;
    for (int i = 1; i <= count; ++i) {
        messages.push_back(MakeMessage("<s" + std::to_string(i) + "@example.org>",
                                       "Subject " + std::to_string(i), "Mon, 1 Jan 2024",
                                       static_cast<std::uint32_t>(1024 * i + 512)));
    }
    return messages;
}

MailAccount AccountFor(const ScriptedPop3Peer& peer, std::string title = "Home") {
    return {std::move(title), "127.0.0.1", "user", "secret", peer.Port(), 30};
}

// The client's channel is one per desktop; another test may hold it for a moment.
platform::ChannelListener HoldClientChannel() {
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (auto listener = platform::ChannelListener::TryCreate(ClientChannelName(),
                                                                 platform::PeerPolicy::SameUser)) {
            return std::move(*listener);
        }
        std::this_thread::sleep_for(100ms);
    }
    throw std::runtime_error("the client's channel stays taken");
}

std::string UniqueChannel(const char* what) {
    return std::string("mailpoll-test ") + what + " " + std::to_string(::getpid());
}

class WindowsTest : public ::testing::Test {
protected:
    mailpoll::testing::TempRegistry m_registry;
};

// The account editor, with "Home" already in the list.
class AccountEditorTest : public WindowsTest {
protected:
    struct NoObserver : CheckObserver {
        void StatusChanged(std::size_t) override {}
        void CountChanged(std::size_t) override {}
        void CheckFinished(std::size_t) override {}
        void HeaderFetched(std::size_t, const MailHeaderItem&) override {}
    } m_observer;
    MailChecker m_checker{m_observer};

    void SetUp() override { m_checker.Add({"Home", "pop.example.org", "ann", "", 110, 60}); }

    // Fills the editor, presses OK and returns the refusal shown (empty when accepted).
    QString Refusal(CDlgMailAccount& editor, const QString& title, const QString& server,
                    const QString& account) {
        editor.findChild<QLineEdit*>("title")->setText(title);
        editor.findChild<QLineEdit*>("server")->setText(server);
        editor.findChild<QLineEdit*>("account")->setText(account);
        const auto boxes = AnswerBoxes([&editor] { editor.accept(); });
        if (boxes.empty()) {
            EXPECT_EQ(editor.result(), QDialog::Accepted);
            return {};
        }
        EXPECT_EQ(boxes.front().icon, QMessageBox::Warning);
        EXPECT_NE(editor.result(), QDialog::Accepted);
        return boxes.front().text;
    }
};

TEST_F(AccountEditorTest, RefusesEmptyFieldsAndTakenTitles) {
    CDlgMailAccount editor(m_checker, std::nullopt);
    EXPECT_EQ(editor.findChild<QSpinBox*>("port")->value(), 110);
    EXPECT_EQ(editor.findChild<QSpinBox*>("timeout")->value(), 60);
    EXPECT_EQ(Refusal(editor, "  ", "pop", "ann"), "Please input a valid title");
    EXPECT_EQ(Refusal(editor, "Work", " \t", "ann"), "Please input a valid server address");
    EXPECT_EQ(Refusal(editor, "Work", "pop", ""), "Please input a valid account name");
    EXPECT_EQ(Refusal(editor, "hOME", "pop", "ann"), "A account already exists with same title");
    editor.findChild<QLineEdit*>("password")
        ->setText(QString::fromUtf8(
            "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"));
    EXPECT_EQ(Refusal(editor, "Work", "pop", "ann"), "The password can be at most 16 bytes long");
    editor.findChild<QLineEdit*>("password")->setText("sixteen-chars-pw");
    EXPECT_EQ(Refusal(editor, " Work ", " pop ", "ann"), "");
    EXPECT_EQ(editor.Account().password, "sixteen-chars-pw");
    const MailAccount account = editor.Account();
    EXPECT_EQ(account.title, "Work");
    EXPECT_EQ(account.server, "pop");
    EXPECT_EQ(account.port, 110);
}

TEST_F(AccountEditorTest, EditingKeepsItsOwnTitle) {
    CDlgMailAccount editor(m_checker, 0);
    EXPECT_EQ(editor.findChild<QLineEdit*>("server")->text(), "pop.example.org");
    EXPECT_EQ(Refusal(editor, "HOME", "pop.example.org", "ann"), "");
}

TEST_F(WindowsTest, MainWindowRefusesChangesWhileChecking) {
    mailpoll::testing::PeerScript script;
    script.silent = {"STAT"};
    ScriptedPop3Peer peer(Messages(1), script);
    CDlgPostSentry window(MailStore(), {false, 15, false}, {AccountFor(peer)},
                          UniqueChannel("client"));
    auto* list = window.findChild<QTreeWidget*>("accountList");
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->headerItem()->text(0), "Title");
    EXPECT_EQ(list->headerItem()->text(1), "Count");
    EXPECT_EQ(list->headerItem()->text(2), "Status");
    list->setCurrentItem(list->topLevelItem(0));

    window.CheckAll();
    ASSERT_TRUE(window.Checker().IsRunning(0));
    EXPECT_EQ(list->topLevelItem(0)->text(1), "?");
    const auto texts = [](const std::vector<talvorine::testing::CaughtBox>& boxes) {
        return boxes.empty() ? QString() : boxes.front().text;
    };
    EXPECT_EQ(texts(AnswerBoxes([&] { window.NewAccount(); })),
              "You can not add new account while doing checking");
    EXPECT_EQ(texts(AnswerBoxes([&] { window.DeleteAccount(); })),
              "You can not delete an account while doing checking");
    EXPECT_EQ(texts(AnswerBoxes([&] { window.MoveAccount(false); })),
              "You can not move an account while doing checking");
    const auto asked = AnswerBoxes([&] { window.CheckAccount(0); }, QMessageBox::No);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked.front().icon, QMessageBox::Question);
    EXPECT_EQ(asked.front().text,
              "A checking for account 'Home' is already running.\nDo you want to restart the "
              "checking?");
    EXPECT_TRUE(window.Checker().IsRunning(0));  // "No" leaves it running
}

TEST_F(WindowsTest, DeleteAskedAndSavedOnHide) {
    CDlgPostSentry window(MailStore(), {true, 20, false},
                          {{"Home", "h", "a", "pw", 110, 60}, {"Work", "w", "b", "", 110, 60}},
                          UniqueChannel("client"));
    auto* list = window.findChild<QTreeWidget*>("accountList");
    list->setCurrentItem(list->topLevelItem(0));
    const auto kept = AnswerBoxes([&] { window.DeleteAccount(); }, QMessageBox::No);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept.front().text, "Are you sure to delete this account permanently?");
    EXPECT_EQ(window.Checker().Size(), 2u);
    AnswerBoxes([&] { window.DeleteAccount(); }, QMessageBox::Yes);
    ASSERT_EQ(window.Checker().Size(), 1u);
    window.findChild<QSpinBox*>("interval")->setValue(45);
    window.show();
    window.hide();
    const MailStore store;
    EXPECT_EQ(store.LoadSettings().intervalMinutes, 45u);
    const auto accounts = store.LoadAccounts();
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].title, "Work");
}

TEST_F(WindowsTest, TakingOverOptionsRestartsOrStopsTheTimer) {
    CDlgPostSentry window(MailStore(), {true, 15, false}, {}, UniqueChannel("client"));
    auto* timer = window.findChild<QTimer*>("checkTimer");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 15 * 60000);
    window.show();
    window.findChild<QCheckBox*>("autoCheck")->setChecked(false);
    window.hide();  // hiding takes the options over
    EXPECT_FALSE(timer->isActive());
    window.show();
    window.findChild<QCheckBox*>("autoCheck")->setChecked(true);
    window.findChild<QSpinBox*>("interval")->setValue(20);
    window.close();  // closing hides the window and takes them over too
    EXPECT_TRUE(window.isHidden());
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 20 * 60000);
    EXPECT_EQ(MailStore().LoadSettings(), (PostSentrySettings{true, 20, false}));
}

TEST_F(WindowsTest, MailFoundWhileHiddenIsAnnouncedEveryTime) {
    ScriptedPop3Peer peer(Messages(2));
    auto client = HoldClientChannel();
    CDlgPostSentry window(MailStore(), {false, 15, false}, {AccountFor(peer)});
    ASSERT_TRUE(window.isHidden());
    for (int round = 0; round < 2; ++round) {
        window.CheckAll();
        ASSERT_TRUE(PumpUntil([&] { return !window.Checker().AnyRunning(); }));
        EXPECT_EQ(window.findChild<QTreeWidget*>("accountList")->topLevelItem(0)->text(1), "2");
        EXPECT_EQ(client.WaitLine(5s), "3") << "round " << round;
    }
    // Shown and not minimised: no announcement.
    window.show();
    window.CheckAll();
    ASSERT_TRUE(PumpUntil([&] { return !window.Checker().AnyRunning(); }));
    EXPECT_EQ(client.WaitLine(300ms), std::nullopt);
}

TEST_F(WindowsTest, EmptyMailboxIsNotAnnouncedAndPopupShowsTheWindow) {
    ScriptedPop3Peer empty({});
    ScriptedPop3Peer full(Messages(1));
    auto client = HoldClientChannel();
    {
        CDlgPostSentry window(MailStore(), {false, 15, true}, {AccountFor(empty)});
        window.CheckAll();
        ASSERT_TRUE(PumpUntil([&] { return !window.Checker().AnyRunning(); }));
        EXPECT_EQ(window.Checker().Count(0), 0u);
        EXPECT_EQ(client.WaitLine(300ms), std::nullopt);
        EXPECT_TRUE(window.isHidden());
    }
    CDlgPostSentry window(MailStore(), {false, 15, true}, {AccountFor(full)});
    window.CheckAll();
    ASSERT_TRUE(PumpUntil([&] { return !window.Checker().AnyRunning(); }));
    EXPECT_EQ(client.WaitLine(5s), "3");
    EXPECT_TRUE(window.isVisible());
}

TEST_F(WindowsTest, MailListShowsNewestFirstAndDeletesAll) {
    ScriptedPop3Peer peer(Messages(3));
    CDlgMailList mailList(AccountFor(peer), {});
    auto* list = mailList.findChild<QTreeWidget*>("mailList");
    EXPECT_EQ(list->columnWidth(0), 150);
    // Sizes carry their unit; the column is as wide as they need.
    EXPECT_GE(list->columnWidth(2),
              list->fontMetrics().horizontalAdvance(QStringLiteral("99999.999 KB")));
    EXPECT_EQ(AnswerBoxes([&] { mailList.DeleteSelected(); }).at(0).text, "No mail selected");
    mailList.SetMessageCount(3);
    for (std::uint32_t number = 1; number <= 3; ++number) {
        mailList.AddHeader({number, "<s" + std::to_string(number) + "@example.org>", "S", "D",
                            1024 * number + 512});
    }
    EXPECT_EQ(mailList.findChild<QLabel*>("caption")->text(), "Retrieving 3/3");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "s3@example.org");
    EXPECT_EQ(list->topLevelItem(0)->text(2), "3.500 KB");
    EXPECT_EQ(list->topLevelItem(2)->text(2), "1.500 KB");
    EXPECT_EQ(CDlgMailList::ShownSize(0), "0.000 KB");
    EXPECT_EQ(CDlgMailList::ShownFrom("Ann <a@example.org>"), "Ann <a@example.org>");
    EXPECT_EQ(CDlgMailList::ShownFrom("<a> <b>"), "<a> <b>");

    mailList.DeleteAll();
    EXPECT_EQ(mailList.findChild<QPushButton*>("close")->text(), "&Cancel");
    ASSERT_TRUE(PumpUntil([&] { return !mailList.IsDeleting(); }));
    PumpUntil([&] { return mailList.findChild<QPushButton*>("close")->text() == "&Close"; }, 2s);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    std::vector<std::string> sent;
    for (const std::string& command : peer.Commands()) {
        if (command.starts_with("DELE") || command == "QUIT") {
            sent.push_back(command);
        }
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"DELE 3", "DELE 2", "DELE 1", "QUIT"}));
    EXPECT_EQ(mailList.findChild<QPushButton*>("close")->text(), "&Close");
}

TEST_F(WindowsTest, FromAndSubjectShareTheWindowWidthAndKeepTheUsersWidths) {
    ScriptedPop3Peer peer(Messages(1));
    CDlgMailList mailList(AccountFor(peer), {});
    auto* list = mailList.findChild<QTreeWidget*>("mailList");
    const auto widths = [list] {
        std::vector<int> result;
        for (int column = 0; column < 4; ++column) {
            result.push_back(list->columnWidth(column));
        }
        return result;
    };
    const auto fillsTheList = [&] {
        const auto now = widths();
        return now[0] + now[1] + now[2] + now[3] == list->viewport()->width();
    };
    mailList.show();
    PumpUntil([&] { return list->viewport()->width() > 0; }, 1s);
    const auto before = widths();
    EXPECT_TRUE(fillsTheList());
    mailList.resize(mailList.width() + 400, mailList.height());
    PumpUntil(fillsTheList, 1s);
    auto after = widths();
    EXPECT_TRUE(fillsTheList());
    EXPECT_NEAR(after[0] - before[0], 200, 2);  // From and Subject take the room half each
    EXPECT_NEAR(after[1] - before[1], 200, 2);
    EXPECT_EQ(after[2], before[2]);  // Size and Date keep their widths
    EXPECT_EQ(after[3], before[3]);

    // The user drags Date wider and Subject to twice the width of From: that stays.
    list->header()->resizeSection(3, 200);
    list->header()->resizeSection(1, 2 * after[0]);
    mailList.resize(mailList.width() - 100, mailList.height());
    PumpUntil(fillsTheList, 1s);
    after = widths();
    EXPECT_TRUE(fillsTheList());
    EXPECT_EQ(after[3], 200);
    EXPECT_NEAR(static_cast<double>(after[1]) / after[0], 2.0, 0.05);

    // However narrow the window, a sharing column stays readable.
    mailList.resize(200, mailList.height());
    PumpUntil([&] { return list->viewport()->width() < 300; }, 1s);
    EXPECT_GE(list->columnWidth(0), 40);
    EXPECT_GE(list->columnWidth(1), 40);
}

TEST_F(WindowsTest, DeletingSelectedGoesByTheListedNumbers) {
    ScriptedPop3Peer peer(Messages(5));
    CDlgMailList mailList(AccountFor(peer), {});
    // Only the first three headers arrived before the check stopped.
    for (std::uint32_t number = 1; number <= 3; ++number) {
        mailList.AddHeader({number, "f", "s", "d", 100});
    }
    auto* list = mailList.findChild<QTreeWidget*>("mailList");
    list->topLevelItem(0)->setSelected(true);  // message 3
    list->topLevelItem(2)->setSelected(true);  // message 1
    mailList.DeleteSelected();
    ASSERT_TRUE(PumpUntil([&] { return !mailList.IsDeleting(); }));
    std::vector<std::string> deletes;
    for (const std::string& command : peer.Commands()) {
        if (command.starts_with("DELE")) {
            deletes.push_back(command);
        }
    }
    EXPECT_EQ(deletes, (std::vector<std::string>{"DELE 3", "DELE 1"}));
    EXPECT_EQ(list->topLevelItemCount(), 1);
}

TEST_F(WindowsTest, WithoutEmbeddingTheProgramRefusesAndCreatesNoChannel) {
    const PostSentryChannels channels{UniqueChannel("poller"), UniqueChannel("client")};
    bool channelDuringBox = true;
    int result = -1;
    const auto boxes =
        AnswerBoxes([&] { result = RunPostSentry({}, channels); }, QMessageBox::Ok,
                    [&] { channelDuringBox = platform::ChannelExists(channels.poller); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes.front().text,
              "This program must be executed by Talvorine Messenger.\nClick OK to quit now.");
    EXPECT_EQ(boxes.front().icon, QMessageBox::Warning);
    EXPECT_FALSE(channelDuringBox);
    EXPECT_FALSE(platform::ChannelExists(channels.poller));
    EXPECT_EQ(result, 0);
}

TEST_F(WindowsTest, ClientMessagesShowAndClose) {
    const PostSentryChannels channels{UniqueChannel("poller"), UniqueChannel("client")};
    int result = -1;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(PumpUntil([&] { return platform::ChannelExists(channels.poller); }, 10s));
        CDlgPostSentry* window = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<CDlgPostSentry*>(widget)) {
                window = found;
            }
        }
        ASSERT_NE(window, nullptr);
        window->hide();
        EXPECT_TRUE(platform::SendChannelLine(channels.poller, "2"));
        EXPECT_TRUE(PumpUntil([window] { return window->isVisible(); }, 10s));
        EXPECT_TRUE(platform::SendChannelLine(channels.poller, "1"));
    });
    result = RunPostSentry({"-Embedding"}, channels);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(platform::ChannelExists(channels.poller));
}

}  // namespace
}  // namespace talvorine::mailpoll::ui

int main(int argc, char** argv) {
    // Test discovery runs this program outside CTest's environment too.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
