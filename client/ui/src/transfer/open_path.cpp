#include "talvorine/client/ui/transfer/open_path.h"

#include <QDesktopServices>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/transfer/transfer_history.h"

namespace talvorine::client::ui {

OpenUrl DesktopOpener() {
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

bool OpenLocalPath(QWidget* parent, const std::filesystem::path& path, bool receivedFromPeer,
                   const OpenUrl& openUrl) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        ShowWarning(parent, QString::fromLocal8Bit(std::strerror(error ? error.value() : ENOENT)));
        return false;
    }
    if (receivedFromPeer && IsRunnableFile(path) &&
        !AskYesNo(parent, QStringLiteral("\"%1\" is a program or a launcher, and it came from "
                                         "another user.\n\nOpening it may run it with your "
                                         "rights. Open it anyway?")
                              .arg(ToQString(path.filename().string())))) {
        return false;
    }
    const QUrl url = QUrl::fromLocalFile(ToQString(path.string()));
    if (!(openUrl ? openUrl(url) : QDesktopServices::openUrl(url))) {
        ShowWarning(parent, QStringLiteral("No program could be started to open \"%1\".")
                                .arg(ToQString(path.string())));
        return false;
    }
    return true;
}

}  // namespace talvorine::client::ui
