// Parses command frames (pv730/protocol.h) as the PV-730 firmware reads them from a RAW job.
#include "pv730/firmware_frames.h"

#include <cstring>

#include "platform/big_endian.h"
#include "pv730/protocol.h"

namespace trawler::pv730 {

namespace {

bool IsLogBody(const uint8_t* body, uint8_t code) {
    if (body[0] != kAnswerStart || body[1] != code) return false;
    if (std::memcmp(body + 2, kLogParameter, sizeof(kLogParameter)) != 0) return false;
    for (size_t i = 2 + sizeof(kLogParameter); i < kLogBodySize; ++i) {
        if (body[i] != 0) return false;
    }
    return true;
}

// One frame at data; its size, or 0 when it is not a well-formed command.
size_t ParseOne(const uint8_t* data, size_t length, ParsedCommand* command) {
    constexpr size_t kEnds = sizeof kFrameStart + sizeof kFrameEnd;
    if (length < kEnds + kEepromBodySize) return 0;
    if (std::memcmp(data, kFrameStart, sizeof kFrameStart) != 0) return 0;
    const uint8_t* body = data + sizeof kFrameStart;
    size_t bodySize = 0;
    if (std::memcmp(body, kClockBody, sizeof kClockBody) == 0) {
        command->command = Command::kClock;
        bodySize = sizeof kClockBody;
    } else if (std::memcmp(body, kVersionBody, sizeof kVersionBody) == 0) {
        command->command = Command::kVersion;
        bodySize = sizeof kVersionBody;
    } else if (std::memcmp(body, kEepromBodyHead, sizeof kEepromBodyHead) == 0) {
        command->command = Command::kEeprom;
        command->blockId = ReadBig32(body + sizeof kEepromBodyHead);
        bodySize = kEepromBodySize;
    } else if (length >= kEnds + kLogBodySize && IsLogBody(body, kLogInfoCommand)) {
        command->command = Command::kLogInfo;
        bodySize = kLogBodySize;
    } else if (length >= kEnds + kLogBodySize && IsLogBody(body, kLogDataCommand)) {
        command->command = Command::kLogData;
        bodySize = kLogBodySize;
    } else {
        return 0;
    }
    if (std::memcmp(body + bodySize, kFrameEnd, sizeof kFrameEnd) != 0) return 0;
    return kEnds + bodySize;
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

}  // namespace trawler::pv730
