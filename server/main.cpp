// TalvorineMessengerServer: the messenger server, as a systemd service or in a console.
#include "talvorine/server/server_host.h"

int main(int argc, char** argv) {
    return talvorine::server::ServerMain(argc, argv);
}
