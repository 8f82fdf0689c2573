#pragma once
// What a window keeps between runs in its section of the client's settings: its normal
// rectangle ("Left", "Top", "Right", "Bottom"), restored only when at least 20 by 20 pixels of
// it lie on the screen, and the widths of its list columns ("Col1", "Col2", ...).

#include <string_view>

class QTreeWidget;
class QWidget;

namespace talvorine::client::ui {

void RestoreWindowPlacement(QWidget& window, std::string_view section);
void SaveWindowPlacement(const QWidget& window, std::string_view section);

// Columns 0.. of `list` take "Col1".. of the section, each defaulting to its table default.
void RestoreColumnWidths(QTreeWidget& list, std::string_view section);
void SaveColumnWidths(const QTreeWidget& list, std::string_view section);
// Widens the columns the user never sized (no stored width) so that their title and the rows
// now listed show whole; never narrower than the default, never wider than 400 pixels. The
// default widths suit the short texts they were chosen for, not every font or file size.
void FitUnsizedColumns(QTreeWidget& list, std::string_view section);

}  // namespace talvorine::client::ui
