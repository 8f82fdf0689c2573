// NetProbe: the host's address for the administration program and installers.
#include "talvorine/setup/exports.h"
#include "talvorine/setup/user_share.h"

extern "C" TALVORINE_SETUP_EXPORT int GetHostIP(char* buffer, int size) {
    auto address = talvorine::setup::FirstHostAddress();
    if (!address) {
        return talvorine::setup::CopyTerminated({}, buffer, size);
    }
    return talvorine::setup::CopyTerminated(*address, buffer, size);
}
