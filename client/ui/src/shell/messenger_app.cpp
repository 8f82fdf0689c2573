#include "talvorine/client/ui/shell/messenger_app.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/shipped_data.h"
#include "talvorine/client/ui/icons/pictures.h"
#include "talvorine/client/ui/shell/dlg_contact_list.h"
#include "talvorine/mailpoll/client_link.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::client::ui {

namespace {

constexpr std::string_view OpenSwitch = "--open";
constexpr const char* TraceVariable = "TALVORINE_CLIENT_TRACE";

void Trace(const QString& line) {
    static const bool enabled = [] {
        const char* value = std::getenv(TraceVariable);
        return value != nullptr && *value != '\0' && std::string_view(value) != "0";
    }();
    if (enabled) {
        std::fprintf(stderr, "%s\n", line.toUtf8().constData());
        std::fflush(stderr);
    }
}

// Reports each top-level window as it is shown (with the text of a message box).
class WindowTracer : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget != nullptr && widget->isWindow() && !qobject_cast<QMenu*>(widget)) {
                if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                    Trace(QStringLiteral("box: ") + box->text().replace('\n', ' '));
                } else {
                    Trace(QStringLiteral("window: ") + widget->windowTitle());
                }
            }
        }
        return false;
    }
};

// SIGTERM, SIGINT and SIGHUP (the end of the desktop session) end the program in order: the
// handler only writes a byte; the window thread reads it and does the rest.
int g_signalPipe[2] = {-1, -1};

void OnStopSignal(int /*signal*/) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

class StopSignals {
public:
    StopSignals() {
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            return;
        }
        m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
            char bytes[16];
            while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
            }
            m_requested = true;
            m_closer.start();
        });
        // Open dialogs are cancelled first; the window shuts down once none is left, so no
        // shutdown ever runs inside a dialog's own loop.
        m_closer.setInterval(50);
        QObject::connect(&m_closer, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                if (modal == m_closing) {
                    return;  // asked already; it may be busy closing
                }
                m_closing = modal;
                // Queued, so that a dialog which opens a box as it closes does not hold this
                // timer: its next tick answers that box too. A box is answered with its
                // accepting button ("Continue to quit?" - yes, the program is to end).
                if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                    QAbstractButton* accept = nullptr;
                    for (QAbstractButton* button : box->buttons()) {
                        const auto role = box->buttonRole(button);
                        if (role == QMessageBox::YesRole || role == QMessageBox::AcceptRole) {
                            accept = button;
                        }
                    }
                    if (accept != nullptr) {
                        QMetaObject::invokeMethod(accept, "click", Qt::QueuedConnection);
                    } else {
                        QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
                    }
                } else if (qobject_cast<QDialog*>(modal) != nullptr) {
                    QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
                } else {
                    QMetaObject::invokeMethod(modal, "close", Qt::QueuedConnection);
                }
                return;
            }
            if (m_window) {
                m_window->ExitNow();
            }
        });
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        ::sigemptyset(&action.sa_mask);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            ::sigaction(signal, &action, nullptr);
        }
    }
    ~StopSignals() {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            ::sigaction(signal, &action, nullptr);
        }
        m_notifier.reset();
        for (int& fd : g_signalPipe) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool Requested() const { return m_requested; }
    void SetWindow(CDlgContactList* window) { m_window = window; }

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_closer;
    bool m_requested = false;
    QPointer<CDlgContactList> m_window;
    QPointer<QWidget> m_closing;
};

QString OpenRequest(const QStringList& arguments) {
    const int index = arguments.indexOf(ToQString(OpenSwitch));
    return index >= 0 && index + 1 < arguments.size() ? arguments.at(index + 1) : QString();
}

}  // namespace

int RunMessenger(const QStringList& arguments, ShellServices& services) {
    QApplication::setApplicationName(ToQString(ProductName));
    QApplication::setWindowIcon(ApplicationIcon());
    QApplication::setQuitOnLastWindowClosed(false);
    WindowTracer tracer;
    qApp->installEventFilter(&tracer);
    StopSignals stopSignals;

    std::optional<platform::ChannelListener> listener;
    try {
        listener = platform::ChannelListener::TryCreate(platform::ClientChannelName(),
                                                        platform::PeerPolicy::SameUser);
    } catch (const std::exception& error) {
        // A channel name that cannot be used (a bad TALVORINE_CLIENT_CHANNEL), no sockets.
        const QString text = QStringLiteral("The single-instance channel \"%1\" cannot be made: %2")
                                 .arg(QString::fromStdString(platform::ClientChannelName()),
                                      QString::fromUtf8(error.what()));
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        ShowError(nullptr, text);
        return 1;
    }
    if (!listener) {
        std::fprintf(stderr, "%s\n", ShellText::AlreadyRunning.data());
        ShowWarning(nullptr, ToQString(ShellText::AlreadyRunning));
        return 0;
    }

    // Without its sound files the client is only silent; the reason goes to the log.
    if (const auto copied = CopyShippedSounds(); !copied.error.empty()) {
        std::fprintf(stderr, "%s\n", copied.error.c_str());
    }
    data::ClientSettings settings = data::ClientSettings::Load();
    if (!data::TrimServerAddress(settings.server)) {
        if (!services.EditOptions(nullptr, settings, true) || stopSignals.Requested()) {
            return 0;
        }
    }

    protocol::StartSockets();
    int result = 0;
    {
        CDlgContactList window(services, settings, QSystemTrayIcon::isSystemTrayAvailable());
        stopSignals.SetWindow(&window);
        QObject::connect(&window, &CDlgContactList::shutdownFinished, qApp, &QApplication::quit,
                         Qt::QueuedConnection);
        QObject::connect(&window, &CDlgContactList::statusShown,
                         [](const QString& text) { Trace(QStringLiteral("status: ") + text); });
        QObject::connect(&window, &CDlgContactList::soundRequested, [](int eventNumber) {
            Trace(QStringLiteral("sound: ") + QString::number(eventNumber));
        });
        QObject::connect(&window, &QWidget::windowTitleChanged,
                         [](const QString& title) { Trace(QStringLiteral("caption: ") + title); });
        // The poller's lines arrive on the reader's thread; "3" is queued to the window.
        const platform::ChannelReader reader(*listener, [&window](const std::string& line) {
            if (mailpoll::ParseClientMessage(line) == mailpoll::ClientMessage::NewMail) {
                QMetaObject::invokeMethod(
                    &window, [&window] { window.NewMailArrived(); }, Qt::QueuedConnection);
            }
        });

        window.Start();
        if (!window.ShutdownStarted()) {
            window.PlaySound(data::SoundEvent::Startup);
            const QString open = OpenRequest(arguments);
            if (!open.isEmpty()) {
                QTimer::singleShot(500, &window, [&window, open] {
                    if (!window.OpenNamed(open)) {
                        std::fprintf(stderr, "Unknown window name: %s\n",
                                     open.toUtf8().constData());
                    }
                });
            }
        }
        if (!window.ShutdownFinished()) {
            result = QApplication::exec();
        }
        if (window.WorkersLeftBehind()) {
            // A worker could not be stopped; it must not see the window or the session go.
            // Everything is saved, so the process ends here without destroying them.
            settings.Save();
            std::fflush(nullptr);
            std::_Exit(result);
        }
        stopSignals.SetWindow(nullptr);
    }
    protocol::StopSockets();
    settings.Save();
    return result;
}

}  // namespace talvorine::client::ui
