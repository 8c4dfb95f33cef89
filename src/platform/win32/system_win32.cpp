// System facts on Windows: GetVersionExA, GetLastError and FormatMessageA.
#include <windows.h>

#include "platform/system.h"
#include "platform/win32/win32_spooler.h"

namespace trawler {

bool SystemVersionRecord(VersionRecord* record) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;  // the ANSI record of 148 bytes
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    // Deprecated, but with the manifest's supported-OS entries it reports the true version.
    if (!GetVersionExA(&info)) return false;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    record->major = info.dwMajorVersion;
    record->minor = info.dwMinorVersion;
    record->build = info.dwBuildNumber;
    record->platformId = info.dwPlatformId;
    record->servicePack = info.szCSDVersion;
    return true;
}

std::unique_ptr<Spooler> SystemSpooler() {
    return std::make_unique<Win32Spooler>();
}

bool IsAnsiLeadByte(unsigned char byte) {
    return IsDBCSLeadByte(byte) != FALSE;
}

char PathSeparator() {
    return '\\';
}

uint32_t SystemLastError() {
    return GetLastError();
}

std::string SystemErrorText(uint32_t code) {
    char* text = nullptr;
    // The codes come from the printer driver, and some system texts hold inserts ("%1") that
    // no argument list could fill: they are taken as they stand. Language 0 lets Windows fall
    // back from the user's language to the system's and to English; one language asked for
    // by name fails where Windows has no texts in it (English Windows with another region).
    DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = (n && text) ? std::string(text, n) : std::string();
    if (text) LocalFree(text);
    return result;
}

}  // namespace trawler
