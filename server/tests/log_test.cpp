// The log on its own: line kinds, switches, the time prefix, continuation lines and cuts.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "server_harness.h"
#include "talvorine/platform/registry_store.h"
#include "talvorine/server/server_log.h"

namespace talvorine::server::testing {
namespace {

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class ServerLogTest : public ::testing::Test {
protected:
    std::string Console() {
        std::fflush(m_console);
        std::rewind(m_console);
        std::string text;
        char buffer[1024];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), m_console)) > 0) {
            text.append(buffer, n);
        }
        return text;
    }
    void TearDown() override { std::fclose(m_console); }

    TempFolder m_folder;
    std::FILE* m_console = std::tmpfile();
};

TEST_F(ServerLogTest, KindsAndSwitchesChooseConsoleAndFile) {
    LogSettings settings;
    settings.Set(LogSwitch::Login, 0);
    settings.Set(LogSwitch::SendMessage, 0);
    settings.Set(LogSwitch::ChatRequest, 1);
    ServerLog log(m_folder.Path(), settings, m_console);
    log.OpenLogFile();
    ASSERT_TRUE(log.FilePath());

    log.Always("always");
    log.ConsoleOnly("console only");
    log.Write(LogSwitch::Login, "00000001 logged in.");           // console yes, file no
    log.Write(LogSwitch::SendMessage, "a sent a message to b.");  // neither
    log.Write(LogSwitch::ChatRequest, "a sent a chat request to b.");
    log.Event(LogKind::Always(), "Connecting to database ...", LineEnd::No);
    log.Text(LogKind::Always(), "OK.");
    log.CloseLogFile();

    std::string file = ReadAll(*log.FilePath());
    std::string console = Console();
    EXPECT_NE(file.find(" always\r\n"), std::string::npos);
    EXPECT_EQ(file.find("console only"), std::string::npos);
    EXPECT_EQ(file.find("logged in"), std::string::npos);
    EXPECT_EQ(file.find("sent a message"), std::string::npos);
    EXPECT_NE(file.find(" a sent a chat request to b.\r\n"), std::string::npos);
    EXPECT_NE(file.find(" Connecting to database ...OK.\r\n"), std::string::npos);

    EXPECT_NE(console.find(" console only\n"), std::string::npos);
    EXPECT_NE(console.find(" 00000001 logged in.\n"), std::string::npos);
    EXPECT_EQ(console.find("sent a message"), std::string::npos);
    EXPECT_NE(console.find(" Connecting to database ...OK.\n"), std::string::npos);
}

TEST_F(ServerLogTest, LongMessagesAreCutWithoutHalfACharacter) {
    ServerLog log(m_folder.Path(), LogSettings(), nullptr);
    log.OpenLogFile();
    std::string text = std::string(510, 'a') + "ü" + "tail";  // ü straddles the 511th byte
    log.Text(LogKind::Always(), text);
    log.CloseLogFile();
    EXPECT_EQ(ReadAll(*log.FilePath()), std::string(510, 'a') + "\r\n");
}

TEST_F(ServerLogTest, TimePrefixAndFileNameUseTheLocalTime) {
    auto when = std::chrono::system_clock::now();
    ServerLog log(m_folder.Path(), LogSettings(), nullptr);
    log.OpenLogFile(when);
    EXPECT_EQ(log.FilePath()->filename().string(), ServerLog::FormatTime(when) + ".txt");
    EXPECT_EQ(log.FilePath()->parent_path(), m_folder.Path() / "Log");
    std::string stamp = ServerLog::FormatTime(when);
    ASSERT_EQ(stamp.size(), 19u);
    EXPECT_EQ(stamp[10], ' ');
    EXPECT_EQ(stamp[13], '-');
    EXPECT_EQ(stamp[16], '-');
}

TEST_F(ServerLogTest, AnUnopenableFileIsAConsoleWarningAndTheRunGoesOn) {
    std::ofstream(m_folder.Path() / "Log") << "a file where the folder should be";
    ServerLog log(m_folder.Path(), LogSettings(), m_console);
    log.OpenLogFile();
    EXPECT_FALSE(log.FilePath());
    log.Always("still shown");
    std::string console = Console();
    EXPECT_NE(console.find("Warning: Failed to open log file "), std::string::npos) << console;
    EXPECT_NE(console.find("still shown"), std::string::npos);
}

TEST(LogSettingsTest, AllSixteenValuesAreReadByTheirNames) {
    TempFolder folder;
    platform::RegistryStore store(folder.Path() / "machine.reg");
    auto key = platform::RegistryKey::Create(store, LogSettingsKey);
    for (const auto& info : LogSwitches) {
        key.SetDword(info.valueName, info.defaultValue == 0 ? 7 : 0);
    }
    LogSettings read = LogSettings::Read(key);
    for (const auto& info : LogSwitches) {
        EXPECT_EQ(read.Value(info.id), info.defaultValue == 0 ? 7u : 0u) << info.valueName;
    }
    EXPECT_EQ(LogSwitches.size(), 16u);
    EXPECT_EQ(InfoOf(LogSwitch::SendOfflineMessage).valueName,
              "Send offline message through server");
}

}  // namespace
}  // namespace talvorine::server::testing
