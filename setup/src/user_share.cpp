#include "talvorine/setup/user_share.h"

#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace talvorine::setup {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

int RunNet(const std::vector<std::string>& arguments, std::string* output) {
    std::vector<std::string> all = {"net"};
    const char* conf = std::getenv("TALVORINE_SMB_CONF");
    if (conf != nullptr && *conf != '\0') {
        all.push_back("-s");
        all.push_back(conf);
    }
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    int spawned = ::posix_spawnp(&child, "net", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return -1;
    }
    char buffer[512];
    for (;;) {
        ssize_t n = ::read(pipeFds[0], buffer, sizeof(buffer));
        if (n > 0) {
            if (output != nullptr) {
                output->append(buffer, static_cast<std::size_t>(n));
            }
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool UserShareExists(std::string_view name) {
    // "info" of an unknown share succeeds with no output; a known one prints "[name]".
    std::string output;
    if (RunNet({"usershare", "info", std::string(name)}, &output) != 0) {
        return false;
    }
    std::size_t start = output.find('[');
    std::size_t end = output.find(']', start);
    return start != std::string::npos && end != std::string::npos &&
           EqualsNoCase(std::string_view(output).substr(start + 1, end - start - 1), name);
}

bool AddInstallShare(std::string_view folder, std::string_view sid) {
    struct stat info {};
    std::string path(folder);
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return false;
    }
    // `net usershare add` replaces a share of the same name; an existing share must stay.
    if (UserShareExists(ShareName)) {
        return false;
    }
    std::string acl = std::string(sid) + ":R";
    return RunNet({"usershare", "add", std::string(ShareName), path, std::string(ShareRemark), acl,
                   "guest_ok=n"}) == 0;
}

std::optional<std::string> UnixGroupSid(std::string_view group) {
    std::string name(group);
    std::vector<char> buffer(4096);
    for (;;) {
        struct group entry {};
        struct group* found = nullptr;
        int error = ::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (error != 0 || found == nullptr) {
            return std::nullopt;
        }
        return "S-1-22-2-" + std::to_string(found->gr_gid);
    }
}

}  // namespace talvorine::setup
