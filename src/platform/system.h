// The few facts about the running system that the portable hosts need.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host.h"

namespace trawler {

// GetVersionExA on Windows; elsewhere the same record filled truthfully from uname
// (kNotWindowsPlatformId, the system's name and release in servicePack).
bool SystemVersionRecord(VersionRecord* record);

// GetLastError and FormatMessageA on Windows; errno and strerror elsewhere.
uint32_t SystemLastError();
std::string SystemErrorText(uint32_t code);

}  // namespace trawler
