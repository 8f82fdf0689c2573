#include "talvorine/client/ui/messages/messages_pane.h"

#include <QRegularExpression>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace talvorine::client::ui {

std::vector<FoundLink> FindLinks(const QString& text) {
    static const QRegularExpression link(
        QStringLiteral(R"((?:https?://|ftp://|file:|mailto:|news:|www\.)[^\s<>"']+)"),
        QRegularExpression::CaseInsensitiveOption);
    std::vector<FoundLink> links;
    for (auto match = link.globalMatch(text); match.hasNext();) {
        const QRegularExpressionMatch found = match.next();
        const int start = static_cast<int>(found.capturedStart());
        // A sentence's full stop or closing bracket is not part of the address.
        QString target = found.captured();
        while (!target.isEmpty() && QStringLiteral(".,;:!?)]}").contains(target.back())) {
            target.chop(1);
        }
        if (target.isEmpty() || target.endsWith(QLatin1Char(':')) ||
            target.compare(QStringLiteral("www."), Qt::CaseInsensitive) == 0) {
            continue;
        }
        const QString address = target.startsWith(QStringLiteral("www."), Qt::CaseInsensitive)
                                    ? QStringLiteral("http://") + target
                                    : target;
        links.push_back({start, static_cast<int>(target.size()), QUrl(address)});
    }
    return links;
}

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
