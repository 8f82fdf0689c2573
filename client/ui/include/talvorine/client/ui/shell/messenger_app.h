#pragma once
// The start and end of the client program: the single-instance channel (which also carries the
// mailbox poller's "new mail" line), the settings loaded once and saved at exit, the
// "Network Settings" sheet when no server is set, the main window, the stop signals.
//
// Switches for tests and the window pictures:
//   --open NAME               after start-up, open a window or menu by name (see
//                             CDlgContactList::OpenNamed)
//   TALVORINE_CLIENT_TRACE=1  print to stderr each window as it is shown, the status text and
//                             the caption, so that a test or script can follow the program
// The program's folders and channel names follow TALVORINE_CLIENT_HOME,
// TALVORINE_REGISTRY_DIR, TALVORINE_CLIENT_CHANNEL and TALVORINE_POSTSENTRY_CHANNEL.

#include <QStringList>

#include "talvorine/client/ui/shell/shell_services.h"

namespace talvorine::client::ui {

// Runs the client inside the QApplication that exists; returns the exit code. `arguments` are
// the command line without the program name.
int RunMessenger(const QStringList& arguments, ShellServices& services);

}  // namespace talvorine::client::ui
