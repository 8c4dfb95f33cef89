// ShowMessage and ShowLastError over the Host seam.
#include "platform/messages.h"

#include <cstdarg>
#include <cstdio>

namespace trawler {

void ShowMessage(Host& host, const char* format, ...) {
    char buffer[4096];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) buffer[0] = '\0';
    host.ShowMessage(buffer);
}

std::string UnknownErrorText(uint32_t code) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "System error %lu (no description available).",
                  static_cast<unsigned long>(code));
    return buffer;
}

void ShowLastError(Host& host, uint32_t code, const std::string& systemText) {
    host.ShowMessage(systemText.empty() ? UnknownErrorText(code) : systemText);
}

}  // namespace trawler
