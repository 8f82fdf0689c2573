#include "talvorine/client/ui/common/window_memory.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>
#include <QWidget>
#include <algorithm>
#include <string>

#include "talvorine/client/data/client_settings.h"

namespace talvorine::client::ui {

namespace {

data::Rect ToRect(const QRect& rect) {
    return {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

std::string ColumnName(int column) {
    return "Col" + std::to_string(column + 1);
}

}  // namespace

void RestoreWindowPlacement(QWidget& window, std::string_view section) {
    const QScreen* screen =
        window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QSize size = screen->size();
    const data::Rect present = ToRect(window.geometry());
    const data::Rect chosen =
        data::RestoreWindowPlacement(section, present, size.width(), size.height());
    if (chosen != present && chosen.Width() > 0 && chosen.Height() > 0) {
        window.setGeometry(chosen.left, chosen.top, chosen.Width(), chosen.Height());
    }
}

void SaveWindowPlacement(const QWidget& window, std::string_view section) {
    const QRect normal =
        window.isMaximized() || window.isMinimized() ? window.normalGeometry() : window.geometry();
    data::SaveWindowPlacement(section, ToRect(normal));
}

void RestoreColumnWidths(QTreeWidget& list, std::string_view section) {
    const data::WindowSettings settings(section);
    for (int column = 0; column < list.columnCount(); ++column) {
        const std::uint32_t width = settings.GetDword(ColumnName(column));
        // A damaged value must not hide a column or make it wider than any screen.
        if (width >= 8 && width <= 4096) {
            list.setColumnWidth(column, static_cast<int>(width));
        }
    }
}

void FitUnsizedColumns(QTreeWidget& list, std::string_view section) {
    constexpr std::uint32_t NotStored = 0xFFFFFFFFu;
    const data::WindowSettings settings(section);
    for (int column = 0; column < list.columnCount(); ++column) {
        if (settings.GetDword(ColumnName(column), NotStored) != NotStored) {
            continue;
        }
        const QFontMetrics header(list.header()->font());
        int needed = header.horizontalAdvance(list.headerItem()->text(column)) + 16;
        const QFontMetrics rows(list.font());
        // A list without an icon size of its own draws its marks at the style's small size.
        const int iconWidth =
            list.iconSize().isValid()
                ? list.iconSize().width()
                : list.style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, &list);
        for (int row = 0; row < list.topLevelItemCount(); ++row) {
            const QTreeWidgetItem* item = list.topLevelItem(row);
            const int icon = item->icon(column).isNull() ? 0 : iconWidth + 4;
            needed = std::max(needed, rows.horizontalAdvance(item->text(column)) + icon + 12);
        }
        if (needed > list.columnWidth(column)) {
            list.setColumnWidth(column, std::min(needed, 400));
        }
    }
}

void SaveColumnWidths(const QTreeWidget& list, std::string_view section) {
    const data::WindowSettings settings(section);
    for (int column = 0; column < list.columnCount(); ++column) {
        settings.SetDword(ColumnName(column), static_cast<std::uint32_t>(list.columnWidth(column)));
    }
}

}  // namespace talvorine::client::ui
