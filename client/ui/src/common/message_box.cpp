#include "talvorine/client/ui/common/message_box.h"

namespace talvorine::client::ui {

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToStdString(const QString& text) {
    return text.toStdString();
}

QString DisplayText(std::string_view text) {
    return DisplayText(ToQString(text));
}

QString DisplayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

void ShowWarning(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, ToQString(ProductName), DisplayText(text));
}

void ShowError(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, ToQString(ProductName), DisplayText(text));
}

void ShowInformation(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, ToQString(ProductName), DisplayText(text));
}

bool AskYesNo(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, ToQString(ProductName), DisplayText(text),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace talvorine::client::ui
