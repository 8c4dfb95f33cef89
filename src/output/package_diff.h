// What changed between two collections: the printer's fields, each EEPROM block byte range by
// byte range, and how the two logs relate, read from two packages side by side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/package_reader.h"

namespace trawler {

// Version of the diff's JSON layout (docs/SUPPORT.md); raised only when a field changes meaning.
// 2: the fields' values as inspect --json gives them (the unit number a number, the firmware four
// numbers, the clock and log information plain hex), "firmware" named "firmware_version".
constexpr int kDiffJsonFormat = 2;

// At most this many differing ranges are listed per block, and this many bytes per side of a
// range; the counts say what was left out.
constexpr size_t kDiffMaxRanges = 16;
constexpr size_t kDiffMaxRangeBytes = 32;

// One of the single-valued fields on both sides, shown as text (UTF-8 for the three texts).
struct FieldChange {
    // The inspect report's key: "unit_number", "firmware_version", "clock", "log_info", "pc",
    // "customer", "comment".
    std::string name;
    bool inA = false, inB = false;
    std::string before, after;  // empty when absent
    bool changed = false;       // presence or stored bytes differ
};

// A run of differing data bytes of one block. Past the shorter block's end one side is empty.
struct ByteRange {
    uint32_t offset = 0;          // into the block's data
    uint32_t length = 0;          // bytes in the run on the longer side
    std::vector<uint8_t> before;  // at most kDiffMaxRangeBytes of A's bytes
    std::vector<uint8_t> after;   // at most kDiffMaxRangeBytes of B's bytes
};

struct BlockChange {
    std::string tag;
    uint32_t blockId = 0;
    bool inA = false, inB = false;
    uint32_t sizeA = 0, sizeB = 0;  // data bytes (N)
    uint32_t secondA = 0, secondB = 0;
    bool changed = false;
    uint64_t bytesChanged = 0;  // differing data bytes, those past the shorter end included
    std::vector<ByteRange> ranges;
    size_t rangesLeftOut = 0;
};

struct LogRelation {
    bool inA = false, inB = false;
    uint32_t lengthA = 0, lengthB = 0;  // recorded lengths, padding included
    uint64_t commonPrefix = 0;          // leading bytes the two hold alike
    // B's log starts with all of A's (A's trailing zero bytes, at most 3, taken as padding).
    bool continues = false;
    bool same = false;
};

struct PackageDiff {
    PackageReport a, b;
    std::vector<FieldChange> fields;  // all seven, in the order above
    std::vector<BlockChange> blocks;  // every block present in either package, in table order
    LogRelation log;

    bool Same() const;
};

// Reads both packages side by side (each log streamed, never held). False when either cannot
// be read or is damaged: *which is then "A" or "B" and that side's report says why.
bool DiffPackages(const std::string& pathA, const std::string& pathB, PackageDiff* diff,
                  std::string* which);

// The human form, several lines each ending in '\n'.
std::string FormatDiffText(const PackageDiff& diff, const std::string& pathA,
                           const std::string& pathB);

// The JSON form: one object on one line ending in '\n'. When either package is damaged or
// unreadable (DiffPackages said false), the object names both sides' errors and the failed
// side, and compares nothing.
std::string FormatDiffJson(const PackageDiff& diff, const std::string& pathA,
                           const std::string& pathB);

}  // namespace trawler
