// The server program from the outside: start-up and shutdown order, the stop event, console
// signals, log switches, listen failures and old log files.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>

#include "server_harness.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/packet.h"
#include "talvorine/server/server_host.h"

namespace talvorine::server::testing {
namespace {

// Positions of `lines` in `text`, which must appear in this order.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& lines) {
    std::size_t from = 0;
    for (const auto& line : lines) {
        std::size_t at = text.find(line, from);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: \"" << line << "\" in\n"
                                         << text;
        from = at + line.size();
    }
}

const std::vector<std::string> StartLines = {
    "Starting Talvorine(R) Messenger Server ...\r\n",
    "Connecting to database ...OK.\r\n",
    "Initialize socket ...OK.\r\n",
    "Listening ...OK.\r\n",
    "Talvorine(R) Messenger Server started.\r\n",
};
const std::vector<std::string> StopLines = {
    "Closing database ...OK.\r\n",
    "Talvorine(R) Messenger Server stopped.\r\n",
};

std::vector<std::string> WithoutCr(std::vector<std::string> lines) {
    for (auto& line : lines) {
        line.erase(line.find('\r'), 1);
    }
    return lines;
}

std::string DayName(int daysAgo) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    local.tm_mday -= daysAgo;
    local.tm_hour = 12;  // away from any change of daylight saving time
    local.tm_isdst = -1;
    std::mktime(&local);
    char name[40];
    std::strftime(name, sizeof(name), "%Y-%m-%d 00-00-00.txt", &local);
    return name;
}

TEST(ServerHost, StartsAndStopsThroughTheStopEventInTheDesignedOrder) {
    ServerHarness server;
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    EXPECT_TRUE(platform::ChannelExists(server.StopEventName()));
    EXPECT_EQ(server.Stop(), 0);

    std::string log = server.LogText();
    std::vector<std::string> all = StartLines;
    all.insert(all.end(), StopLines.begin(), StopLines.end());
    ExpectInOrder(log, all);
    ExpectInOrder(server.ConsoleOutput(), WithoutCr(all));
    // Every line starts with the local time stamp "YYYY-MM-DD HH-MM-SS ".
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        ASSERT_GE(line.size(), 20u);
        EXPECT_EQ(line[4], '-');
        EXPECT_EQ(line[10], ' ');
        EXPECT_EQ(line[13], '-');
        EXPECT_EQ(line[19], ' ') << line;
        EXPECT_EQ(line.back(), '\r');
    }
    // A stop event stop does not announce "Stopping server ...".
    EXPECT_EQ(log.find("Stopping server"), std::string::npos);
    EXPECT_EQ(server.LogFiles().size(), 1u);
    EXPECT_FALSE(platform::ChannelExists(server.StopEventName()));
}

class ConsoleSignal : public ::testing::TestWithParam<int> {};

TEST_P(ConsoleSignal, AfterStartLeadsToAnOrderlyShutdown) {
    ServerHarness server;
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    EXPECT_EQ(server.StopWithSignal(GetParam()), 0);
    std::vector<std::string> lines = {"Talvorine(R) Messenger Server started.\r\n",
                                      "Stopping server ...\r\n", "Closing database ...OK.\r\n",
                                      "Talvorine(R) Messenger Server stopped.\r\n"};
    ExpectInOrder(server.LogText(), lines);
    ExpectInOrder(server.ConsoleOutput(), WithoutCr(lines));
}

INSTANTIATE_TEST_SUITE_P(ServerHost, ConsoleSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

TEST(ServerHost, EnableLogOffMakesNoLogFolderButTheConsoleShowsEveryLine) {
    ServerHarness server;
    server.SetLogValue("Enable log", 0);
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(server.LogFolder()));
    std::vector<std::string> all = StartLines;
    all.insert(all.end(), StopLines.begin(), StopLines.end());
    ExpectInOrder(server.ConsoleOutput(), WithoutCr(all));
}

TEST(ServerHost, StartStopSwitchOffKeepsTheConsoleLinesOutOfTheFile) {
    ServerHarness server;
    server.SetLogValue("Server start/stop", 0);
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    EXPECT_EQ(server.StopWithSignal(SIGINT), 0);
    std::string log = server.LogText();
    EXPECT_EQ(log.find("Starting Talvorine"), std::string::npos) << log;
    EXPECT_EQ(log.find("Stopping server"), std::string::npos) << log;
    EXPECT_EQ(log.find("Messenger Server stopped."), std::string::npos) << log;
    // The always-written steps stay in the file.
    ExpectInOrder(log, {"Connecting to database ...OK.\r\n", "Closing database ...OK.\r\n"});
    ExpectInOrder(server.ConsoleOutput(),
                  {"Starting Talvorine(R) Messenger Server ...\n", "Stopping server ...\n",
                   "Talvorine(R) Messenger Server stopped.\n"});
}

TEST(ServerHost, LoginSwitchOffKeepsTheConsoleLineButNotTheFileLine) {
    ServerHarness server;
    server.SetLogValue("Login", 0);
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    server.Execute("INSERT INTO USERS (ID, Password, Disabled) VALUES ('00000007', 'secret', 0)");

    protocol::Socket notifications;
    ASSERT_EQ(protocol::ListenOn(notifications.Ref(), 0), 0);
    protocol::Socket request = server.ConnectSession();
    protocol::LoginRequest login{"00000007", "secret", protocol::LocalPort(notifications.Get())};
    auto body = login.Encode();
    protocol::SendPacket(request.Get(), protocol::PacketType::Login, body, 30);
    std::array<std::uint8_t, 4095> reply{};
    auto header = protocol::ReceivePacket(request.Get(), reply, 30);
    EXPECT_EQ(header.type, protocol::PacketType::LoginAccepted);
    protocol::Socket back(protocol::AcceptOn(notifications.Get(), nullptr));
    EXPECT_TRUE(back.IsOpen());
    ASSERT_TRUE(server.WaitForConsole("00000007 logged in.")) << server.ConsoleOutput();
    protocol::SendPacket(request.Get(), protocol::PacketType::Logout, 30);
    ASSERT_TRUE(server.WaitForConsole("00000007 logged out."));

    EXPECT_EQ(server.Stop(), 0);
    std::string log = server.LogText();
    EXPECT_EQ(log.find("logged in."), std::string::npos) << log;
    EXPECT_NE(log.find("00000007 logged out.\r\n"), std::string::npos) << log;
}

TEST(ServerHost, BusyAccountPortFailsToListenAndShutsDownInOrder) {
    ServerHarness server;
    protocol::Socket blocker;
    ASSERT_EQ(protocol::ListenOn(blocker.Ref(), server.AccountPort()), 0);
    server.Launch();
    auto code = server.WaitForExit(30s);
    ASSERT_TRUE(code.has_value()) << server.ConsoleOutput();
    EXPECT_EQ(*code, 0);
    std::string failed = "Listening ...Failed(" + std::to_string(server.AccountPort()) +
                         "). (address already in use)\r\n";
    ExpectInOrder(server.LogText(),
                  {"Initialize socket ...OK.\r\n", failed, "Closing database ...OK.\r\n",
                   "Talvorine(R) Messenger Server stopped.\r\n"});
    EXPECT_EQ(server.LogText().find("Messenger Server started."), std::string::npos);
    // Nothing listens on the session port any more.
    protocol::Socket probe;
    EXPECT_EQ(protocol::ListenOn(probe.Ref(), server.Port()), 0);
}

TEST(ServerHost, MissingDataSourceIsReportedAndEndsTheRun) {
    ServerHarness server;
    server.SetDataSourceName("No Such Data Source");
    server.Launch();
    auto code = server.WaitForExit(30s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);
    std::string log = server.LogText();
    ExpectInOrder(
        log, {"Connecting to database ...Failed - ", "Talvorine(R) Messenger Server stopped.\r\n"});
    EXPECT_EQ(log.find("Listening"), std::string::npos);
    EXPECT_EQ(log.find("Closing database"), std::string::npos);
}

TEST(ServerHost, ClearsLogFilesOfThirtyDaysAgoButNotTwentyNine) {
    ServerHarness server;
    std::filesystem::create_directories(server.LogFolder());
    std::vector<std::string> names = {DayName(30), DayName(29), DayName(400), "notes.txt",
                                      "2001-13-01 00-00-00.txt"};
    for (const auto& name : names) {
        std::ofstream(server.LogFolder() / name) << "old\r\n";
    }
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(server.LogFolder() / names[0]));
    EXPECT_TRUE(std::filesystem::exists(server.LogFolder() / names[1]));
    EXPECT_FALSE(std::filesystem::exists(server.LogFolder() / names[2]));
    EXPECT_TRUE(std::filesystem::exists(server.LogFolder() / names[3]));
    EXPECT_TRUE(std::filesystem::exists(server.LogFolder() / names[4]));
}

TEST(ServerHost, AutoClearOffKeepsOldFiles) {
    ServerHarness server;
    server.SetLogValue("Auto clear log", 0);
    std::filesystem::create_directories(server.LogFolder());
    std::ofstream(server.LogFolder() / DayName(45)) << "old\r\n";
    ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_TRUE(std::filesystem::exists(server.LogFolder() / DayName(45)));
}

TEST(ServerHost, OutsideTheServiceManagerTheServiceFormExitsWithOne) {
    ::unsetenv("NOTIFY_SOCKET");
    for (std::vector<std::string> arguments :
         {std::vector<std::string>{}, std::vector<std::string>{"install"}}) {
        ServerHarness server;
        server.Launch(arguments);
        auto code = server.WaitForExit(30s);
        ASSERT_TRUE(code.has_value());
        EXPECT_EQ(*code, 1);
        EXPECT_NE(server.ConsoleOutput().find(
                      "Error: Failed to start service. (not started as a service)"),
                  std::string::npos)
            << server.ConsoleOutput();
    }
}

// The variables the running server was started with, from /proc (unused under the sanitizer).
[[maybe_unused]] std::vector<std::string> EnvironmentOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    std::vector<std::string> variables;
    std::string variable;
    while (std::getline(in, variable, '\0')) {
        variables.push_back(variable);
    }
    return variables;
}

TEST(ServerHost, RunsWithoutPerThreadAllocationCachesUnlessTheOperatorSetTunables) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator has no such cache";
#else
    const char* before = std::getenv("GLIBC_TUNABLES");
    const std::optional<std::string> saved =
        before != nullptr ? std::optional<std::string>(before) : std::nullopt;
    for (const std::string given : {"", "glibc.malloc.arena_max=8"}) {
        if (given.empty()) {
            ::unsetenv("GLIBC_TUNABLES");
        } else {
            ::setenv("GLIBC_TUNABLES", given.c_str(), 1);
        }
        ServerHarness server;
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
        const std::string expected =
            "GLIBC_TUNABLES=" + (given.empty() ? "glibc.malloc.tcache_count=0" : given);
        const auto variables = EnvironmentOf(server.Pid());
        EXPECT_EQ(std::count(variables.begin(), variables.end(), expected), 1) << given;
        // Started once more in place, it is the same process and serves as before.
        auto socket = server.ConnectSession();
        EXPECT_TRUE(socket.IsOpen());
        EXPECT_EQ(server.Stop(), 0);
    }
    if (saved) {
        ::setenv("GLIBC_TUNABLES", saved->c_str(), 1);
    } else {
        ::unsetenv("GLIBC_TUNABLES");
    }
#endif
}

TEST(ServerCommandLine, SwitchesAreCaseInsensitiveWithDashOrSlash) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(ParseCommandLine(V{"-INSTALL"}), Command::Install);
    EXPECT_EQ(ParseCommandLine(V{"/install"}), Command::Install);
    EXPECT_EQ(ParseCommandLine(V{"-Remove"}), Command::Remove);
    EXPECT_EQ(ParseCommandLine(V{"/CONSOLE", "x"}), Command::Console);
    EXPECT_EQ(ParseCommandLine(V{"install"}), Command::Service);
    EXPECT_EQ(ParseCommandLine(V{"-start"}), Command::Service);
    EXPECT_EQ(ParseCommandLine(V{}), Command::Service);
}

TEST(ServerSettingsTest, NoRegistryGivesTheDefaults) {
    TempFolder registry;
    ::setenv("TALVORINE_REGISTRY_DIR", registry.Path().c_str(), 1);
    ServerSettings settings = ReadServerSettings();
    EXPECT_EQ(settings.port, 8000);
    EXPECT_EQ(settings.dataSourceName, "Talvorine Messenger Server");
    EXPECT_FALSE(settings.registryError.empty());
    EXPECT_TRUE(settings.log.IsOn(LogSwitch::Login));
    EXPECT_FALSE(settings.log.IsOn(LogSwitch::SendMessage));
    EXPECT_EQ(settings.log.Value(LogSwitch::OlderThanDays), 30u);
}

TEST(ServerSettingsTest, TheUnitRunsTheServerAsANotifyServiceWithRoomForManySessions) {
    std::string unit = ServiceUnitText("/usr/bin/TalvorineMessengerServer");
    EXPECT_NE(unit.find("Type=notify\n"), std::string::npos);
    EXPECT_NE(unit.find("ExecStart=/usr/bin/TalvorineMessengerServer\n"), std::string::npos);
    EXPECT_NE(unit.find("StateDirectory=talvorine-messenger-server\n"), std::string::npos);
    EXPECT_NE(unit.find("Environment=TALVORINE_SERVER_HOME=/var/lib/talvorine-messenger-server\n"),
              std::string::npos);
    EXPECT_NE(unit.find("LimitNOFILE=65536\n"), std::string::npos);
}

}  // namespace
}  // namespace talvorine::server::testing

namespace talvorine::server::testing {
namespace {

TEST(ServerSettingsTest, ThePackagedUnitIsTheOneInstallWrites) {
    std::ifstream in(TALVORINE_PACKAGED_UNIT);
    std::string packaged;
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("#")) {
            packaged += line + "\n";
        }
    }
    EXPECT_EQ(packaged, ServiceUnitText("/usr/local/bin/TalvorineMessengerServer"));
}

}  // namespace
}  // namespace talvorine::server::testing
