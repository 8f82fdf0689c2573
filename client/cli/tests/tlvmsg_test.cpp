// tlvmsg from a shell against the real server: one account sends to another that listens,
// offline delivery at the next listen, and the exit status of a refused send.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "server_harness.h"
#include "talvorine/client/data/history_files.h"
#include "talvorine/platform/registry_store.h"

namespace {

using namespace std::chrono_literals;
using talvorine::server::testing::ServerHarness;
using talvorine::server::testing::TempFolder;
namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string output;
};

class Tlvmsg : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start()) << server.ConsoleOutput();
        ::setenv("TALVORINE_CLIENT_HOME", (home.Path() / "client").c_str(), 1);
    }
    std::string Command(const std::string& account, const std::string& args) const {
        std::string command =
            std::string(TLVMSG_EXE) + " --server 127.0.0.1 --port " + std::to_string(server.Port());
        if (!account.empty()) {
            command += " --account " + account;
        }
        return command + " " + args;
    }
    Result Run(const std::string& account, const std::string& args,
               const std::string& input = "") const {
        const auto inputFile = home.Path() / "input";
        std::ofstream(inputFile) << input;
        const auto outputFile = home.Path() / "output";
        const auto command = Command(account, args) + " < '" + inputFile.string() + "' > '" +
                             outputFile.string() + "' 2>&1";
        const int raw = std::system(command.c_str());
        std::ifstream in(outputFile);
        std::stringstream text;
        text << in.rdbuf();
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
    }
    std::string NewAccount(const std::string& nickname) {
        const auto result = Run("", "account new --nickname " + nickname, "secret7\n");
        EXPECT_EQ(result.status, 0) << result.output;
        return result.output.substr(0, 8);
    }
    // `tlvmsg listen` in the background until Stop.
    struct Listener {
        pid_t pid = -1;
        fs::path output;
    };
    Listener Listen(const std::string& account, const std::string& extra = "") {
        return Background(account, "listen " + extra, "Listening as");
    }
    // Any long-running command, until `ready` appears in its output.
    Listener Background(const std::string& account, const std::string& args,
                        const std::string& ready) {
        Listener listener{-1, home.Path() / ("background-" + account)};
        const auto pidFile = home.Path() / "pid";
        const auto command = Command(account, args) + " > '" + listener.output.string() +
                             "' 2>&1 < /dev/null & echo $! > '" + pidFile.string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::ifstream(pidFile) >> listener.pid;
        EXPECT_TRUE(WaitFor(listener, ready));
        return listener;
    }
    static std::string Text(const Listener& listener) {
        std::ifstream in(listener.output);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static bool WaitFor(const Listener& listener, const std::string& text) {
        for (int i = 0; i < 200; ++i) {
            if (Text(listener).find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    static void Stop(const Listener& listener) {
        ::kill(listener.pid, SIGINT);
        for (int i = 0; i < 200 && ::kill(listener.pid, 0) == 0; ++i) {
            std::this_thread::sleep_for(50ms);
        }
    }

    ServerHarness server;
    TempFolder home{"tlv-cli"};
};

TEST_F(Tlvmsg, LiveAndOfflineMessagesAndARefusedSend) {
    const auto alice = NewAccount("Alice");
    const auto bob = NewAccount("Bob");
    ASSERT_NE(alice, bob);

    auto listener = Listen(bob);
    const auto sent = Run(alice, "send " + bob + " 'hello from the shell'");
    EXPECT_EQ(sent.status, 0) << sent.output;
    EXPECT_TRUE(WaitFor(listener, alice + ": hello from the shell")) << Text(listener);
    const auto status = Run(alice, "status " + bob);
    EXPECT_EQ(status.output, "Online\n");
    Stop(listener);

    const auto offline = Run(alice, "send " + bob + " -", "stored for later\n");
    EXPECT_EQ(offline.status, 0) << offline.output;
    EXPECT_NE(offline.output.find("Sent as an offline message."), std::string::npos);
    listener = Listen(bob);
    EXPECT_TRUE(WaitFor(listener, alice + " (offline): stored for later")) << Text(listener);
    Stop(listener);

    const auto history = Run(bob, "history " + alice);
    EXPECT_EQ(history.status, 0);
    EXPECT_NE(history.output.find("from " + alice + ": hello from the shell"), std::string::npos);
    EXPECT_NE(history.output.find("from " + alice + ": stored for later"), std::string::npos);
    EXPECT_NE(Run(alice, "history " + bob + " --sent").output.find("stored for later"),
              std::string::npos);

    talvorine::platform::RegistryKey::Create(talvorine::platform::Hive::CurrentUser,
                                             "Software\\Talvorine\\Messenger\\SendMessage")
        .SetDword("Send Offline Message", 0);
    const auto refused = Run(alice, "send " + bob + " 'not now'");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("Failed to send message to " + bob + ":\r\nUser is not online"),
              std::string::npos)
        << refused.output;
}

TEST_F(Tlvmsg, AwayListenerAnswersAndBadInputExitsNonZero) {
    const auto alice = NewAccount("Alice");
    const auto bob = NewAccount("Bob");
    auto listener = Listen(bob, "--away 'out for lunch'");
    for (int i = 0; i < 100 && Run(alice, "status " + bob).output != "Away\n"; ++i) {
        std::this_thread::sleep_for(50ms);
    }
    const auto sent = Run(alice, "send " + bob + " 'lunch?'");
    EXPECT_EQ(sent.status, 0);
    EXPECT_NE(sent.output.find("(automatic reply): out for lunch"), std::string::npos)
        << sent.output;
    Stop(listener);

    EXPECT_EQ(Run(alice, "send").status, 2);
    EXPECT_EQ(Run(alice, "frobnicate").status, 2);
    EXPECT_EQ(Run(alice, "send --help").status, 0);
    EXPECT_EQ(Run("", "account import 12345678", "wrongpass\n").status, 1);
    EXPECT_EQ(Run(alice, "send " + bob + " ''").output, "Can not send empty message.\r\n");
    EXPECT_EQ(Run("", "account new", "has space\n").output,
              "Password can not include space character\n");
}

TEST_F(Tlvmsg, SendFileToAReceiverWithBothTransferRecords) {
    const auto alice = NewAccount("Alice");
    const auto bob = NewAccount("Bob");
    const auto file = home.Path() / "report.txt";
    std::ofstream(file) << std::string(10000, 'r');
    auto receiver = Background(bob, "receive-files", "Receiving files as");
    const auto sent =
        Run(alice, "send-file " + bob + " '" + file.string() + "' --description figures");
    EXPECT_EQ(sent.status, 0) << sent.output;
    EXPECT_NE(sent.output.find("100%"), std::string::npos) << sent.output;
    const auto saved = home.Path() / "client" / "Received Files" / alice / "report.txt";
    EXPECT_TRUE(WaitFor(receiver, saved.string())) << Text(receiver);
    Stop(receiver);
    EXPECT_EQ(fs::file_size(saved), 10000u);

    const auto records = [&](const std::string& own, const std::string& peer) {
        return talvorine::client::data::ReadTransferHistory(own, peer);
    };
    ::setenv("TALVORINE_CLIENT_HOME", (home.Path() / "client").c_str(), 1);
    const auto outgoing = records(alice, bob);
    const auto incoming = records(bob, alice);
    ASSERT_EQ(outgoing.size(), 1u);
    ASSERT_EQ(incoming.size(), 1u);
    EXPECT_EQ(outgoing[0].type, 0);
    EXPECT_EQ(outgoing[0].fileName, file.string());
    EXPECT_EQ(outgoing[0].description, "figures");
    EXPECT_EQ(outgoing[0].status, "Done");
    EXPECT_EQ(incoming[0].type, 1);
    EXPECT_EQ(incoming[0].fileName, "report.txt");
    EXPECT_EQ(incoming[0].size, "10000");
    EXPECT_TRUE(incoming[0].done);
    EXPECT_EQ(incoming[0].savedAs, saved.string());

    EXPECT_EQ(
        Run(alice, "send-file " + bob + " '" + (home.Path() / "missing").string() + "'").output,
        "Failed to open this file\n");
    EXPECT_EQ(Run(alice, "send-file " + bob + " '" + file.string() + "'").output,
              "Failed: User is not on-line\n");
}

}  // namespace
