#include "talvorine/client/ui/messages/links.h"

#include <QRegularExpression>

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

}  // namespace talvorine::client::ui
