#pragma once
// The web and mail links in a message's text, found once for the compose box (which marks them)
// and for the "Messages" window (which opens the safe ones).

#include <QString>
#include <QUrl>
#include <vector>

namespace talvorine::client::ui {

struct FoundLink {
    int start = 0;
    int length = 0;
    QUrl url;
};

// The links in a text as a rich-edit control detects them: "http://", "https://", "ftp://",
// "file:", "mailto:", "news:" and "www." up to the next white space, angle bracket or quote,
// without trailing punctuation. "www." links point at "http://".
std::vector<FoundLink> FindLinks(const QString& text);

}  // namespace talvorine::client::ui
