// TalvorineMessenger: the messenger client.
#include <QApplication>

#include "talvorine/client/ui/shell/messenger_app.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    const auto services = talvorine::client::ui::MakeShellServices();
    return talvorine::client::ui::RunMessenger(arguments, *services);
}
