// What both SHA-256 backends share: the hex form and the stop on a failed system call.
#include "platform/sha256.h"

#include <cstdio>
#include <cstdlib>

namespace trawler {

std::string Sha256::FinishHex() {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : Finish()) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 15]);
    }
    return text;
}

void Sha256::Failed(const char* call, long code) {
    std::fprintf(stderr, "SHA-256: %s failed (%ld)\n", call, code);
    std::abort();
}

}  // namespace trawler
