// The few facts about the running system that the portable hosts need.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/host.h"
#include "platform/spooler.h"

namespace trawler {

// GetVersionExA on Windows; elsewhere the same record filled truthfully from uname
// (kNotWindowsPlatformId, the system's name and release in servicePack).
bool SystemVersionRecord(VersionRecord* record);

// GetLastError and FormatMessageA on Windows; errno and strerror elsewhere.
uint32_t SystemLastError();

// The PC's print spooler, or null where the system has none that Trawler can use.
std::unique_ptr<Spooler> SystemSpooler();

// Whether a byte starts a double-byte character in the ANSI code page (false where texts are
// not in a double-byte code page).
bool IsAnsiLeadByte(unsigned char byte);

// The character between a folder and a file name in the paths the system shows its user.
char PathSeparator();
std::string SystemErrorText(uint32_t code);

}  // namespace trawler
