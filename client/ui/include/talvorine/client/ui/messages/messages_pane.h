#pragma once
// The read-only rich pane of the "Messages" window without its widget: a stored message put
// into a document as rich or plain text, its web links marked, and which links may be opened.

#include <QString>
#include <QUrl>
#include <vector>

#include "talvorine/client/ui/messages/links.h"
#include "talvorine/client/ui/messages/messages_page.h"

class QTextDocument;

namespace talvorine::client::ui {

// The remote user chooses the text, so only web pages and mail addresses are opened: http:,
// https: and mailto:. Everything else (file:, ftp:, programs' own schemes) is not.
bool IsOpenableLink(const QUrl& url);

// Replaces the document's content with the message (RTF when rich, else plain UTF-8 text)
// and marks its links as anchors.
void ShowMessageText(QTextDocument& document, const MessageText& message);
// The message's text without formatting (a reply quotes it).
std::string MessagePlainText(const MessageText& message);

}  // namespace talvorine::client::ui
