// Fault injection of the emulated PV-730, each kind observed at the Spooler seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sim/emulated_spooler.h"
#include "support/answer_faults.h"
#include "support/recording_host.h"
#include "support/wire_bytes.h"

namespace trawler {
namespace {

using testing::Bytes;
using testing::ClockFrame;
using testing::EepromFrame;
using testing::LogFrame;
using testing::VersionFrame;

DeviceDescription Device(uint64_t logSize = 3 * 1008) {
    DeviceDescription d = DefaultDevice();
    d.clock = {1, 2, 3, 4, 5, 6, 7, 8};
    d.log.size = logSize;
    for (EepromBlock& b : d.eeprom) {
        if (b.id == 0x8004) b.data = {0x00, 0x00, 0x00, 0x05};
    }
    return d;
}

Fault At(FaultKind kind, DeviceCommand command, uint32_t block = 0) {
    return testing::AnswerFault(kind, command, block);
}

Fault AtPacket(FaultKind kind, PacketPick pick, uint32_t index = 0) {
    Fault f = At(kind, DeviceCommand::kLogData);
    f.packetPick = pick;
    f.packetIndex = index;
    return f;
}

struct Read {
    uint32_t result = 0;
    uint8_t status = 0;
    Bytes bytes;
};

struct Emulator {
    explicit Emulator(DeviceDescription d) : spooler(std::move(d), host) {
        spooler.OpenPrinterHandle("PV-730", kPrinterAccessUse, &handle);
    }
    bool Send(const Bytes& frame) {
        if (!spooler.StartDocument(handle, "PV-730 Data", "RAW")) return false;
        uint32_t written = 0;
        spooler.WriteToPrinter(handle, frame.data(), uint32_t(frame.size()), &written);
        return spooler.EndDocument(handle);
    }
    Read RawRead(uint32_t size = 516) {
        Read r;
        Bytes buffer(size);
        uint32_t type = 3, needed = 0;
        r.result = spooler.QueryPrinterData(handle, "HlPvRawReadTest", &type, buffer.data(), size,
                                            &needed);
        if (r.result == 0) {
            r.status = buffer[0];
            r.bytes.assign(buffer.begin() + 4, buffer.begin() + needed);
        }
        return r;
    }
    Bytes SendAndDrain(const Bytes& frame) { return Send(frame) ? Drain() : Bytes(); }
    // Answer bytes until the first read that brings none (or fails, or is busy).
    Bytes Drain(uint32_t size = 1028) {
        Bytes all;
        for (;;) {
            Read r = RawRead(size);
            if (r.result != 0 || r.status != 0 || r.bytes.empty()) return all;
            all.insert(all.end(), r.bytes.begin(), r.bytes.end());
        }
    }
    testing::RecordingHost host;
    EmulatedSpooler spooler;
    PrinterHandle handle = nullptr;
};

Bytes Slice(const Bytes& b, size_t from, size_t count) {
    if (from >= b.size()) return {};
    return Bytes(b.begin() + long(from), b.begin() + long(std::min(b.size(), from + count)));
}

TEST(EmulatedFaults, AnswerFaultsChangeExactlyTheirBytes) {
    struct Case {
        const char* name;
        Fault fault;
        Bytes frame;
        size_t length;  // of the whole stream
        size_t at;      // where `bytes` are expected
        Bytes bytes;
    };
    auto with = [](Fault f, std::function<void(Fault*)> set) {
        set(&f);
        return f;
    };
    const Bytes clock = {0x40, 0x05, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<Case> cases = {
        {"no answer to the clock",
         At(FaultKind::kNoAnswer, DeviceCommand::kClock),
         ClockFrame(),
         0,
         0,
         {}},
        {"clock stops after 6 bytes",
         with(At(FaultKind::kTruncate, DeviceCommand::kClock), [](Fault* f) { f->value = 6; }),
         ClockFrame(), 6, 0, Slice(clock, 0, 6)},
        {"stray bytes before the clock",
         with(At(FaultKind::kStrayBytes, DeviceCommand::kClock),
              [](Fault* f) {
                  f->bytes = {0x40, 0x06, 0x00};
              }),
         ClockFrame(),
         512,
         0,
         {0x40, 0x06, 0x00, 0x40, 0x05, 0x00, 0x08, 1, 2}},
        {"wrong code after the start byte",
         with(At(FaultKind::kWrongCode, DeviceCommand::kClock), [](Fault* f) { f->value = 6; }),
         ClockFrame(),
         512,
         0,
         {0x40, 0x06, 0x00, 0x08, 1}},
        {"clock of length 9",
         with(At(FaultKind::kWrongLength, DeviceCommand::kClock),
              [](Fault* f) {
                  f->hasLength = true;
                  f->value = 9;
              }),
         ClockFrame(),
         512,
         0,
         {0x40, 0x05, 0x00, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 0}},
        {"version of length 15",
         with(At(FaultKind::kWrongLength, DeviceCommand::kVersion),
              [](Fault* f) {
                  f->hasLength = true;
                  f->value = 15;
              }),
         VersionFrame(),
         512,
         0,
         {0x40, 0x04, 0x00, 0x0F}},
        {"log information of length 15",
         with(At(FaultKind::kWrongLength, DeviceCommand::kLogInfo),
              [](Fault* f) {
                  f->hasLength = true;
                  f->value = 15;
              }),
         LogFrame(0x2C),
         512,
         0,
         {0x40, 0x0A, 0x00, 0x0F, 0x01, 0x00, 0x00, 0x07}},
        {"EEPROM L = 24 with N = 4",
         with(At(FaultKind::kWrongLength, DeviceCommand::kEeprom, 0x8004),
              [](Fault* f) {
                  f->hasLength = true;
                  f->value = 24;
              }),
         EepromFrame(0x8004),
         512,
         0,
         {0x40, 0x07, 0x00, 0x18, 0, 0, 0x80, 0x04, 0, 0, 0, 0,
          0,    0,    0,    4,    0, 0, 0,    5,    0, 0, 0, 5}},
        {"EEPROM N = 5 with L = 20",
         with(At(FaultKind::kWrongLength, DeviceCommand::kEeprom, 0x8004),
              [](Fault* f) {
                  f->hasSize = true;
                  f->size = 5;
              }),
         EepromFrame(0x8004),
         512,
         0,
         {0x40, 0x07, 0x00, 0x14, 0, 0, 0x80, 0x04, 0, 0, 0, 0,
          0,    0,    0,    5,    0, 0, 0,    5,    0, 0, 0, 5}},
        {"EEPROM 0x8004 answers as 0x8005",
         with(At(FaultKind::kWrongBlockId, DeviceCommand::kEeprom, 0x8004),
              [](Fault* f) { f->value = 0x8005; }),
         EepromFrame(0x8004),
         512,
         4,
         {0, 0, 0x80, 0x05, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 5}},
        {"EEPROM checksum off by one",
         with(At(FaultKind::kBadChecksum, DeviceCommand::kEeprom, 0x8004),
              [](Fault* f) { f->value = 1; }),
         EepromFrame(0x8004),
         512,
         16,
         {0, 0, 0, 5, 0, 0, 0, 6, 0}},
        {"fault on another block leaves this one alone",
         with(At(FaultKind::kBadChecksum, DeviceCommand::kEeprom, 0x8005),
              [](Fault* f) { f->value = 1; }),
         EepromFrame(0x8004),
         512,
         16,
         {0, 0, 0, 5, 0, 0, 0, 5, 0}},
        {"log stops at the middle packet",
         AtPacket(FaultKind::kNoAnswer, PacketPick::kMiddle),
         LogFrame(0x23),
         1024,
         0,
         {0x40, 0x06, 0x03, 0xFC, 0, 0, 0, 0}},
        {"log stops 100 bytes into packet 2",
         with(AtPacket(FaultKind::kTruncate, PacketPick::kIndex, 2),
              [](Fault* f) { f->value = 100; }),
         LogFrame(0x23),
         2048 + 100,
         2048,
         {0x40, 0x06, 0x03, 0xFC, 0, 0, 0, 2}},
        {"last packet of length 1019",
         with(AtPacket(FaultKind::kWrongLength, PacketPick::kLast),
              [](Fault* f) {
                  f->hasLength = true;
                  f->value = 1019;
              }),
         LogFrame(0x23),
         3072,
         2048,
         {0x40, 0x06, 0x03, 0xFB, 0, 0, 0, 2, 0, 0, 0x03, 0xF0, 1}},
        {"first packet claims V = 1100",
         with(AtPacket(FaultKind::kOversizeValidCount, PacketPick::kFirst),
              [](Fault* f) { f->value = 1100; }),
         LogFrame(0x23),
         3072,
         0,
         {0x40, 0x06, 0x03, 0xFC, 0, 0, 0, 0, 0, 0, 0x04, 0x4C, 0}},
        {"wrong code on packet 1",
         with(AtPacket(FaultKind::kWrongCode, PacketPick::kIndex, 1),
              [](Fault* f) { f->value = 0x07; }),
         LogFrame(0x23),
         3072,
         1024,
         {0x40, 0x07, 0x03, 0xFC, 0, 0, 0, 1}},
        {"stray bytes before packet 1 keep the stream in whole units",
         with(AtPacket(FaultKind::kStrayBytes, PacketPick::kIndex, 1),
              [](Fault* f) {
                  f->bytes = {0xAA, 0xBB};
              }),
         LogFrame(0x23),
         3584,
         1024,
         {0xAA, 0xBB, 0x40, 0x06, 0x03, 0xFC, 0, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceDescription d = Device();
        d.faults = {c.fault};
        Emulator e(d);
        ASSERT_TRUE(e.Send(c.frame));
        Bytes got = e.Drain();
        EXPECT_EQ(c.length, got.size());
        EXPECT_EQ(c.bytes, Slice(got, c.at, c.bytes.size()));
        EXPECT_EQ(c.length != 0, e.spooler.Commands().back().answered);
    }
}

// Damage in transit, checked as one invariant: whatever the answer, packet, offset and kind, the
// stream served is the clean stream with exactly that splice, and the printer's own padding
// (sent before the damage) is neither redone nor lost.
TEST(EmulatedFaults, ByteFaultsSpliceTheCleanStreamAtTheirOffset) {
    struct Target {
        const char* name;
        Bytes frame;
        DeviceCommand command;
        uint32_t block;
        uint32_t packet;  // log data only
    };
    const std::vector<Target> targets = {
        {"clock", ClockFrame(), DeviceCommand::kClock, 0, 0},
        {"eeprom 0x8004", EepromFrame(0x8004), DeviceCommand::kEeprom, 0x8004, 0},
        {"log packet 0", LogFrame(0x23), DeviceCommand::kLogData, 0, 0},
        {"log packet 1", LogFrame(0x23), DeviceCommand::kLogData, 0, 1},
        {"last log packet", LogFrame(0x23), DeviceCommand::kLogData, 0, 2},
    };
    const Bytes inserted = {0x40, 0x06, 0x03};
    const DeviceDescription device = Device(2 * 1008 + 7);  // the last packet holds 7 bytes
    for (const Target& t : targets) {
        Bytes clean = Emulator(device).SendAndDrain(t.frame);
        ASSERT_FALSE(clean.empty());
        const size_t start = t.packet * 1024;
        for (size_t offset : {size_t{0}, size_t{1}, size_t{3}, size_t{11}, size_t{12}, size_t{17},
                              size_t{1000}, size_t{1023}, size_t{5000}}) {
            for (FaultKind kind : {FaultKind::kCorrupt, FaultKind::kDrop, FaultKind::kInsert}) {
                SCOPED_TRACE(std::string(t.name) + " offset " + std::to_string(offset) + " kind " +
                             std::to_string(int(kind)));
                Fault f = At(kind, t.command, t.block);
                f.packetPick = PacketPick::kIndex;
                f.packetIndex = t.packet;
                f.offset = uint32_t(offset);
                f.value = 0x5A;
                f.count = 2;
                f.bytes = inserted;
                DeviceDescription d = device;
                d.faults = {f};
                // What the packet (or answer) spans in the clean stream: damage stays inside it.
                const size_t end = t.command == DeviceCommand::kLogData
                                       ? std::min(clean.size(), start + 1024)
                                       : clean.size();
                const size_t at = std::min(end, start + offset);
                Bytes expected = clean;
                if (kind == FaultKind::kCorrupt && at < end) expected[at] = 0x5A;
                if (kind == FaultKind::kDrop) {
                    expected.erase(expected.begin() + long(at),
                                   expected.begin() + long(std::min(end, at + 2)));
                }
                if (kind == FaultKind::kInsert) {
                    expected.insert(expected.begin() + long(at), inserted.begin(), inserted.end());
                }
                EXPECT_EQ(expected, Emulator(d).SendAndDrain(t.frame));
            }
        }
    }
}

TEST(EmulatedFaults, SkipAndTimesChooseWhichAnswersAreHit) {
    struct Case {
        uint32_t skip;
        uint32_t times;
        std::vector<bool> answered;  // four clock requests in a row
    };
    const std::vector<Case> cases = {
        {0, kFaultForever, {false, false, false, false}},
        {0, 1, {false, true, true, true}},
        {1, 2, {true, false, false, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.skip) + "/" + std::to_string(c.times));
        DeviceDescription d = Device();
        Fault f = At(FaultKind::kNoAnswer, DeviceCommand::kClock);
        f.skip = c.skip;
        f.times = c.times;
        d.faults = {f};
        Emulator e(d);
        std::vector<bool> answered;
        for (int i = 0; i < 4; ++i) {
            e.Send(ClockFrame());
            answered.push_back(e.Drain().size() == 512);
        }
        EXPECT_EQ(c.answered, answered);
    }
}

TEST(EmulatedFaults, BusyStatusComesBeforeTheTargetedBytes) {
    struct Case {
        const char* name;
        Fault fault;
        Bytes frame;
        size_t bytesBefore;  // answer bytes handed out before the busy blocks
    };
    Fault clockOnce = At(FaultKind::kBusy, DeviceCommand::kClock);
    Fault clockTwice = clockOnce;
    clockTwice.count = 2;
    Fault packetOne = AtPacket(FaultKind::kBusy, PacketPick::kIndex, 1);
    packetOne.count = 2;
    const std::vector<Case> cases = {
        {"clock, once", clockOnce, ClockFrame(), 0},
        {"clock, twice", clockTwice, ClockFrame(), 0},
        {"log packet 1, twice", packetOne, LogFrame(0x23), 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceDescription d = Device();
        d.pacing.bytesPerRead = 700;  // reads do not end on packet boundaries by themselves
        d.faults = {c.fault};
        Emulator e(d);
        e.Send(c.frame);
        size_t before = 0;
        Read r = e.RawRead(704);
        for (; r.status == 0 && !r.bytes.empty(); r = e.RawRead(704)) before += r.bytes.size();
        EXPECT_EQ(c.bytesBefore, before);
        for (uint32_t i = 0; i < c.fault.count; ++i) {
            SCOPED_TRACE(i);
            if (i != 0) r = e.RawRead(704);
            EXPECT_EQ(0u, r.result);
            EXPECT_EQ(EmulatedSpooler::kBusyStatus, r.status);
            EXPECT_TRUE(r.bytes.empty());
        }
        Read next = e.RawRead(704);
        EXPECT_EQ(0, next.status);
        ASSERT_FALSE(next.bytes.empty());
        EXPECT_EQ(0x40, next.bytes[0]);
        EXPECT_EQ(c.fault.count, e.spooler.Stats().busyReads);
    }
}

TEST(EmulatedFaults, FailingRawReadQueriesOnceOrForEver) {
    struct Case {
        const char* name;
        Fault fault;
        std::vector<uint32_t> results;  // of five reads after a clock request
    };
    Fault once = At(FaultKind::kQueryFails, DeviceCommand::kClock);
    once.error = kErrorGenFailure;
    Fault forever = once;
    forever.count = kFaultForever;
    Fault anyRead;
    anyRead.kind = FaultKind::kQueryFails;
    anyRead.error = kErrorNotSupported;
    anyRead.skip = 1;
    anyRead.times = 2;
    const std::vector<Case> cases = {
        {"once at the clock", once, {kErrorGenFailure, 0, 0, 0, 0}},
        {"for ever from the clock", forever, {31, 31, 31, 31, 31}},
        {"any two reads after the first", anyRead, {0, 50, 50, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceDescription d = Device();
        d.pacing.bytesPerRead = 200;
        d.faults = {c.fault};
        Emulator e(d);
        e.Send(ClockFrame());
        std::vector<uint32_t> results;
        size_t bytes = 0;
        for (int i = 0; i < 5; ++i) {
            Read r = e.RawRead();
            results.push_back(r.result);
            bytes += r.bytes.size();
            if (r.result != 0) {
                EXPECT_EQ(r.result, e.spooler.LastError());
            }
        }
        EXPECT_EQ(c.results, results);
        size_t good = size_t(std::count(results.begin(), results.end(), 0u));
        EXPECT_EQ(std::min<size_t>(512, good * 200), bytes) << "no byte may be lost";
    }
}

TEST(EmulatedFaults, SpoolerFaultsFailTheirCallsWithWin32Codes) {
    // Printer missing: neither listed nor openable.
    {
        DeviceDescription d = Device();
        Fault f;
        f.kind = FaultKind::kPrinterMissing;
        d.faults = {f};
        testing::RecordingHost host;
        EmulatedSpooler spooler(d, host);
        std::vector<PrinterRecord> records;
        EXPECT_TRUE(spooler.EnumerateLocal(&records));
        EXPECT_TRUE(records.empty());
        PrinterHandle h = nullptr;
        EXPECT_FALSE(spooler.OpenPrinterHandle("PV-730", kPrinterAccessUse, &h));
        EXPECT_EQ(kErrorInvalidPrinterName, spooler.LastError());
    }
    // Open refused on the second open only.
    {
        DeviceDescription d = Device();
        Fault f;
        f.kind = FaultKind::kOpenRefused;
        f.error = kErrorAccessDenied;
        f.skip = 1;
        f.times = 1;
        d.faults = {f};
        testing::RecordingHost host;
        EmulatedSpooler spooler(d, host);
        std::vector<bool> opened;
        for (int i = 0; i < 3; ++i) {
            PrinterHandle h = nullptr;
            opened.push_back(spooler.OpenPrinterHandle("PV-730", kPrinterAccessUse, &h));
            if (h) spooler.ClosePrinterHandle(h);
            if (!opened.back()) {
                EXPECT_EQ(kErrorAccessDenied, spooler.LastError());
                EXPECT_EQ("Access is denied.", spooler.ErrorText(spooler.LastError()));
            }
        }
        EXPECT_EQ((std::vector<bool>{true, false, true}), opened);
    }
    // A job that cannot start leaves no job and gets no answer.
    {
        DeviceDescription d = Device();
        Fault f;
        f.kind = FaultKind::kJobStartFails;
        f.error = kErrorGenFailure;
        f.times = 1;
        d.faults = {f};
        Emulator e(d);
        EXPECT_FALSE(e.Send(ClockFrame()));
        EXPECT_EQ(kErrorGenFailure, e.spooler.LastError());
        EXPECT_TRUE(e.spooler.Jobs().empty());
        EXPECT_TRUE(e.Send(ClockFrame()));
        EXPECT_EQ(512u, e.Drain().size());
    }
    // A short write keeps only what it reports and the cut frame goes unanswered.
    {
        DeviceDescription d = Device();
        Fault f = At(FaultKind::kShortWrite, DeviceCommand::kVersion);
        f.value = 10;
        d.faults = {f};
        Emulator e(d);
        e.Send(ClockFrame());
        ASSERT_TRUE(e.spooler.StartDocument(e.handle, "PV-730 Data", "RAW"));
        Bytes frame = VersionFrame();
        uint32_t written = 0;
        EXPECT_TRUE(e.spooler.WriteToPrinter(e.handle, frame.data(), 24, &written));
        EXPECT_EQ(10u, written);
        EXPECT_TRUE(e.spooler.EndDocument(e.handle));
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 10), e.spooler.Jobs().back().bytes);
        EXPECT_EQ(1u, e.spooler.PendingAnswers("PV-730"));  // the clock's only
    }
}

TEST(EmulatedFaults, OfflineShowsInTheCheckAsAStatusByteOrAFailingQuery) {
    struct Case {
        const char* name;
        bool queryFails;
        uint32_t error;
    };
    const std::vector<Case> cases = {
        {"status byte", false, 0},
        {"query fails", true, kErrorNotSupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceDescription d = Device();
        Fault f;
        f.kind = FaultKind::kOffline;
        f.queryFails = c.queryFails;
        f.error = kErrorNotSupported;
        f.skip = 1;
        f.times = 1;
        d.faults = {f};
        Emulator e(d);
        std::vector<uint32_t> results;
        std::vector<uint8_t> firstBytes;
        for (int i = 0; i < 3; ++i) {
            uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
            uint32_t type = 3, needed = 0;
            results.push_back(
                e.spooler.QueryPrinterData(e.handle, "HlPvCheck", &type, buffer, 4, &needed));
            firstBytes.push_back(buffer[0]);
        }
        EXPECT_EQ((std::vector<uint32_t>{0, c.error, 0}), results);
        uint8_t second = c.queryFails ? 0xEE : EmulatedSpooler::kOfflineStatus;
        EXPECT_EQ((std::vector<uint8_t>{0, second, 0}), firstBytes);
    }
}

TEST(EmulatedFaults, APrinterUnpluggedAtRunTimeGoesOffline) {
    Emulator e(Device());
    e.spooler.SetOnline("PV-730", false);
    uint8_t buffer[4] = {};
    uint32_t type = 3, needed = 0;
    EXPECT_EQ(0u, e.spooler.QueryPrinterData(e.handle, "HlPvCheck", &type, buffer, 4, &needed));
    EXPECT_EQ(EmulatedSpooler::kOfflineStatus, buffer[0]);
}

}  // namespace
}  // namespace trawler
