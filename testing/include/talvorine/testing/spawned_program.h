#pragma once
// A real program started by a test: posix_spawn with this process's environment (the test's
// folders and channel names), its stderr optionally kept in a file; killed if the test ends
// before the program did.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace talvorine::testing {

// Polls `condition` every 20 ms; true once it holds, false after `limit`.
inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (std::chrono::steady_clock::now() - start > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class SpawnedProgram {
public:
    SpawnedProgram(std::string program, std::vector<std::string> arguments,
                   const std::filesystem::path& errorOutput = {}) {
        std::vector<char*> argv{program.data()};
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        if (!errorOutput.empty()) {
            ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorOutput.c_str(),
                                               O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        if (::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        ::posix_spawn_file_actions_destroy(&actions);
    }
    SpawnedProgram(const SpawnedProgram&) = delete;
    SpawnedProgram& operator=(const SpawnedProgram&) = delete;
    ~SpawnedProgram() {
        if (m_pid > 0 && !m_exit) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool Started() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const {
        if (m_pid > 0) {
            ::kill(m_pid, signal);
        }
    }
    // The exit code (128 + the signal that ended it) once it ended within `limit`.
    std::optional<int> WaitExit(std::chrono::milliseconds limit) {
        if (m_pid <= 0) {
            return std::nullopt;
        }
        WaitFor(
            [&] {
                int status = 0;
                if (!m_exit && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                    m_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                }
                return m_exit.has_value();
            },
            limit);
        return m_exit;
    }

private:
    pid_t m_pid = -1;
    std::optional<int> m_exit;
};

}  // namespace talvorine::testing
