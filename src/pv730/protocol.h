// The PV-730 as the rest of the system sees it: its driver's names, its command frames, its
// answers, its EEPROM block table, its checksum, its unit-number rule and its log packets. The
// link, the acquisition, the package reader and the emulator all take these facts from here; a
// second printer model would get a folder of its own beside this one.
//
// Driver: a print queue whose driver is named kDriverName; RAW jobs named kJobName reach the
// printer byte for byte; two private printer-data values:
//   "HlPvRawReadTest": one raw-read block (kRawReadHeader bytes, status byte first, 0 = valid;
//                      then the next answer bytes), its whole length as the needed count
//   "HlPvCheck":       4 bytes, first byte 0 when the printer is online
//
// Command frame (integers big-endian):
//   0      8   kFrameStart
//   8   8/24   body: 40, command code, parameter length n (2), n parameter bytes, zero bytes
//              to the end of the body
//   16/32  8   kFrameEnd
//
// Answer (integers big-endian), then filler to the end of its last kAnswerUnit-byte unit:
//   0  1  kAnswerStart
//   1  1  answer code (AnswerCode)
//   2  2  payload length L
//   4  L  payload:
//           clock     L = 8:   eight bytes, passed on unchanged
//           version   L = 16:  four 32-bit numbers
//           EEPROM    L = N + 16: block ID (4), second field (4), N (4), N data bytes, checksum
//                     (4, EepromChecksum of the data)
//           log info  L = 16:  four information bytes, twelve unused
//           log data  L = 1020: a log packet, see below
//
// Log packet (one request brings all of them, back to back; 1024 bytes = two units):
//   0     4  start byte, code 06, L = 1020
//   4     4  first field (the printer's own; passed on, not used)
//   8     4  valid count V
//   12    1  1 in the last packet
//   13    3  not examined
//   16 1008  data area: its first V bytes are log data
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trawler::pv730 {

// ---- driver ----

inline constexpr char kDriverName[] = "Halden PV-730";
inline constexpr char kValueRawRead[] = "HlPvRawReadTest";
inline constexpr char kValueOnlineCheck[] = "HlPvCheck";
inline constexpr char kJobName[] = "PV-730 Data";
inline constexpr char kJobDataType[] = "RAW";
constexpr uint32_t kRawReadHeader = 4;
constexpr uint32_t kOnlineValueSize = 4;

// Whether a print queue's driver is the PV-730's (the spooler compares names without case).
bool IsPv730Driver(const std::string& driverName);
// Whether the online value's bytes say the printer is online: its first byte is 0. Nothing
// read is not online.
constexpr bool IsOnlineStatus(const uint8_t* status, size_t size) {
    return size > 0 && status[0] == 0;
}
// Whether a raw-read block's status byte says its answer bytes are valid.
constexpr bool IsRawReadValid(const uint8_t* block) {
    return block[0] == 0;
}
// Every answer fills whole units of this many bytes, whatever the raw reads' size.
constexpr uint32_t kAnswerUnit = 512;

// ---- command frames ----

// The five commands the firmware answers.
enum class Command { kClock, kVersion, kEeprom, kLogInfo, kLogData };

constexpr uint8_t kFrameStart[8] = {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00};
constexpr uint8_t kFrameEnd[8] = {0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00};
constexpr uint8_t kClockBody[8] = {0x40, 0x1B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00};
constexpr uint8_t kVersionBody[8] = {0x40, 0x1B, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00};
// Followed by the block ID, big-endian.
constexpr uint8_t kEepromBodyHead[4] = {0x40, 0x1C, 0x00, 0x04};
constexpr size_t kEepromBodySize = 8;
// Both log requests: 40, their code, then kLogParameter and zero bytes to kLogBodySize.
constexpr uint8_t kLogInfoCommand = 0x2C;
constexpr uint8_t kLogDataCommand = 0x23;
constexpr uint8_t kLogParameter[4] = {0x00, 0x14, 0xFF, 0x07};
constexpr size_t kLogBodySize = 24;

// ---- answers ----

constexpr uint8_t kAnswerStart = 0x40;
enum AnswerCode : uint8_t {
    kAnswerVersion = 0x04,
    kAnswerClock = 0x05,
    kAnswerLogData = 0x06,
    kAnswerEeprom = 0x07,
    kAnswerLogInfo = 0x0A,
};
constexpr uint32_t kAnswerHeader = 4;
constexpr uint32_t kAnswerCodeOffset = 1;
constexpr uint32_t kAnswerLengthOffset = 2;
constexpr uint32_t kClockLength = 8;
constexpr uint32_t kVersionLength = 16;
constexpr uint32_t kLogInfoLength = 16;
// Of the log information payload, these first bytes are the information.
constexpr uint32_t kLogInfoKept = 4;

// ---- EEPROM blocks ----

// Block ID, second field and N in front of the data, the checksum behind it.
constexpr uint32_t kEepromOverhead = 16;
// Offsets in the record (the answer's payload).
constexpr uint32_t kEepromSecondFieldOffset = 4;
constexpr uint32_t kEepromSizeOffset = 8;
constexpr uint32_t kEepromDataOffset = 12;

struct EepromBlockInfo {
    uint32_t id;
    char tag[5];  // its chunk in the container
};

// Read in this order; nothing between 0x8006 and 0x8010 is read.
inline constexpr EepromBlockInfo kEepromBlocks[10] = {
    {0x8001, "B001"}, {0x8002, "B002"}, {0x8003, "B003"}, {0x8004, "B004"}, {0x8005, "B005"},
    {0x8006, "B006"}, {0x8010, "B010"}, {0x8011, "B011"}, {0x8012, "B012"}, {0x8013, "B013"},
};
constexpr size_t kEepromBlockCount = sizeof kEepromBlocks / sizeof kEepromBlocks[0];

// The sum of the bytes taken as big-endian 32-bit groups (a short last group completed with zero
// bytes at its end), modulo 2^32; 0 for no bytes.
uint32_t EepromChecksum(const uint8_t* bytes, size_t count);

// The unit number: data bytes 28..31 of block 0x8013, most significant first, present only when
// the data holds them (N >= 32; in a shorter record those bytes would be the checksum).
constexpr uint32_t kUnitNumberBlock = 0x8013;
constexpr size_t kUnitNumberDataOffset = 28;
// From the block's record; false, with *unitNumber untouched, when it holds no unit number or
// is shorter than its N says.
bool UnitNumberFromRecord(const uint8_t* record, size_t size, uint32_t* unitNumber);

// ---- log packets ----

constexpr uint32_t kLogPacketSize = 1024;
constexpr uint32_t kLogPacketLength = 1020;  // its L
constexpr uint32_t kLogFirstFieldOffset = 4;
constexpr uint32_t kLogValidCountOffset = 8;
constexpr uint32_t kLogLastFlagOffset = 12;
constexpr uint32_t kLogDataOffset = 16;
constexpr uint32_t kLogDataArea = 1008;
constexpr uint8_t kLogLastPacket = 1;

}  // namespace trawler::pv730
