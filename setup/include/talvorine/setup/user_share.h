#pragma once
// The pieces behind the setup libraries' exports: a Samba user share made with
// `net usershare`, and the host's address.
//
// `net usershare` is the tool for this job: libsmbclient is a client library that reaches
// shares on other hosts and cannot define one on this host, while user shares are how an
// unprivileged installer publishes a folder through a running Samba. The ACL is given as SIDs,
// so no running smbd or winbindd is needed to resolve names.
//
// TALVORINE_SMB_CONF, when set, names the smb.conf given to `net -s` (tests use a private one
// with its own usershare folder).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvorine::setup {

inline constexpr std::string_view ShareName = "TlvMsgClient";
inline constexpr std::string_view ShareRemark = "Talvorine Messenger Client Installation";
// The well-known SID of Everyone.
inline constexpr std::string_view EveryoneSid = "S-1-1-0";
inline constexpr std::string_view DomainUsersGroup = "Domain Users";

// Runs `net` with the arguments (after "-s <conf>" when TALVORINE_SMB_CONF is set) and waits;
// its exit code, or -1 when it could not run. Standard output goes to `output` when given.
int RunNet(const std::vector<std::string>& arguments, std::string* output = nullptr);

// True when a user share of that name exists (share names compare without case).
bool UserShareExists(std::string_view name);

// Adds the read-only user share "TlvMsgClient" for `folder` with the remark, readable by the
// holder of `sid` only, without guest access. False when the share exists already, the folder
// is not a folder, or `net` refused.
bool AddInstallShare(std::string_view folder, std::string_view sid);

// The SID Samba gives a Unix group ("S-1-22-2-<gid>"); nullopt when the group does not exist.
std::optional<std::string> UnixGroupSid(std::string_view group);

// The first IPv4 address of an interface that is up and not a loopback, as dotted text.
std::optional<std::string> FirstHostAddress();

// Copies `address` with its terminator into the buffer: 1, or 0 (with an empty, terminated
// buffer when `size` >= 1) when it does not fit.
int CopyTerminated(std::string_view address, char* buffer, int size);

}  // namespace talvorine::setup
