// The settings record, server start and stop in both forms, the installation record, log
// files and the data source, without a display.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "server_harness.h"
#include "talvorine/admin/admin_settings.h"
#include "talvorine/admin/data_source.h"
#include "talvorine/admin/log_files.h"
#include "talvorine/admin/server_control.h"
#include "talvorine/platform/local_channel.h"
#include "talvorine/platform/registry_store.h"
#include "talvorine/server/server_host.h"
#include "temp_registry.h"

namespace talvorine::admin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using mailpoll::testing::TempRegistry;
using platform::Hive;
using platform::RegistryKey;

// The positions the bar took, in order.
class RecordedProgress : public ProgressSink {
public:
    void SetPosition(int position) override {
        m_position = position;
        positions.push_back(position);
    }
    int Position() const override { return m_position; }
    std::vector<int> positions;

private:
    int m_position = 0;
};

TEST(SettingsTest, InitialValuesAndWhatTheRegistryHolds) {
    TempRegistry registry;
    ServerSettings initial = ServerSettings::Load();
    EXPECT_FALSE(initial.runsAsService);
    EXPECT_EQ(initial.programPath, "");
    EXPECT_EQ(initial.port, 8000u);
    EXPECT_EQ(initial.dataSourceName, "Talvorine Messenger Server");
    EXPECT_EQ(initial.log[EnableLog], 1u);
    EXPECT_EQ(initial.log[OlderThanDays], 30u);
    EXPECT_EQ(initial.log[FirstEvent + 3], 0u);  // "Send message"

    auto running = RegistryKey::Create(Hive::LocalMachine, RunningAsKey);
    running.SetDword("Service", 1);
    RegistryKey::Create(Hive::LocalMachine, ProgramPathKey).SetString("Path", "/opt/tm/bin");
    RegistryKey::Create(Hive::LocalMachine, ServerSettingsKey).SetDword("Port", 9100);
    RegistryKey::Create(Hive::LocalMachine, LogSettingsKey).SetDword("Chat request", 1);
    ServerSettings loaded = ServerSettings::Load();
    EXPECT_TRUE(loaded.runsAsService);
    EXPECT_EQ(loaded.ServerProgram(), fs::path("/opt/tm/bin/TalvorineMessengerServer"));
    EXPECT_EQ(loaded.port, 9100u);
    EXPECT_EQ(loaded.dataSourceName, "Talvorine Messenger Server");  // missing: initial
    EXPECT_EQ(loaded.log[FirstEvent + 5], 1u);                       // "Chat request"
    EXPECT_EQ(loaded.log[FirstEvent + 6], 0u);                       // "File transfer"
}

TEST(SettingsTest, SaveWritesTheEighteenValuesAndNothingElse) {
    TempRegistry registry;
    ServerSettings settings;
    settings.port = 8123;
    settings.dataSourceName = "Other Source";
    for (std::size_t i = 0; i < LogValueCount; ++i) {
        settings.log[i] = static_cast<std::uint32_t>(i + 1);
    }
    settings.runsAsService = true;  // read only: never written
    settings.programPath = "/nowhere";
    ASSERT_EQ(settings.Save(), "");

    platform::RegistryStore machine = platform::RegistryStore::ForHive(Hive::LocalMachine);
    EXPECT_EQ(machine.ValueNames(ServerSettingsKey).size(), 2u);
    EXPECT_EQ(machine.ValueNames(LogSettingsKey).size(), 16u);
    EXPECT_FALSE(machine.KeyExists(RunningAsKey));
    EXPECT_FALSE(machine.KeyExists(ProgramPathKey));
    ServerSettings back = ServerSettings::Load();
    EXPECT_EQ(back.port, 8123u);
    EXPECT_EQ(back.dataSourceName, "Other Source");
    EXPECT_EQ(back.log, settings.log);
    auto key = RegistryKey::Open(Hive::LocalMachine, LogSettingsKey);
    EXPECT_EQ(key->GetDword("Send offline message through server", 0), 8u);
}

TEST(SettingsTest, RefusesPortsAndDayCountsTheServerCannotUse) {
    ServerSettings s;
    EXPECT_EQ(s.Validate(), "");
    for (std::uint32_t port : {0u, 65535u, 70000u}) {
        s.port = port;
        EXPECT_EQ(s.Validate(), PortRangeText) << port;
    }
    s.port = 1;
    EXPECT_EQ(s.Validate(), "");
    s.port = 65534;
    EXPECT_EQ(s.Validate(), "");
    s.log[OlderThanDays] = 0;
    EXPECT_EQ(s.Validate(), OlderThanDaysText);
    s.log[OlderThanDays] = 1;
    EXPECT_EQ(s.Validate(), "");
}

TEST(SettingsTest, AMachineHiveWithoutWriteRightsReportsTheFailure) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write any folder";
    }
    TempRegistry registry;
    ::chmod(registry.Folder().c_str(), 0500);
    ServerSettings s;
    s.port = 9000;
    EXPECT_NE(s.Save(), "");
    ::chmod(registry.Folder().c_str(), 0700);
    EXPECT_EQ(ServerSettings::Load().port, 8000u);
}

TEST(SettingsTest, AHiveThatCannotBeReplacedReportsTheFailure) {
    // Root ignores folder rights; a folder where the hive file should be cannot be replaced
    // by anyone.
    TempRegistry registry;
    fs::create_directories(registry.Folder() / "machine.reg");
    ServerSettings s;
    EXPECT_NE(s.Save(), "");
}

TEST(SettingsTest, ColumnWidthsLiveInTheUsersProfile) {
    TempRegistry registry;
    const std::array<int, 6> defaults{77, 77, 77, 77, 90, 77};
    EXPECT_EQ(LoadColumnWidths(defaults), defaults);
    ASSERT_EQ(SaveColumnWidths({10, 20, 30, 40, 50, 60}), "");
    EXPECT_EQ(LoadColumnWidths(defaults), (std::array<int, 6>{10, 20, 30, 40, 50, 60}));
    ASSERT_EQ(SaveColumnWidths({0, 20, 30, 40, 50, 60}), "");
    EXPECT_EQ(LoadColumnWidths(defaults)[0], 77);  // an unusable width gives the default
    EXPECT_TRUE(platform::RegistryStore::ForHive(Hive::CurrentUser).KeyExists(ColumnWidthKey));
    EXPECT_FALSE(platform::RegistryStore::ForHive(Hive::LocalMachine).KeyExists(ColumnWidthKey));
}

TEST(SettingsTest, InstallAndRemoveRecordHowTheServerRuns) {
    TempRegistry registry;
    ASSERT_TRUE(server::RecordInstallation(true, "/usr/local/bin"));
    ServerSettings installed = ServerSettings::Load();
    EXPECT_TRUE(installed.runsAsService);
    EXPECT_EQ(installed.programPath, "/usr/local/bin");
    ASSERT_TRUE(server::RecordInstallation(false, "/usr/local/bin"));
    EXPECT_FALSE(ServerSettings::Load().runsAsService);
}

// A systemctl of the test's own, first on PATH: it records its calls and answers is-active
// from a list of states, then with a final state.
class FakeSystemctl {
public:
    FakeSystemctl() : m_folder("admin-systemctl") {
        fs::path script = m_folder.Path() / "systemctl";
        std::ofstream(script) << "#!/bin/sh\n"
                                 "dir=\"$(dirname \"$0\")\"\n"
                                 "echo \"$*\" >> \"$dir/calls\"\n"
                                 "case \"$1\" in\n"
                                 "  is-active)\n"
                                 "    if [ -s \"$dir/states\" ]; then head -n 1 \"$dir/states\";\n"
                                 "      sed -i 1d \"$dir/states\"; else cat \"$dir/final\"; fi ;;\n"
                                 "  *) exit \"$(cat \"$dir/rc\" 2>/dev/null || echo 0)\" ;;\n"
                                 "esac\n";
        fs::permissions(script, fs::perms::owner_all);
        m_path = std::getenv("PATH");
        ::setenv("PATH", (m_folder.Path().string() + ":" + m_path).c_str(), 1);
    }
    ~FakeSystemctl() { ::setenv("PATH", m_path.c_str(), 1); }
    FakeSystemctl(const FakeSystemctl&) = delete;
    FakeSystemctl& operator=(const FakeSystemctl&) = delete;

    void Answer(const std::string& pending, const std::string& final, int rc = 0) {
        std::ofstream(m_folder.Path() / "states") << pending;
        std::ofstream(m_folder.Path() / "final") << final << "\n";
        std::ofstream(m_folder.Path() / "rc") << rc << "\n";
    }
    std::vector<std::string> Calls() const {
        std::vector<std::string> calls;
        std::ifstream in(m_folder.Path() / "calls");
        for (std::string line; std::getline(in, line);) {
            calls.push_back(line);
        }
        fs::remove(m_folder.Path() / "calls");
        return calls;
    }

private:
    server::testing::TempFolder m_folder;
    std::string m_path;
};

ServerControlOptions ServiceOptions(std::vector<std::chrono::milliseconds>& waits) {
    ServerControlOptions options;
    options.service = true;
    options.wait = [&waits](std::chrono::milliseconds time) { waits.push_back(time); };
    return options;
}

TEST(ServiceFormTest, StartPollsWhileActivatingAndEndsRunning) {
    FakeSystemctl systemctl;
    std::vector<std::chrono::milliseconds> waits;
    ServerControl control(ServiceOptions(waits));
    systemctl.Answer("inactive\n", "inactive");
    EXPECT_FALSE(control.IsRunning());
    systemctl.Calls();

    systemctl.Answer("activating\nactivating\n", "active");
    RecordedProgress progress;
    EXPECT_TRUE(control.Start(progress));
    std::vector<std::string> calls = systemctl.Calls();
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0], "start --no-block talvorine-messenger-server.service");
    EXPECT_EQ(calls[1], "is-active talvorine-messenger-server.service");
    EXPECT_EQ(calls.size(), 5u);  // start, two activating, active ends the poll, the final query
    EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds>{1000ms, 200ms, 200ms, 1000ms}));
    EXPECT_EQ(progress.positions, (std::vector<int>{10, 20, 30, 100, 0}));
}

TEST(ServiceFormTest, StopPollsWhileDeactivatingAndAFailedStartIsReported) {
    FakeSystemctl systemctl;
    std::vector<std::chrono::milliseconds> waits;
    ServerControl control(ServiceOptions(waits));
    systemctl.Answer("deactivating\n", "inactive");
    RecordedProgress progress;
    EXPECT_TRUE(control.Stop(progress));
    std::vector<std::string> calls = systemctl.Calls();
    EXPECT_EQ(calls.front(), "stop --no-block talvorine-messenger-server.service");
    EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds>{1000ms, 200ms, 500ms}));
    EXPECT_EQ(progress.positions.back(), 0);

    // systemctl refuses (no such unit, no right): no polling, the final query decides.
    waits.clear();
    systemctl.Answer("", "inactive", 5);
    RecordedProgress failed;
    EXPECT_FALSE(control.Start(failed));
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(failed.positions, std::vector<int>{0});
}

TEST(ConsoleFormTest, StartsTheRealServerAndStopsItThroughTheStopEvent) {
    server::testing::ServerHarness harness;
    ASSERT_EQ(harness.RunSetup(), 0) << harness.SetupOutput();
    // The server reads its port pair from the registry the harness points at.
    RegistryKey::Create(Hive::LocalMachine, ServerSettingsKey).SetDword("Port", harness.Port());
    ServerControlOptions options;
    options.program = SERVER_PROGRAM;
    options.folder = harness.ServerFolder();
    options.stopEventName = StopEventName();
    ASSERT_EQ(options.stopEventName, harness.StopEventName());
    ServerControl control(options);
    EXPECT_FALSE(control.IsRunning());

    RecordedProgress started;
    ASSERT_TRUE(control.Start(started));
    EXPECT_TRUE(control.IsRunning());
    EXPECT_EQ(started.positions.back(), 0);
    EXPECT_NE(std::find(started.positions.begin(), started.positions.end(), 100),
              started.positions.end());
    // It serves: the account port answers.
    EXPECT_NO_THROW(harness.ConnectAccount());

    RecordedProgress stopped;
    EXPECT_TRUE(control.Stop(stopped));
    EXPECT_FALSE(control.IsRunning());
    EXPECT_FALSE(platform::ChannelExists(harness.StopEventName()));
}

TEST(ConsoleFormTest, StoppingWhenNothingRunsSucceedsAtOnce) {
    server::testing::TempFolder folder;
    ServerControlOptions options;
    options.stopEventName = "Talvorine admin test " + folder.Path().filename().string();
    std::vector<std::chrono::milliseconds> waits;
    options.wait = [&waits](std::chrono::milliseconds time) { waits.push_back(time); };
    ServerControl control(options);
    RecordedProgress progress;
    EXPECT_TRUE(control.Stop(progress));
    EXPECT_EQ(waits, std::vector<std::chrono::milliseconds>{500ms});
    EXPECT_EQ(progress.positions, (std::vector<int>{100, 0}));
}

TEST(ConsoleFormTest, AServerThatEndsAtOnceIsNotWaitedFor) {
    server::testing::TempFolder folder;
    ServerControlOptions options;
    options.stopEventName = "Talvorine admin test " + folder.Path().filename().string();
    std::vector<std::chrono::milliseconds> waits;
    options.wait = [&waits](std::chrono::milliseconds time) {
        waits.push_back(time);
        std::this_thread::sleep_for(time);
    };
    for (const char* program : {"/bin/false", "/nonexistent/TalvorineMessengerServer"}) {
        options.program = program;
        ServerControl control(options);
        RecordedProgress progress;
        waits.clear();
        EXPECT_FALSE(control.Start(progress)) << program;
        // Far fewer than the 75 polls of the 15 s limit.
        EXPECT_LT(waits.size(), 20u) << program;
        EXPECT_EQ(progress.positions.back(), 0);
    }
}

TEST(LogFilesTest, ListsTextFilesByNameAndDeletesThem) {
    server::testing::TempFolder folder;
    fs::create_directories(folder.Path() / "Log");
    std::ofstream(folder.Path() / "Log" / "2026-12-01 10-00-00.txt") << "x";
    std::ofstream(folder.Path() / "Log" / "notes.md") << "x";
    std::vector<std::string> names = ListLogFiles(folder.Path());
    EXPECT_EQ(names, std::vector<std::string>{"2026-12-01 10-00-00"});
    EXPECT_TRUE(ListLogFiles(folder.Path() / "missing").empty());
    EXPECT_TRUE(DeleteLogFile(folder.Path(), names[0]));
    EXPECT_FALSE(DeleteLogFile(folder.Path(), names[0]));
}

TEST(HelpTest, EveryTopicHasItsPage) {
    for (const char* topic : {"serverintroduction.htm", "servercontrol.htm", "usermanagement.htm",
                              "logconfiguration.htm", "index.htm", "basicdialog.htm",
                              "communicationdialog.htm", "moredialog.htm"}) {
        fs::path file = HelpTopicFile(topic);
        ASSERT_FALSE(file.empty()) << topic;
        std::ifstream in(file);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find("<title>"), std::string::npos) << topic;
    }
    EXPECT_TRUE(HelpTopicFile("nothing.htm").empty());
}

TEST(DataSourceTest, EditsTheUsersDataSourceFileAndKeepsOtherKeys) {
    server::testing::TempFolder folder;
    fs::path ini = folder.Path() / "odbc.ini";
    std::ofstream(ini) << "[Talvorine Messenger Server]\nDriver=SQLite3\nDatabase=/srv/a.db\n"
                          "Timeout=5000\n";
    const char* before = std::getenv("ODBCINI");
    std::string saved = before != nullptr ? before : "";
    ::setenv("ODBCINI", ini.c_str(), 1);

    auto installer = OdbcInstaller::Load();
    ASSERT_NE(installer, nullptr);
    DataSource source = ReadDataSource(*installer, "Talvorine Messenger Server");
    EXPECT_EQ(source.driver, DataSourceDriver::Sqlite);
    EXPECT_EQ(source.database, "/srv/a.db");

    source.database = "/srv/b.db";
    EXPECT_EQ(CheckDataSource("Talvorine Messenger Server", source), "");
    ASSERT_EQ(WriteDataSource(*installer, "Talvorine Messenger Server", source), "");
    source.driver = DataSourceDriver::MariaDb;
    EXPECT_NE(CheckDataSource("Talvorine Messenger Server", source), "");  // no server
    source.server = "db.example.org";
    source.port = "70000";
    EXPECT_NE(CheckDataSource("Talvorine Messenger Server", source), "");
    source.port = "3306";
    source.database = "talvorine\nDriver=/tmp/evil.so";
    EXPECT_NE(CheckDataSource("Talvorine Messenger Server", source), "");

    std::ifstream in(ini);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Database=/srv/b.db"), std::string::npos) << text;
    EXPECT_NE(text.find("Timeout=5000"), std::string::npos) << text;
    EXPECT_NE(text.find("Driver=SQLite3"), std::string::npos) << text;

    EXPECT_EQ(OdbcInstaller::Load("libodbcinst-missing.so.9"), nullptr);
    if (saved.empty()) {
        ::unsetenv("ODBCINI");
    } else {
        ::setenv("ODBCINI", saved.c_str(), 1);
    }
}

}  // namespace
}  // namespace talvorine::admin
