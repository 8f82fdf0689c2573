#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "talvorine/platform/program_folders.h"

namespace talvorine::platform {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(ProgramFoldersTest, ExecutableFolderHoldsThisTest) {
    const fs::path folder = ExecutableFolder();
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_TRUE(fs::exists(folder / "platform_folders_test"));
}

TEST(ProgramFoldersTest, ServerHomeIsTheVariableElseTheExecutableFolder) {
    {
        ScopedEnv home("TALVORINE_SERVER_HOME", "/srv/talvorine");
        EXPECT_EQ(ServerHome(), fs::path("/srv/talvorine"));
    }
    ScopedEnv unset("TALVORINE_SERVER_HOME", nullptr);
    EXPECT_EQ(ServerHome(), ExecutableFolder());
    ScopedEnv empty("TALVORINE_SERVER_HOME", "");
    EXPECT_EQ(ServerHome(), ExecutableFolder());
}

TEST(ProgramFoldersTest, ClientHomeFollowsTheXdgDataFolder) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv client("TALVORINE_CLIENT_HOME", "/tmp/client");
        EXPECT_EQ(ClientHome(), fs::path("/tmp/client"));
    }
    ScopedEnv client("TALVORINE_CLIENT_HOME", nullptr);
    {
        ScopedEnv data("XDG_DATA_HOME", "/data");
        EXPECT_EQ(ClientHome(), fs::path("/data/talvorine-messenger"));
    }
    {
        ScopedEnv data("XDG_DATA_HOME", "relative/data");  // not absolute: ignored
        EXPECT_EQ(ClientHome(), fs::path("/home/someone/.local/share/talvorine-messenger"));
    }
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(ClientHome(), fs::path("/home/someone/.local/share/talvorine-messenger"));
}

TEST(ProgramFoldersTest, ConfigHomeIsXdgConfigElseDotConfig) {
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
        EXPECT_EQ(ConfigHome(), fs::path("/cfg"));
    }
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(ConfigHome(), fs::path("/home/someone/.config"));
}

}  // namespace
}  // namespace talvorine::platform
