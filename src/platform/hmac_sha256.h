// HMAC-SHA-256 over the system's SHA-256: a keyed digest that nobody without the key can
// compute or test a guess against.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace trawler {

std::array<uint8_t, 32> HmacSha256(const uint8_t* key, size_t keySize, const uint8_t* data,
                                   size_t size);

}  // namespace trawler
