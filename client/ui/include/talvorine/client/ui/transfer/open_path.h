#pragma once
// Hands a local file or folder to the desktop's default program, as the transfer windows and
// the file-transfer history do: a missing path is reported, and a received program or
// launcher (another user chose its name and content) is opened only when the user says so.

#include <QUrl>
#include <filesystem>
#include <functional>

class QWidget;

namespace talvorine::client::ui {

using OpenUrl = std::function<bool(const QUrl&)>;

// QDesktopServices::openUrl.
OpenUrl DesktopOpener();

// True when it was handed over; false after a refusal, a question answered No or a failure
// shown in a warning box.
bool OpenLocalPath(QWidget* parent, const std::filesystem::path& path, bool receivedFromPeer,
                   const OpenUrl& openUrl);

}  // namespace talvorine::client::ui
