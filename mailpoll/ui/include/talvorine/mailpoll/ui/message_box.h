#pragma once
// Message boxes with the program's caption; texts written with "\r\n" line breaks are shown
// with the platform's line breaks.

#include <QMessageBox>
#include <QString>
#include <string_view>

namespace talvorine::mailpoll::ui {

inline constexpr std::string_view Caption = "Post Sentry";

QString DisplayText(std::string_view text);
QString DisplayText(const QString& text);

void ShowWarning(QWidget* parent, const QString& text);
void ShowError(QWidget* parent, const QString& text);
// True when the user answers Yes.
bool AskYesNo(QWidget* parent, const QString& text);

}  // namespace talvorine::mailpoll::ui
