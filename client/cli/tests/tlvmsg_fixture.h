#pragma once
// tlvmsg run as a user runs it, against the real server: the program in a shell with its
// output in a file, in the background until interrupted, or on a pseudo-terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "server_harness.h"
#include "talvorine/client/data/history_files.h"
#include "talvorine/platform/registry_store.h"

namespace tlvmsg_testing {

using namespace std::chrono_literals;
using talvorine::server::testing::ServerHarness;
using talvorine::server::testing::TempFolder;
namespace fs = std::filesystem;

// A program on a pseudo-terminal of its own: what it prints, and lines typed to it.
class PtyProgram {
public:
    explicit PtyProgram(const std::string& command) {
        m_pid = ::forkpty(&m_master, nullptr, nullptr, nullptr);
        if (m_pid == 0) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyProgram() {
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0) {
            ::close(m_master);
        }
    }
    PtyProgram(const PtyProgram&) = delete;
    PtyProgram& operator=(const PtyProgram&) = delete;

    void Type(const std::string& line) {
        const auto text = line + "\n";
        EXPECT_EQ(::write(m_master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Ctrl-C, as the terminal delivers it to the program in front.
    void Interrupt() { EXPECT_EQ(::write(m_master, "\x03", 1), 1); }
    // Everything printed so far.
    const std::string& Output() {
        Drain(0);
        return m_output;
    }
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout = 20s) {
        return WaitUntil(
            [&](const std::string& output) { return output.find(text) != std::string::npos; },
            timeout);
    }
    bool WaitUntil(const std::function<bool(const std::string&)>& done,
                   std::chrono::milliseconds timeout = 20s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done(m_output)) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            Drain(50);
        }
        return true;
    }
    // The exit status, or -1 when it did not end within `timeout`.
    int Wait(std::chrono::milliseconds timeout = 20s) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= end) {
                return -1;
            }
            Drain(50);
        }
        Drain(0);
        m_exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    void Drain(int waitMs) {
        pollfd ready{m_master, POLLIN, 0};
        if (::poll(&ready, 1, waitMs) <= 0) {
            return;
        }
        char chunk[4096];
        for (ssize_t n; (n = ::read(m_master, chunk, sizeof chunk)) > 0;) {
            m_output.append(chunk, static_cast<std::size_t>(n));
        }
    }

    pid_t m_pid = -1;
    int m_master = -1;
    bool m_exited = false;
    std::string m_output;
};

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
        return Shell(Command(account, args), input);
    }
    // tlvmsg with exactly these arguments (no server named on the command line).
    Result Plain(const std::string& args, const std::string& input = "") const {
        return Shell(std::string(TLVMSG_EXE) + " " + args, input);
    }
    Result Shell(const std::string& commandLine, const std::string& input) const {
        const auto inputFile = home.Path() / "input";
        std::ofstream(inputFile) << input;
        const auto outputFile = home.Path() / "output";
        const auto command =
            commandLine + " < '" + inputFile.string() + "' > '" + outputFile.string() + "' 2>&1";
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
    // A file of `size` bytes in the test's folder.
    fs::path FileOf(const std::string& name, std::size_t size) const {
        const auto file = home.Path() / name;
        std::ofstream(file) << std::string(size, 'r');
        return file;
    }
    // Alice offers a file that Bob, who only listens for messages, never answers.
    struct UnansweredOffer {
        std::string alice;
        std::string bob;
        fs::path file;
    };
    UnansweredOffer OfferToAListener() {
        UnansweredOffer offer{NewAccount("Alice"), NewAccount("Bob"), FileOf("report.txt", 5000)};
        m_listener = Listen(offer.bob);
        return offer;
    }
    void StopListener() { Stop(m_listener); }

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

    // The command on a pseudo-terminal of its own.
    std::unique_ptr<PtyProgram> OnTerminal(const std::string& account, const std::string& args) {
        return std::make_unique<PtyProgram>("exec " + Command(account, args));
    }
    ServerHarness server;
    TempFolder home{"tlv-cli"};

private:
    Listener m_listener;
};

}  // namespace tlvmsg_testing
