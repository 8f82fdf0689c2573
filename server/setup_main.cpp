// TalvorineMessengerServerSetup: writes the embedded database's data source and creates its
// tables.
#include <string_view>

#include "talvorine/server/server_setup.h"

int main(int argc, char** argv) {
    auto options = talvorine::server::ParseSetupArguments(argc, argv);
    if (!options) {
        return argc > 1 &&
                       (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")
                   ? 0
                   : 2;
    }
    return talvorine::server::RunServerSetup(*options);
}
