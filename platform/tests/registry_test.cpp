#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "talvorine/platform/registry_store.h"

namespace talvorine::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& file, std::string_view text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/talvorine-registry-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        ::setenv("TALVORINE_REGISTRY_DIR", pattern, 1);
    }
    void TearDown() override {
        ::unsetenv("TALVORINE_REGISTRY_DIR");
        fs::remove_all(m_dir);
    }

    RegistryStore UserStore() {
        RegistryStore store = RegistryStore::ForHive(Hive::CurrentUser);
        store.SetWarningHandler(
            [this](const std::string& message) { m_warnings.push_back(message); });
        return store;
    }

    std::vector<fs::path> DamagedFiles() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(m_dir)) {
            if (entry.path().filename().string().starts_with("user.reg.damaged-")) {
                files.push_back(entry.path());
            }
        }
        return files;
    }

    fs::path m_dir;
    std::vector<std::string> m_warnings;
};

TEST_F(RegistryTest, HiveFilesFollowTheEnvironment) {
    EXPECT_EQ(HiveFile(Hive::LocalMachine), m_dir / "machine.reg");
    EXPECT_EQ(HiveFile(Hive::CurrentUser), m_dir / "user.reg");
    ::unsetenv("TALVORINE_REGISTRY_DIR");
    ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
    EXPECT_EQ(HiveFile(Hive::LocalMachine), fs::path("/etc/talvorine/machine.reg"));
    EXPECT_EQ(HiveFile(Hive::CurrentUser), m_dir / "config" / "talvorine" / "user.reg");
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(RegistryTest, MissingKeyFailsToOpenAndAbsentValuesGiveDefaults) {
    EXPECT_FALSE(RegistryKey::Open(Hive::CurrentUser, "Software\\Talvorine\\Messenger"));
    EXPECT_FALSE(fs::exists(m_dir / "user.reg"));  // reading never writes

    RegistryKey key = RegistryKey::Create(Hive::CurrentUser, "Software\\Talvorine\\Messenger");
    key.SetString("Text", "42");
    EXPECT_EQ(key.GetDword("Missing", 8000), 8000u);
    EXPECT_EQ(key.GetString("Missing", "Talvorine Messenger Server"), "Talvorine Messenger Server");
    // A value of another type counts as absent.
    EXPECT_EQ(key.GetDword("Text", 7), 7u);
    EXPECT_FALSE(key.QueryBinary("Text"));
    key.SetDword("Number", 1);
    EXPECT_EQ(key.GetString("Number", "default"), "default");

    EXPECT_FALSE(RegistryKey::Open(Hive::CurrentUser, "Software\\Talvorine\\Messenger\\Users"));
    EXPECT_FALSE(RegistryKey::Open(Hive::LocalMachine, "Software\\Talvorine\\Messenger"));
    EXPECT_TRUE(RegistryKey::Open(Hive::CurrentUser, "Software\\Talvorine"));  // a parent
}

TEST_F(RegistryTest, WritesTheExportedRegistryFormat) {
    RegistryKey key = RegistryKey::Create(Hive::LocalMachine,
                                          "Software\\Talvorine\\Messenger Server\\Server Settings");
    key.SetDword("Port", 8000);
    key.SetString("DSN", "a\\b \"c\"");
    const std::vector<std::uint8_t> password{0x0a, 0x1b, 0xff};
    key.SetBinary("Password", password);
    EXPECT_EQ(ReadFile(m_dir / "machine.reg"),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Talvorine]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Talvorine\\Messenger Server]\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Talvorine\\Messenger Server\\Server Settings]\n"
              "\"Port\"=dword:00001f40\n"
              "\"DSN\"=\"a\\\\b \\\"c\\\"\"\n"
              "\"Password\"=hex:0a,1b,ff\n"
              "\n");
}

TEST_F(RegistryTest, ValuesRoundTrip) {
    RegistryKey key = RegistryKey::Create(UserStore(), "Software\\Talvorine\\PostSentry\\");
    const std::string awkward = "quote \" backslash \\ end\\\nline two\r\0nul é 日本"s;
    key.SetString("Away", awkward);
    key.SetString("Empty", "");
    key.SetString("", "default value");
    key.SetString("na\"me\\", "odd name");
    std::vector<std::uint8_t> bytes(300);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    key.SetBinary("MailAccount", bytes);
    key.SetBinary("None", {});
    key.SetDword("Max", 0xffffffffu);

    RegistryKey again = *RegistryKey::Open(Hive::CurrentUser, "Software\\Talvorine\\PostSentry");
    EXPECT_EQ(again.QueryString("Away"), awkward);
    EXPECT_EQ(again.QueryString("Empty"), "");
    EXPECT_EQ(again.QueryString(""), "default value");
    EXPECT_EQ(again.QueryString("NA\"ME\\"), "odd name");
    EXPECT_EQ(again.QueryBinary("MailAccount"), bytes);
    EXPECT_EQ(again.QueryBinary("None"), std::vector<std::uint8_t>{});
    EXPECT_EQ(again.QueryDword("Max"), 0xffffffffu);
    EXPECT_TRUE(m_warnings.empty());
    // Long binary data wraps as exports do; every line stays short.
    std::istringstream lines(ReadFile(m_dir / "user.reg"));
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    RegistryStore store = UserStore();
    RegistryKey::Create(store, "Software\\Talvorine\\Messenger\\Settings\\General")
        .SetDword("Mark as read", 1);
    RegistryKey lower =
        *RegistryKey::Open(store, "software\\TALVORINE\\messenger\\settings\\general\\");
    EXPECT_EQ(lower.GetDword("MARK AS READ", 0), 1u);
    lower.SetDword("mark as read", 0);
    RegistryKey::Create(store, "SOFTWARE\\talvorine\\MESSENGER\\Settings\\Network")
        .SetDword("Port", 9000);

    const std::string text = ReadFile(store.File());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Talvorine\\Messenger\\Settings\\Network]"),
              std::string::npos);
    EXPECT_NE(text.find("\"Mark as read\"=dword:00000000"), std::string::npos);
    EXPECT_EQ(text.find("SOFTWARE"), std::string::npos);
    EXPECT_EQ(store.SubKeyNames("Software\\Talvorine\\Messenger\\Settings"),
              (std::vector<std::string>{"General", "Network"}));
    EXPECT_EQ(store.ValueNames("Software\\Talvorine\\Messenger\\Settings\\General"),
              std::vector<std::string>{"Mark as read"});
}

TEST_F(RegistryTest, DeleteKeyRemovesSubkeysAndDeleteValueOnlyItsValue) {
    RegistryStore store = UserStore();
    RegistryKey::Create(store, "Software\\Talvorine\\PostSentry\\Home").SetString("Server", "pop");
    RegistryKey::Create(store, "Software\\Talvorine\\PostSentry\\Home\\Deep").SetDword("x", 1);
    RegistryKey::Create(store, "Software\\Talvorine\\PostSentry\\Homework").SetDword("y", 2);
    RegistryKey sentry = *RegistryKey::Open(store, "Software\\Talvorine\\PostSentry");
    sentry.SetDword("Interval", 15);

    EXPECT_TRUE(store.DeleteKey("software\\talvorine\\postsentry\\HOME"));
    EXPECT_FALSE(store.KeyExists("Software\\Talvorine\\PostSentry\\Home\\Deep"));
    EXPECT_FALSE(store.DeleteKey("Software\\Talvorine\\PostSentry\\Home"));
    EXPECT_TRUE(store.KeyExists("Software\\Talvorine\\PostSentry\\Homework"));
    EXPECT_EQ(sentry.SubKeyNames(), std::vector<std::string>{"Homework"});

    EXPECT_TRUE(sentry.DeleteValue("interval"));
    EXPECT_FALSE(sentry.DeleteValue("Interval"));
    EXPECT_TRUE(store.KeyExists("Software\\Talvorine\\PostSentry"));
    EXPECT_THROW(store.DeleteKey(""), RegistryError);
    EXPECT_THROW(RegistryKey::Create(store, "Software\\Bad\nName"), RegistryError);
    EXPECT_FALSE(RegistryKey::Open(store, "Software\\Bad\nName"));
}

TEST_F(RegistryTest, ABatchOfChangesLandsTogetherOrNotAtAll) {
    RegistryStore store = UserStore();
    RegistryKey::Create(store, "Software\\Talvorine\\Messenger").SetString("CurrentID", "00000001");

    const std::vector<RegistryChange> changes = {
        {"Software\\Talvorine\\Messenger\\Settings\\General", "Animation Time",
         RegistryValue{RegistryValueType::Dword, {}, 500, {}}},
        {"Software\\Talvorine\\Messenger\\Settings\\Network", "Server",
         RegistryValue{RegistryValueType::String, "10.0.0.5", 0, {}}},
        {"software\\talvorine\\messenger\\settings\\general", "animation time",
         RegistryValue{RegistryValueType::Dword, {}, 750, {}}},
    };
    store.SetValues(changes);
    const auto general =
        RegistryKey::Open(store, "Software\\Talvorine\\Messenger\\Settings\\General");
    ASSERT_TRUE(general);
    EXPECT_EQ(general->GetDword("Animation Time", 0), 750u);  // the later change wins
    EXPECT_EQ(general->ValueNames().size(), 1u);
    EXPECT_EQ(RegistryKey::Open(store, "Software\\Talvorine\\Messenger\\Settings\\Network")
                  ->GetString("Server", ""),
              "10.0.0.5");
    EXPECT_EQ(
        RegistryKey::Open(store, "Software\\Talvorine\\Messenger")->GetString("CurrentID", ""),
        "00000001");

    // One bad key path refuses the whole batch before the file is touched.
    const std::string before = ReadFile(store.File());
    const std::vector<RegistryChange> bad = {
        {"Software\\Talvorine\\Messenger\\Settings\\General", "Animation Time",
         RegistryValue{RegistryValueType::Dword, {}, 1, {}}},
        {"Software\\Bad\nName", "x", RegistryValue{RegistryValueType::Dword, {}, 1, {}}},
    };
    EXPECT_THROW(store.SetValues(bad), RegistryError);
    EXPECT_EQ(ReadFile(store.File()), before);
}

TEST_F(RegistryTest, ReadsAHandWrittenExport) {
    WriteFile(m_dir / "user.reg",
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
              "\r\n"
              "; written by hand\r\n"
              "[HKEY_CURRENT_USER\\Software\\Talvorine\\Messenger\\Users\\00000001]\r\n"
              "\"Password\"=hex:00,01,02,03,04,05,06,07,\\\r\n"
              "  08,09,0a,0b,0c,0d,0e,0F\r\n"
              "\"Path\"=\"C:\\\\Temp\\\\\"\r\n"
              "\"Expand\"=hex(2):25,00,00,00\r\n"
              "@=\"dflt\"\r\n");
    RegistryStore store = UserStore();
    RegistryKey key = *RegistryKey::Open(store, "Software\\Talvorine\\Messenger\\Users\\00000001");
    const std::vector<std::uint8_t> expected{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ(key.QueryBinary("Password"), expected);
    EXPECT_EQ(key.QueryString("Path"), "C:\\Temp\\");
    EXPECT_EQ(key.QueryString(""), "dflt");
    EXPECT_FALSE(store.QueryValue(key.Path(), "Expand"));  // a type this store does not model
    EXPECT_TRUE(store.KeyExists("Software\\Talvorine\\Messenger"));  // implied parent

    key.SetDword("New", 5);  // a rewrite keeps what it does not model
    EXPECT_NE(ReadFile(store.File()).find("\"Expand\"=hex(2):25,00,00,00\n"), std::string::npos);
    EXPECT_EQ(key.QueryBinary("Password"), expected);
    EXPECT_TRUE(m_warnings.empty());
}

TEST_F(RegistryTest, DamagedHiveIsSetAsideWithAClearMessage) {
    const std::string header =
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n";
    const std::vector<std::string> damaged{
        header + "\"Password\"=hex:0a,1b,\\\n",  // the file ends inside a continuation
        header + "\"Password\"=hex:0a,1\n",
        header + "\"DSN\"=\"bad \\q escape\"\n",
        header + "\"DSN\"=\"no closing quote\n",
        header + "\"Port\"=dword:123456789\n",
        header + "\"Port\"=dword:\n",
        header + "garbage\n",
        "\"Port\"=dword:00000001\n",
        std::string("Windows Registry Editor Version 5.00\n\0\xff\xfe[", 42),
    };
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_warnings.clear();
        WriteFile(m_dir / "user.reg", text);
        RegistryStore store = UserStore();

        EXPECT_FALSE(store.KeyExists("Software"));
        ASSERT_EQ(m_warnings.size(), 1u);
        EXPECT_NE(m_warnings[0].find("is damaged"), std::string::npos) << m_warnings[0];
        EXPECT_NE(m_warnings[0].find("set aside"), std::string::npos) << m_warnings[0];
        const auto aside = DamagedFiles();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_NE(m_warnings[0].find(aside[0].string()), std::string::npos);
        EXPECT_EQ(ReadFile(aside[0]), text);

        RegistryKey::Create(store, "Software\\Talvorine").SetDword("Port", 1);
        EXPECT_EQ(ReadFile(aside[0]), text);  // never overwritten
        EXPECT_EQ(m_warnings.size(), 1u);
    }
}

TEST_F(RegistryTest, WriterSetsADamagedHiveAsideToo) {
    WriteFile(m_dir / "user.reg", "not a registry file\n");
    RegistryStore store = UserStore();
    RegistryKey::Create(store, "Software\\Talvorine").SetDword("Port", 2);
    ASSERT_EQ(DamagedFiles().size(), 1u);
    EXPECT_EQ(ReadFile(DamagedFiles()[0]), "not a registry file\n");
    EXPECT_EQ(m_warnings.size(), 1u);
    EXPECT_EQ(RegistryKey::Open(store, "Software\\Talvorine")->GetDword("Port", 0), 2u);

    // A second damage in the same second keeps the first copy.
    WriteFile(m_dir / "user.reg", "damaged again\n");
    EXPECT_FALSE(store.KeyExists("Software"));
    EXPECT_EQ(DamagedFiles().size(), 2u);
}

TEST_F(RegistryTest, EmptyFileIsAnEmptyHive) {
    WriteFile(m_dir / "user.reg", "");
    EXPECT_FALSE(UserStore().KeyExists("Software"));
    EXPECT_TRUE(m_warnings.empty());
    EXPECT_TRUE(DamagedFiles().empty());
}

TEST_F(RegistryTest, FirstWriteCreatesTheFolderWithModes) {
    const mode_t oldMask = ::umask(022);
    const fs::path dir = m_dir / "nested" / "registry";
    ::setenv("TALVORINE_REGISTRY_DIR", dir.c_str(), 1);
    RegistryKey::Create(Hive::CurrentUser, "Software").SetDword("a", 1);
    RegistryKey::Create(Hive::LocalMachine, "Software").SetDword("a", 1);
    ::umask(oldMask);
    struct stat info {};
    ASSERT_EQ(::stat(dir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    ASSERT_EQ(::stat((dir / "user.reg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir / "machine.reg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

// Each child writes its own values as fast as it can; every write must survive the other's.
TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int writesEach = 200;
    std::vector<pid_t> children;
    for (int child = 0; child < 2; ++child) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int status = 0;
            try {
                RegistryStore store = RegistryStore::ForHive(Hive::CurrentUser);
                for (int i = 0; i < writesEach; ++i) {
                    RegistryValue value;
                    value.type = RegistryValueType::Dword;
                    value.number = static_cast<std::uint32_t>(i);
                    store.SetValue("Software\\Talvorine\\Race",
                                   "child" + std::to_string(child) + "-" + std::to_string(i),
                                   value);
                }
            } catch (...) {
                status = 1;
            }
            ::_exit(status);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    RegistryKey key = *RegistryKey::Open(UserStore(), "Software\\Talvorine\\Race");
    EXPECT_EQ(key.ValueNames().size(), 2u * writesEach);
    for (int child = 0; child < 2; ++child) {
        for (int i = 0; i < writesEach; ++i) {
            EXPECT_EQ(key.QueryDword("child" + std::to_string(child) + "-" + std::to_string(i)),
                      static_cast<std::uint32_t>(i));
        }
    }
    EXPECT_TRUE(m_warnings.empty());
    EXPECT_TRUE(DamagedFiles().empty());
}

}  // namespace
}  // namespace talvorine::platform
