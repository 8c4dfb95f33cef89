// The printer's unit number: where it stands in the record of EEPROM block 0x8013.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trawler {

// The block whose record carries the unit number (chunk "B013"). Named apart from the
// emulator's own kUnitNumberBlock so that a source may include both headers.
constexpr uint32_t kUnitNumberBlockId = 0x8013;

// Takes the unit number out of block 0x8013's record (block ID, second field, data size N,
// N data bytes, checksum, all big-endian): data bytes 28..31, that is record bytes 40..43,
// most significant first. Only data of at least 32 bytes holds them; in a shorter record those
// bytes would be (part of) the checksum. False, with *unitNumber untouched, when the record
// holds no unit number or is shorter than its data size says.
bool UnitNumberFromRecord(const uint8_t* record, size_t size, uint32_t* unitNumber);

}  // namespace trawler
