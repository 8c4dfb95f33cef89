// SHA-256 (FIPS 180-4) over a stream of bytes: the support desk quotes a package by it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace trawler {

class Sha256 {
  public:
    Sha256();
    void Update(const uint8_t* data, size_t size);
    // The digest of everything given; the object then starts over.
    std::array<uint8_t, 32> Finish();
    // Finish() as 64 lower-case hexadecimal digits.
    std::string FinishHex();

  private:
    void Compress(const uint8_t* block);

    std::array<uint32_t, 8> m_state;
    uint8_t m_block[64];
    size_t m_used = 0;
    uint64_t m_total = 0;
};

}  // namespace trawler
