// The firmware's side of the command frames: a RAW job's bytes split into commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pv730/protocol.h"

namespace trawler::pv730 {

struct ParsedCommand {
    Command command = Command::kClock;
    uint32_t blockId = 0;  // EEPROM only
};

// The commands of a job, front to back. Bytes that do not make one of the five commands byte
// for byte are passed over up to the next ESC, where the firmware tries again; it never
// guesses at a damaged frame.
std::vector<ParsedCommand> ParseCommandFrames(const uint8_t* data, size_t length);

}  // namespace trawler::pv730
