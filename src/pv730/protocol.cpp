// The PV-730's computed facts: the driver rule, the EEPROM checksum and the unit-number rule.
#include "pv730/protocol.h"

#include "platform/big_endian.h"
#include "platform/spooler.h"

namespace trawler::pv730 {

bool IsPv730Driver(const std::string& driverName) {
    return SpoolerNamesEqual(driverName, kDriverName);
}

uint32_t EepromChecksum(const uint8_t* bytes, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; i += 4) {
        uint32_t group = 0;
        for (size_t k = 0; k < 4; ++k) group = ShiftIn(group, i + k < count ? bytes[i + k] : 0);
        sum += group;
    }
    return sum;
}

bool UnitNumberFromRecord(const uint8_t* record, size_t size, uint32_t* unitNumber) {
    constexpr size_t kChecksumWidth = 4;
    if (size < kEepromDataOffset) return false;
    const uint64_t dataSize = ReadBig32(record + kEepromSizeOffset);
    if (dataSize < kUnitNumberDataOffset + 4) return false;
    if (uint64_t{size} < kEepromDataOffset + dataSize + kChecksumWidth) return false;
    *unitNumber = ReadBig32(record + kEepromDataOffset + kUnitNumberDataOffset);
    return true;
}

}  // namespace trawler::pv730
