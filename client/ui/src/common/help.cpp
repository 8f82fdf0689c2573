#include "talvorine/client/ui/common/help.h"

#include <QDesktopServices>
#include <QEvent>
#include <QKeyEvent>
#include <QUrl>
#include <QWidget>

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

namespace {

// Sees the F1 that no control of the dialog took.
class HelpKey : public QObject {
public:
    HelpKey(QWidget* dialog, std::function<std::string_view()> topic)
        : QObject(dialog), m_dialog(dialog), m_topic(std::move(topic)) {
        dialog->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_dialog && event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->matches(QKeySequence::HelpContents)) {
            OpenHelp(m_dialog, m_topic());
            return true;
        }
        return false;
    }

private:
    QWidget* m_dialog;
    std::function<std::string_view()> m_topic;
};

}  // namespace

void AddHelpKey(QWidget* dialog, std::function<std::string_view()> topic) {
    new HelpKey(dialog, std::move(topic));
}

}  // namespace talvorine::client::ui
