// The main window offscreen: the account check before the first connection, the status and
// session commands' enabling while offline, connecting and online, the tray picture, the
// "Shut Down ?" flow, and a whole session against the real server ending with the logout.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <fstream>
#include <sstream>

#include "shell_test_support.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/shell/dlg_contact_list.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/protocol/socket.h"
#include "talvorine/testing/qt_test_support.h"

#ifdef TALVORINE_WITH_SERVER_HARNESS
#include "server_harness.h"
#include "talvorine/client/session/account_requests.h"
#endif

namespace talvorine::client::ui {
namespace {

using namespace std::chrono_literals;
using protocol::OnlineStatus;
using talvorine::testing::PumpUntil;
using testing::AnswerDialog;
using testing::ClosedPort;
using testing::PrepareAccount;
using testing::ReadFile;
using testing::ScriptedServices;
using testing::TempClientHome;

constexpr const char* AccountId = "00001234";

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { protocol::StartSockets(); }

    data::ClientSettings Settings(std::uint16_t port) {
        auto settings = data::ClientSettings::Defaults();
        settings.server = "127.0.0.1";
        settings.port = port;
        settings.autoConnect = false;
        return settings;
    }
    static QAction* Action(QMenu* menu, const char* name) {
        return menu->findChild<QAction*>(name) != nullptr
                   ? menu->findChild<QAction*>(name)
                   : menu->parentWidget()->findChild<QAction*>(name);
    }
    static bool Idle(CDlgContactList& window) {
        return !window.Session().Connecting() && !window.Session().Disconnecting();
    }
    static void ExitAndWait(CDlgContactList& window) {
        window.ExitNow();
        ASSERT_TRUE(PumpUntil([&] { return window.ShutdownFinished(); }));
    }

    TempClientHome home{"window"};
    ScriptedServices services;
};

TEST_F(MainWindow, WithNoAccountTheWizardComesFirstAndCancellingItEndsTheProgram) {
    auto settings = Settings(ClosedPort());
    CDlgContactList window(services, settings, false);
    bool finished = false;
    QObject::connect(&window, &CDlgContactList::shutdownFinished, [&] { finished = true; });
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return finished; }, 10s));
    EXPECT_EQ(services.calls, std::vector<std::string>{"wizard"});
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.ContactList().IsLoaded());
    EXPECT_FALSE(window.Session().Connected());
}

TEST_F(MainWindow, WizardThatFinishesGivesTheFirstAccountItsCaptionAndList) {
    services.wizardAccount = AccountId;
    services.wizardPassword = "secret";
    auto settings = Settings(ClosedPort());
    CDlgContactList window(services, settings, false);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));
    EXPECT_EQ(services.calls, std::vector<std::string>{"wizard"});
    EXPECT_EQ(window.windowTitle(), AccountId);
    EXPECT_EQ(window.ContactList().LoadedAccount(), AccountId);
    EXPECT_TRUE(window.isVisible());
    ExitAndWait(window);
}

TEST_F(MainWindow, DamagedProfileSaysSoThenOffersTheAccountChoice) {
    ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
    std::ofstream(home.Path() / "Users" / (std::string(AccountId) + ".UID"))
        << "\x01\x02garbage\n[00001234]\nid=99999999\n";
    auto settings = Settings(ClosedPort());
    CDlgContactList window(services, settings, false);
    const auto boxes = talvorine::testing::AnswerBoxes([&] { window.Start(); });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Invalid UID file. Please select another account");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(services.calls, std::vector<std::string>{"select"});
    // The choice was cancelled: the program ends, and the damaged file is left as it was.
    ASSERT_TRUE(PumpUntil([&] { return window.ShutdownFinished(); }));
    EXPECT_NE(ReadFile(home.Path() / "Users" / (std::string(AccountId) + ".UID")).find("99999999"),
              std::string::npos);
}

TEST_F(MainWindow, OfflineOnlyConnectIsEnabledAndTheStatusCommandsDoNothing) {
    ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
    auto settings = Settings(ClosedPort());
    CDlgContactList window(services, settings, false);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));
    EXPECT_TRUE(services.calls.empty());  // the stored account was good enough
    EXPECT_EQ(window.windowTitle(), AccountId);
    auto* status = window.findChild<QToolButton*>("statusButton");
    ASSERT_NE(status, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return status->text() == "Offline"; }, 5s));
    EXPECT_EQ(status->toolTip(), "Status");
    EXPECT_EQ(window.findChild<QToolButton*>("systemMenuButton")->toolTip(), "System Menu");
    EXPECT_EQ(window.findChild<QToolButton*>("postSentryButton")->toolTip(), "Post Sentry");
    ASSERT_NE(window.findChild<QWidget*>("contactArea"), nullptr);

    window.UpdateMenus();
    QMenu* menu = window.StatusMenu();
    EXPECT_TRUE(Action(menu, "connect")->isEnabled());
    EXPECT_FALSE(Action(menu, "disconnect")->isEnabled());
    for (const char* name : {"online", "away", "notAvailable"}) {
        EXPECT_FALSE(Action(menu, name)->isEnabled()) << name;
        EXPECT_FALSE(Action(menu, name)->isChecked()) << name;
    }
    // The tray menu carries the same status items and its default "Show / Hide" item.
    EXPECT_EQ(window.TrayMenu()->defaultAction()->text(), "&Hide Window");
    EXPECT_TRUE(window.TrayMenu()
                    ->findChild<QMenu*>("trayStatusMenu")
                    ->actions()
                    .contains(Action(menu, "connect")));

    window.SetAway();
    window.SetNotAvailable();
    EXPECT_TRUE(services.calls.empty());  // no "Away Mode" while offline
    EXPECT_EQ(window.Session().Status(), OnlineStatus::Offline);

    window.TimerTick();
    EXPECT_EQ(window.CurrentTrayPicture(), TrayPicture::Offline);

    Action(window.SystemMenu(), "help")->trigger();
    EXPECT_EQ(services.calls, std::vector<std::string>{"help index.htm"});
    ExitAndWait(window);
}

TEST_F(MainWindow, WhileConnectingBothSessionCommandsAreGreyedAndTheTrayTurns) {
    ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
    // A server that takes the connection and never answers the login.
    protocol::Socket silent;
    ASSERT_EQ(protocol::ListenOn(silent.Ref(), 0), 0);
    auto settings = Settings(protocol::LocalPort(silent.Get()));
    CDlgContactList window(services, settings, false);
    window.Start();
    ASSERT_TRUE(window.Session().Connecting());
    window.UpdateMenus();
    EXPECT_FALSE(Action(window.StatusMenu(), "connect")->isEnabled());
    EXPECT_FALSE(Action(window.StatusMenu(), "disconnect")->isEnabled());
    std::vector<std::optional<TrayPicture>> pictures;
    for (int i = 0; i < 4; ++i) {
        window.TimerTick();
        pictures.push_back(window.CurrentTrayPicture());
    }
    EXPECT_EQ(pictures, (std::vector<std::optional<TrayPicture>>{
                            TrayPicture::Connecting1, TrayPicture::Connecting2,
                            TrayPicture::Connecting3, TrayPicture::Connecting4}));
    // Quitting wakes the login at once instead of waiting out its 30 s.
    const auto start = std::chrono::steady_clock::now();
    ExitAndWait(window);
    EXPECT_FALSE(window.WorkersLeftBehind());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST_F(MainWindow, TrayDoubleClickOpensTheFirstUnreadContactInListOrderElseShowsTheWindow) {
    ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
    auto settings = Settings(ClosedPort());
    CDlgContactList window(services, settings, true);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));
    std::vector<std::string> opened;
    window.SetUnreadOpener([&](const std::string& id) { opened.push_back(id); });
    auto* tray = window.findChild<QSystemTrayIcon*>("trayIcon");
    ASSERT_NE(tray, nullptr);

    window.HideWindow();
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(opened.empty());  // nothing unread: the window comes back
    EXPECT_TRUE(window.isVisible());

    {
        std::lock_guard lock(window.Session().Locks().list);
        auto& list = window.ContactList();
        const int second = list.AddGroup("Work");
        list.AddContact(0, "00000100", "Reader", 0);
        list.AddContact(0, "00000200", "First", 2);
        list.AddContact(second, "00000300", "Second", 5);
    }
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(opened, std::vector<std::string>{"00000200"});
    ExitAndWait(window);
}

TEST_F(MainWindow, PlacementIsKeptBetweenRunsAndAnOffScreenOneIsIgnored) {
    ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
    auto settings = Settings(ClosedPort());
    const auto run = [&](const std::function<void(CDlgContactList&)>& whileShown) {
        CDlgContactList window(services, settings, false);
        window.Start();
        ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));
        whileShown(window);
        ExitAndWait(window);
    };
    QRect first;
    run([&](CDlgContactList& window) {
        window.move(40, 50);
        window.resize(230, 500);
        first = window.frameGeometry();
    });
    QRect second;
    run([&](CDlgContactList& window) { second = window.frameGeometry(); });
    EXPECT_EQ(second, first);  // neither moved nor grown from one run to the next
    run([&](CDlgContactList& window) { second = window.frameGeometry(); });
    EXPECT_EQ(second, first);

    data::SaveWindowPlacement(data::WindowSection::Window, {-5000, -5000, -4800, -4500});
    run([&](CDlgContactList& window) { second = window.frameGeometry(); });
    EXPECT_GE(second.left(), 0);
    EXPECT_GE(second.top(), 0);
}

TEST_F(MainWindow, PostSentryButtonShowsARunningPollerAndLeavingClosesIt) {
    ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
    // The test plays the running poller by holding its channel.
    auto poller = platform::ChannelListener::TryCreate(platform::PostSentryChannelName(),
                                                       platform::PeerPolicy::SameUser);
    ASSERT_TRUE(poller);
    auto settings = Settings(ClosedPort());
    CDlgContactList window(services, settings, false);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));
    window.findChild<QToolButton*>("postSentryButton")->click();
    EXPECT_EQ(poller->WaitLine(5s), "2");
    window.NewMailArrived();
    EXPECT_EQ(services.sounds.back(), data::SoundEvent::NewMailArrived);
    ExitAndWait(window);
    EXPECT_EQ(poller->WaitLine(5s), "1");
}

TEST_F(MainWindow, OptionsAskFirstWhenTheAccountInUseHasGoneAndRunTheWizardWithoutAccounts) {
    ASSERT_TRUE(PrepareAccount("00005678", "other", "Other"));
    ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
    auto settings = Settings(ClosedPort());
    CDlgContactList window(services, settings, false);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));
    QAction* options = Action(window.SystemMenu(), "options");
    options->trigger();
    EXPECT_EQ(services.calls, std::vector<std::string>{"options"});

    // The account in use has gone from this machine, another is there: the question first.
    services.calls.clear();
    std::filesystem::remove(home.Path() / "Users" / (std::string(AccountId) + ".UID"));
    auto boxes = talvorine::testing::AnswerBoxes([&] { options->trigger(); }, QMessageBox::No);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "The active login ID is not available. Correct this problem now?");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Question);
    EXPECT_TRUE(services.calls.empty());  // No: nothing opens
    boxes = talvorine::testing::AnswerBoxes([&] { options->trigger(); }, QMessageBox::Yes);
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(services.calls, std::vector<std::string>{"select"});  // cancelled: no options

    // No account at all: the wizard comes first.
    services.calls.clear();
    std::filesystem::remove(home.Path() / "Users" / "00005678.UID");
    options->trigger();
    EXPECT_EQ(services.calls, std::vector<std::string>{"wizard"});
    ExitAndWait(window);
}

TEST_F(MainWindow, TrayOnlyStartKeepsTheWindowHiddenOnlyWhereATrayExists) {
    ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
    data::WindowSettings(data::WindowSection::Window).SetDword("TrayIconOnly", 1);
    auto settings = Settings(ClosedPort());
    {
        CDlgContactList window(services, settings, false);
        window.Start();
        ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));
        EXPECT_TRUE(window.isVisible());  // no tray: the window is the only way in
        ExitAndWait(window);
    }
    EXPECT_EQ(data::WindowSettings(data::WindowSection::Window).GetDword("TrayIconOnly"), 0u);
    data::WindowSettings(data::WindowSection::Window).SetDword("TrayIconOnly", 1);
    CDlgContactList window(services, settings, true);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));
    EXPECT_FALSE(window.isVisible());
    window.UpdateMenus();
    EXPECT_EQ(window.TrayMenu()->defaultAction()->text(), "&Show Window");
    window.ShowHideWindow();
    EXPECT_TRUE(window.isVisible());
    window.ShowHideWindow();
    EXPECT_FALSE(window.isVisible());
    ExitAndWait(window);
    EXPECT_EQ(data::WindowSettings(data::WindowSection::Window).GetDword("TrayIconOnly"), 1u);
}

TEST_F(MainWindow, ShutDownPromptIsAskedOnlyWhilePromptIsNotZero) {
    ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
    services.real = MakeShellServices();
    auto settings = Settings(ClosedPort());
    CDlgContactList window(services, settings, false);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));

    // The close box asks; Cancel keeps the program, and the ticked box is remembered.
    const bool asked = AnswerDialog(
        "CDlgShutDown",
        [](QDialog& dialog) {
            dialog.findChild<QCheckBox*>("dontShow")->setChecked(true);
            dialog.reject();
        },
        [&] { window.close(); });
    EXPECT_TRUE(asked);
    EXPECT_FALSE(window.ShutdownStarted());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(data::WindowSettings(data::WindowSection::ShutDown).GetDword("Prompt"), 0u);

    // From now on the close box ends the program without a question.
    const bool askedAgain = AnswerDialog(
        "CDlgShutDown", [](QDialog& dialog) { dialog.reject(); }, [&] { window.close(); });
    EXPECT_FALSE(askedAgain);
    ASSERT_TRUE(PumpUntil([&] { return window.ShutdownFinished(); }));
}

TEST_F(MainWindow, ExitOfTheMenusNeverAsksAndOkOfThePromptShutsDown) {
    ASSERT_TRUE(PrepareAccount(AccountId, "secret", "Nick"));
    services.real = MakeShellServices();
    auto settings = Settings(ClosedPort());
    {
        CDlgContactList window(services, settings, false);
        window.Start();
        ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));
        Action(window.SystemMenu(), "exit")->trigger();
        ASSERT_TRUE(PumpUntil([&] { return window.ShutdownFinished(); }));
        EXPECT_EQ(std::count(services.calls.begin(), services.calls.end(), "shut-down"), 0);
        EXPECT_EQ(services.sounds.back(), data::SoundEvent::Shutdown);
    }
    CDlgContactList window(services, settings, false);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return Idle(window); }, 10s));
    EXPECT_TRUE(AnswerDialog(
        "CDlgShutDown", [](QDialog& dialog) { dialog.accept(); }, [&] { window.AskExit(); }));
    ASSERT_TRUE(PumpUntil([&] { return window.ShutdownFinished(); }));
    EXPECT_EQ(data::WindowSettings(data::WindowSection::ShutDown).GetDword("Prompt"), 1u);
}

#ifdef TALVORINE_WITH_SERVER_HARNESS
TEST_F(MainWindow, OnlineAgainstTheRealServerThenExitLogsOutAndSavesTheList) {
    server::testing::ServerHarness server;
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    const auto credentials = session::RequestNewAccount({"127.0.0.1", server.Port()});
    TempClientHome clientHome{"online"};  // after the harness, which points the registry at its own
    ASSERT_TRUE(PrepareAccount(credentials.userId, credentials.password, "Nick"));
    auto settings = Settings(server.Port());
    CDlgContactList window(services, settings, true);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return window.Session().Connected(); }, 20s));
    auto* status = window.findChild<QToolButton*>("statusButton");
    ASSERT_TRUE(PumpUntil([&] { return status->text() == "Online"; }, 5s));
    EXPECT_EQ(window.windowTitle().toStdString(), credentials.userId);

    window.UpdateMenus();
    QMenu* menu = window.StatusMenu();
    EXPECT_FALSE(Action(menu, "connect")->isEnabled());
    EXPECT_TRUE(Action(menu, "disconnect")->isEnabled());
    EXPECT_TRUE(Action(menu, "online")->isChecked());
    EXPECT_TRUE(Action(menu, "away")->isEnabled());
    window.TimerTick();
    EXPECT_EQ(window.CurrentTrayPicture(), TrayPicture::Online);

    // Away asks "Away Mode" first; confirmed, the status follows once the request went out.
    Action(menu, "away")->trigger();
    EXPECT_EQ(services.calls, std::vector<std::string>{"away"});
    ASSERT_TRUE(PumpUntil([&] { return window.Session().Status() == OnlineStatus::Away; }, 10s));
    window.TimerTick();
    EXPECT_EQ(window.CurrentTrayPicture(), TrayPicture::Away);
    // N/A shows at once, before its request has gone.
    Action(menu, "notAvailable")->trigger();
    EXPECT_EQ(window.Session().Status(), OnlineStatus::NotAvailable);
    window.UpdateMenus();
    EXPECT_TRUE(Action(menu, "notAvailable")->isChecked());
    EXPECT_FALSE(Action(menu, "away")->isChecked());
    window.TimerTick();
    EXPECT_EQ(window.CurrentTrayPicture(), TrayPicture::NotAvailable);

    // Hidden with an unread message: the tray blinks the message pictures.
    {
        std::lock_guard lock(window.Session().Locks().list);
        window.ContactList().AddContact(0, "00000777", "Friend", 1);
    }
    window.HideWindow();
    window.TimerTick();
    const auto first = window.CurrentTrayPicture();
    window.TimerTick();
    EXPECT_EQ(first, TrayPicture::Message1);
    EXPECT_EQ(window.CurrentTrayPicture(), TrayPicture::Message2);

    Action(window.TrayMenu(), "trayExit")->trigger();
    ASSERT_TRUE(PumpUntil([&] { return window.ShutdownFinished(); }, 40s));
    EXPECT_FALSE(window.Session().Connected());
    EXPECT_TRUE(PumpUntil(
        [&] {
            return server.LogText().find(credentials.userId + " logged out.") != std::string::npos;
        },
        20s))
        << server.LogText();
    const auto list = ReadFile(clientHome.Path() / "Users" / credentials.userId / "List.dat");
    EXPECT_NE(list.find("Friends"), std::string::npos) << list;
    EXPECT_NE(ReadFile(clientHome.UserHive()).find("\"TrayIconOnly\"=dword:00000001"),
              std::string::npos);
}

TEST_F(MainWindow, AnAccountFromTheWizardLogsTheOldOneOutThenLogsItselfIn) {
    server::testing::ServerHarness server;
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    const auto first = session::RequestNewAccount({"127.0.0.1", server.Port()});
    const auto second = session::RequestNewAccount({"127.0.0.1", server.Port()});
    TempClientHome clientHome{"switch"};
    ASSERT_TRUE(PrepareAccount(first.userId, first.password, "First"));
    auto settings = Settings(server.Port());
    CDlgContactList window(services, settings, false);
    window.Start();
    ASSERT_TRUE(PumpUntil([&] { return window.Session().Connected(); }, 20s));
    EXPECT_EQ(window.windowTitle().toStdString(), first.userId);

    services.wizardAccount = second.userId;
    services.wizardPassword = second.password;
    Action(window.SystemMenu(), "applyImportAccount")->trigger();
    ASSERT_TRUE(PumpUntil([&] { return window.Session().Connected(); }, 20s));
    EXPECT_EQ(window.windowTitle().toStdString(), second.userId);
    EXPECT_EQ(window.Session().CurrentAccount().userId, second.userId);
    EXPECT_EQ(window.ContactList().LoadedAccount(), second.userId);
    EXPECT_NE(server.LogText().find(first.userId + " logged out."), std::string::npos)
        << server.LogText();
    // The first account's list was saved when it was put away.
    EXPECT_TRUE(std::filesystem::exists(clientHome.Path() / "Users" / first.userId / "List.dat"));
    ExitAndWait(window);
}
#endif

}  // namespace
}  // namespace talvorine::client::ui

int main(int argc, char** argv) {
    // Test discovery runs this program outside CTest's environment too.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
