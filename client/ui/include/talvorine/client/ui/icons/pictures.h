#pragma once
// The client's own pictures, drawn at run time: the tray pictures (status, connecting, unread
// messages), the status picture beside the status button, and the application icon.

#include <QIcon>
#include <QPixmap>

#include "talvorine/client/ui/shell/shell_rules.h"
#include "talvorine/protocol/catalogue.h"

namespace talvorine::client::ui {

QIcon TrayIconPicture(TrayPicture picture);
QPixmap StatusBitmap(protocol::OnlineStatus status, int size = 16);
QIcon ApplicationIcon();

}  // namespace talvorine::client::ui
