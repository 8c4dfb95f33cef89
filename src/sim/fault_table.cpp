// The fault kinds, their names and their fields.
#include "sim/fault_table.h"

#include <cstdlib>

namespace trawler::sim {

namespace {
constexpr bool kAnswer = true;
constexpr bool kSpooler = false;
}  // namespace

const std::vector<FaultKindInfo>& FaultKinds() {
    using K = FaultKind;
    using C = DeviceCommand;
    // kind, name, edits an answer, needs a target, may have one, changes bytes, only for, fields
    static const std::vector<FaultKindInfo> kKinds = {
        {K::kPrinterMissing, "printer-missing", kSpooler, false, false, false, {}, {}},
        {K::kOpenRefused, "open-refused", kSpooler, false, false, false, {}, {"error"}},
        {K::kOffline, "offline", kSpooler, false, false, false, {}, {"mode", "error"}},
        {K::kJobStartFails, "job-start-fails", kSpooler, false, false, false, {}, {"error"}},
        {K::kShortWrite, "short-write", kSpooler, false, true, false, {}, {"written"}},
        {K::kNoAnswer, "no-answer", kAnswer, true, false, false, {}, {}},
        {K::kTruncate, "truncate", kAnswer, true, false, false, {}, {"after"}},
        {K::kStrayBytes, "stray-bytes", kAnswer, true, false, false, {}, {"bytes"}},
        {K::kWrongCode, "wrong-code", kAnswer, true, false, true, {}, {"code"}},
        {K::kWrongLength, "wrong-length", kAnswer, true, false, true, {}, {"length", "size"}},
        {K::kWrongBlockId, "wrong-block-id", kAnswer, true, false, true, C::kEeprom, {"id"}},
        {K::kBadChecksum, "bad-checksum", kAnswer, true, false, true, C::kEeprom, {"delta"}},
        {K::kOversizeValidCount,
         "oversize-valid-count",
         kAnswer,
         true,
         false,
         true,
         C::kLogData,
         {"valid"}},
        {K::kBusy, "busy", kAnswer, true, false, false, {}, {"count"}},
        {K::kQueryFails, "query-fails", kAnswer, false, true, false, {}, {"count", "error"}},
        {K::kCorrupt, "corrupt", kAnswer, true, false, true, {}, {"offset", "value"}},
        {K::kDrop, "drop", kAnswer, true, false, true, {}, {"offset", "count"}},
        {K::kInsert, "insert", kAnswer, true, false, true, {}, {"offset", "bytes"}},
    };
    return kKinds;
}

const FaultKindInfo* FindFaultKind(const std::string& name) {
    for (const FaultKindInfo& info : FaultKinds()) {
        if (name == info.name) return &info;
    }
    return nullptr;
}

const FaultKindInfo& InfoOf(FaultKind kind) {
    for (const FaultKindInfo& info : FaultKinds()) {
        if (info.kind == kind) return info;
    }
    // Every kind has its row (the table test walks them all); a missing one is a build mistake.
    std::abort();
}

}  // namespace trawler::sim
