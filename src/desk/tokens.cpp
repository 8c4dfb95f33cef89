// Token making and checking.
#include "desk/tokens.h"

#include <sys/random.h>

#include <cstdint>

#include "output/package_report.h"
#include "platform/sha256.h"

namespace trawler::desk {

std::string GenerateToken() {
    uint8_t bytes[32];
    size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n <= 0) return std::string();
        got += static_cast<size_t>(n);
    }
    std::string hex = HexText(bytes, sizeof bytes, "");
    for (char& c : hex) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    return hex;
}

std::string HashToken(const std::string& token) {
    Sha256 hash;
    hash.Update(reinterpret_cast<const uint8_t*>(token.data()), token.size());
    return hash.FinishHex();
}

bool ConstantTimeEqual(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    // volatile keeps the compiler from ending the loop at the first difference.
    volatile uint8_t difference = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        difference = difference | static_cast<uint8_t>(a[i] ^ b[i]);
    }
    return difference == 0;
}

}  // namespace trawler::desk
