#include "talvorine/mailpoll/ui/message_box.h"

namespace talvorine::mailpoll::ui {

QString DisplayText(std::string_view text) {
    return DisplayText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

QString DisplayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

void ShowWarning(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, DisplayText(Caption), DisplayText(text));
}

void ShowError(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, DisplayText(Caption), DisplayText(text));
}

bool AskYesNo(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, DisplayText(Caption), DisplayText(text),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace talvorine::mailpoll::ui
