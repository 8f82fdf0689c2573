#include "talvorine/platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace talvorine::platform {

namespace {

std::vector<char*> Argv(std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (auto& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// posix_spawn's file actions and attributes, released on every path.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

int RunProgram(const std::vector<std::string>& arguments, std::string* output) {
    if (arguments.empty()) {
        return -1;
    }
    std::vector<std::string> copy = arguments;
    std::vector<char*> argv = Argv(copy);
    int pipeFds[2] = {-1, -1};
    if (output != nullptr && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    pid_t child = -1;
    int spawned;
    {
        SpawnSetup setup;
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (output != nullptr) {
            posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDOUT_FILENO);
        }
        spawned = ::posix_spawnp(&child, argv[0], &setup.actions, nullptr, argv.data(), environ);
    }
    if (output != nullptr) {
        ::close(pipeFds[1]);
        if (spawned == 0) {
            char buffer[512];
            for (;;) {
                ssize_t n = ::read(pipeFds[0], buffer, sizeof(buffer));
                if (n > 0) {
                    output->append(buffer, static_cast<std::size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    break;
                }
            }
        }
        ::close(pipeFds[0]);
    }
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t StartProgram(const std::vector<std::string>& arguments, const std::filesystem::path& folder) {
    if (arguments.empty()) {
        return -1;
    }
    std::vector<std::string> copy = arguments;
    std::vector<char*> argv = Argv(copy);
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (!folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&setup.actions, folder.c_str());
    }
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSID);
    pid_t child = -1;
    if (::posix_spawnp(&child, argv[0], &setup.actions, &setup.attributes, argv.data(), environ) !=
        0) {
        return -1;
    }
    return child;
}

bool ProgramRunning(pid_t pid) {
    if (pid <= 0) {
        return false;
    }
    int status = 0;
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    return done == 0;
}

}  // namespace talvorine::platform
