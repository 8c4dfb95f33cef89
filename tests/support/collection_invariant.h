// The promise of a collection, checked on random devices under random faults: either the run
// fails and leaves no file, or it saves one package that holds exactly what the printer holds.
// Shared by the seeded sweep (tests/unit) and the fuzz target (tests/fuzz); no test framework.
//
// Some damage no reader of this protocol can see: a changed byte where nothing checks it, bytes
// that look like an answer header where the parser may look for one, two faults that undo each
// other's trace. `ProtocolCanSee` names these cases; for them only the weaker promise is
// checked (a package only when the run says so, one that reads valid, no ".tmp" left).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "acquire/log_run.h"
#include "acquire/run_messages.h"
#include "acquire/session.h"
#include "pv730/device_requests.h"
#include "link/link_settings.h"
#include "output/package_reader.h"
#include "sim/device_answers.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"
#include "support/package_contents.h"
#include "support/recording_host.h"
#include "platform/big_endian.h"

namespace trawler::testing {

// Where a case's choices come from: a seeded generator (the sweep) or the fuzzer's input,
// whose bytes run out into zeros.
class Choices {
  public:
    explicit Choices(uint64_t key) : m_state(key) {}
    Choices(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint32_t Below(uint32_t bound) {
        if (bound <= 1) return 0;
        int bytes = bound <= 0x100 ? 1 : bound <= 0x10000 ? 2 : 4;
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | NextByte();
        return v % bound;
    }
    bool Percent(uint32_t p) { return Below(100) < p; }
    uint8_t Byte() { return NextByte(); }
    template <typename T, size_t N>
    T Pick(const T (&table)[N]) {
        return table[Below(N)];
    }

  private:
    uint8_t NextByte() {
        if (m_data) return m_pos < m_size ? m_data[m_pos++] : 0;
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint8_t>(z ^ (z >> 31));
    }
    uint64_t m_state = 0;
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_pos = 0;
};

struct InvariantCase {
    DeviceDescription device;
    LinkSettings settings;
};

inline constexpr uint32_t kInvariantBlockIds[10] = {0x8001, 0x8002, 0x8003, 0x8004, 0x8005,
                                                    0x8006, 0x8010, 0x8011, 0x8012, 0x8013};

inline uint8_t AnswerCode(DeviceCommand command) {
    switch (command) {
        case DeviceCommand::kClock:
            return pv730::kAnswerClock;
        case DeviceCommand::kVersion:
            return pv730::kAnswerVersion;
        case DeviceCommand::kEeprom:
            return pv730::kAnswerEeprom;
        case DeviceCommand::kLogInfo:
            return pv730::kAnswerLogInfo;
        case DeviceCommand::kLogData:
            break;
    }
    return pv730::kAnswerLogData;
}

// A log byte that is never the start byte.
inline uint8_t BenignLogByte(uint64_t i) {
    uint8_t b = static_cast<uint8_t>((i * 37u + (i >> 8)) & 0xFF);
    return b == pv730::kAnswerStart ? 0x3F : b;
}

// A log that tries to fool a parser: start bytes everywhere and whole packet headers planted
// at random places, some of them saying "last packet".
inline std::vector<uint8_t> HostileLog(Choices& c, size_t size) {
    std::vector<uint8_t> log(size);
    const uint8_t alphabet[] = {0x40, 0x06, 0x03, 0xFC, 0x00, 0x01};
    for (uint8_t& b : log) b = c.Percent(50) ? c.Pick(alphabet) : c.Byte();
    for (uint32_t n = c.Below(6); n > 0 && size >= 16; --n) {
        size_t at = c.Below(static_cast<uint32_t>(size - 15));
        const uint8_t header[16] = {
            0x40, 0x06, 0x03, 0xFC, 0, 0, 0, 0, 0, 0, 0x03, 0xF0, uint8_t(c.Byte() & 1), 0, 0, 0};
        std::copy(header, header + 16, log.begin() + static_cast<long>(at));
        if (c.Percent(50)) log[at + 11] = c.Byte();  // a short valid count
    }
    return log;
}

inline Fault RandomFault(Choices& c, const DeviceDescription& d) {
    const FaultKind kinds[] = {
        FaultKind::kCorrupt,      FaultKind::kCorrupt,     FaultKind::kCorrupt,
        FaultKind::kDrop,         FaultKind::kDrop,        FaultKind::kInsert,
        FaultKind::kInsert,       FaultKind::kStrayBytes,  FaultKind::kNoAnswer,
        FaultKind::kTruncate,     FaultKind::kWrongCode,   FaultKind::kWrongLength,
        FaultKind::kWrongBlockId, FaultKind::kBadChecksum, FaultKind::kOversizeValidCount,
        FaultKind::kBusy,         FaultKind::kQueryFails,  FaultKind::kShortWrite,
        FaultKind::kOpenRefused,  FaultKind::kOffline,     FaultKind::kJobStartFails,
    };
    const DeviceCommand commands[] = {
        DeviceCommand::kClock,   DeviceCommand::kVersion, DeviceCommand::kEeprom,
        DeviceCommand::kEeprom,  DeviceCommand::kEeprom,  DeviceCommand::kLogInfo,
        DeviceCommand::kLogData, DeviceCommand::kLogData, DeviceCommand::kLogData};
    Fault f;
    f.kind = c.Pick(kinds);
    f.hasTarget = true;
    f.command = c.Pick(commands);
    if (f.kind == FaultKind::kWrongBlockId || f.kind == FaultKind::kBadChecksum) {
        f.command = DeviceCommand::kEeprom;
    }
    if (f.kind == FaultKind::kOversizeValidCount) f.command = DeviceCommand::kLogData;
    f.blockId = c.Percent(10) ? 0 : c.Pick(kInvariantBlockIds);
    f.packetPick = PacketPick::kIndex;
    f.packetIndex = c.Below(static_cast<uint32_t>(sim::LogPacketCount(d.log.size)));
    f.skip = c.Percent(80) ? 0 : c.Below(3);
    f.times = c.Percent(70) ? 1 : kFaultForever;
    f.error = kErrorGenFailure;
    // Most damage lands in the headers, where the protocol has something to check.
    f.offset = c.Percent(40) ? c.Below(4) : c.Percent(50) ? c.Below(24) : c.Below(1100);
    f.value = c.Byte();
    f.count = 1 + c.Below(c.Percent(80) ? 3 : 40);
    for (uint32_t n = 1 + c.Below(6); n > 0; --n) {
        uint8_t b = c.Byte();
        if (c.Percent(30)) b = c.Percent(50) ? pv730::kAnswerStart : AnswerCode(f.command);
        f.bytes.push_back(b);
    }
    switch (f.kind) {
        case FaultKind::kTruncate:
            f.value = c.Below(1100);
            break;
        case FaultKind::kWrongLength: {
            uint32_t n = 0;
            for (const EepromBlock& b : d.eeprom) {
                if (b.id == f.blockId) n = static_cast<uint32_t>(b.data.size());
            }
            const uint32_t sizes[] = {0, n + 1, n == 0 ? 4 : n - 1, n + 4, c.Below(0x10000)};
            f.hasLength = c.Percent(70);
            f.hasSize = f.command == DeviceCommand::kEeprom && (!f.hasLength || c.Percent(50));
            f.size = c.Pick(sizes);
            f.value = f.hasSize && c.Percent(50) ? (f.size + 16) & 0xFFFF : c.Below(0x10000);
            break;
        }
        case FaultKind::kWrongBlockId:
            f.value = c.Percent(80) ? c.Pick(kInvariantBlockIds) : c.Below(0xFFFFFFFFu);
            break;
        case FaultKind::kBadChecksum:
            f.value = 1 + c.Below(0xFFFFFFFEu);
            break;
        case FaultKind::kOversizeValidCount:
            f.value = c.Below(2100);
            break;
        case FaultKind::kBusy:
        case FaultKind::kQueryFails:
            f.count = c.Percent(95) ? 1 + c.Below(3) : kFaultForever;
            break;
        case FaultKind::kShortWrite:
            f.hasTarget = c.Percent(70);
            f.value = c.Below(50);
            break;
        case FaultKind::kOpenRefused:
        case FaultKind::kOffline:
        case FaultKind::kJobStartFails:
            f.hasTarget = false;
            f.skip = c.Below(4);
            break;
        default:
            break;
    }
    return f;
}

// A device, the link's settings and one to three faults, all from the choices.
inline InvariantCase MakeInvariantCase(Choices& c) {
    InvariantCase k;
    DeviceDescription& d = k.device;
    d = DefaultDevice();
    for (uint8_t& b : d.clock) b = c.Byte();
    for (uint32_t& v : d.version) v = c.Below(0xFFFFFFFFu);
    for (uint8_t& b : d.logInfo) b = c.Byte();
    const uint32_t sizes[] = {0, 1, 2, 3, 4, 5, 7, 16, 28, 31, 32, 33, 64, 65, 255, 508, 1000};
    const uint64_t key = c.Below(0xFFFFFFFFu);
    for (EepromBlock& b : d.eeprom) {
        uint32_t size = c.Percent(70) ? 32 + c.Below(100) : c.Pick(sizes);
        b.data = GeneratedEepromData(b.id, size, key);
        b.second = c.Percent(50) ? 0 : c.Below(0xFFFFFFFFu);
    }
    const uint32_t logSizes[] = {0, 1, 15, 1007, 1008, 1009, 2016, 2017, 3024, 3025, 5000, 7000};
    size_t logSize = c.Percent(60) ? c.Pick(logSizes) : c.Below(8000);
    d.log.fromFile = false;
    d.log.fromBytes = true;
    if (c.Percent(40)) {
        d.log.bytes = HostileLog(c, logSize);
    } else {
        // No start byte at all: a parser that lost its place can only find a real packet.
        d.log.bytes.resize(logSize);
        for (uint8_t& b : d.log.bytes) b = c.Byte() == pv730::kAnswerStart ? 0x3F : c.Byte();
    }
    d.log.size = d.log.bytes.size();
    const uint32_t perRead[] = {1, 2, 7, 100, 508, 512, 513, 1024, 65536};
    d.pacing.bytesPerRead = c.Pick(perRead);
    const uint32_t delays[] = {0, 0, 0, 50, 250};
    d.pacing.answerDelayMillis = c.Pick(delays);
    // A slow line with a short patience times out without any fault: seldom, so that most
    // cases test the faults.
    d.pacing.bytesPerSecond = c.Percent(90) ? 0 : c.Percent(50) ? 20000 : 1000000;

    k.settings = DefaultLinkSettings();
    const int32_t readSizes[] = {5, 6, 8, 516, 517, 1028, 4096};
    k.settings.OneReadByte = c.Pick(readSizes);
    const int32_t emptyReads[] = {1, 2, 3, 10, 200};
    k.settings.EmptyReadCount = c.Pick(emptyReads);
    const uint32_t mode = c.Below(10);
    if (mode == 0) return k;  // no fault at all
    if (mode == 1) {
        // Only what the design tolerates: noise in front of an answer, a busy driver once.
        for (uint32_t n = 1 + c.Below(3); n > 0; --n) {
            Fault f = RandomFault(c, d);
            f.kind = c.Percent(70) ? FaultKind::kStrayBytes : FaultKind::kBusy;
            f.count = 1;
            f.hasTarget = true;
            if (f.command == DeviceCommand::kLogData) f.packetIndex = 0;
            d.faults.push_back(f);
        }
        return k;
    }
    // Mostly one fault, so that each has its chance to be the one the run meets first.
    const uint32_t count = c.Percent(65) ? 1 : c.Percent(70) ? 2 : 3;
    for (uint32_t n = count; n > 0; --n) d.faults.push_back(RandomFault(c, d));
    return k;
}

// True when the run must save: nothing but tolerated faults, and answers that come in time.
inline bool MustSave(const InvariantCase& k) {
    const DeviceDescription& d = k.device;
    if (d.pacing.bytesPerSecond != 0 ||
        int64_t{d.pacing.answerDelayMillis} > k.settings.WaitAfterSendMillisec) {
        return false;
    }
    for (size_t i = 0; i < d.faults.size(); ++i) {
        const Fault& f = d.faults[i];
        if (!f.hasTarget) return false;
        // One tolerated fault per answer: two busy reads in a row end a read by design.
        for (size_t j = 0; j < i; ++j) {
            const Fault& g = d.faults[j];
            bool sameBlock = f.blockId == 0 || g.blockId == 0 || f.blockId == g.blockId;
            if (g.command == f.command && (f.command != DeviceCommand::kEeprom || sameBlock)) {
                return false;
            }
        }
        if (f.kind == FaultKind::kBusy && f.count == 1) continue;
        const bool log = f.command == DeviceCommand::kLogData;
        if (f.kind != FaultKind::kStrayBytes || (log && f.packetIndex != 0)) return false;
        // A start byte just in front of the real one must not cost the answer. Elsewhere in
        // the noise it may: it can read as a header, and before a log packet a start byte
        // followed by another code is refused.
        for (size_t b = 0; b + 1 < f.bytes.size(); ++b) {
            if (f.bytes[b] == pv730::kAnswerStart) return false;
        }
    }
    return true;
}

// ---- what the protocol can see ------------------------------------------------------------

// The answer's bytes as the printer sends them, without faults (the log: every packet).
inline std::vector<uint8_t> CleanAnswer(const DeviceDescription& d, DeviceCommand command,
                                        uint32_t blockId) {
    sim::AnswerEdits none;
    switch (command) {
        case DeviceCommand::kClock:
            return sim::ClockAnswer(d.clock, none);
        case DeviceCommand::kVersion:
            return sim::VersionAnswer(d.version, none);
        case DeviceCommand::kLogInfo:
            return sim::LogInfoAnswer(d.logInfo, none);
        case DeviceCommand::kEeprom:
            for (const EepromBlock& b : d.eeprom) {
                if (b.id == blockId) return sim::EepromAnswer(b, none);
            }
            return {};
        case DeviceCommand::kLogData:
            break;
    }
    sim::LogAnswerSource source(sim::OpenLog(d.log), d.log.size, {});
    std::vector<uint8_t> bytes(static_cast<size_t>(source.Length()));
    bytes.resize(source.Read(bytes.data(), bytes.size()));
    return bytes;
}

// Where a parser hunting for an answer could take the wrong bytes for its header: the start
// byte and the answer code anywhere but at the answer's (or a packet's) own start.
inline bool HoldsFalseHeader(const std::vector<uint8_t>& bytes, uint8_t code, size_t period) {
    for (size_t i = 1; i + 1 < bytes.size(); ++i) {
        if (i % period == 0) continue;
        if (bytes[i] == pv730::kAnswerStart && bytes[i + 1] == code) return true;
    }
    return false;
}

inline bool Contains(const std::vector<uint8_t>& bytes, uint8_t a, uint8_t b) {
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == a && bytes[i + 1] == b) return true;
    }
    return false;
}

// Offsets (from the start byte) that no check covers: a change there reads as valid data.
inline bool UncheckedOffset(DeviceCommand command, uint32_t offset) {
    switch (command) {
        case DeviceCommand::kClock:
            return offset >= 4 && offset < 12;
        case DeviceCommand::kVersion:
        case DeviceCommand::kLogInfo:
            return offset >= 4 && offset < 20;
        case DeviceCommand::kEeprom:
            return offset >= 8 && offset < 12;  // the second field is kept, not checked
        case DeviceCommand::kLogData:
            break;
    }
    return offset >= 4 && offset < 1024;  // packet number, V, last flag, data area
}

inline bool ChangesBytes(FaultKind kind) {
    switch (kind) {
        case FaultKind::kStrayBytes:
        case FaultKind::kWrongCode:
        case FaultKind::kWrongLength:
        case FaultKind::kWrongBlockId:
        case FaultKind::kBadChecksum:
        case FaultKind::kOversizeValidCount:
        case FaultKind::kCorrupt:
        case FaultKind::kDrop:
        case FaultKind::kInsert:
            return true;
        default:
            return false;
    }
}

// True when the run must either fail or save exactly the device's content; false for the
// damage this protocol cannot tell from a valid answer.
inline bool ProtocolCanSee(const DeviceDescription& d) {
    bool drops = false, inserts = false;
    for (size_t i = 0; i < d.faults.size(); ++i) {
        const Fault& f = d.faults[i];
        if (!f.hasTarget || !ChangesBytes(f.kind)) continue;
        const bool log = f.command == DeviceCommand::kLogData;
        const uint8_t code = AnswerCode(f.command);
        drops |= f.kind == FaultKind::kDrop;
        inserts |= f.kind == FaultKind::kInsert;
        // A changed byte where nothing checks it; a valid count is never checked.
        if (f.kind == FaultKind::kCorrupt && UncheckedOffset(f.command, f.offset)) return false;
        if (f.kind == FaultKind::kOversizeValidCount) return false;
        // N and L changed together agree with each other; only the checksum is left, and the
        // zero filler or the data itself may satisfy it.
        if (f.kind == FaultKind::kWrongLength && f.hasSize && f.hasLength &&
            f.value == ((f.size + 16) & 0xFFFF)) {
            return false;
        }
        // Bytes added behind the header of a fixed-length answer, or of the log's last packet,
        // push as many bytes out of its end: the answer reads complete, and the surplus is
        // what the next request's reset discards as a stale leftover (no answer has an end
        // marker, and nothing follows the last packet).
        const bool fixedLength = f.command == DeviceCommand::kClock ||
                                 f.command == DeviceCommand::kVersion ||
                                 f.command == DeviceCommand::kLogInfo;
        const bool lastPacket = log && f.packetIndex + 1 == sim::LogPacketCount(d.log.size);
        if (f.kind == FaultKind::kInsert && f.offset >= 4 && (fixedLength || lastPacket)) {
            return false;
        }
        // In an EEPROM answer the same holds in front of N: the second field takes the added
        // bytes, and nothing checks it when N still agrees with L.
        if (f.kind == FaultKind::kInsert && f.command == DeviceCommand::kEeprom && f.offset >= 8 &&
            f.offset < 16) {
            return false;
        }
        // Bytes added that begin a header of the answer they land in.
        if ((f.kind == FaultKind::kInsert || f.kind == FaultKind::kStrayBytes) &&
            Contains(f.bytes, pv730::kAnswerStart, code)) {
            return false;
        }
        // A parser that hunts (a damaged header; before the log's first packet; after a shift)
        // may lock onto content that looks like a header.
        if (f.command == DeviceCommand::kEeprom && f.blockId == 0) {
            for (uint32_t id : kInvariantBlockIds) {
                if (HoldsFalseHeader(CleanAnswer(d, f.command, id), code, SIZE_MAX)) return false;
            }
        } else if (log) {
            const std::vector<uint8_t> answer = CleanAnswer(d, f.command, 0);
            bool hunts = f.packetIndex == 0 || f.kind == FaultKind::kDrop ||
                         f.kind == FaultKind::kInsert || f.kind == FaultKind::kStrayBytes;
            if (hunts && HoldsFalseHeader(answer, code, pv730::kLogPacketSize)) return false;
        } else if (HoldsFalseHeader(CleanAnswer(d, f.command, f.blockId), code, SIZE_MAX)) {
            return false;
        }
        // Two changes to one answer may cancel out (a checksum, a length, a shift).
        for (size_t j = i + 1; j < d.faults.size(); ++j) {
            const Fault& g = d.faults[j];
            if (!g.hasTarget || !ChangesBytes(g.kind) || g.command != f.command) continue;
            bool sameBlock = !(f.command == DeviceCommand::kEeprom) || f.blockId == 0 ||
                             g.blockId == 0 || f.blockId == g.blockId;
            bool samePacket = !log || f.packetIndex == g.packetIndex;
            if (sameBlock && samePacket) return false;
        }
    }
    // A loss in one place and an addition in another put the stream back on its units.
    return !(drops && inserts);
}

// The faults of a case in words, for a failure report.
inline std::string DescribeFaults(const DeviceDescription& d) {
    std::string out;
    for (const Fault& f : d.faults) {
        char line[200];
        std::snprintf(line, sizeof line,
                      "  kind %d command %d block %04X packet %u skip %u times %u offset %u "
                      "value %u count %u size %u%s%s bytes",
                      int(f.kind), f.hasTarget ? int(f.command) : -1, unsigned(f.blockId),
                      unsigned(f.packetIndex), unsigned(f.skip), unsigned(f.times),
                      unsigned(f.offset), unsigned(f.value), unsigned(f.count), unsigned(f.size),
                      f.hasLength ? " L" : "", f.hasSize ? " N" : "");
        out += line;
        for (uint8_t b : f.bytes) {
            std::snprintf(line, sizeof line, " %02X", b);
            out += line;
        }
        out += "\n";
    }
    char line[120];
    std::snprintf(line, sizeof line, "  log %zu bytes, per read %u, delay %u, rate %u\n",
                  d.log.bytes.size(), unsigned(d.pacing.bytesPerRead),
                  unsigned(d.pacing.answerDelayMillis), unsigned(d.pacing.bytesPerSecond));
    return out + line;
}

// ---- running and checking ----------------------------------------------------------------

// The record of one block as the package must hold it: block ID, second field, N, data,
// checksum.
inline std::vector<uint8_t> ExpectedRecord(const EepromBlock& b) {
    std::vector<uint8_t> r(12 + b.data.size() + 4);
    const uint32_t n = static_cast<uint32_t>(b.data.size());
    PutBig32(&r[0], b.id);
    PutBig32(&r[4], b.second);
    PutBig32(&r[8], n);
    std::copy(b.data.begin(), b.data.end(), r.begin() + 12);
    PutBig32(&r[12 + n], pv730::EepromChecksum(b.data.data(), n));
    return r;
}

// The chunk holds exactly `bytes`, then zero bytes up to a multiple of 4.
inline bool ChunkHolds(const Chunk* chunk, const std::vector<uint8_t>& bytes) {
    if (!chunk || chunk->length != ((bytes.size() + 3) & ~size_t{3})) return false;
    if (!std::equal(bytes.begin(), bytes.end(), chunk->data.begin())) return false;
    return std::all_of(chunk->data.begin() + static_cast<long>(bytes.size()), chunk->data.end(),
                       [](uint8_t b) { return b == 0; });
}

inline std::string ExactContentProblem(const std::string& path, const DeviceDescription& d) {
    PackageContents p = ReadPackage(path);
    if (!p.error.empty()) return "package: " + p.error;
    const std::vector<std::string> tags = {"PCDT", "Date", "Vers", "B001", "B002", "B003",
                                           "B004", "B005", "B006", "B010", "B011", "B012",
                                           "B013", "LOGV", "LOGD", "ENDF"};
    if (p.Tags() != tags) return "chunks differ";
    if (!ChunkHolds(p.Find("Date"), {d.clock.begin(), d.clock.end()})) return "clock differs";
    std::vector<uint8_t> vers;
    for (uint32_t v : d.version) {
        for (int b = 0; b < 4; ++b) vers.push_back(static_cast<uint8_t>(v >> (8 * b)));
    }
    if (!ChunkHolds(p.Find("Vers"), vers)) return "version differs";
    for (size_t i = 0; i < d.eeprom.size(); ++i) {
        if (!ChunkHolds(&p.chunks[3 + i], ExpectedRecord(d.eeprom[i]))) {
            return "record " + p.chunks[3 + i].tag + " differs";
        }
    }
    if (!ChunkHolds(p.Find("LOGV"), {d.logInfo.begin(), d.logInfo.end()})) {
        return "log information differs";
    }
    if (!ChunkHolds(p.Find("LOGD"), d.log.bytes)) return "log differs";
    // The package's name carries the unit number when block 0x8013 holds data bytes 28..31.
    uint32_t unit = 0;
    for (const EepromBlock& b : d.eeprom) {
        if (b.id == kUnitNumberBlock && b.data.size() >= kUnitNumberOffset + 4) {
            unit = ReadBig32(&b.data[kUnitNumberOffset]);
        }
    }
    std::string name = std::filesystem::path(path).filename().string();
    if (name.rfind("No" + std::to_string(unit) + "_", 0) != 0) return "name " + name;
    return "";
}

// Messages after which the run must not send another command: a phase has failed.
inline bool EndsThePhase(const std::string& text) {
    using namespace run_text;
    for (const char* m : {kClockNotRead, kEepSendFailed, kEepReadFailed, kLogRequestWriteError,
                          kLogReadFailed, kLogReadTimeout, kPrinterOpenFailed, kPrinterNotOnline,
                          pv730::kMsgLogInfoReadFailed, pv730::kMsgLogInfoWriteError}) {
        if (text == m) return true;
    }
    return text.rfind("Communication Error. Reboot Printer", 0) == 0 ||
           text.find("(EEPROM read data check sum mismatch") != std::string::npos;
}

// A recording host that notes how many commands the printer had taken at each message.
class InvariantHost : public RecordingHost {
  public:
    void ShowMessage(const std::string& text) override {
        RecordingHost::ShowMessage(text);
        commandsAtMessage.push_back(spooler ? spooler->Commands().size() : 0);
    }
    const EmulatedSpooler* spooler = nullptr;
    std::vector<size_t> commandsAtMessage;
};

struct InvariantOutcome {
    bool held = false;
    bool strong = false;  // the exact-content promise applied
    bool saved = false;
    bool mustSave = false;  // only tolerated faults: the run had to save
    std::string problem;    // when not held
};

// Runs one whole collection into `folder` (which must be empty) and checks the promise.
inline InvariantOutcome RunInvariantCase(const InvariantCase& k, const std::string& folder) {
    InvariantOutcome out;
    out.strong = ProtocolCanSee(k.device);
    InvariantHost host;
    EmulatedSpooler spooler(k.device, host);
    host.spooler = &spooler;
    Session session(spooler, host);
    ApplySettings(session.m_link, k.settings);
    session.SetPrinterName("PV-730");
    RunResult result;
    std::string saved;
    {
        LogRun run(session);
        run.m_strFolder = folder;
        run.m_separator = '/';
        ReadingView view;
        result = run.Run(view);
        saved = session.m_strSavedPath;
    }
    out.saved = result.Saved();
    out.mustSave = MustSave(k);
    if (!out.saved && out.mustSave) {
        out.problem = "a run that had to succeed failed\n" + DescribeFaults(k.device);
        for (const std::string& m : host.messages) out.problem += "  message: " + m + "\n";
        return out;
    }
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files.push_back(entry.path().filename().string());
    }
    auto fail = [&](const std::string& why) {
        out.problem = why + "\n" + DescribeFaults(k.device);
        for (const std::string& m : host.messages) out.problem += "  message: " + m + "\n";
        return out;
    };
    // A phase that failed ends the conversation.
    for (size_t i = 0; i < host.messages.size(); ++i) {
        if (EndsThePhase(host.messages[i]) &&
            host.commandsAtMessage[i] != spooler.Commands().size()) {
            return fail("a command was sent after \"" + host.messages[i] + "\"");
        }
    }
    // The printer is closed after every phase, but for an online check that failed.
    const bool offline = std::find(host.messages.begin(), host.messages.end(),
                                   run_text::kPrinterNotOnline) != host.messages.end();
    if (spooler.OpenHandleCount() > (offline ? 1u : 0u)) return fail("printer left open");
    if (!out.saved) {
        if (!files.empty()) return fail("failed run left " + files.front());
        if (!saved.empty()) return fail("failed run set the saved path");
        out.held = true;
        return out;
    }
    if (files.size() != 1 || folder + "/" + files.front() != saved) {
        return fail("saved run left " + std::to_string(files.size()) + " files, not " + saved);
    }
    PackageReport report;
    if (!trawler::ReadPackage(saved, &report)) return fail("package reads damaged");
    if (out.strong) {
        std::string problem = ExactContentProblem(saved, k.device);
        if (!problem.empty()) return fail("saved, but " + problem);
    }
    std::filesystem::remove(saved);
    out.held = true;
    return out;
}

// A fresh, empty folder for the cases of one process; empty when none could be made.
inline std::string InvariantScratchFolder() {
    std::random_device random;
    std::error_code ec;
    const auto base = std::filesystem::temp_directory_path(ec);
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("trawler-invariant-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate, ec)) return candidate.string();
    }
    return std::string();
}

}  // namespace trawler::testing
