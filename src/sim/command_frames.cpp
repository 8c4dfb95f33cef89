// Parses command frames as the PV-730 firmware reads them from a RAW job.
//
// Frame:
//   0      8  start 1B 7C 31 30 40 01 44 00
//   8   8/24  body: 40, command code, parameter length n (2, big-endian), n parameter bytes,
//             zero bytes to the end of the body (8 bytes for 1B and 1C, 24 for 2C and 23)
//   16/32  8  end 1B 7C 31 30 24 00 00 00
//
// Commands (body as sent):
//   clock     40 1B 00 01 04 00 00 00
//   version   40 1B 00 01 05 00 00 00
//   EEPROM    40 1C 00 04, block ID (4, big-endian)
//   log info  40 2C 00 14 FF 07, 18 zero bytes
//   log data  40 23 00 14 FF 07, 18 zero bytes
#include "sim/command_frames.h"

#include <cstring>

namespace trawler::sim {

namespace {

constexpr uint8_t kFrameStart[8] = {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00};
constexpr uint8_t kFrameEnd[8] = {0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00};
constexpr uint8_t kClockBody[8] = {0x40, 0x1B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00};
constexpr uint8_t kVersionBody[8] = {0x40, 0x1B, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00};
constexpr uint8_t kEepromBodyHead[4] = {0x40, 0x1C, 0x00, 0x04};
constexpr uint8_t kLogParameter[4] = {0x00, 0x14, 0xFF, 0x07};

bool IsLogBody(const uint8_t* body, uint8_t code) {
    if (body[0] != 0x40 || body[1] != code) return false;
    if (std::memcmp(body + 2, kLogParameter, sizeof(kLogParameter)) != 0) return false;
    for (size_t i = 6; i < 24; ++i) {
        if (body[i] != 0) return false;
    }
    return true;
}

// One frame at data; its size, or 0 when it is not a well-formed command.
size_t ParseOne(const uint8_t* data, size_t length, ParsedCommand* command) {
    if (length < 24 || std::memcmp(data, kFrameStart, 8) != 0) return 0;
    const uint8_t* body = data + 8;
    size_t bodySize = 0;
    if (std::memcmp(body, kClockBody, 8) == 0) {
        command->command = DeviceCommand::kClock;
        bodySize = 8;
    } else if (std::memcmp(body, kVersionBody, 8) == 0) {
        command->command = DeviceCommand::kVersion;
        bodySize = 8;
    } else if (std::memcmp(body, kEepromBodyHead, 4) == 0) {
        command->command = DeviceCommand::kEeprom;
        command->blockId = (uint32_t{body[4]} << 24) | (uint32_t{body[5]} << 16) |
                           (uint32_t{body[6]} << 8) | body[7];
        bodySize = 8;
    } else if (length >= 40 && IsLogBody(body, 0x2C)) {
        command->command = DeviceCommand::kLogInfo;
        bodySize = 24;
    } else if (length >= 40 && IsLogBody(body, 0x23)) {
        command->command = DeviceCommand::kLogData;
        bodySize = 24;
    } else {
        return 0;
    }
    if (std::memcmp(body + bodySize, kFrameEnd, 8) != 0) return 0;
    return 16 + bodySize;
}

}  // namespace

std::vector<ParsedCommand> ParseCommandFrames(const uint8_t* data, size_t length) {
    std::vector<ParsedCommand> commands;
    size_t pos = 0;
    while (pos < length) {
        ParsedCommand command;
        size_t size = ParseOne(data + pos, length - pos, &command);
        if (size != 0) {
            commands.push_back(command);
            pos += size;
            continue;
        }
        // Not a command: the firmware looks for the next frame start.
        ++pos;
        while (pos < length && data[pos] != kFrameStart[0]) ++pos;
    }
    return commands;
}

}  // namespace trawler::sim
