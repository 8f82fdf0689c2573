#include <csignal>
#include <iostream>

#include "talvorine/client/cli/tlvmsg.h"
#include "talvorine/protocol/socket.h"

int main(int argc, char** argv) {
    std::signal(SIGINT, [](int) { talvorine::client::cli::RequestStop(); });
    std::signal(SIGTERM, [](int) { talvorine::client::cli::RequestStop(); });
    talvorine::protocol::StartSockets();
    const int status = talvorine::client::cli::RunTlvmsg(
        std::vector<std::string>(argv + 1, argv + argc), std::cin, std::cout, std::cerr);
    talvorine::protocol::StopSockets();
    return status;
}
