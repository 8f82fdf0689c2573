#include "talvorine/client/ui/common/history_rows.h"

#include <QTreeWidget>

namespace talvorine::client::ui {

int SelectedRow(const QTreeWidget& list) {
    const QList<QTreeWidgetItem*> selected = list.selectedItems();
    return selected.isEmpty() ? -1 : list.indexOfTopLevelItem(selected.first());
}

}  // namespace talvorine::client::ui
