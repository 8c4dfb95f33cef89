// A fault of the emulated PV-730 aimed at one answer: a command, and for EEPROM its block.
#pragma once

#include <cstdint>

#include "sim/device_description.h"

namespace trawler::testing {

inline Fault AnswerFault(FaultKind kind, DeviceCommand command, uint32_t blockId = 0) {
    Fault f;
    f.kind = kind;
    f.hasTarget = true;
    f.command = command;
    f.blockId = blockId;
    return f;
}

}  // namespace trawler::testing
