// HMAC (RFC 2104) with SHA-256's 64-byte block.
#include "platform/hmac_sha256.h"

#include <algorithm>

#include "platform/sha256.h"

namespace trawler {

std::array<uint8_t, 32> HmacSha256(const uint8_t* key, size_t keySize, const uint8_t* data,
                                   size_t size) {
    constexpr size_t kBlock = 64;
    std::array<uint8_t, kBlock> block{};
    Sha256 hash;
    if (keySize > kBlock) {
        hash.Update(key, keySize);
        std::array<uint8_t, 32> shortened = hash.Finish();
        std::copy(shortened.begin(), shortened.end(), block.begin());
    } else {
        std::copy(key, key + keySize, block.begin());
    }
    std::array<uint8_t, kBlock> pad;
    for (size_t i = 0; i < kBlock; ++i) pad[i] = static_cast<uint8_t>(block[i] ^ 0x36);
    hash.Update(pad.data(), pad.size());
    hash.Update(data, size);
    std::array<uint8_t, 32> inner = hash.Finish();
    for (size_t i = 0; i < kBlock; ++i) pad[i] = static_cast<uint8_t>(block[i] ^ 0x5C);
    hash.Update(pad.data(), pad.size());
    hash.Update(inner.data(), inner.size());
    return hash.Finish();
}

}  // namespace trawler
