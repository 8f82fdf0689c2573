#include "talvorine/mailpoll/ui/column_sharing.h"

#include <QEvent>
#include <QHeaderView>
#include <QTreeView>
#include <algorithm>

namespace talvorine::mailpoll::ui {

namespace {
// A sharing column never gets narrower than this, however small the window.
constexpr int MinimumWidth = 40;
}  // namespace

ColumnSharing::ColumnSharing(QTreeView* view, std::vector<int> sharing)
    : QObject(view), m_view(view), m_sharing(std::move(sharing)) {
    m_view->header()->setStretchLastSection(false);
    m_view->viewport()->installEventFilter(this);
}

bool ColumnSharing::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view->viewport() && event->type() == QEvent::Resize) {
        Share();
    }
    return QObject::eventFilter(watched, event);
}

void ColumnSharing::Share() {
    const QHeaderView* header = m_view->header();
    int fixed = 0;
    int sharingNow = 0;
    for (int column = 0; column < header->count(); ++column) {
        if (header->isSectionHidden(column)) {
            continue;
        }
        const bool shares =
            std::find(m_sharing.begin(), m_sharing.end(), column) != m_sharing.end();
        (shares ? sharingNow : fixed) += header->sectionSize(column);
    }
    const int room = m_view->viewport()->width() - fixed;
    if (m_sharing.empty() || sharingNow <= 0 || room <= 0) {
        return;
    }
    int given = 0;
    for (std::size_t i = 0; i < m_sharing.size(); ++i) {
        const int column = m_sharing[i];
        const bool last = i + 1 == m_sharing.size();
        const long long share =
            last ? room - given
                 : static_cast<long long>(room) * header->sectionSize(column) / sharingNow;
        const int width = std::max(MinimumWidth, static_cast<int>(share));
        m_view->setColumnWidth(column, width);
        given += width;
    }
}

}  // namespace talvorine::mailpoll::ui
