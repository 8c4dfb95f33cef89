// System facts on POSIX: uname for the version record, errno for the last error.
#include <sys/utsname.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/system.h"

namespace trawler {

bool SystemVersionRecord(VersionRecord* record) {
    struct utsname name;
    if (uname(&name) != 0) return false;
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(name.release, "%u.%u.%u", &major, &minor, &build);
    record->major = major;
    record->minor = minor;
    record->build = build;
    // No Windows platform identifier fits; "PlatformID=-1" tells the support desk so, and the
    // service-pack text names the real system.
    record->platformId = kNotWindowsPlatformId;
    std::string text = std::string(name.sysname) + " " + name.release;
    record->servicePack = text.substr(0, 127);
    return true;
}

std::unique_ptr<Spooler> SystemSpooler() {
    return nullptr;
}

bool IsAnsiLeadByte(unsigned char) {
    return false;
}

char PathSeparator() {
    return '/';
}

uint32_t SystemLastError() {
    return static_cast<uint32_t>(errno);
}

std::string SystemErrorText(uint32_t code) {
    if (code == 0) return "";
    return std::strerror(static_cast<int>(code));
}

}  // namespace trawler
