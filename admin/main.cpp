// TalvorMessengerAdmin: manages the accounts, settings, logs and running state of the server.
#include <QApplication>

#include "talvorine/admin/ui/admin_app.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    return talvorine::admin::ui::RunAdmin(arguments);
}
