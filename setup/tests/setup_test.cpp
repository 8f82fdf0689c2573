#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "talvorine/setup/user_share.h"

extern char** environ;

namespace talvorine::setup {
namespace {

namespace fs = std::filesystem;

// A loaded library, closed at the end.
class Library {
public:
    explicit Library(const char* file) : m_handle(::dlopen(file, RTLD_NOW)) {}
    ~Library() {
        if (m_handle != nullptr) {
            ::dlclose(m_handle);
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    template <typename F>
    F* Symbol(const char* name) const {
        return m_handle == nullptr ? nullptr : reinterpret_cast<F*>(::dlsym(m_handle, name));
    }

private:
    void* m_handle;
};

// A private Samba configuration whose usershare folder lies in a temporary folder.
class ShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "setup-test-XXXXXX").string();
        m_root = ::mkdtemp(pattern.data());
        fs::create_directories(m_root / "usershares");
        fs::create_directories(m_root / "state");
        // Samba wants the sticky bit on the usershare folder.
        fs::permissions(m_root / "usershares", fs::perms(01770));
        std::ofstream conf(m_root / "smb.conf");
        std::string state = (m_root / "state").string();
        conf << "[global]\n"
             << "   usershare path = " << (m_root / "usershares").string() << "\n"
             << "   usershare max shares = 10\n"
             << "   usershare allow guests = no\n";
        for (const char* folder : {"state directory", "lock directory", "cache directory",
                                   "private dir", "pid directory", "ncalrpc dir"}) {
            conf << "   " << folder << " = " << state << "\n";
        }
        conf.close();
        ::setenv("TALVORINE_SMB_CONF", (m_root / "smb.conf").c_str(), 1);
        m_folder = m_root / "Client Setup";
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        ::unsetenv("TALVORINE_SMB_CONF");
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    std::string ShareInfo() const {
        std::string output;
        RunNet({"usershare", "info", std::string(ShareName)}, &output);
        return output;
    }

    // Runs the probe program with ShareHost95 under nss_wrapper, whose group file holds the
    // group "Domain Users" with gid 4242; what it printed.
    std::string ShareWithDomainUsers(const fs::path& folder) const {
        fs::path groups = m_root / "group";
        fs::path users = m_root / "passwd";
        std::ofstream(groups) << "root:x:0:\nDomain Users:x:4242:\n";
        std::ofstream(users) << "root:x:0:0:root:/root:/bin/sh\n";
        std::vector<std::string> env = {"LD_PRELOAD=libnss_wrapper.so",
                                        "NSS_WRAPPER_GROUP=" + groups.string(),
                                        "NSS_WRAPPER_PASSWD=" + users.string(),
                                        "TALVORINE_SMB_CONF=" + (m_root / "smb.conf").string(),
                                        std::string("PATH=") + std::getenv("PATH")};
        std::vector<char*> envp;
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        std::string program = SHARE_PROBE, library = SHARE_HOST_95, path = folder.string();
        char* argv[] = {program.data(), library.data(), path.data(), nullptr};
        fs::path out = m_root / "probe.out";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t child = -1;
        int spawned = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            return "spawn failed";
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        std::ifstream in(out);
        std::string line;
        std::getline(in, line);
        return line;
    }

    fs::path m_root;
    fs::path m_folder;
};

TEST_F(ShareTest, NtFormSharesOnceReadOnlyForEveryone) {
    Library library(SHARE_HOST_NT);
    auto* shareIt = library.Symbol<int(const char*)>("ShareIt");
    ASSERT_NE(shareIt, nullptr);

    EXPECT_EQ(shareIt(m_folder.c_str()), 1);
    std::string info = ShareInfo();
    EXPECT_NE(info.find("[TlvMsgClient]"), std::string::npos) << info;
    EXPECT_NE(info.find("path=" + m_folder.string() + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("comment=Talvorine Messenger Client Installation\n"), std::string::npos);
    EXPECT_NE(info.find("usershare_acl=S-1-1-0:R,"), std::string::npos) << info;
    EXPECT_NE(info.find("guest_ok=n"), std::string::npos) << info;

    // A second call, even for another folder, leaves the first share as it was.
    fs::path other = m_root / "other";
    fs::create_directories(other);
    EXPECT_EQ(shareIt(other.c_str()), 0);
    EXPECT_EQ(shareIt(m_folder.c_str()), 0);
    EXPECT_EQ(ShareInfo(), info);
}

TEST_F(ShareTest, NtFormRefusesWhatIsNoFolder) {
    Library library(SHARE_HOST_NT);
    auto* shareIt = library.Symbol<int(const char*)>("ShareIt");
    ASSERT_NE(shareIt, nullptr);
    EXPECT_EQ(shareIt((m_root / "missing").c_str()), 0);
    EXPECT_EQ(shareIt((m_root / "smb.conf").c_str()), 0);
    EXPECT_EQ(shareIt(""), 0);
    EXPECT_EQ(shareIt(nullptr), 0);
    EXPECT_FALSE(UserShareExists(ShareName));
}

TEST_F(ShareTest, NinetyFiveFormWithoutTheGroupMakesNoShare) {
    ASSERT_FALSE(UnixGroupSid(DomainUsersGroup)) << "this machine has a group \"Domain Users\"";
    Library library(SHARE_HOST_95);
    auto* shareIt = library.Symbol<int(const char*)>("ShareIt");
    ASSERT_NE(shareIt, nullptr);
    EXPECT_EQ(shareIt(m_folder.c_str()), 0);
    EXPECT_FALSE(UserShareExists(ShareName));
}

TEST_F(ShareTest, NinetyFiveFormKeepsThePathsCaseAndGrantsTheGroup) {
    EXPECT_EQ(ShareWithDomainUsers(m_folder), "1");
    std::string info = ShareInfo();
    // The mixed-case path as given: upper-casing it would name another folder.
    EXPECT_NE(info.find("path=" + m_folder.string() + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("comment=Talvorine Messenger Client Installation\n"), std::string::npos);
    EXPECT_NE(info.find("usershare_acl=S-1-22-2-4242:R,"), std::string::npos) << info;
    EXPECT_EQ(ShareWithDomainUsers(m_folder), "0");
}

TEST(HostAddressTest, SixteenBytesHoldTheAddressWithItsTerminator) {
    Library library(NET_PROBE);
    auto* getHostIp = library.Symbol<int(char*, int)>("GetHostIP");
    ASSERT_NE(getHostIp, nullptr);
    auto expected = FirstHostAddress();
    char buffer[16];
    if (!expected) {
        // A machine with only a loopback: a failure, with an empty and terminated buffer.
        std::memset(buffer, 'x', sizeof(buffer));
        EXPECT_EQ(getHostIp(buffer, sizeof(buffer)), 0);
        EXPECT_EQ(buffer[0], '\0');
        GTEST_SKIP() << "no IPv4 address besides the loopback";
    }

    std::memset(buffer, 'x', sizeof(buffer));
    ASSERT_EQ(getHostIp(buffer, sizeof(buffer)), 1);
    ASSERT_NE(std::memchr(buffer, '\0', sizeof(buffer)), nullptr);
    EXPECT_EQ(std::string(buffer), *expected);
    in_addr parsed{};
    EXPECT_EQ(::inet_pton(AF_INET, buffer, &parsed), 1);
    EXPECT_NE(ntohl(parsed.s_addr) >> 24, 127u) << buffer;

    // Too small by one: refused, and still terminated.
    std::memset(buffer, 'x', sizeof(buffer));
    int exact = static_cast<int>(expected->size());
    EXPECT_EQ(getHostIp(buffer, exact), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(getHostIp(buffer, exact + 1), 1);
    EXPECT_EQ(getHostIp(buffer, 0), 0);
    EXPECT_EQ(getHostIp(nullptr, 16), 0);
}

TEST(HostAddressTest, CopyKeepsTheBufferTerminated) {
    char buffer[16];
    EXPECT_EQ(CopyTerminated("192.168.100.200", buffer, 16), 1);
    EXPECT_STREQ(buffer, "192.168.100.200");
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(CopyTerminated("192.168.100.200", buffer, 15), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(CopyTerminated("", buffer, 16), 0);
}

}  // namespace
}  // namespace talvorine::setup
