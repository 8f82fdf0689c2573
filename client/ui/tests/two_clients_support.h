#pragma once
// What the two-client tests share: a client program with its own folders, account and
// contact, started on the private desktop and driven through its controls, and the fixture
// that starts the real server and two such clients (Alice and Bob).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "server_harness.h"
#include "shell_test_support.h"
#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/data/contact_list_store.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/platform/registry_store.h"
#include "talvorine/testing/spawned_program.h"
#include "two_clients_desktop.h"

namespace talvorine::client::ui::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using talvorine::client::ui::testing::ReadFile;

constexpr auto Patience = 30s;  // the programs' own socket time-out; a loaded machine is slow

// One client program with its own folder, registry, channels and account.
class Client {
public:
    Client(const fs::path& root, std::string name, const protocol::AccountCredentials& account,
           std::string nickname)
        : m_home(root / name), m_id(account.userId), m_nickname(std::move(nickname)) {
        fs::create_directories(m_home / "registry");
        Use();
        m_prepared = testing::PrepareAccount(m_id, account.password, m_nickname);
        // Holding the poller's channel keeps the client from starting a real poller.
        m_poller = platform::ChannelListener::TryCreate(platform::PostSentryChannelName(),
                                                        platform::PeerPolicy::SameUser);
    }
    ~Client() { Stop(); }

    const std::string& Id() const { return m_id; }
    const std::string& Nickname() const { return m_nickname; }
    const fs::path& Home() const { return m_home; }
    fs::path AccountFolder(const char* name) const { return m_home / "Users" / m_id / name; }
    bool Prepared() const { return m_prepared && m_poller.has_value(); }

    // The server and the other user as a contact, as the options and the contact list
    // leave them.
    bool Configure(std::uint16_t port, const Client& contact) {
        Use();
        auto key = platform::RegistryKey::Create(
            platform::Hive::CurrentUser, "Software\\Talvorine\\Messenger\\Settings\\Network");
        key.SetString("Server", "127.0.0.1");
        key.SetDword("Port", port);
        return AddContact(contact);
    }
    // One more contact in "Friends" (before the program starts).
    bool AddContact(const Client& contact) {
        Use();
        data::ContactListStore store(m_id);
        return store.AddGroup(data::FriendsGroup) &&
               store.AddContact(data::FriendsGroup, contact.Id(), contact.Nickname(), "");
    }

    // Starts the program on the desktop and waits for its login.
    bool Start(std::vector<std::string> arguments = {}) {
        Use();
        m_program = std::make_unique<talvorine::testing::SpawnedProgram>(
            MESSENGER_PROGRAM, std::move(arguments), m_home / "trace.txt");
        m_ui = std::make_unique<ProgramUi>(m_program->Pid());
        return m_program->Started() && WaitTrace("status: Online");
    }
    // The stop signal: the program logs out and ends in order.
    void Stop() {
        if (m_program) {
            m_program->Signal(SIGCONT);
            m_program->Signal(SIGTERM);
            m_program->WaitExit(40s);
            m_program.reset();
        }
    }
    pid_t Pid() const { return m_program ? m_program->Pid() : -1; }
    void Signal(int signal) const { m_program->Signal(signal); }
    ProgramUi& Ui() { return *m_ui; }

    std::string Trace() const { return ReadFile(m_home / "trace.txt"); }
    bool WaitTrace(const std::string& text, std::chrono::milliseconds limit = Patience) const {
        return talvorine::testing::WaitFor([&] { return Trace().find(text) != std::string::npos; },
                                           limit);
    }

private:
    // This process's environment is what the next program and the data calls see.
    void Use() const {
        ::setenv("TALVORINE_CLIENT_HOME", m_home.c_str(), 1);
        ::setenv("TALVORINE_REGISTRY_DIR", (m_home / "registry").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", m_home.c_str(), 1);
        ::setenv("TALVORINE_CLIENT_CHANNEL", ("tlv-e2e-client" + m_home.string()).c_str(), 1);
        ::setenv("TALVORINE_POSTSENTRY_CHANNEL", ("tlv-e2e-poller" + m_home.string()).c_str(), 1);
    }

    fs::path m_home;
    std::string m_id;
    std::string m_nickname;
    bool m_prepared = false;
    std::optional<platform::ChannelListener> m_poller;
    std::unique_ptr<talvorine::testing::SpawnedProgram> m_program;
    std::unique_ptr<ProgramUi> m_ui;
};

// --- driving ---

class TwoClients : public ::testing::Test {
protected:
    static void SetUpTestSuite() { desktop = Desktop::Start(desktopFailure); }
    static void TearDownTestSuite() { desktop.reset(); }

    void SetUp() override {
        ASSERT_TRUE(desktop) << desktopFailure;
        ::setenv("TALVORINE_CLIENT_TRACE", "1", 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::unsetenv("XDG_CURRENT_DESKTOP");  // Qt's own file dialogs, whatever the host runs
        server = std::make_unique<server::testing::ServerHarness>();
        ASSERT_TRUE(server->Start()) << server->ConsoleOutput();
        const session::AccountServer address{"127.0.0.1", server->Port()};
        alice = std::make_unique<Client>(server->Root(), "alice",
                                         session::RequestNewAccount(address), "Alice");
        bob = std::make_unique<Client>(server->Root(), "bob", session::RequestNewAccount(address),
                                       "Bob");
        ASSERT_TRUE(alice->Prepared() && bob->Prepared());
        ASSERT_TRUE(alice->Configure(server->Port(), *bob));
        ASSERT_TRUE(bob->Configure(server->Port(), *alice));
    }
    void TearDown() override {
        alice.reset();
        bob.reset();
        server.reset();
    }

    // The window of `client` captioned `title` (holding a control named `holding`).
    static Node AwaitWindow(Client& client, std::string_view title, std::string_view holding = {}) {
        Node window = AwaitNode([&] { return client.Ui().Window(title, holding); }, Patience);
        if (!window) {
            ADD_FAILURE() << "no window \"" << title << "\" holding \"" << holding
                          << "\"; the program shows:\n"
                          << client.Ui().Describe();
        }
        return window;
    }
    static bool WindowGone(Client& client, std::string_view title) {
        return AwaitTrue([&] { return !client.Ui().Window(title); }, Patience);
    }
    // Waits until the button is enabled, then presses it.
    static bool Press(AtspiAccessible* window, std::string_view button) {
        Node control = ProgramUi::Control(window, button, true);
        return control && AwaitTrue([&] { return ProgramUi::Enabled(control.get()); }, Patience) &&
               ProgramUi::Press(control.get());
    }
    static bool Type(AtspiAccessible* window, std::string_view field, std::string_view text) {
        return ProgramUi::SetText(ProgramUi::Control(window, field, false).get(), text);
    }
    static std::string Read(AtspiAccessible* window, std::string_view field) {
        return ProgramUi::Text(ProgramUi::Control(window, field, false).get());
    }
    // A menu that has popped up ("--open status-menu", a button's menu), steered with `keys`
    // to an item, which is chosen. Keys pressed before the menu holds the keyboard are lost,
    // so they are pressed again until the menu closes.
    static bool ChooseFromMenu(Client& client, const std::vector<std::string>& keys) {
        const auto shown = [&] { return desktop->PopupMenuShown(client.Pid()); };
        if (!AwaitTrue(shown, Patience)) {
            return false;
        }
        std::vector<std::string> all = keys;
        all.push_back("Return");
        return talvorine::testing::WaitFor(
            [&] {
                std::this_thread::sleep_for(300ms);
                return !shown() || (desktop->Keys(all) && AwaitTrue([&] { return !shown(); }, 3s));
            },
            Patience);
    }
    // Waits until the chat window's transcript holds `line`.
    static bool Shows(AtspiAccessible* chat, std::string_view line) {
        return AwaitTrue([&] { return Read(chat, "Transcript").find(line) != std::string::npos; },
                         Patience);
    }
    // The message box showing `text` answered with `button` and gone; false when none came.
    static bool Answer(Client& client, std::string_view text, std::string_view button = "OK") {
        Node box = AwaitNode([&] { return client.Ui().BoxWith(text); }, Patience);
        // A press clicks a moment later; the box must be gone before the next step, or that
        // step would meet a window the box still blocks.
        return box && Press(box.get(), button) &&
               AwaitTrue([&] { return !client.Ui().BoxWith(text); }, Patience);
    }
    // Closes the window as its close box does; when it asks `question`, answers Yes. The
    // request is repeated while neither happened (one sent as the window was busy is lost).
    static bool CloseWindow(Client& client, std::string_view title,
                            std::string_view question = {}) {
        const auto closed = [&] {
            return question.empty() ? !client.Ui().Window(title)
                                    : static_cast<bool>(client.Ui().BoxWith(question));
        };
        // The close box first; should that go unheard, Esc in the window, which closes it
        // the same way, in turns.
        bool closeBox = true;
        const bool asked = talvorine::testing::WaitFor(
            [&] {
                if (closeBox) {
                    desktop->CloseWindow(client.Pid(), title);
                } else if (Node window = client.Ui().Window(title)) {
                    desktop->Click(window.get()) && desktop->Keys({"Escape"});
                }
                closeBox = !closeBox;
                return AwaitTrue(closed, 3s);
            },
            Patience);
        return asked && (question.empty() || Answer(client, question, "Yes"));
    }

    static inline std::unique_ptr<Desktop> desktop;
    static inline std::string desktopFailure;
    std::unique_ptr<server::testing::ServerHarness> server;
    std::unique_ptr<Client> alice;
    std::unique_ptr<Client> bob;
};

// Connects from another address of the loopback network (someone else on the network) and
// offers an acceptance; true when the listener closes the connection instead of talking.
// Text attributes as "name=value; ..." for a failure message.
inline std::string Describe(const std::map<std::string, std::string>& attributes) {
    std::string text;
    for (const auto& [name, value] : attributes) {
        text += name + "=" + value + "; ";
    }
    return text;
}

}  // namespace talvorine::client::ui::testing
