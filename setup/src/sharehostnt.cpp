// ShareHostNT: the installation share, readable by everyone.
#include "talvorine/setup/exports.h"
#include "talvorine/setup/user_share.h"

extern "C" TALVORINE_SETUP_EXPORT int ShareIt(const char* folderPath) {
    if (folderPath == nullptr) {
        return 0;
    }
    return talvorine::setup::AddInstallShare(folderPath, talvorine::setup::EveryoneSid) ? 1 : 0;
}
