// TalvorinePostSentry: the mailbox poller the messenger client starts with "-Embedding".
#include <QApplication>

#include "talvorine/mailpoll/ui/post_sentry_app.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    return talvorine::mailpoll::ui::RunPostSentry(arguments);
}
