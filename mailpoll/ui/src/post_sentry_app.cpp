#include "talvorine/mailpoll/ui/post_sentry_app.h"

#include <QApplication>
#include <QSystemTrayIcon>

#include "talvorine/mailpoll/mail_store.h"
#include "talvorine/mailpoll/ui/dlg_post_sentry.h"
#include "talvorine/mailpoll/ui/message_box.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::mailpoll::ui {

namespace {

bool HasEmbedding(const QStringList& arguments) {
    return arguments.contains(QString::fromLatin1(EmbeddingArgument.data(),
                                                  static_cast<qsizetype>(EmbeddingArgument.size())),
                              Qt::CaseInsensitive);
}

}  // namespace

int RunPostSentry(const QStringList& arguments, const PostSentryChannels& channels) {
    if (!HasEmbedding(arguments)) {
        ShowWarning(nullptr, DisplayText(RefusalText));
        return 0;
    }
    auto listener =
        platform::ChannelListener::TryCreate(channels.poller, platform::PeerPolicy::SameUser);
    if (!listener) {
        return 0;  // another instance runs on this desktop
    }
    protocol::StartSockets();
    QApplication::setQuitOnLastWindowClosed(false);

    MailStore store;
    CDlgPostSentry window(store, store.LoadSettings(), store.LoadAccounts(), channels.client);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        window.show();
    }
    // The client's lines arrive on the reader's thread and are handed to the window thread.
    const platform::ChannelReader reader(*listener, [&window](const std::string& line) {
        if (const auto message = ParseClientMessage(line)) {
            QMetaObject::invokeMethod(
                &window, [&window, m = *message] { window.OnClientMessage(m); },
                Qt::QueuedConnection);
        }
    });
    const int result = QApplication::exec();
    protocol::StopSockets();
    return result;
}

}  // namespace talvorine::mailpoll::ui
