#include "talvorine/admin/ui/message_box.h"

#include <QDesktopServices>

#include "talvorine/admin/log_files.h"

namespace talvorine::admin::ui {

namespace {

QString Shown(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

}  // namespace

QString ToQ(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void ShowWarning(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, ToQ(Caption), Shown(text));
}

void ShowError(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox::critical(parent, caption.isEmpty() ? ToQ(Caption) : caption, Shown(text));
}

void ShowInformation(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, ToQ(Caption), Shown(text));
}

bool AskOkCancel(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, ToQ(Caption), Shown(text),
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Ok;
}

Opener DesktopOpener() {
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

void OpenHelpTopic(QWidget* parent, const Opener& opener, const std::string& topic) {
    std::filesystem::path file = HelpTopicFile(topic);
    if (file.empty() || !opener || !opener(QUrl::fromLocalFile(QString::fromStdString(file)))) {
        ShowError(parent, QStringLiteral("The help file was not found:\r\n") +
                              QString::fromStdString(topic));
    }
}

}  // namespace talvorine::admin::ui
