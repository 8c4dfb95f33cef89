// The diff of two packages. Both are read at once through PackageStream, the one whose log is
// behind stepping next, so the two logs meet chunk by chunk and are compared as they arrive:
// however large they are, only the bytes one side is ahead are kept.
#include "output/package_diff.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "output/ansi_text.h"
#include "output/container_format.h"
#include "output/package_report.h"
#include "output/report_json.h"
#include "pv730/protocol.h"

namespace trawler {

namespace {

std::string Hex(const std::vector<uint8_t>& bytes, const char* separator) {
    return HexText(bytes.data(), bytes.size(), separator);
}

// One package's side: keeps its EEPROM records and queues its log bytes until the other
// side's log has reached them.
class DiffSide : public PackageSink {
  public:
    bool ContainerBytes(const uint8_t*, size_t) override { return true; }
    bool BeginChunk(const ChunkEntry& chunk) override {
        m_inLog = chunk.tag == kTagLog;
        m_record = EepromBlockOfTag(chunk.tag) != 0 ? &m_records[chunk.tag] : nullptr;
        return true;
    }
    bool ChunkBytes(const uint8_t* data, size_t size) override {
        if (m_record != nullptr) m_record->insert(m_record->end(), data, data + size);
        if (!m_inLog) return true;
        if (m_keepLog) m_log.insert(m_log.end(), data, data + size);
        for (size_t i = size > 3 ? size - 3 : 0; i < size; ++i) {
            m_tail[0] = m_tail[1];
            m_tail[1] = m_tail[2];
            m_tail[2] = data[i];
        }
        return true;
    }
    bool EndChunk(const ChunkEntry&, uint32_t) override {
        if (m_inLog) m_logDone = true;
        m_inLog = false;
        m_record = nullptr;
        return true;
    }
    std::string Failure() const override { return "the diff stopped"; }

    // The side's package has been read through: no more log bytes can come.
    void Ended() { m_logDone = true; }
    bool LogComplete() const { return m_logDone; }

    size_t Pending() const { return m_log.size() - m_head; }
    const uint8_t* PendingBytes() const { return m_log.data() + m_head; }
    void Drop(size_t count) {
        m_head += count;
        if (m_head == m_log.size()) {
            m_log.clear();
            m_head = 0;
        }
    }
    // The rest of this log need not be compared: it is only counted from now on.
    void StopKeeping() {
        m_keepLog = false;
        m_log.clear();
        m_head = 0;
    }

    // Zero bytes at the end of the log, at most 3: what may be its padding.
    uint32_t TrailingZeros(uint32_t length) const {
        uint32_t count = 0;
        while (count < 3 && count < length && m_tail[2 - count] == 0) ++count;
        return count;
    }

    const std::vector<uint8_t>* Record(const std::string& tag) const {
        auto it = m_records.find(tag);
        return it == m_records.end() ? nullptr : &it->second;
    }

  private:
    bool m_inLog = false;
    bool m_logDone = false;
    bool m_keepLog = true;
    std::vector<uint8_t> m_log;
    size_t m_head = 0;
    uint8_t m_tail[3] = {};
    std::vector<uint8_t>* m_record = nullptr;
    std::map<std::string, std::vector<uint8_t>> m_records;
};

// Compares what both sides have queued and drops it; counts the common prefix.
class LogComparer {
  public:
    void Take(DiffSide& a, DiffSide& b) {
        size_t n = std::min(a.Pending(), b.Pending());
        if (!m_differs && n > 0) {
            auto mismatch = std::mismatch(a.PendingBytes(), a.PendingBytes() + n, b.PendingBytes());
            size_t alike = static_cast<size_t>(mismatch.first - a.PendingBytes());
            m_common += alike;
            m_differs = alike < n;
        }
        a.Drop(n);
        b.Drop(n);
        if (m_differs || (a.LogComplete() && a.Pending() == 0)) b.StopKeeping();
        if (m_differs || (b.LogComplete() && b.Pending() == 0)) a.StopKeeping();
    }
    uint64_t Common() const { return m_common; }

  private:
    uint64_t m_common = 0;
    bool m_differs = false;
};

FieldChange Field(const char* name, bool inA, const std::string& a, bool inB,
                  const std::string& b) {
    FieldChange field;
    field.name = name;
    field.inA = inA;
    field.inB = inB;
    field.before = inA ? a : "";
    field.after = inB ? b : "";
    field.changed = inA != inB || field.before != field.after;
    return field;
}

// A text field: compared as stored, shown in its own package's code page.
FieldChange TextField(const char* name, bool inA, const std::string& a, TextCodePage pageA,
                      bool inB, const std::string& b, TextCodePage pageB) {
    FieldChange field = Field(name, inA, a, inB, b);
    if (inA) field.before = AnsiToUtf8(a, pageA);
    if (inB) field.after = AnsiToUtf8(b, pageB);
    return field;
}

std::vector<FieldChange> CompareFields(const PackageReport& a, const PackageReport& b) {
    TextCodePage pageA = PackageCodePage(a);
    TextCodePage pageB = PackageCodePage(b);
    return {
        Field("unit_number", a.hasUnitNumber, std::to_string(a.unitNumber), b.hasUnitNumber,
              std::to_string(b.unitNumber)),
        Field("firmware_version", a.hasVersion, FirmwareText(a), b.hasVersion, FirmwareText(b)),
        Field("clock", a.hasClock, HexText(a.clock.data(), a.clock.size(), " "), b.hasClock,
              HexText(b.clock.data(), b.clock.size(), " ")),
        Field("log_info", a.hasLogInfo, HexText(a.logInfo.data(), a.logInfo.size(), " "),
              b.hasLogInfo, HexText(b.logInfo.data(), b.logInfo.size(), " ")),
        TextField("pc", a.hasPcLine, a.pcLine, pageA, b.hasPcLine, b.pcLine, pageB),
        TextField("customer", a.hasCustomer, a.customer, pageA, b.hasCustomer, b.customer, pageB),
        TextField("comment", a.hasComment, a.comment, pageA, b.hasComment, b.comment, pageB),
    };
}

// The block's data bytes (N of them) from a checked record; empty when it is absent.
std::vector<uint8_t> BlockData(const PackageReport& report, const DiffSide& side,
                               const std::string& tag, bool* present, uint32_t* second) {
    const std::vector<uint8_t>* record = side.Record(tag);
    for (const EepromEntry& entry : report.eeprom) {
        if (entry.tag != tag || record == nullptr) continue;
        *present = true;
        *second = entry.secondField;
        auto begin = record->begin() + pv730::kEepromDataOffset;
        return std::vector<uint8_t>(begin, begin + entry.dataSize);
    }
    *present = false;
    return {};
}

void AddRange(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t start,
              size_t end, BlockChange* block) {
    block->bytesChanged += end - start;
    if (block->ranges.size() == kDiffMaxRanges) {
        ++block->rangesLeftOut;
        return;
    }
    ByteRange range;
    range.offset = static_cast<uint32_t>(start);
    range.length = static_cast<uint32_t>(end - start);
    auto copy = [start, end](const std::vector<uint8_t>& from, std::vector<uint8_t>* to) {
        size_t stop = std::min({end, from.size(), start + kDiffMaxRangeBytes});
        if (stop > start) to->assign(from.begin() + start, from.begin() + stop);
    };
    copy(a, &range.before);
    copy(b, &range.after);
    block->ranges.push_back(range);
}

BlockChange CompareBlock(const pv730::EepromBlockInfo& info, const PackageDiff& diff,
                         const DiffSide& sideA, const DiffSide& sideB) {
    BlockChange block;
    block.tag = info.tag;
    block.blockId = info.id;
    std::vector<uint8_t> a = BlockData(diff.a, sideA, block.tag, &block.inA, &block.secondA);
    std::vector<uint8_t> b = BlockData(diff.b, sideB, block.tag, &block.inB, &block.secondB);
    block.sizeA = static_cast<uint32_t>(a.size());
    block.sizeB = static_cast<uint32_t>(b.size());
    const size_t common = std::min(a.size(), b.size());
    const size_t longest = std::max(a.size(), b.size());
    size_t i = 0;
    while (i < longest) {
        if (i < common && a[i] == b[i]) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < longest && (i >= common || a[i] != b[i])) ++i;
        AddRange(a, b, start, i, &block);
    }
    block.changed =
        block.inA != block.inB || block.secondA != block.secondB || block.bytesChanged > 0;
    return block;
}

LogRelation RelateLogs(const PackageDiff& diff, const DiffSide& sideA, uint64_t common) {
    LogRelation log;
    log.inA = diff.a.hasLog;
    log.inB = diff.b.hasLog;
    log.lengthA = diff.a.logLength;
    log.lengthB = diff.b.logLength;
    if (!log.inA || !log.inB) {
        log.same = log.inA == log.inB;
        return log;
    }
    log.commonPrefix = common;
    log.same = log.lengthA == log.lengthB && common == log.lengthA;
    log.continues = common >= log.lengthA - sideA.TrailingZeros(log.lengthA);
    return log;
}

}  // namespace

bool PackageDiff::Same() const {
    for (const FieldChange& field : fields) {
        if (field.changed) return false;
    }
    for (const BlockChange& block : blocks) {
        if (block.changed) return false;
    }
    return log.same;
}

bool DiffPackages(const std::string& pathA, const std::string& pathB, PackageDiff* diff,
                  std::string* which) {
    *diff = PackageDiff();
    DiffSide sideA, sideB;
    PackageStream streamA(pathA, &diff->a, &sideA);
    PackageStream streamB(pathB, &diff->b, &sideB);
    LogComparer comparer;
    bool moreA = true, moreB = true;
    while (moreA || moreB) {
        // The side with fewer log bytes waiting reads on, so neither runs far ahead.
        if (moreA && (!moreB || sideA.Pending() <= sideB.Pending())) {
            moreA = streamA.Step();
            if (!moreA) sideA.Ended();
        } else {
            moreB = streamB.Step();
            if (!moreB) sideB.Ended();
        }
        comparer.Take(sideA, sideB);
    }
    if (!diff->a.valid || !diff->b.valid) {
        *which = diff->a.valid ? "B" : "A";
        return false;
    }
    diff->fields = CompareFields(diff->a, diff->b);
    for (const pv730::EepromBlockInfo& info : pv730::kEepromBlocks) {
        BlockChange block = CompareBlock(info, *diff, sideA, sideB);
        if (block.inA || block.inB) diff->blocks.push_back(block);
    }
    diff->log = RelateLogs(*diff, sideA, comparer.Common());
    return true;
}

namespace {

std::string Line(const char* label, const std::string& value) {
    char head[16];
    std::snprintf(head, sizeof head, "%-12s", label);
    return head + value + "\n";
}

std::string Shown(bool present, const std::string& value, bool quoted) {
    if (!present) return "(none)";
    std::string text = EscapeForTerminal(value);
    return quoted ? "\"" + text + "\"" : text;
}

std::string BlockText(const BlockChange& block) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%s (0x%04lX) ", block.tag.c_str(),
                  static_cast<unsigned long>(block.blockId));
    std::string out = buffer;
    if (block.inA != block.inB)
        return Line("EEPROM", out + (block.inA ? "only in A" : "only in B"));
    if (block.sizeA != block.sizeB) {
        std::snprintf(buffer, sizeof buffer, "%lu -> %lu data bytes, ",
                      static_cast<unsigned long>(block.sizeA),
                      static_cast<unsigned long>(block.sizeB));
        out += buffer;
    }
    if (block.secondA != block.secondB) {
        std::snprintf(buffer, sizeof buffer, "second field 0x%08lX -> 0x%08lX, ",
                      static_cast<unsigned long>(block.secondA),
                      static_cast<unsigned long>(block.secondB));
        out += buffer;
    }
    std::snprintf(buffer, sizeof buffer, "%llu %s",
                  static_cast<unsigned long long>(block.bytesChanged),
                  block.bytesChanged == 1 ? "byte differs" : "bytes differ");
    std::string text = Line("EEPROM", out + buffer);
    for (const ByteRange& range : block.ranges) {
        std::snprintf(buffer, sizeof buffer,
                      "              at %lu, %lu %s: ", static_cast<unsigned long>(range.offset),
                      static_cast<unsigned long>(range.length),
                      range.length == 1 ? "byte" : "bytes");
        auto side = [&range](const std::vector<uint8_t>& bytes) {
            std::string shown = bytes.empty() ? "(none)" : Hex(bytes, " ");
            return bytes.size() < range.length && !bytes.empty() ? shown + " ..." : shown;
        };
        text += buffer + side(range.before) + " -> " + side(range.after) + "\n";
    }
    if (block.rangesLeftOut > 0) {
        text += "              and " + std::to_string(block.rangesLeftOut) + " more ranges\n";
    }
    return text;
}

std::string LogText(const LogRelation& log) {
    if (!log.inA || !log.inB) {
        if (log.inA == log.inB) return Line("Log", "in neither");
        return Line("Log", std::string("only in ") + (log.inA ? "A" : "B"));
    }
    char buffer[200];
    std::snprintf(buffer, sizeof buffer, "A %lu bytes, B %lu bytes; the first %llu alike; %s",
                  static_cast<unsigned long>(log.lengthA), static_cast<unsigned long>(log.lengthB),
                  static_cast<unsigned long long>(log.commonPrefix),
                  log.same        ? "the same"
                  : log.continues ? "B continues A"
                                  : "B does not continue A");
    return Line("Log", buffer);
}

}  // namespace

std::string FormatDiffText(const PackageDiff& diff, const std::string& pathA,
                           const std::string& pathB) {
    std::string out = Line("A", EscapeForTerminal(pathA) + "  " + diff.a.sha256);
    out += Line("B", EscapeForTerminal(pathB) + "  " + diff.b.sha256);
    std::string same;
    for (const FieldChange& field : diff.fields) {
        bool quoted = field.name == "pc" || field.name == "customer" || field.name == "comment";
        if (!field.changed) {
            same += (same.empty() ? "" : ", ") + field.name;
            continue;
        }
        out += Line("Changed", field.name + ": " + Shown(field.inA, field.before, quoted) + " -> " +
                                   Shown(field.inB, field.after, quoted));
    }
    if (!same.empty()) out += Line("Same", same);
    size_t sameBlocks = 0;
    for (const BlockChange& block : diff.blocks) {
        if (block.changed) {
            out += BlockText(block);
        } else {
            ++sameBlocks;
        }
    }
    if (sameBlocks > 0) {
        out += Line("EEPROM", std::to_string(sameBlocks) + " of " +
                                  std::to_string(diff.blocks.size()) + " blocks the same");
    }
    out += LogText(diff.log);
    out += Line("Result", diff.Same() ? "the same" : "different");
    return out;
}

namespace {

ReportJson BlocksJson(const std::vector<BlockChange>& changes) {
    using Json = ReportJson;
    Json blocks = Json::array();
    for (const BlockChange& b : changes) {
        Json ranges = Json::array();
        for (const ByteRange& r : b.ranges) {
            ranges.push_back({{"offset", r.offset},
                              {"length", r.length},
                              {"a", Hex(r.before, "")},
                              {"b", Hex(r.after, "")}});
        }
        blocks.push_back({{"tag", b.tag},
                          {"block_id", b.blockId},
                          {"in_a", b.inA},
                          {"in_b", b.inB},
                          {"size_a", b.sizeA},
                          {"size_b", b.sizeB},
                          {"second_a", b.secondA},
                          {"second_b", b.secondB},
                          {"changed", b.changed},
                          {"bytes_changed", b.bytesChanged},
                          {"ranges", ranges},
                          {"ranges_left_out", b.rangesLeftOut}});
    }
    return blocks;
}

}  // namespace

std::string FormatDiffJson(const PackageDiff& diff, const std::string& pathA,
                           const std::string& pathB) {
    using Json = ReportJson;
    auto side = [](const PackageReport& report, const std::string& path) {
        return Json{{"file", path},
                    {"sha256", ReportSha256Json(report)},
                    {"valid", report.valid},
                    {"error", ReportErrorJson(report)}};
    };
    Json j;
    j["format"] = kDiffJsonFormat;
    j["a"] = side(diff.a, pathA);
    j["b"] = side(diff.b, pathB);
    if (!diff.a.valid || !diff.b.valid) {
        // Nothing is compared: what a damaged package seems to hold is not to be trusted.
        j["failed"] = diff.a.valid ? "b" : "a";
        return DumpReportJson(j) + "\n";
    }
    j["same"] = diff.Same();
    // Each value as inspect --json gives it, so that one parser reads both.
    const Json valuesA = ReportFieldsJson(diff.a), valuesB = ReportFieldsJson(diff.b);
    Json fields = Json::array();
    for (const FieldChange& f : diff.fields) {
        fields.push_back({{"name", f.name},
                          {"changed", f.changed},
                          {"a", valuesA.at(f.name)},
                          {"b", valuesB.at(f.name)}});
    }
    j["fields"] = fields;
    j["eeprom"] = BlocksJson(diff.blocks);
    const LogRelation& l = diff.log;
    j["log"] = {{"in_a", l.inA},
                {"in_b", l.inB},
                {"length_a", l.inA ? Json(l.lengthA) : Json(nullptr)},
                {"length_b", l.inB ? Json(l.lengthB) : Json(nullptr)},
                {"common_prefix", l.commonPrefix},
                {"continues", l.continues},
                {"same", l.same}};
    return DumpReportJson(j) + "\n";
}

}  // namespace trawler
