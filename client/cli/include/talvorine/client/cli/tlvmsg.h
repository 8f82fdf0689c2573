#pragma once
// The command-line client tlvmsg: the engine of the messenger client driven from a shell,
// on the same account folder and registry as the windows.

#include <iosfwd>
#include <string>
#include <vector>

namespace talvorine::client::cli {

// Runs one command line (without the program name); the exit status.
int RunTlvmsg(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err);

// Set by SIGINT/SIGTERM: `listen` and `receive-files` end.
void RequestStop();

}  // namespace talvorine::client::cli
