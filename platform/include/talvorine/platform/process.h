#pragma once
// Running other programs: systemctl for the service form, the server in console form, the
// shell's "open". Arguments go to the program as they are; no shell reads them.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace talvorine::platform {

// Runs the program (looked up on PATH when the name has no "/") and waits for it. Its exit
// code, or -1 when it could not run or a signal ended it. Standard output goes to `output`
// when given; standard input is /dev/null.
int RunProgram(const std::vector<std::string>& arguments, std::string* output = nullptr);

// Starts the program without waiting, in `folder` (when not empty), with standard input and
// output on /dev/null, in a session of its own so that the caller's terminal signals do not
// reach it. Its process id, or -1 when it could not start.
pid_t StartProgram(const std::vector<std::string>& arguments,
                   const std::filesystem::path& folder = {});

// True while a process started by StartProgram runs; collects its exit status once it has
// ended (so it does not linger as a zombie) and then returns false.
bool ProgramRunning(pid_t pid);

}  // namespace talvorine::platform
