// Big-endian integers in byte strings: every integer of the printer's frames and answers and of
// the container's own header and chunk lengths is written most significant byte first.
#pragma once

#include <cstdint>

namespace trawler {

inline uint32_t ReadBig16(const uint8_t* p) {
    return (uint32_t{p[0]} << 8) | p[1];
}

inline uint32_t ReadBig32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline void PutBig16(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 8);
    out[1] = static_cast<uint8_t>(value);
}

inline void PutBig32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

// One more byte of a big-endian number that arrives a byte at a time.
inline uint32_t ShiftIn(uint32_t value, uint8_t byte) {
    return (value << 8) | byte;
}

}  // namespace trawler
