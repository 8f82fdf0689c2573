// The "Send Message" window without a server: its rules (reply quotation, plain text and
// brief, links, result steps, remembered options) and the window offscreen (reply mode, the
// checks before sending, multiple mode, one window per recipient, formatting).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>

#include "engine_client.h"
#include "shell_test_support.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/messages/links.h"
#include "talvorine/client/ui/messages/send_message_windows.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui {
namespace {

using talvorine::testing::AnswerBoxes;
using talvorine::testing::CaughtBox;
using talvorine::testing::PumpUntil;
using namespace std::chrono_literals;

constexpr const char* Own = "00000100";
constexpr const char* Bob = "00000101";
constexpr const char* Carol = "00000102";

TEST(SendMessageRules, ReplyQuotesNonEmptyLinesUnderTheHeaderWithTheCaretAtTheTop) {
    QTextDocument document;
    document.setPlainText(QStringLiteral("Hello Alice\n\nSee you at 5\n"));
    EXPECT_EQ(QuoteForReply(document), 0);
    EXPECT_EQ(document.toPlainText().toStdString(),
              "\n\n> ---- original message ----\n> Hello Alice\n\n> See you at 5\n");

    // Rich text keeps its formatting behind the marks.
    QTextDocument rich;
    rtf::ReadRtf(R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0\b Bold line\b0\par plain\par})", rich);
    QuoteForReply(rich);
    const QTextBlock quoted = rich.findBlockByNumber(3);
    EXPECT_EQ(quoted.text().toStdString(), "> Bold line");
    EXPECT_TRUE(quoted.begin().fragment().charFormat().font().bold());
    EXPECT_FALSE(rich.findBlockByNumber(2).begin().fragment().charFormat().font().bold())
        << "the header is in the compose box's own format";
}

TEST(SendMessageRules, ComposedTextEndsLinesWithCrLfSoTheBriefIsTheFirstLine) {
    QTextDocument document;
    document.setPlainText(QStringLiteral("A first line that is longer than thirty bytes\nsecond"));
    const auto message = ComposedMessage(document);
    EXPECT_EQ(message.plainText, "A first line that is longer than thirty bytes\r\nsecond");
    EXPECT_TRUE(rtf::LooksLikeRtf(message.body));
    EXPECT_TRUE(message.richText);
    EXPECT_EQ(session::MakeBrief(message.plainText), "A first line that is longer th");
    document.setPlainText(QStringLiteral("Hi\nthere"));
    EXPECT_EQ(session::MakeBrief(ComposedMessage(document).plainText), "Hi");

    QTextDocument empty;
    EXPECT_TRUE(ComposedMessage(empty).plainText.empty());
    EXPECT_TRUE(ComposedMessage(empty).body.empty());
}

TEST(SendMessageRules, LinksAreFoundWithoutTheSentencesPunctuation) {
    const QString text = QStringLiteral(
        "See http://intranet.example/a?b=1. Or www.example.com, mail mailto:bob@example.com! "
        "Not this: example.com");
    const auto spans = FindLinks(text);
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(text.mid(spans[0].start, spans[0].length).toStdString(),
              "http://intranet.example/a?b=1");
    EXPECT_EQ(text.mid(spans[1].start, spans[1].length).toStdString(), "www.example.com");
    EXPECT_EQ(text.mid(spans[2].start, spans[2].length).toStdString(), "mailto:bob@example.com");
    EXPECT_TRUE(FindLinks(QStringLiteral("nothing here: http:// alone")).empty());
}

TEST(SendMessageRules, StepsAfterSendCloseOnSuccessAndShowFailuresOnlyWhenSomeoneWatches) {
    session::SendReport sent;
    sent.allSent = true;
    sent.outcomes.push_back({true, false, "", "history full", std::nullopt});
    auto steps = StepsAfterSend(sent, false, false, true);
    EXPECT_TRUE(steps.close);
    EXPECT_FALSE(steps.error);
    EXPECT_EQ(steps.historyWarnings, std::vector<std::string>{"history full"});

    session::SendReport failed;
    failed.errorText = "Failed to send message to Bob:\r\nUser is not online";
    failed.removedIds = {"00000555"};
    steps = StepsAfterSend(failed, false, false, true);
    EXPECT_FALSE(steps.close);
    EXPECT_EQ(steps.error, failed.errorText);
    EXPECT_TRUE(steps.restore);
    EXPECT_EQ(steps.removedIds, failed.removedIds);
    EXPECT_FALSE(StepsAfterSend(failed, false, false, false).restore);
    EXPECT_FALSE(StepsAfterSend(failed, true, false, true).error) << "the window is closing";
    EXPECT_FALSE(StepsAfterSend(failed, false, true, true).error) << "the client is quitting";
}

// A window over a session that never connects; `online` plays the connection's state.
class SendMessageWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine.AddContact(Bob, "Bob");
        engine.AddContact(Carol, "Carol");
        services.session = &*engine.session;
        services.contacts = &engine.list;
        services.connected = [this] { return online; };
        services.quitting = [] { return false; };
        services.minimizeOnSend = [this] { return minimize; };
        services.playSound = [this](int event) { sounds.push_back(event); };
        windows = std::make_unique<SendMessageWindows>(services);
    }
    void TearDown() override { windows.reset(); }

    // Sends from `window` and returns the boxes it showed.
    std::vector<CaughtBox> SendFrom(CDlgSendMessage& window) {
        return AnswerBoxes([&] { window.Send(); });
    }
    static void Type(CDlgSendMessage& window, const QString& text) {
        window.ComposeBox()->setPlainText(text);
    }

    testing::TempClientHome home{"send-message"};
    session::EventLoop loop;
    session::testing::EngineClient engine{loop, {Own, "pw", "Own"}, {"127.0.0.1", 1, false, 5}};
    SendMessageServices services;
    bool online = true;
    bool minimize = false;
    std::vector<int> sounds;
    std::unique_ptr<SendMessageWindows> windows;
};

TEST_F(SendMessageWindowTest, OpensOneWindowPerRecipientAndRefusesWhileOffline) {
    online = false;
    CDlgSendMessage* window = nullptr;
    auto boxes = AnswerBoxes([&] { window = windows->Open(Bob, "Bob"); });
    EXPECT_EQ(window, nullptr);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "You're not online now. Please connect to the server first.");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);

    online = true;
    window = windows->Open(Bob, "Bob");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Send Message");
    EXPECT_EQ(window->findChild<QLineEdit*>("id")->text(), Bob);
    EXPECT_EQ(window->findChild<QLineEdit*>("nickname")->text(), "Bob");
    EXPECT_EQ(window->ComposeBox()->document()->defaultFont().family(), "Courier New");
    EXPECT_EQ(window->ComposeBox()->document()->defaultFont().pointSize(), 10);
    Type(*window, QStringLiteral("draft"));
    // A reply to the same contact finds the open window and keeps the draft.
    EXPECT_EQ(windows->OpenReply(Bob, "Bob", "", "Hello"), window);
    EXPECT_EQ(window->ComposeBox()->toPlainText(), "draft");
    EXPECT_NE(windows->Open(Carol, "Carol"), window);

    // The connection went while the window was open: Send says so and sends nothing.
    online = false;
    boxes = SendFrom(*window);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "You're not online. Please connect to the server first.\n");
    EXPECT_FALSE(window->Sending());
}

TEST_F(SendMessageWindowTest, ReplyWindowQuotesTheOriginalAboveTheCaret) {
    CDlgSendMessage* window = windows->OpenReply(Bob, "Bob", "", "Lunch?\r\n\r\nAt noon");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Reply");
    EXPECT_EQ(window->ComposeBox()->toPlainText(),
              "\n\n> ---- original message ----\n> Lunch?\n\n> At noon");
    EXPECT_EQ(window->ComposeBox()->textCursor().position(), 0);

    // A rich-text original is read as RTF, not shown as its source.
    CDlgSendMessage* rich =
        windows->OpenReply(Carol, "Carol", R"({\rtf1\ansi\b Rich\b0\par})", "ignored");
    EXPECT_EQ(rich->ComposeBox()->toPlainText().toStdString(),
              "\n\n> ---- original message ----\n> Rich");
}

TEST_F(SendMessageWindowTest, EmptyAndOversizedMessagesAreRefusedBeforeAnythingIsSent) {
    CDlgSendMessage* window = windows->Open(Bob, "Bob");
    auto boxes = SendFrom(*window);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Can not send empty message.\n");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_FALSE(window->Sending());

    // The RTF of a text of n plain characters is a fixed frame plus n characters.
    const auto rtfLength = [&](int characters) {
        Type(*window, QString(characters, QLatin1Char('x')));
        return static_cast<int>(ComposedMessage(*window->ComposeBox()->document()).body.size());
    };
    const int frame = rtfLength(100) - 100;
    ASSERT_EQ(rtfLength(200), frame + 200) << "the frame must not depend on the text";

    rtfLength(32768 - frame);
    boxes = SendFrom(*window);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Message size (32768) exceeds limit (32767).\n");

    // The size check of old let these through, but the record could not hold them: the same
    // text names the record's real limit instead of cutting the message short.
    for (const int length : {32732, 32767}) {
        rtfLength(length - frame);
        boxes = SendFrom(*window);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text,
                  QStringLiteral("Message size (%1) exceeds limit (32731).\n").arg(length));
    }
    EXPECT_FALSE(window->Sending());
    EXPECT_TRUE(window->findChild<QPushButton*>("send")->isEnabled());
}

TEST_F(SendMessageWindowTest, MultipleModeShowsTheTreeIn196MorePixelsAndIsRemembered) {
    CDlgSendMessage* window = windows->Open(Bob, "Bob");
    ASSERT_FALSE(window->MultipleMode());
    EXPECT_FALSE(window->RecipientTree()->isVisible());
    const int single = window->width();

    window->findChild<QPushButton*>("multiple")->click();
    EXPECT_TRUE(window->MultipleMode());
    EXPECT_EQ(window->width(), single + 196);
    EXPECT_TRUE(window->RecipientTree()->isVisible());
    EXPECT_EQ(window->findChild<QLineEdit*>("id")->text(), "Multiple");
    EXPECT_EQ(window->findChild<QLineEdit*>("nickname")->text(), "Multiple");

    // Every group of the list, each contact with a cleared box and its number.
    QTreeWidget* tree = window->RecipientTree();
    ASSERT_EQ(tree->topLevelItemCount(), engine.list.GroupCount());
    QTreeWidgetItem* friends = tree->topLevelItem(0);
    ASSERT_EQ(friends->childCount(), 2);
    EXPECT_EQ(friends->child(0)->text(0), "Bob");
    EXPECT_EQ(friends->child(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(friends->child(1)->data(0, Qt::UserRole).toLongLong(), 102);
    EXPECT_TRUE(window->CheckRecipient(Carol, true));
    EXPECT_EQ(friends->child(1)->checkState(0), Qt::Checked);
    EXPECT_FALSE(window->CheckRecipient("00009999", true));

    window->ToggleMultiple();
    EXPECT_EQ(window->width(), single);
    EXPECT_EQ(window->findChild<QLineEdit*>("id")->text(), Bob);
    EXPECT_EQ(window->findChild<QLineEdit*>("nickname")->text(), "Bob");

    // Closed in multiple mode, the next window opens in it.
    window->ToggleMultiple();
    window->findChild<QCheckBox*>("wordWrap")->setChecked(false);
    window->close();
    EXPECT_TRUE(PumpUntil([&] { return windows->Window(Bob) == nullptr; }));
    const auto options = SendWindowOptions::Load();
    EXPECT_TRUE(options.multiple);
    EXPECT_FALSE(options.wordWrap);
    CDlgSendMessage* again = windows->Open(Bob, "Bob");
    EXPECT_TRUE(again->MultipleMode());
    EXPECT_EQ(again->findChild<QLineEdit*>("id")->text(), "Multiple");
    EXPECT_EQ(again->ComposeBox()->lineWrapMode(), QTextEdit::NoWrap);
}

// The session never logged in, so the sending thread fails at once: the failure path of a
// window minimised for sending.
TEST_F(SendMessageWindowTest, FailedSendRestoresTheWindowShowsTheReasonAndEnablesItAgain) {
    minimize = true;
    CDlgSendMessage* window = windows->Open(Bob, "Bob");
    Type(*window, QStringLiteral("hello"));
    bool minimisedWhileSending = false;
    const auto boxes = AnswerBoxes([&] {
        window->Send();
        minimisedWhileSending = window->isMinimized();
        EXPECT_FALSE(window->ComposeBox()->isEnabled());
        PumpUntil([&] { return window->ComposeBox()->isEnabled(); }, 40s);
    });
    EXPECT_TRUE(minimisedWhileSending);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("Failed to send message to Bob:\n"))
        << boxes[0].text.toStdString();
    EXPECT_EQ(boxes[0].icon, QMessageBox::Warning);
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(window->findChild<QPushButton*>("send")->isEnabled());
    EXPECT_TRUE(window->findChild<QCheckBox*>("prompt")->isEnabled());
    EXPECT_EQ(window->ComposeBox()->toPlainText(), "hello");
    EXPECT_TRUE(sounds.empty());
}

TEST_F(SendMessageWindowTest, ReopensWhereItWasClosed) {
    CDlgSendMessage* window = windows->Open(Bob, "Bob");
    window->setGeometry(120, 90, window->width() + 40, window->height() + 30);
    const QRect placed = window->geometry();
    window->close();
    ASSERT_TRUE(PumpUntil([&] { return windows->Window(Bob) == nullptr; }));
    EXPECT_EQ(windows->Open(Bob, "Bob")->geometry(), placed);
}

TEST_F(SendMessageWindowTest, OptionBoxesFollowEachOther) {
    CDlgSendMessage* window = windows->Open(Bob, "Bob");
    auto* offline = window->findChild<QCheckBox*>("sendOffline");
    auto* prompt = window->findChild<QCheckBox*>("prompt");
    auto* wrap = window->findChild<QCheckBox*>("wordWrap");
    EXPECT_TRUE(offline->isChecked());
    EXPECT_FALSE(prompt->isChecked());
    EXPECT_TRUE(prompt->isEnabled());
    offline->setChecked(false);
    EXPECT_FALSE(prompt->isEnabled());
    EXPECT_EQ(window->ComposeBox()->lineWrapMode(), QTextEdit::WidgetWidth);
    wrap->setChecked(false);
    EXPECT_EQ(window->ComposeBox()->lineWrapMode(), QTextEdit::NoWrap);
}

TEST_F(SendMessageWindowTest, FormattingOfTheSelectionTravelsInTheRtf) {
    CDlgSendMessage* window = windows->Open(Bob, "Bob");
    // Links are marked on screen only; they travel as the text they are.
    Type(*window, QStringLiteral("see http://intranet.example"));
    QApplication::processEvents();
    EXPECT_EQ(ComposedMessage(*window->ComposeBox()->document()).body.find("\\ul"),
              std::string::npos);

    Type(*window, QStringLiteral("plain BOLD"));
    QTextCursor cursor = window->ComposeBox()->textCursor();
    cursor.setPosition(6);
    cursor.setPosition(10, QTextCursor::KeepAnchor);
    window->ComposeBox()->setTextCursor(cursor);
    window->findChild<QPushButton*>("bold")->click();
    window->ToggleUnderline();
    QMenu* colours = window->findChild<QMenu*>("foregroundMenu");
    ASSERT_NE(colours, nullptr);
    QAction* red = nullptr;
    for (QAction* action : colours->actions()) {
        if (action->text() == "Red") {
            red = action;
        }
    }
    ASSERT_NE(red, nullptr);
    red->trigger();

    QTextDocument received;
    rtf::ReadRtf(ComposedMessage(*window->ComposeBox()->document()).body, received);
    QTextCursor probe(&received);
    probe.setPosition(2);
    EXPECT_FALSE(probe.charFormat().font().bold());
    probe.setPosition(8);
    EXPECT_TRUE(probe.charFormat().font().bold());
    EXPECT_TRUE(probe.charFormat().font().underline());
    EXPECT_EQ(probe.charFormat().foreground().color(), QColor(Qt::red));

    // "Automatic" takes the colour away again and leaves the rest of each run's format.
    cursor.setPosition(0);
    cursor.setPosition(10, QTextCursor::KeepAnchor);
    window->ComposeBox()->setTextCursor(cursor);
    colours->actions().back()->trigger();
    rtf::ReadRtf(ComposedMessage(*window->ComposeBox()->document()).body, received);
    probe = QTextCursor(&received);
    probe.setPosition(8);
    EXPECT_FALSE(probe.charFormat().hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_TRUE(probe.charFormat().font().bold());
    probe.setPosition(2);
    EXPECT_FALSE(probe.charFormat().font().bold())
        << ComposedMessage(*window->ComposeBox()->document()).body;
}

}  // namespace
}  // namespace talvorine::client::ui
