// The emulated PV-730 seen through the Spooler seam: queues, jobs, answers, pacing and replay.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "sim/emulated_spooler.h"
#include "support/recording_host.h"
#include "support/wire_bytes.h"

namespace trawler {
namespace {

using testing::Bytes;
using testing::Cat;
using testing::ClockFrame;
using testing::EepromFrame;
using testing::LogFrame;
using testing::Padded;
using testing::VersionFrame;

Bytes LogInfoFrame() {
    return LogFrame(0x2C);
}
Bytes LogDataFrame() {
    return LogFrame(0x23);
}

// A device with small, hand-checkable content.
DeviceDescription SmallDevice() {
    DeviceDescription d = DefaultDevice();
    d.clock = {0x20, 0x24, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    d.version = {1, 2, 3, 4};
    d.logInfo = {0x4C, 0x00, 0x31, 0x32};
    for (EepromBlock& b : d.eeprom) {
        if (b.id == 0x8001) b.data = {0x00, 0x00, 0x00, 0x05};
    }
    d.log.size = 0;
    return d;
}

struct Block {
    uint32_t result = 0;
    uint8_t status = 0;
    uint32_t needed = 0;
    Bytes bytes;
};

class Emulator {
  public:
    explicit Emulator(DeviceDescription d) : spooler(std::move(d), host) {
        EXPECT_TRUE(spooler.OpenPrinterHandle("PV-730", kPrinterAccessUse, &handle));
    }

    bool Send(const Bytes& frame, const std::string& dataType = "RAW") {
        if (!spooler.StartDocument(handle, "PV-730 Data", dataType)) return false;
        spooler.StartPrinterPage(handle);
        uint32_t written = 0;
        spooler.WriteToPrinter(handle, frame.data(), uint32_t(frame.size()), &written);
        spooler.EndPrinterPage(handle);
        return spooler.EndDocument(handle);
    }

    Block Read(uint32_t size = 516) {
        Block b;
        Bytes buffer(size + 1, 0xEE);
        uint32_t type = 3;
        b.result = spooler.QueryPrinterData(handle, "HlPvRawReadTest", &type, buffer.data(), size,
                                            &b.needed);
        EXPECT_EQ(0xEE, buffer[size]) << "wrote past the buffer";
        if (b.result == 0 && size >= 4) {
            b.status = buffer[0];
            b.bytes.assign(buffer.begin() + 4, buffer.begin() + b.needed);
        }
        return b;
    }

    // Every answer byte waiting now; the sizes of the blocks that carried them.
    Bytes Drain(uint32_t size = 516, std::vector<size_t>* blocks = nullptr) {
        Bytes all;
        for (;;) {
            Block b = Read(size);
            if (b.result != 0 || b.status != 0 || b.bytes.empty()) break;
            if (blocks) blocks->push_back(b.bytes.size());
            all.insert(all.end(), b.bytes.begin(), b.bytes.end());
        }
        return all;
    }

    testing::RecordingHost host;
    EmulatedSpooler spooler;
    PrinterHandle handle = nullptr;
};

TEST(EmulatedAnswers, EachCommandIsAnsweredInItsExactLayoutPaddedToWholeUnits) {
    struct Case {
        const char* name;
        Bytes frame;
        Bytes answer;
    };
    const std::vector<Case> cases = {
        {"clock",
         ClockFrame(),
         {0x40, 0x05, 0x00, 0x08, 0x20, 0x24, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}},
        {"version", VersionFrame(), {0x40, 0x04, 0x00, 0x10, 0, 0, 0, 1, 0, 0,
                                     0,    2,    0,    0,    0, 3, 0, 0, 0, 4}},
        {"eeprom 0x8001", EepromFrame(0x8001), {0x40, 0x07, 0x00, 0x14,    // code 07, L = 20
                                                0x00, 0x00, 0x80, 0x01,    // block ID
                                                0x00, 0x00, 0x00, 0x00,    // second field
                                                0x00, 0x00, 0x00, 0x04,    // N
                                                0x00, 0x00, 0x00, 0x05,    // data
                                                0x00, 0x00, 0x00, 0x05}},  // word sum
        {"log info", LogInfoFrame(), {0x40, 0x0A, 0x00, 0x10, 0x4C, 0x00, 0x31, 0x32, 0, 0,
                                      0,    0,    0,    0,    0,    0,    0,    0,    0, 0}},
        {"log data, empty log", LogDataFrame(),
         Cat({{0x40, 0x06, 0x03, 0xFC, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}, Bytes(1008, 0)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emulator e(SmallDevice());
        ASSERT_TRUE(e.Send(c.frame));
        EXPECT_EQ(Padded(c.answer), e.Drain());
        EXPECT_EQ(0u, e.spooler.PendingAnswers("PV-730"));
    }
}

TEST(EmulatedAnswers, EepromChecksumIsTheBigEndianWordSumAndLongBlocksFillMoreUnits) {
    struct Case {
        const char* name;
        Bytes data;
        uint32_t sum;
    };
    const std::vector<Case> cases = {
        {"no bytes", {}, 0},
        {"short last word padded with zeros", {1, 2, 3, 4, 5}, 0x06020304},
        {"sum wraps", Bytes(8, 0xFF), 0xFFFFFFFE},
        {"500 bytes: 520-byte answer takes two units", Bytes(500, 0x01), 125 * 0x01010101u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceDescription d = SmallDevice();
        d.eeprom[1].data = c.data;
        d.eeprom[1].second = 0xA1B2C3D4;
        Emulator e(d);
        e.Send(EepromFrame(0x8002));
        Bytes got = e.Drain();
        size_t n = c.data.size();
        ASSERT_EQ((n + 20 + 511) / 512 * 512, got.size());
        EXPECT_EQ(Bytes({0x40, 0x07, uint8_t((n + 16) >> 8), uint8_t(n + 16), 0, 0, 0x80, 0x02,
                         0xA1, 0xB2, 0xC3, 0xD4, 0, 0, uint8_t(n >> 8), uint8_t(n)}),
                  Bytes(got.begin(), got.begin() + 16));
        EXPECT_EQ(c.data, Bytes(got.begin() + 16, got.begin() + 16 + n));
        EXPECT_EQ(Bytes({uint8_t(c.sum >> 24), uint8_t(c.sum >> 16), uint8_t(c.sum >> 8),
                         uint8_t(c.sum)}),
                  Bytes(got.begin() + 16 + n, got.begin() + 20 + n));
        EXPECT_EQ(Bytes(got.size() - n - 20, 0), Bytes(got.begin() + 20 + n, got.end()));
    }
}

TEST(EmulatedAnswers, RawReadBlocksFollowTheBufferAndTheBytesPerReadSetting) {
    struct Case {
        const char* name;
        uint32_t bytesPerRead;
        uint32_t bufferSize;
        std::vector<size_t> blocks;
    };
    const std::vector<Case> cases = {
        {"registry default buffer", 512, 516, {512}},
        {"small OneReadByte", 512, 100, {96, 96, 96, 96, 96, 32}},
        {"one byte per read", 512, 5, std::vector<size_t>(512, 1)},
        {"setting below the buffer", 200, 1024, {200, 200, 112}},
        {"a new link's 1024-byte buffer", 512, 1024, {512}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceDescription d = SmallDevice();
        d.pacing.bytesPerRead = c.bytesPerRead;
        Emulator e(d);
        e.Send(ClockFrame());
        std::vector<size_t> blocks;
        Bytes got = e.Drain(c.bufferSize, &blocks);
        EXPECT_EQ(c.blocks, blocks);
        EXPECT_EQ(Padded({0x40, 0x05, 0x00, 0x08, 0x20, 0x24, 1, 2, 3, 4, 5, 6}), got);
    }
}

TEST(EmulatedAnswers, TinyBuffersNeitherOverrunNorLoseBytes) {
    Emulator e(SmallDevice());
    e.Send(ClockFrame());
    Block tooSmall = e.Read(3);
    EXPECT_EQ(kErrorMoreData, tooSmall.result);
    Block headerOnly = e.Read(4);
    EXPECT_EQ(0u, headerOnly.result);
    EXPECT_EQ(4u, headerOnly.needed);
    Block next = e.Read(6);
    EXPECT_EQ(Bytes({0x40, 0x05}), next.bytes);
    EXPECT_EQ(6u, next.needed);
}

TEST(EmulatedAnswers, AnswersQueueInCommandOrderAndNeverShareARead) {
    Emulator e(SmallDevice());
    e.Send(Cat({ClockFrame(), VersionFrame()}));  // two frames in one job: both are taken
    e.Send(LogInfoFrame());
    EXPECT_EQ(3u, e.spooler.PendingAnswers("PV-730"));
    std::vector<size_t> blocks;
    Bytes got = e.Drain(2048, &blocks);
    EXPECT_EQ((std::vector<size_t>{512, 512, 512}), blocks);
    ASSERT_EQ(1536u, got.size());
    EXPECT_EQ(0x05, got[1]);
    EXPECT_EQ(0x04, got[513]);
    EXPECT_EQ(0x0A, got[1025]);
}

// Log packets, split into their fields.
struct Packet {
    Bytes header;  // 40 06 L
    uint32_t number = 0;
    uint32_t valid = 0;
    uint8_t last = 0;
    Bytes data;  // the 1008-byte area
};

uint32_t Big32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::vector<Packet> SplitPackets(const Bytes& stream) {
    std::vector<Packet> packets;
    for (size_t pos = 0; pos + 1024 <= stream.size(); pos += 1024) {
        const uint8_t* p = &stream[pos];
        Packet packet;
        packet.header.assign(p, p + 4);
        packet.number = Big32(p + 4);
        packet.valid = Big32(p + 8);
        packet.last = p[12];
        packet.data.assign(p + 16, p + 1024);
        packets.push_back(packet);
    }
    return packets;
}

TEST(EmulatedLog, OneRequestStreamsEveryPacketUntilTheLastFlag) {
    struct Case {
        uint64_t size;
        std::vector<uint32_t> valid;
    };
    const std::vector<Case> cases = {
        {1, {1}},
        {1008, {1008}},
        {1009, {1008, 1}},
        {2017, {1008, 1008, 1}},
        {3024, {1008, 1008, 1008}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        DeviceDescription d = SmallDevice();
        d.log.size = c.size;
        Emulator e(d);
        e.Send(LogDataFrame());
        Bytes stream = e.Drain(1028);
        ASSERT_EQ(c.valid.size() * 1024, stream.size());
        std::vector<Packet> packets = SplitPackets(stream);
        Bytes log;
        for (size_t i = 0; i < packets.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(Bytes({0x40, 0x06, 0x03, 0xFC}), packets[i].header);
            EXPECT_EQ(i, packets[i].number);
            EXPECT_EQ(c.valid[i], packets[i].valid);
            EXPECT_EQ(i + 1 == packets.size() ? 1 : 0, packets[i].last);
            log.insert(log.end(), packets[i].data.begin(), packets[i].data.begin() + c.valid[i]);
            EXPECT_EQ(Bytes(1008 - c.valid[i], 0),
                      Bytes(packets[i].data.begin() + c.valid[i], packets[i].data.end()));
        }
        EXPECT_EQ(c.size, log.size());
    }
}

Bytes LogBytes(const DeviceDescription& d) {
    Emulator e(d);
    e.Send(LogDataFrame());
    Bytes log;
    for (const Packet& p : SplitPackets(e.Drain(4096))) {
        log.insert(log.end(), p.data.begin(), p.data.begin() + std::min<uint32_t>(p.valid, 1008));
    }
    return log;
}

TEST(EmulatedLog, GeneratedLogIsDeterministicPerPatternKeyAndMadeOfEventRecords) {
    DeviceDescription d = SmallDevice();
    d.log.size = 5000;
    d.log.patternKey = 42;
    Bytes first = LogBytes(d);
    ASSERT_EQ(5000u, first.size());
    EXPECT_EQ(first, LogBytes(d));
    d.log.patternKey = 43;
    EXPECT_NE(first, LogBytes(d));
    // 16-byte records: a sequence number from 0 and a clock rising by 1 to 600 seconds.
    for (uint32_t i = 1; i < 5000 / 16; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(i, Big32(&first[16 * i]));
        uint32_t step = Big32(&first[16 * i + 4]) - Big32(&first[16 * (i - 1) + 4]);
        ASSERT_GE(step, 1u);
        ASSERT_LE(step, 600u);
    }
}

TEST(EmulatedLog, ALogFileIsSentAsItIs) {
    std::string path = ::testing::TempDir() + "sim_log_file.bin";
    Bytes content(2500);
    for (size_t i = 0; i < content.size(); ++i) content[i] = uint8_t(i * 7 + 3);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
    }
    DeviceDescription d = SmallDevice();
    d.log.fromFile = true;
    d.log.path = path;
    d.log.size = content.size();
    EXPECT_EQ(content, LogBytes(d));
    std::remove(path.c_str());
}

// FNV-1a over a byte range, to compare large streams without keeping them.
void Fnv(uint64_t* h, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) *h = (*h ^ p[i]) * 0x100000001B3ull;
}

struct StreamedLog {
    uint64_t logBytes = 0;
    uint64_t packets = 0;
    uint64_t lastFlags = 0;
    uint64_t hash = 0xCBF29CE484222325ull;
    size_t peakStaged = 0;
};

// Streams a whole log answer through raw reads of `perRead` bytes, keeping only a running hash.
StreamedLog StreamLog(DeviceDescription d, uint32_t perRead) {
    d.pacing.bytesPerRead = perRead;
    Emulator e(d);
    e.Send(LogDataFrame());
    StreamedLog s;
    Bytes buffer(perRead + 4);
    Bytes carry;
    for (;;) {
        uint32_t type = 3, needed = 0;
        uint32_t status = e.spooler.QueryPrinterData(e.handle, "HlPvRawReadTest", &type,
                                                     buffer.data(), perRead + 4, &needed);
        EXPECT_EQ(0u, status);
        if (status != 0 || needed <= 4) break;
        carry.insert(carry.end(), buffer.begin() + 4, buffer.begin() + needed);
        size_t pos = 0;
        for (; pos + 1024 <= carry.size(); pos += 1024) {
            const uint8_t* p = &carry[pos];
            EXPECT_EQ(s.packets, Big32(p + 4));
            uint32_t valid = Big32(p + 8);
            Fnv(&s.hash, p + 16, valid);
            s.logBytes += valid;
            s.lastFlags += p[12];
            ++s.packets;
        }
        carry.erase(carry.begin(), carry.begin() + long(pos));
    }
    EXPECT_TRUE(carry.empty());
    s.peakStaged = e.spooler.Stats().peakStagedBytes;
    return s;
}

TEST(EmulatedLog, A256MebibyteLogStreamsWithoutBeingHeld) {
    const uint64_t size = 256ull << 20;
    DeviceDescription d = SmallDevice();
    d.log.size = size;
    d.log.patternKey = 7;
    StreamedLog big = StreamLog(d, 1 << 20);
    EXPECT_EQ(size, big.logBytes);
    EXPECT_EQ((size + 1007) / 1008, big.packets);
    EXPECT_EQ(1u, big.lastFlags);
    // The emulator staged no more than a packet and a record at any time.
    EXPECT_LT(big.peakStaged, 4096u);
    // Another read size gives the same log, byte for byte.
    StreamedLog other = StreamLog(d, 65536);
    EXPECT_EQ(big.logBytes, other.logBytes);
    EXPECT_EQ(big.hash, other.hash);
}

TEST(EmulatedFrames, OnlyWellFormedRawFramesAreAnsweredAndEveryJobIsCaptured) {
    struct Case {
        const char* name;
        Bytes job;
        std::string dataType;
        size_t answers;
    };
    Bytes wrongStart = ClockFrame();
    wrongStart[7] = 0x01;
    Bytes wrongEnd = ClockFrame();
    wrongEnd[20] = 0x25;
    Bytes wrongParameter = ClockFrame();
    wrongParameter[12] = 0x06;
    Bytes wrongCount = ClockFrame();
    wrongCount[11] = 0x02;
    Bytes unknownCode = ClockFrame();
    unknownCode[9] = 0x1D;
    Bytes dirtyPadding = ClockFrame();
    dirtyPadding[15] = 0x01;
    Bytes logTail = LogDataFrame();
    logTail[31] = 0x01;
    Bytes logParameter = LogInfoFrame();
    logParameter[13] = 0x08;
    Bytes cut = ClockFrame();
    cut.pop_back();
    const std::vector<Case> cases = {
        {"clock", ClockFrame(), "RAW", 1},
        {"data type in lower case", ClockFrame(), "raw", 1},
        {"two frames", Cat({ClockFrame(), EepromFrame(0x8013)}), "RAW", 2},
        {"garbage, then a frame", Cat({{0x00, 0x1B, 0x41}, VersionFrame()}), "RAW", 1},
        {"frame, then garbage", Cat({VersionFrame(), {0x1B, 0x7C}}), "RAW", 1},
        {"not RAW", ClockFrame(), "TEXT", 0},
        {"wrong start", wrongStart, "RAW", 0},
        {"wrong end", wrongEnd, "RAW", 0},
        {"clock parameter 06", wrongParameter, "RAW", 0},
        {"parameter count 2", wrongCount, "RAW", 0},
        {"unknown command", unknownCode, "RAW", 0},
        {"non-zero body padding", dirtyPadding, "RAW", 0},
        {"log body tail not zero", logTail, "RAW", 0},
        {"log parameter FF 08", logParameter, "RAW", 0},
        {"one byte short", cut, "RAW", 0},
        {"empty job", {}, "RAW", 0},
        {"unknown EEPROM block", EepromFrame(0x8007), "RAW", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Emulator e(SmallDevice());
        ASSERT_TRUE(e.Send(c.job, c.dataType));
        EXPECT_EQ(c.answers, e.spooler.PendingAnswers("PV-730"));
        ASSERT_EQ(1u, e.spooler.Jobs().size());
        const CapturedJob& job = e.spooler.Jobs()[0];
        EXPECT_EQ("PV-730 Data", job.docName);
        EXPECT_EQ(c.dataType, job.dataType);
        EXPECT_EQ(c.job, job.bytes);
        EXPECT_EQ(1, job.pages);
        EXPECT_TRUE(job.ended);
    }
}

TEST(EmulatedFrames, CommandsRecordWhatTheFirmwareTookAndWhetherItAnswered) {
    Emulator e(SmallDevice());
    e.Send(EepromFrame(0x8013));
    e.Send(EepromFrame(0x8007));
    e.Send(LogDataFrame());
    const auto& commands = e.spooler.Commands();
    ASSERT_EQ(3u, commands.size());
    EXPECT_EQ(DeviceCommand::kEeprom, commands[0].command);
    EXPECT_EQ(0x8013u, commands[0].blockId);
    EXPECT_TRUE(commands[0].answered);
    EXPECT_EQ(0x8007u, commands[1].blockId);
    EXPECT_FALSE(commands[1].answered);
    EXPECT_EQ(DeviceCommand::kLogData, commands[2].command);
    EXPECT_EQ(2u, commands[2].job);
}

TEST(EmulatedQueues, EnumerationOpenAndTheOnlineCheckBehaveLikeTheDriver) {
    DeviceDescription d = SmallDevice();
    d.printers.clear();
    EmulatedPrinter online;
    online.name = "PV-730";
    EmulatedPrinter offline;
    offline.name = "PV-730 (2)";
    offline.online = false;
    EmulatedPrinter failing;
    failing.name = "PV-730 (3)";
    failing.online = false;
    failing.offlineQueryFails = true;
    EmulatedPrinter other;
    other.name = "Office";
    other.driver = "Generic Text";
    EmulatedPrinter nameless;
    nameless.hasName = false;
    d.printers = {online, offline, failing, other, nameless};
    testing::RecordingHost host;
    EmulatedSpooler spooler(d, host);

    std::vector<PrinterRecord> records;
    ASSERT_TRUE(spooler.EnumerateLocal(&records));
    ASSERT_EQ(5u, records.size());
    EXPECT_EQ("Office", records[3].name);
    EXPECT_EQ("Generic Text", records[3].driver);
    EXPECT_EQ("Halden PV-730", records[0].driver);
    EXPECT_FALSE(records[4].hasName);

    struct Case {
        const char* name;
        const char* value;
        uint32_t status;
        uint8_t firstByte;
    };
    const std::vector<Case> cases = {
        {"pv-730", "HlPvCheck", 0, 0},  // names are matched without regard to case
        {"PV-730 (2)", "HlPvCheck", 0, EmulatedSpooler::kOfflineStatus},
        {"PV-730 (3)", "HlPvCheck", kErrorGenFailure, 0xEE},
        {"Office", "HlPvCheck", kErrorFileNotFound, 0xEE},
        {"PV-730", "HlPvSomethingElse", kErrorFileNotFound, 0xEE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.value);
        PrinterHandle h = nullptr;
        ASSERT_TRUE(spooler.OpenPrinterHandle(c.name, kPrinterAccessUse, &h));
        uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        uint32_t type = 3, needed = 0;
        EXPECT_EQ(c.status, spooler.QueryPrinterData(h, c.value, &type, buffer, 4, &needed));
        EXPECT_EQ(c.firstByte, buffer[0]);
        if (c.status != 0) {
            EXPECT_EQ(c.status, spooler.LastError());
        }
        EXPECT_TRUE(spooler.ClosePrinterHandle(h));
    }

    PrinterHandle h = reinterpret_cast<PrinterHandle>(uintptr_t(1));
    EXPECT_FALSE(spooler.OpenPrinterHandle("PV-731", kPrinterAccessUse, &h));
    EXPECT_EQ(nullptr, h);
    EXPECT_EQ(kErrorInvalidPrinterName, spooler.LastError());
    EXPECT_EQ("The printer name is invalid.", spooler.ErrorText(spooler.LastError()));
    EXPECT_FALSE(spooler.ClosePrinterHandle(reinterpret_cast<PrinterHandle>(uintptr_t(8))));
    EXPECT_EQ(kErrorInvalidHandle, spooler.LastError());
    EXPECT_EQ("", spooler.ErrorText(424242));
    EXPECT_EQ(5u, spooler.Stats().opens);
    EXPECT_EQ(5u, spooler.Stats().closes);
    EXPECT_EQ(1u, spooler.Stats().openFailures);
    EXPECT_EQ(0u, spooler.OpenHandleCount());
}

// A standard user (the default, as on a customer's PC) is refused every right beyond printing
// and reading, with "access denied"; an administrator is refused nothing.
TEST(EmulatedQueues, AStandardUserMayOnlyOpenAPrinterToUseIt) {
    const struct {
        const char* description;
        uint32_t access;
        bool opens;
    } cases[] = {
        {"{}", kPrinterAccessUse | kReadControl, true},
        {"{}", kPrinterAllAccess, false},
        {R"({"user": "standard"})", kPrinterAccessAdminister, false},
        {R"({"user": "administrator"})", kPrinterAllAccess, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.description) + " " + std::to_string(c.access));
        std::string error;
        testing::RecordingHost host;
        EmulatedSpooler spooler(ParseDeviceDescription(c.description, "", &error), host);
        PrinterHandle h = nullptr;
        EXPECT_EQ(c.opens, spooler.OpenPrinterHandle("PV-730", c.access, &h));
        EXPECT_EQ(c.opens ? kErrorSuccess : kErrorAccessDenied, spooler.LastError());
    }
}

TEST(EmulatedQueues, AnswersOutliveTheHandleAndAClosedJobIsDropped) {
    Emulator e(SmallDevice());
    e.Send(ClockFrame());
    ASSERT_TRUE(e.spooler.ClosePrinterHandle(e.handle));
    ASSERT_TRUE(e.spooler.OpenPrinterHandle("PV-730", kPrinterAccessUse, &e.handle));
    EXPECT_EQ(512u, e.Drain().size());

    ASSERT_TRUE(e.spooler.StartDocument(e.handle, "PV-730 Data", "RAW"));
    Bytes frame = ClockFrame();
    uint32_t written = 0;
    e.spooler.WriteToPrinter(e.handle, frame.data(), uint32_t(frame.size()), &written);
    ASSERT_TRUE(e.spooler.ClosePrinterHandle(e.handle));
    EXPECT_FALSE(e.spooler.Jobs().back().ended);
    EXPECT_EQ(0u, e.spooler.PendingAnswers("PV-730"));
}

TEST(EmulatedPacing, DelayAndRateRunOnTheHostClockWithoutSleeping) {
    DeviceDescription d = SmallDevice();
    d.pacing.answerDelayMillis = 500;
    d.pacing.bytesPerSecond = 1000;  // one byte per millisecond
    Emulator e(d);
    e.host.clockMillis = 10000;
    e.Send(ClockFrame());
    e.Send(VersionFrame());

    struct Step {
        uint32_t advance;
        size_t bytes;
    };
    // Clock answer: 512 bytes from t = 10500 at 1 byte/ms, so its last byte leaves at 11012;
    // the version answer, ready since 10500, follows it from there.
    const std::vector<Step> steps = {
        {0, 0},     {499, 0}, {1, 0},     {100, 100},  {0, 0},    {300, 300},
        {112, 112}, {0, 0},   {200, 200}, {1000, 312}, {1000, 0},
    };
    size_t total = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        e.host.clockMillis += steps[i].advance;
        Block b = e.Read(1028);
        ASSERT_EQ(0u, b.result);
        EXPECT_EQ(steps[i].bytes, b.bytes.size());
        total += b.bytes.size();
    }
    EXPECT_EQ(1024u, total);
    EXPECT_TRUE(e.host.sleeps.empty());
}

TEST(EmulatedPacing, AnswerDelayCountsFromTheEndOfTheJob) {
    DeviceDescription d = SmallDevice();
    d.pacing.answerDelayMillis = 300;
    Emulator e(d);
    e.Send(ClockFrame());
    e.host.Sleep(299);
    EXPECT_TRUE(e.Read().bytes.empty());
    e.host.Sleep(1);
    EXPECT_EQ(512u, e.Read().bytes.size());
}

TEST(EmulatedReplay, GivenAnswerBytesAreServedByteForByteInsteadOfTheEmulatorsOwn) {
    std::string path = ::testing::TempDir() + "sim_replay_log.bin";
    Bytes fileAnswer(3000);
    for (size_t i = 0; i < fileAnswer.size(); ++i) fileAnswer[i] = uint8_t(255 - i % 251);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(fileAnswer.data()),
                  std::streamsize(fileAnswer.size()));
    }
    DeviceDescription d = SmallDevice();
    ReplayedAnswer clock;
    clock.command = DeviceCommand::kClock;
    clock.bytes = {0x01, 0x40, 0x05, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8};
    ReplayedAnswer block;
    block.command = DeviceCommand::kEeprom;
    block.blockId = 0x8003;
    block.bytes = {0x40, 0x07, 0x00, 0x10};
    ReplayedAnswer log;
    log.command = DeviceCommand::kLogData;
    log.fromFile = true;
    log.path = path;
    d.replays = {clock, block, log};
    Emulator e(d);

    e.Send(ClockFrame());
    EXPECT_EQ(clock.bytes, e.Drain());
    e.Send(EepromFrame(0x8003));
    EXPECT_EQ(block.bytes, e.Drain());
    e.Send(EepromFrame(0x8004));  // not replayed: the emulator's own answer
    EXPECT_EQ(512u + 512u, e.Drain().size());
    std::vector<size_t> blocks;
    e.Send(LogDataFrame());
    EXPECT_EQ(fileAnswer, e.Drain(516, &blocks));
    EXPECT_EQ(6u, blocks.size());
    std::remove(path.c_str());
}

TEST(EmulatedDefaultDevice, IsOneOnlinePv730WithUnitNumber1234AndAGeneratedLog) {
    DeviceDescription d = DefaultDevice();
    ASSERT_EQ(1u, d.printers.size());
    EXPECT_EQ("PV-730", d.printers[0].name);
    EXPECT_EQ("Halden PV-730", d.printers[0].driver);
    EXPECT_TRUE(d.printers[0].online);
    ASSERT_EQ(10u, d.eeprom.size());
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(kEepromBlocks[i].id, d.eeprom[i].id);
    EXPECT_FALSE(d.log.fromFile);
    EXPECT_GE(d.log.size, 100000u);
    EXPECT_EQ(0u, d.pacing.answerDelayMillis);
    EXPECT_EQ(0u, d.pacing.bytesPerSecond);
    EXPECT_EQ(512u, d.pacing.bytesPerRead);
    EXPECT_TRUE(d.faults.empty());

    // Through the wire: record bytes 40..43 of block 0x8013 carry 1234.
    Emulator e(d);
    e.Send(EepromFrame(0x8013));
    Bytes answer = e.Drain();
    ASSERT_GE(answer.size(), 48u);
    EXPECT_EQ(1234u, Big32(&answer[4 + 40]));
}

}  // namespace
}  // namespace trawler
