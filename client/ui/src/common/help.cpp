#include "talvorine/client/ui/common/help.h"

#include <QDesktopServices>
#include <QUrl>

#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/shipped_data.h"

namespace talvorine::client::ui {

namespace fs = std::filesystem;

std::optional<fs::path> HelpTopicFile(std::string_view topic) {
    // A topic is a page name of the help folder, never a path that could leave it.
    if (topic.empty() || topic.find('/') != std::string_view::npos || topic.starts_with('.')) {
        return std::nullopt;
    }
    const auto folder = ShippedDataFolder("help");
    if (!folder) {
        return std::nullopt;
    }
    const fs::path page = *folder / topic;
    std::error_code ec;
    if (!fs::is_regular_file(page, ec)) {
        return std::nullopt;
    }
    return page;
}

bool OpenHelp(QWidget* parent, std::string_view topic) {
    const auto page = HelpTopicFile(topic);
    if (page &&
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page->string())))) {
        return true;
    }
    ShowInformation(parent, ToQString(HelpFailedText));
    return false;
}

}  // namespace talvorine::client::ui
