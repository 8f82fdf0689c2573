#pragma once
// List columns that share the width of their window: when the list grows or shrinks, the
// sharing columns take up the room in proportion to their widths, so the widths and ratios
// the user sets by dragging stay, and nothing else changes width.

#include <QObject>
#include <vector>

class QTreeView;

namespace talvorine::mailpoll::ui {

class ColumnSharing : public QObject {
public:
    // Owned by `view`; the last column no longer stretches on its own.
    ColumnSharing(QTreeView* view, std::vector<int> sharing);

    // Shares the room the list has now.
    void Share();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeView* m_view;
    std::vector<int> m_sharing;
};

}  // namespace talvorine::mailpoll::ui
