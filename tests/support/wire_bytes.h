// The PV-730's wire formats written out byte for byte, apart from the product's own constants:
// a test that compares the product's frames or answers with these catches a wrong constant.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace trawler::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

inline Bytes Be32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// A command frame: the start sequence, the body, the end sequence.
inline Bytes Frame(const Bytes& body) {
    return Cat({{0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00},
                body,
                {0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00}});
}
inline Bytes ClockFrame() {
    return Frame({0x40, 0x1B, 0x00, 0x01, 0x04, 0, 0, 0});
}
inline Bytes VersionFrame() {
    return Frame({0x40, 0x1B, 0x00, 0x01, 0x05, 0, 0, 0});
}
inline Bytes EepromFrame(uint32_t id) {
    return Frame(Cat({{0x40, 0x1C, 0x00, 0x04}, Be32(id)}));
}
// The two log requests: 2C the information, 23 the data.
inline Bytes LogFrame(uint8_t code) {
    Bytes body = {0x40, code, 0x00, 0x14, 0xFF, 0x07};
    body.resize(24, 0);
    return Frame(body);
}

// An answer: 40, its code, the big-endian length (the payload's, or the one declared), payload.
inline Bytes Answer(uint8_t code, const Bytes& payload, int declared = -1) {
    uint32_t length =
        declared < 0 ? static_cast<uint32_t>(payload.size()) : static_cast<uint32_t>(declared);
    return Cat(
        {{0x40, code, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)}, payload});
}

// Filler to the end of the last 512-byte unit, as the printer sends it.
inline Bytes Padded(Bytes bytes, uint8_t filler = 0) {
    while (bytes.size() % 512 != 0) bytes.push_back(filler);
    return bytes;
}

}  // namespace trawler::testing
