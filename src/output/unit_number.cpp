// The unit number rule shared by the collector and the package reader.
//
// Record of block 0x8013:
//   0       4  block ID
//   4       4  second field
//   8       4  data size N
//   12      N  data; data bytes 28..31 (record bytes 40..43) are the unit number
//   12+N    4  checksum
#include "output/unit_number.h"

namespace trawler {

namespace {

constexpr size_t kDataSizeOffset = 8;
constexpr size_t kDataOffset = 12;
constexpr size_t kUnitNumberDataOffset = 28;
constexpr size_t kChecksumWidth = 4;

uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

bool UnitNumberFromRecord(const uint8_t* record, size_t size, uint32_t* unitNumber) {
    if (size < kDataOffset) return false;
    uint64_t dataSize = Be32(record + kDataSizeOffset);
    if (dataSize < kUnitNumberDataOffset + 4) return false;
    if (uint64_t{size} < kDataOffset + dataSize + kChecksumWidth) return false;
    *unitNumber = Be32(record + kDataOffset + kUnitNumberDataOffset);
    return true;
}

}  // namespace trawler
