// Every fault a device description can name, in one table: the loader reads descriptions by it,
// the recorder writes its faults by it and the emulator asks it what a kind does.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/device_description.h"

namespace trawler::sim {

struct FaultKindInfo {
    FaultKind kind;
    const char* name;   // in a description's "kind"
    bool editsAnswer;   // changes what one answer (or log packet) looks like
    bool needsTarget;   // names the answer it hits ("command", "block", "packet")
    bool mayTarget;     // may name one
    bool changesBytes;  // cannot apply to a replayed answer, whose bytes are fixed
    std::optional<DeviceCommand> onlyFor;  // the one command whose answer has what it changes
    std::vector<std::string> fields;       // its own fields, beside the ones every fault has
};

const std::vector<FaultKindInfo>& FaultKinds();
// Null for a name no fault has.
const FaultKindInfo* FindFaultKind(const std::string& name);
const FaultKindInfo& InfoOf(FaultKind kind);
inline const char* FaultKindName(FaultKind kind) {
    return InfoOf(kind).name;
}

}  // namespace trawler::sim
