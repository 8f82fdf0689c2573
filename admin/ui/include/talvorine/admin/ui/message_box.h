#pragma once
// Message boxes with the program's caption; texts written with "\r\n" show the platform's
// line breaks.

#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <functional>
#include <string>
#include <string_view>

namespace talvorine::admin::ui {

inline constexpr std::string_view Caption = "Talvorine Messenger Admin";

QString ToQ(std::string_view text);
void ShowWarning(QWidget* parent, const QString& text);
void ShowError(QWidget* parent, const QString& text, const QString& caption = {});
void ShowInformation(QWidget* parent, const QString& text);
// True when the user answers OK.
bool AskOkCancel(QWidget* parent, const QString& text);

// Opens a document or web page in the desktop's program; tests give their own.
using Opener = std::function<bool(const QUrl&)>;
Opener DesktopOpener();

// Opens a help topic in the desktop's browser; an error box when that fails.
void OpenHelpTopic(QWidget* parent, const Opener& opener, const std::string& topic);

}  // namespace talvorine::admin::ui
