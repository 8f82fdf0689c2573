#include "talvorine/client/ui/messages/messages_pane.h"

#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace talvorine::client::ui {

bool IsOpenableLink(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
                             scheme == QLatin1String("mailto"));
}

void ShowMessageText(QTextDocument& document, const MessageText& message) {
    if (message.richText) {
        rtf::ReadRtf(message.text, document);
    } else {
        document.setPlainText(QString::fromUtf8(message.text));
    }
    // Positions in the document's plain text are the cursor positions of the same characters.
    const std::vector<FoundLink> links = FindLinks(document.toPlainText());
    for (const FoundLink& link : links) {
        QTextCursor cursor(&document);
        cursor.setPosition(link.start);
        cursor.setPosition(link.start + link.length, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setAnchor(true);
        format.setAnchorHref(link.url.toString());
        format.setFontUnderline(true);
        format.setForeground(QColor(0, 0, 255));
        cursor.mergeCharFormat(format);
    }
}

std::string MessagePlainText(const MessageText& message) {
    return message.richText ? rtf::ReadRtfToPlainText(message.text) : message.text;
}

}  // namespace talvorine::client::ui
