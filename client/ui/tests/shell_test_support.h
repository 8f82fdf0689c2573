#pragma once
// What the main window's tests share: a private client folder, registry and channel names for
// each test, an account prepared on disk, and dialogs played by the test.

#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/ui/shell/shell_services.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::client::ui::testing {

// A fresh client folder with its registry folder, set for this process; the program's and
// the poller's channels get names of their own, so nothing meets the user's desktop.
class TempClientHome {
public:
    explicit TempClientHome(const std::string& name) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / ("tlv-shell-" + name + "-XXXXXX")).string();
        m_path = ::mkdtemp(pattern.data());
        std::filesystem::create_directories(m_path / "registry");
        ::setenv("TALVORINE_CLIENT_HOME", m_path.c_str(), 1);
        ::setenv("TALVORINE_REGISTRY_DIR", (m_path / "registry").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", m_path.c_str(), 1);
        ::setenv("TALVORINE_CLIENT_CHANNEL", ("tlv-test-client" + m_path.string()).c_str(), 1);
        ::setenv("TALVORINE_POSTSENTRY_CHANNEL", ("tlv-test-poller" + m_path.string()).c_str(), 1);
    }
    ~TempClientHome() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempClientHome(const TempClientHome&) = delete;
    TempClientHome& operator=(const TempClientHome&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path UserHive() const { return m_path / "registry" / "user.reg"; }

private:
    std::filesystem::path m_path;
};

// A loopback port on which nobody listens (0 when none could be had).
inline std::uint16_t ClosedPort() {
    protocol::Socket socket;
    if (protocol::ListenOn(socket.Ref(), 0) != 0) {
        return 0;
    }
    return protocol::LocalPort(socket.Get());
}

inline std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// An account as the wizard leaves it: .UID file, remembered password, "CurrentID".
inline bool PrepareAccount(const std::string& id, const std::string& password,
                           const std::string& nickname) {
    protocol::UserProfile profile;
    profile.userId = id;
    profile.nickname = nickname;
    profile.gender = "0";
    return data::WriteProfile(id, profile) && data::SavePassword(id, password) &&
           data::SetCurrentId(id);
}

// Dialogs answered as the test says; every call is recorded.
class ScriptedServices : public ShellServices {
public:
    bool RunAccountWizard(QWidget*, data::ClientSettings&, data::CurrentAccount& current) override {
        calls.push_back("wizard");
        if (wizardAccount.empty()) {
            return false;
        }
        current = {wizardAccount, wizardPassword, "Nick"};
        return PrepareAccount(wizardAccount, wizardPassword, "Nick");
    }
    bool SelectAccount(QWidget*, data::CurrentAccount&) override {
        calls.push_back("select");
        return false;
    }
    bool EditOptions(QWidget*, data::ClientSettings&, bool networkOnly) override {
        calls.push_back(networkOnly ? "network-settings" : "options");
        return false;
    }
    void ChangePassword(QWidget*, const data::ClientSettings&, data::CurrentAccount&) override {
        calls.push_back("password");
    }
    bool ConfirmAwayMode(QWidget*) override {
        calls.push_back("away");
        return confirmAway;
    }
    bool ConfirmShutDown(QWidget* parent) override {
        calls.push_back("shut-down");
        return real ? real->ConfirmShutDown(parent) : false;
    }
    void ShowAbout(QWidget*) override { calls.push_back("about"); }
    void ShowHelp(QWidget*, std::string_view topic) override {
        calls.push_back("help " + std::string(topic));
    }
    void PlayEventSound(const data::ClientSettings&, int eventNumber) override {
        sounds.push_back(eventNumber);
    }

    std::unique_ptr<ShellServices> real;  // the program's dialogs where a test wants them
    std::string wizardAccount;
    std::string wizardPassword;
    bool confirmAway = true;
    std::vector<std::string> calls;
    std::vector<int> sounds;
};

// Runs `action`; when a modal dialog named `objectName` opens, `answer` plays it.
inline bool AnswerDialog(const char* objectName, const std::function<void(QDialog&)>& answer,
                         const std::function<void()>& action) {
    bool seen = false;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->objectName() == QLatin1String(objectName) && !seen) {
            seen = true;
            answer(*dialog);
        }
    });
    timer.start();
    action();
    timer.stop();
    return seen;
}

}  // namespace talvorine::client::ui::testing
