// ShareHost95: the installation share, readable by the group "Domain Users". Linux file names
// are case-sensitive, so the path keeps its case. The share and its access are made in one
// step: without the group there is no share at all, never a share without its access.
#include "talvorine/setup/exports.h"
#include "talvorine/setup/user_share.h"

extern "C" TALVORINE_SETUP_EXPORT int ShareIt(const char* folderPath) {
    if (folderPath == nullptr) {
        return 0;
    }
    auto sid = talvorine::setup::UnixGroupSid(talvorine::setup::DomainUsersGroup);
    if (!sid) {
        return 0;
    }
    return talvorine::setup::AddInstallShare(folderPath, *sid) ? 1 : 0;
}
