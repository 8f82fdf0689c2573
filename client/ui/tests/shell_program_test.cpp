// The real TalvorineMessenger program, followed through its trace on stderr: one instance per
// desktop, the wizard before the first connection, and a whole session against the real server
// ended by the stop signal.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "server_harness.h"
#include "shell_test_support.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/platform/registry_store.h"
#include "talvorine/testing/spawned_program.h"

namespace talvorine::client::ui {
namespace {

using namespace std::chrono_literals;
using testing::PrepareAccount;
using testing::ReadFile;
using testing::TempClientHome;

// The client with this process's environment (the test's folders and channels), its trace on
// stderr kept in a file.
class Messenger : public talvorine::testing::SpawnedProgram {
public:
    explicit Messenger(const std::filesystem::path& output)
        : SpawnedProgram(MESSENGER_PROGRAM, {}, output), m_output(output) {}
    std::string Output() const { return ReadFile(m_output); }
    bool WaitOutput(const std::string& text, std::chrono::milliseconds limit = 20s) const {
        return talvorine::testing::WaitFor([&] { return Output().find(text) != std::string::npos; },
                                           limit);
    }

private:
    std::filesystem::path m_output;
};

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("TALVORINE_CLIENT_TRACE", "1", 1);
    }
    // Only the network values, as the "Network Settings" sheet leaves them.
    static void SetServer(std::uint16_t port) {
        auto key = platform::RegistryKey::Create(
            platform::Hive::CurrentUser, "Software\\Talvorine\\Messenger\\Settings\\Network");
        key.SetString("Server", "127.0.0.1");
        key.SetDword("Port", port);
        key.SetDword("AutoConnect", 0);
    }
    std::filesystem::path Output(const char* name) const { return home.Path() / name; }

    TempClientHome home{"program"};
};

TEST_F(Program, StartedTwiceTheSecondSaysSoAndEndsWhileTheFirstGoesOn) {
    ASSERT_TRUE(PrepareAccount("00001234", "secret", "Nick"));
    SetServer(9);  // nobody listens there: the first stays offline
    auto poller = platform::ChannelListener::TryCreate(platform::PostSentryChannelName(),
                                                       platform::PeerPolicy::SameUser);
    ASSERT_TRUE(poller);  // held by the test, so no real poller is started
    Messenger first(Output("first.txt"));
    ASSERT_TRUE(first.WaitOutput("caption: 00001234")) << first.Output();

    Messenger second(Output("second.txt"));
    ASSERT_TRUE(second.WaitOutput("box: Talvorine Messenger is already running!"))
        << second.Output();
    second.Signal(SIGTERM);  // the box is closed as its OK would close it
    EXPECT_EQ(second.WaitExit(10s), 0);
    EXPECT_EQ(second.Output().find("caption:"), std::string::npos);

    EXPECT_EQ(first.WaitExit(500ms), std::nullopt);
    EXPECT_TRUE(platform::ChannelExists(platform::ClientChannelName()));
    first.Signal(SIGTERM);
    EXPECT_EQ(first.WaitExit(20s), 0) << first.Output();
    EXPECT_FALSE(platform::ChannelExists(platform::ClientChannelName()));
}

TEST_F(Program, WithoutAServerTheNetworkSettingsComeFirstAndCancellingThemEndsTheProgram) {
    Messenger program(Output("program.txt"));
    ASSERT_TRUE(program.WaitOutput("window: Network Settings")) << program.Output();
    program.Signal(SIGTERM);  // cancels the sheet
    EXPECT_EQ(program.WaitExit(20s), 0) << program.Output();
    EXPECT_EQ(program.Output().find("window: Talvorine Messenger"), std::string::npos);
    EXPECT_EQ(program.Output().find("window: Account Wizard"), std::string::npos);
}

TEST_F(Program, AChannelNameThatCannotBeUsedIsReportedNotACrash) {
    ::setenv("TALVORINE_CLIENT_CHANNEL", std::string(200, 'x').c_str(), 1);
    Messenger program(Output("program.txt"));
    ASSERT_TRUE(program.WaitOutput("cannot be made")) << program.Output();
    program.Signal(SIGTERM);  // closes the error box
    EXPECT_EQ(program.WaitExit(20s), 1) << program.Output();
}

TEST_F(Program, WithNoAccountsTheWizardOpensFirstAndCancellingItEndsTheProgram) {
    SetServer(9);
    Messenger program(Output("program.txt"));
    ASSERT_TRUE(program.WaitOutput("window: Account Wizard")) << program.Output();
    program.Signal(SIGTERM);  // cancels the wizard
    EXPECT_EQ(program.WaitExit(20s), 0) << program.Output();
    EXPECT_EQ(program.Output().find("caption:"), std::string::npos);
    EXPECT_TRUE(data::ListAccounts().empty());
}

TEST_F(Program, LogsInToTheRealServerShowsOnlineAndLogsOutOnTheStopSignal) {
    server::testing::ServerHarness server;
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    const auto credentials = session::RequestNewAccount({"127.0.0.1", server.Port()});
    TempClientHome clientHome{"program-online"};  // the harness pointed the registry at its own
    ASSERT_TRUE(PrepareAccount(credentials.userId, credentials.password, "Nick"));
    SetServer(server.Port());

    // The test holds the poller's channel: the client takes the poller as running and tells
    // it, on leaving, to close.
    auto poller = platform::ChannelListener::TryCreate(platform::PostSentryChannelName(),
                                                       platform::PeerPolicy::SameUser);
    ASSERT_TRUE(poller);

    Messenger program(clientHome.Path() / "program.txt");
    ASSERT_TRUE(program.WaitOutput("status: Online")) << program.Output();
    EXPECT_TRUE(program.WaitOutput("caption: " + credentials.userId));
    // The poller announces new mail: the client plays its sound and goes on.
    EXPECT_TRUE(platform::SendChannelLine(platform::ClientChannelName(), "3"));
    EXPECT_TRUE(program.WaitOutput("sound: 65005")) << program.Output();
    program.Signal(SIGTERM);
    EXPECT_EQ(poller->WaitLine(20s), "1");
    EXPECT_EQ(program.WaitExit(40s), 0) << program.Output();
    EXPECT_NE(server.LogText().find(credentials.userId + " logged out."), std::string::npos)
        << server.LogText();
    // The settings were saved at exit: every group, not only what the test wrote.
    const auto hive = ReadFile(clientHome.UserHive());
    EXPECT_NE(hive.find("\"Animation Time\"=dword:000000c8"), std::string::npos) << hive;
    EXPECT_NE(hive.find("\"TrayIconOnly\"=dword:00000000"), std::string::npos) << hive;
    EXPECT_NE(hive.find("\"Server\"=\"127.0.0.1\""), std::string::npos) << hive;
}

}  // namespace
}  // namespace talvorine::client::ui
