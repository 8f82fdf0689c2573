#pragma once
// What the dialog tests and the picture programs share: a temporary client folder and registry,
// acting on the modal dialog an action opens, and ending in order on SIGTERM.

#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace talvorine::client::ui::testing {

// TALVORINE_CLIENT_HOME, TALVORINE_REGISTRY_DIR and XDG_CONFIG_HOME in a fresh folder.
class TempClientHome {
public:
    TempClientHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tlv-dialogs-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
        std::filesystem::create_directories(m_path / "home");
        std::filesystem::create_directories(m_path / "registry");
        ::setenv("TALVORINE_CLIENT_HOME", (m_path / "home").c_str(), 1);
        ::setenv("TALVORINE_REGISTRY_DIR", (m_path / "registry").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (m_path / "registry").c_str(), 1);
    }
    ~TempClientHome() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempClientHome(const TempClientHome&) = delete;
    TempClientHome& operator=(const TempClientHome&) = delete;
    std::filesystem::path Home() const { return m_path / "home"; }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// A program that shows windows for pictures ends in order on SIGTERM (the way the screenshot
// script stops it), so its destructors run and its temporary folder goes too. The handler only
// sets a flag; a timer on the window thread reads it. It leaves the event loop without closing
// the windows first (as quit() does), since a window that deletes itself on closing may live on
// the stack of such a program.
inline void QuitOnTerminate(QCoreApplication& application) {
    static volatile std::sig_atomic_t s_terminated = 0;
    std::signal(SIGTERM, [](int) { s_terminated = 1; });
    auto* poll = new QTimer(&application);
    QObject::connect(poll, &QTimer::timeout, &application, [] {
        if (s_terminated != 0) {
            QCoreApplication::exit(0);
        }
    });
    poll->start(100);
}

// Runs `action`; when a modal dialog of type T appears, `onDialog` is called with it once
// (it closes the dialog).
template <class T>
void WithModal(const std::function<void()>& action, const std::function<void(T&)>& onDialog) {
    QTimer timer;
    timer.setInterval(20);
    bool done = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog == nullptr || done) {
            return;
        }
        done = true;
        onDialog(*dialog);
    });
    timer.start();
    action();
    timer.stop();
}

}  // namespace talvorine::client::ui::testing
