// The two error-reporting helpers every module uses: a formatted box and the system's text.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host.h"

namespace trawler {

// printf-style text (at most 4095 characters) in a modal OK box.
void ShowMessage(Host& host, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// The system's text for an error code, shown unchanged: it is never used as a format, so a
// percent sign in it reaches the box as it is. A code without text still gets a box.
void ShowLastError(Host& host, uint32_t code, const std::string& systemText);

// What ShowLastError shows for a code the system has no text for.
std::string UnknownErrorText(uint32_t code);

}  // namespace trawler
