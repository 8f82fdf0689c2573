// Shows the "Messages" window with prepared messages in a real window, for
// scripts/screenshots.sh:
//   messages_gallery received|sent|menu-list|menu-pane|compact
// The messages live in a temporary client and registry folder of its own; the program ends by
// itself after 30 seconds or on SIGTERM.

#include <stdlib.h>

#include <QApplication>
#include <QColor>
#include <QMenu>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <mutex>

#include "dialog_test_support.h"
#include "talvorine/client/data/message_store.h"
#include "talvorine/client/ui/messages/dlg_messages.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"
#include "talvorine/protocol/catalogue.h"

using namespace talvorine::client;

namespace {

constexpr const char* Own = "10000001";
constexpr const char* Peer = "20000002";

std::vector<std::uint8_t> Body(const QTextDocument& document, std::uint32_t time) {
    talvorine::protocol::MessageRecord record;
    record.time = time;
    record.richText = true;
    record.brief = document.toPlainText().section(QLatin1Char('\n'), 0, 0).left(30).toStdString();
    record.body = talvorine::rtf::WriteRtf(document);
    return record.Encode();
}

std::vector<std::uint8_t> Formatted(std::uint32_t time) {
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextCharFormat plain;
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextCharFormat red;
    red.setForeground(QColor(192, 0, 0));
    QTextCharFormat italic;
    italic.setFontItalic(true);
    italic.setForeground(QColor(0, 0, 128));
    cursor.insertText(QStringLiteral("Hi Alice,"), plain);
    cursor.insertBlock();
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("The review moved to "), plain);
    cursor.insertText(QStringLiteral("Thursday 10:00"), bold);
    cursor.insertText(QStringLiteral(", room 4.12. The budget is "), plain);
    cursor.insertText(QStringLiteral("1,200 per head"), red);
    cursor.insertText(QStringLiteral(" - "), plain);
    cursor.insertText(QStringLiteral("please bring the figures"), italic);
    cursor.insertText(QStringLiteral("."), plain);
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("Agenda: https://intranet.example/review"), plain);
    cursor.insertBlock();
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("Bob"), plain);
    return Body(document, time);
}

std::vector<std::uint8_t> Plain(const char* text, std::uint32_t time) {
    QTextDocument document;
    document.setPlainText(QString::fromUtf8(text));
    return Body(document, time);
}

void Prepare() {
    using data::MessageStore;
    MessageStore received =
        MessageStore::Open(Own, data::StoreKind::Received, Peer, data::StoreMode::ReadWrite, true);
    const std::uint32_t day = 1'765'180'800;  // 2025-12-08
    received.AppendMessage(Plain("Lunch at noon?", day + 9 * 3600), 1);
    received.AppendMessage(Plain("The printer on floor 4 works again.", day + 10 * 3600), 1);
    received.AppendMessage(Plain("Call me when you are back.", day + 11 * 3600), 0);
    received.AppendMessage(Formatted(day + 12 * 3600), 0);
    received.Delete(1);  // leaves space for Compact to free
    MessageStore sent =
        MessageStore::Open(Own, data::StoreKind::Sent, Peer, data::StoreMode::ReadWrite, true);
    sent.AppendMessage(Plain("Yes, see you at noon.", day + 9 * 3600 + 120));
    sent.AppendMessage(Plain("Thanks, I will bring them.", day + 12 * 3600 + 300));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string scene = argc > 1 ? argv[1] : "received";
    const talvorine::client::ui::testing::TempClientHome home;

    QApplication application(argc, argv);

    talvorine::client::ui::testing::QuitOnTerminate(application);
    Prepare();
    std::mutex historyLock;
    ui::MessagesWindowServices services;
    services.accountId = Own;
    services.contactId = Peer;
    services.nickname = "Bob";
    services.historyLock = &historyLock;
    services.settings = [] {
        data::ClientSettings settings = data::ClientSettings::Defaults();
        settings.markAsRead = false;  // the picture keeps the unread marks
        return settings;
    };
    services.reply = [](const ui::MessageReply&) {};
    ui::CDlgMessages window(services);
    window.move(120, 60);
    window.show();
    if (scene == "sent") {
        window.ShowPage(ui::MessagesPageKind::Sent);
    }
    ui::CMessagesListPage* page = window.Page(ui::MessagesPageKind::Received);
    std::unique_ptr<QMenu> menu;
    QTimer::singleShot(300, [&] {
        if (scene == "menu-list") {
            QTreeWidget* list = page->List();
            menu = page->BuildListMenu();
            menu->popup(list->viewport()->mapToGlobal(
                list->visualItemRect(list->topLevelItem(0)).center()));
        } else if (scene == "menu-pane") {
            QTextBrowser* pane = page->Pane();
            QTextCursor cursor(pane->document());
            cursor.movePosition(QTextCursor::Down, QTextCursor::MoveAnchor, 2);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            pane->setTextCursor(cursor);
            menu = page->BuildPaneMenu();
            menu->popup(pane->viewport()->mapToGlobal(QPoint(120, 60)));
        } else if (scene == "compact") {
            page->Compact();
        }
    });
    // exit, not quit: quit closes the window first, which deletes itself on closing.
    QTimer::singleShot(30'000, &application, [] { QCoreApplication::exit(0); });
    const int status = application.exec();
    return status;
}
