// HMAC-SHA-256 over the system's SHA-256, against the published test vectors of RFC 4231.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/hmac_sha256.h"

namespace trawler {
namespace {

std::string Hex(const std::array<uint8_t, 32>& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : digest) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text;
}

TEST(HmacSha256, Rfc4231Vectors) {
    struct Case {
        const char* name;
        std::string key;
        std::string data;
        const char* mac;
    };
    const Case cases[] = {
        {"case 1", std::string(20, '\x0b'), "Hi There",
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"case 2: key shorter than the block", "Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"case 6: key longer than the block", std::string(131, '\xaa'),
         "Test Using Larger Than Block-Size Key - Hash Key First",
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {"case 7: key and data longer than the block", std::string(131, '\xaa'),
         "This is a test using a larger than block-size key and a larger than block-size data. "
         "The key needs to be hashed before being used by the HMAC algorithm.",
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Hex(HmacSha256(reinterpret_cast<const uint8_t*>(c.key.data()), c.key.size(),
                                 reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size())),
                  c.mac);
    }
}

}  // namespace
}  // namespace trawler
