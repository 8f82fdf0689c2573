#pragma once
// What the chat and file-transfer histories share: each row stands for one file of the
// account's history folder, and deleting a row deletes its file.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

class QTreeWidget;
class QWidget;

namespace talvorine::client::ui {

// Removes the file of `rows[row]` (`fileOf` gives it) and the row; the error text when the file
// cannot be removed (the row then stays). A row beyond the list does nothing.
template <typename Row, typename FileOf>
std::optional<std::string> RemoveRowAndFile(std::vector<Row>& rows, std::size_t row,
                                            FileOf fileOf) {
    if (row >= rows.size()) {
        return std::nullopt;
    }
    std::error_code error;
    if (!std::filesystem::remove(fileOf(rows[row]), error) && error) {
        return error.message();
    }
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(row));
    return std::nullopt;
}

// Removes every row's file; the rows whose file could not be removed stay. Their number.
template <typename Row, typename FileOf>
std::size_t RemoveAllRowsAndFiles(std::vector<Row>& rows, FileOf fileOf) {
    std::vector<Row> kept;
    for (Row& row : rows) {
        std::error_code error;
        if (!std::filesystem::remove(fileOf(row), error) && error) {
            kept.push_back(std::move(row));
        }
    }
    rows = std::move(kept);
    return rows.size();
}

// The selected top-level row of a single-selection list, -1 when none.
int SelectedRow(const QTreeWidget& list);

// The window side of deleting the selected row: `remove(row)` deletes its record and gives the
// error text, which is shown (the row stays); else the row leaves the list. False when nothing
// was deleted.
bool DeleteSelectedListRow(QWidget* window, QTreeWidget& list,
                           const std::function<std::optional<std::string>(std::size_t)>& remove);

}  // namespace talvorine::client::ui
