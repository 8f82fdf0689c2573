#pragma once
// Files dragged from the desktop onto a contact (its item or its floating window).

#include <QMimeData>
#include <QUrl>
#include <filesystem>
#include <vector>

namespace talvorine::client::ui::contacts {

// The local files of a drop, in the order given; anything else (web addresses, text) is left
// out.
inline std::vector<std::filesystem::path> DroppedLocalFiles(const QMimeData* data) {
    std::vector<std::filesystem::path> files;
    if (data == nullptr || !data->hasUrls()) {
        return files;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
            files.emplace_back(url.toLocalFile().toStdString());
        }
    }
    return files;
}

}  // namespace talvorine::client::ui::contacts
