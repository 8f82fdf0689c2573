#pragma once
// The client's message boxes: caption "Talvorine Messenger", texts written with "\r\n" line
// breaks shown with the platform's, questions Yes/No with No as the default button.

#include <QMessageBox>
#include <QString>
#include <string_view>

namespace talvorine::client::ui {

inline constexpr std::string_view ProductName = "Talvorine Messenger";

QString ToQString(std::string_view text);
std::string ToStdString(const QString& text);
// The text as a box shows it ("\r\n" becomes "\n").
QString DisplayText(std::string_view text);
QString DisplayText(const QString& text);

void ShowWarning(QWidget* parent, const QString& text);
void ShowError(QWidget* parent, const QString& text);
void ShowInformation(QWidget* parent, const QString& text);
// True when the user answers Yes.
bool AskYesNo(QWidget* parent, const QString& text);

}  // namespace talvorine::client::ui
