#pragma once
// The C exports of the setup libraries, as an installer (or the administration program) calls
// them. ShareIt is exported by ShareHostNT and ShareHost95, GetHostIP by NetProbe.

#if defined(__GNUC__)
#define TALVORINE_SETUP_EXPORT __attribute__((visibility("default")))
#else
#define TALVORINE_SETUP_EXPORT
#endif

extern "C" {

// Publishes `folderPath` as the read-only share "TlvMsgClient" with the remark "Talvorine
// Messenger Client Installation": for everyone (ShareHostNT) or for the group "Domain Users"
// (ShareHost95). 1 when shared, 0 when not (among others: the share exists already, the path
// is not a folder, the group does not exist, Samba refused it).
TALVORINE_SETUP_EXPORT int ShareIt(const char* folderPath);

// Writes the host's first IPv4 address that is not a loopback address as dotted text into
// `buffer` (with its terminator). 1 on success; 0 when there is none or it does not fit into
// `size` bytes. The buffer is always terminated when `size` is at least 1.
TALVORINE_SETUP_EXPORT int GetHostIP(char* buffer, int size);
}
