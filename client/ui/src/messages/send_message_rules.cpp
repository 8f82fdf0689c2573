#include "talvorine/client/ui/messages/send_message_rules.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace talvorine::client::ui {

namespace {

constexpr std::string_view MultipleKey = "Multiple";
constexpr std::string_view SendOfflineKey = "Send Offline Message";
constexpr std::string_view PromptKey = "Prompt";
constexpr std::string_view WordWrapKey = "Word Wrap";

QString WithNewlines(std::string_view text) {
    QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

}  // namespace

SendWindowOptions SendWindowOptions::Load() {
    const data::WindowSettings section(data::WindowSection::SendMessage);
    SendWindowOptions options;
    options.multiple = section.GetDword(MultipleKey, 0) != 0;
    options.sendOffline = section.GetDword(SendOfflineKey, 1) != 0;
    options.prompt = section.GetDword(PromptKey, 0) != 0;
    options.wordWrap = section.GetDword(WordWrapKey, 1) != 0;
    return options;
}

void SendWindowOptions::Save() const {
    const data::WindowSettings section(data::WindowSection::SendMessage);
    section.SetBool(MultipleKey, multiple);
    section.SetBool(SendOfflineKey, sendOffline);
    section.SetBool(PromptKey, prompt);
    section.SetBool(WordWrapKey, wordWrap);
}

int QuoteForReply(QTextDocument& document) {
    const QString mark = WithNewlines(SendMessageText::QuoteMark);
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        // A block's length counts its closing separator: 1 is an empty line.
        if (block.length() > 1) {
            // The mark takes the format of the line's first character.
            QTextCursor start(block);
            start.insertText(mark, block.begin().fragment().charFormat());
        }
    }
    // The header takes the compose box's own format, not that of the quoted text.
    QTextCursor top(&document);
    top.movePosition(QTextCursor::Start);
    QTextCharFormat plain;
    plain.setFont(document.defaultFont());
    top.insertText(WithNewlines(SendMessageText::ReplyHeader), plain);
    cursor.endEditBlock();
    return 0;
}

std::string ComposedPlainText(const QTextDocument& document) {
    QString text = document.toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text.toStdString();
}

session::OutgoingMessage ComposedMessage(const QTextDocument& document) {
    session::OutgoingMessage message;
    message.plainText = ComposedPlainText(document);
    message.body = message.plainText.empty() ? std::string() : rtf::WriteRtf(document);
    message.richText = true;
    return message;
}

std::vector<RecipientGroup> RecipientGroupsOf(const data::ContactList& list) {
    std::vector<RecipientGroup> groups;
    for (int g = 0; g < list.GroupCount(); ++g) {
        const data::ContactGroup& group = list.Group(g);
        RecipientGroup row{group.name, {}};
        for (const auto& contact : group.contacts) {
            row.contacts.push_back({contact->id, contact->nickname});
        }
        groups.push_back(std::move(row));
    }
    return groups;
}

const std::array<NamedColor, 16>& MenuColors() {
    static const std::array<NamedColor, 16> colors{{
        {"Black", QColor(0x00, 0x00, 0x00)},
        {"Maroon", QColor(0x80, 0x00, 0x00)},
        {"Green", QColor(0x00, 0x80, 0x00)},
        {"Olive", QColor(0x80, 0x80, 0x00)},
        {"Navy", QColor(0x00, 0x00, 0x80)},
        {"Purple", QColor(0x80, 0x00, 0x80)},
        {"Teal", QColor(0x00, 0x80, 0x80)},
        {"Gray", QColor(0x80, 0x80, 0x80)},
        {"Silver", QColor(0xC0, 0xC0, 0xC0)},
        {"Red", QColor(0xFF, 0x00, 0x00)},
        {"Lime", QColor(0x00, 0xFF, 0x00)},
        {"Yellow", QColor(0xFF, 0xFF, 0x00)},
        {"Blue", QColor(0x00, 0x00, 0xFF)},
        {"Fuchsia", QColor(0xFF, 0x00, 0xFF)},
        {"Aqua", QColor(0x00, 0xFF, 0xFF)},
        {"White", QColor(0xFF, 0xFF, 0xFF)},
    }};
    return colors;
}

SendResultSteps StepsAfterSend(const session::SendReport& report, bool closing, bool quitting,
                               bool minimizeOnSend) {
    SendResultSteps steps;
    steps.removedIds = report.removedIds;
    for (const auto& outcome : report.outcomes) {
        if (outcome.ok && !outcome.historyWarning.empty()) {
            steps.historyWarnings.push_back(outcome.historyWarning);
        }
    }
    if (report.allSent) {
        steps.close = true;
        return steps;
    }
    if (report.silent || closing || quitting) {
        return steps;
    }
    steps.restore = minimizeOnSend;
    steps.error = report.errorText;
    return steps;
}

}  // namespace talvorine::client::ui
