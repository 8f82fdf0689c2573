#include "talvorine/client/ui/common/history_rows.h"

#include <QTreeWidget>

#include "talvorine/client/ui/common/message_box.h"

namespace talvorine::client::ui {

int SelectedRow(const QTreeWidget& list) {
    const QList<QTreeWidgetItem*> selected = list.selectedItems();
    return selected.isEmpty() ? -1 : list.indexOfTopLevelItem(selected.first());
}

bool DeleteSelectedListRow(QWidget* window, QTreeWidget& list,
                           const std::function<std::optional<std::string>(std::size_t)>& remove) {
    const int row = SelectedRow(list);
    if (row < 0) {
        return false;
    }
    if (const auto error = remove(static_cast<std::size_t>(row))) {
        ShowWarning(window, ToQString(*error));
        return false;
    }
    delete list.takeTopLevelItem(row);
    return true;
}

}  // namespace talvorine::client::ui
