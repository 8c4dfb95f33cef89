// Answer parsers byte by byte, the requests over the scripted spooler, the checksum and MemorySink.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pv730/device_requests.h"
#include "link/memory_sink.h"
#include "link/printer_link.h"
#include "link_fake_spooler.h"
#include "support/recording_host.h"
#include "support/wire_bytes.h"

namespace trawler {
namespace {

// The PV-730's requests and parsers are what these tests drive.
using namespace pv730;

using testing::Answer;
using testing::Be32;
using testing::Bytes;
using testing::Cat;
using testing::LinkFakeSpooler;
using testing::RecordingHost;

// Filler as the printer might send it: anything, not only zero bytes.
Bytes Padded(const Bytes& bytes) {
    return testing::Padded(bytes, 0xCC);
}

const std::string kSizeIllegal = "Error: ReadVersion command size illegal";
const std::string kEepromMismatch = "Error: EEPROM Read: command size and data size mismatched";
const std::string kLogInfoWrite = "Error: Log info request command write error";
const std::string kLogInfoRead = "Error: Log info read failed";

const Bytes kClockPayload = {0x20, 0x06, 0x11, 0x30, 0x17, 0x45, 0x09, 0x03};
const Bytes kVersionPayload = {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4};
// The EEPROM example: block 0x8001, second field 0, N = 4, data 00 00 00 05, checksum 5.
const Bytes kEepromPayload = Cat({Be32(0x8001), Be32(0), Be32(4), Be32(5), Be32(5)});

class LinkRequestsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(link.Open("p"));
        link.EmptyReadCount = 3;
        link.ReadWaitMillisec = 100;
        link.WaitAfterSendMillisec = 500;
    }
    // Bytes the reader delivers next (after any skip), up to `n` or the time-out.
    Bytes NextBytes(size_t n) {
        Bytes out;
        uint8_t byte = 0;
        while (out.size() < n && link.ReadByte(&byte) == 1) out.push_back(byte);
        return out;
    }

    LinkFakeSpooler spooler;
    RecordingHost host;
    PrinterLink link{spooler, host};
};

TEST_F(LinkRequestsTest, ClockAnswerByteByByte) {
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<std::string> messages;
    } cases[] = {
        {"plain", Answer(0x05, kClockPayload), {}},
        {"stray bytes in front", Cat({{0x00, 0xFF, 0x12}, Answer(0x05, kClockPayload)}), {}},
        {"wrong code after the start byte", Cat({{0x40, 0x06}, Answer(0x05, kClockPayload)}), {}},
        // A stray start byte right in front must not swallow the real one.
        {"stray start byte in front", Cat({{0x11, 0x40}, Answer(0x05, kClockPayload)}), {}},
        {"two stray start bytes in front", Cat({{0x40, 0x40}, Answer(0x05, kClockPayload)}), {}},
        {"wrong length, then a good answer",
         Cat({Answer(0x05, Bytes(9, 0xEE)), Answer(0x05, kClockPayload)}),
         {kSizeIllegal}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FixedAnswerParser parser;
        uint8_t out[8] = {};
        std::vector<int> doneAt;
        size_t wrongSizes = 0;
        for (size_t i = 0; i < c.stream.size(); ++i) {
            int result = ParseClockAnswer(&parser, c.stream[i], out);
            if (result == kParseDone) doneAt.push_back(static_cast<int>(i));
            wrongSizes += result == kParseWrongSize;
        }
        EXPECT_EQ(doneAt, std::vector<int>{static_cast<int>(c.stream.size()) - 1});
        EXPECT_EQ(Bytes(out, out + 8), kClockPayload);
        // The request shows one message for each answer the parser drops for its length.
        EXPECT_EQ(wrongSizes, c.messages.size());
    }
}

TEST_F(LinkRequestsTest, VersionAnswerGivesFourNumbersAndRestartsFromZero) {
    const Bytes stream =
        Cat({{0x40, 0x04, 0x00, 0x0F, 0x01},
             {0x40, 0x05},
             Answer(0x04, {0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 2, 0x80, 0, 0, 0, 0, 0, 0x01, 0x00})});
    FixedAnswerParser parser;
    uint32_t out[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    int done = 0;
    int wrongSizes = 0;
    for (uint8_t b : stream) {
        int result = ParseVersionAnswer(&parser, b, out);
        done += result == kParseDone;
        wrongSizes += result == kParseWrongSize;
    }
    EXPECT_EQ(wrongSizes, 1);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(out[0], 0xDEADBEEFu);
    EXPECT_EQ(out[1], 2u);
    EXPECT_EQ(out[2], 0x80000000u);
    EXPECT_EQ(out[3], 0x100u);
    EXPECT_TRUE(host.messages.empty());  // the parser says nothing; its request does
}

TEST_F(LinkRequestsTest, ClockAndVersionRequestsSendWaitReadAndSkipTheUnit) {
    const Bytes nextUnit = {0x40, 0x99, 0x98};
    // A stale answer sits in the reader before the request: ResetReader must drop it.
    const Bytes stale = Answer(0x05, Bytes(8, 0x11));
    struct Case {
        const char* name;
        bool clock;
        Bytes frameBody;
    } cases[] = {{"clock", true, {0x40, 0x1B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00}},
                 {"version", false, {0x40, 0x1B, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spooler.jobs.clear();
        spooler.rawReads.clear();
        host.sleeps.clear();
        spooler.rawReads.push_back(LinkFakeSpooler::Block(stale));
        ASSERT_EQ(NextBytes(1).size(), 1u);
        const Bytes answer = c.clock ? Answer(0x05, kClockPayload) : Answer(0x04, kVersionPayload);
        // Stray bytes, the answer and its filler fill exactly one unit; the next unit follows.
        spooler.QueueStream(Cat({Padded(Cat({{0x00, 0x00, 0x00}, answer})), nextUnit}), 200);
        bool ok = false;
        if (c.clock) {
            uint8_t out[8] = {};
            ok = ReadClock(link, out);
            EXPECT_EQ(Bytes(out, out + 8), kClockPayload);
        } else {
            uint32_t out[4] = {};
            ok = ReadVersion(link, out);
            EXPECT_EQ(out[0], 1u);
            EXPECT_EQ(out[1], 2u);
            EXPECT_EQ(out[2], 3u);
            EXPECT_EQ(out[3], 4u);
        }
        EXPECT_TRUE(ok);
        ASSERT_EQ(spooler.jobs.size(), 1u);
        EXPECT_EQ(Bytes(spooler.jobs[0].bytes.begin() + 8, spooler.jobs[0].bytes.begin() + 16),
                  c.frameBody);
        EXPECT_EQ(host.sleeps, std::vector<uint32_t>{500});
        EXPECT_EQ(link.DeliveredCount(), 0u);
        EXPECT_EQ(NextBytes(3), nextUnit);
        EXPECT_TRUE(host.messages.empty());
    }
}

TEST_F(LinkRequestsTest, ClockRequestFailures) {
    uint8_t out[8] = {};
    // A wrong length and then silence: the message, then false after the reader's time-out.
    spooler.QueueStream(Padded(Answer(0x05, Bytes(9, 0))));
    EXPECT_FALSE(ReadClock(link, out));
    EXPECT_EQ(host.messages, std::vector<std::string>{kSizeIllegal});
    EXPECT_EQ(host.sleeps, (std::vector<uint32_t>{500, 100, 100}));

    // A busy driver ends the request too, without words of its own.
    host.messages.clear();
    spooler.rawReads = {LinkFakeSpooler::Busy(), LinkFakeSpooler::Busy()};
    EXPECT_FALSE(ReadVersion(link, reinterpret_cast<uint32_t*>(out)));
    EXPECT_TRUE(host.messages.empty());

    link.Close();
    spooler.calls.clear();
    EXPECT_FALSE(ReadClock(link, out));
}

TEST_F(LinkRequestsTest, EepromParserResultsForTheExampleBlock) {
    const Bytes stream = Answer(0x07, kEepromPayload);
    ASSERT_EQ(stream.size(), 24u);
    std::vector<int> results;
    EepromParser parser;
    for (uint8_t b : stream) results.push_back(ParseEepromAnswer(&parser, b));
    std::vector<int> expected = {kParseStart, 0, 0, 0};      // header
    expected.insert(expected.end(), 12, kParseRecordOnly);   // ID, second field, N
    expected.insert(expected.end(), 4, kParseData);          // data
    expected.insert(expected.end(), {3, 3, 3, kParseDone});  // checksum
    EXPECT_EQ(results, expected);
    EXPECT_EQ(parser.blockId, 0x8001u);
    EXPECT_EQ(parser.checksum, 5u);
    EXPECT_EQ(parser.length, 20u);
}

TEST_F(LinkRequestsTest, ReadEepromBlockKeepsOnlyTheAcceptedPayload) {
    const Bytes good = Answer(0x07, kEepromPayload);
    // L = 24 with N = 4: mismatch at the first data byte.
    const Bytes mismatched = Answer(0x07, Cat({Be32(0x8002), Be32(7), Be32(4), Bytes(12, 0xEE)}));
    const Bytes noData = Cat({Be32(0x8003), Be32(0x11223344), Be32(0), Be32(0x01020304)});
    struct Case {
        const char* name;
        Bytes stream;
        bool ok;
        Bytes record;
        Bytes data;
        uint32_t id;
        uint32_t checksum;
        std::vector<std::string> messages;
    } cases[] = {
        {"example", good, true, kEepromPayload, Be32(5), 0x8001, 5, {}},
        {"stray bytes and a wrong code in front",
         Cat({{0x07, 0x40, 0x05}, good}),
         true,
         kEepromPayload,
         Be32(5),
         0x8001,
         5,
         {}},
        {"stray start byte in front",
         Cat({{0x40}, good}),
         true,
         kEepromPayload,
         Be32(5),
         0x8001,
         5,
         {}},
        {"size mismatch, then a good answer",
         Cat({mismatched, good}),
         true,
         kEepromPayload,
         Be32(5),
         0x8001,
         5,
         {kEepromMismatch}},
        {"size mismatch, then silence", mismatched, false, {}, {}, 0, 0, {kEepromMismatch}},
        {"no data: the checksum is not taken for data",
         Answer(0x07, noData),
         true,
         noData,
         {},
         0x8003,
         0x01020304,
         {}},
        {"cut short", Bytes(good.begin(), good.end() - 1), false, {}, {}, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.messages.clear();
        link.ResetReader();
        spooler.rawReads.clear();
        spooler.QueueStream(c.stream, 7);
        MemorySink record;
        MemorySink data;
        uint32_t id = 0xFFFF;
        uint32_t checksum = 0xFFFF;
        EXPECT_EQ(ReadEepromBlock(link, record, data, &id, &checksum), c.ok);
        EXPECT_EQ(id, c.id);
        EXPECT_EQ(checksum, c.checksum);
        EXPECT_EQ(host.messages, c.messages);
        if (c.ok) {
            EXPECT_EQ(Bytes(record.Data(), record.Data() + record.Size()), c.record);
            EXPECT_EQ(Bytes(data.Data(), data.Data() + data.Size()), c.data);
            EXPECT_EQ(EepromChecksum(data.Data(), data.Size()), c.data.empty() ? 0u : c.checksum);
        }
    }
    EXPECT_TRUE(spooler.jobs.empty());  // the block reader neither sends nor waits to send
}

TEST(LinkChecksumTest, SumsBigEndianGroupsPaddedAtTheEnd) {
    struct Case {
        const char* name;
        Bytes bytes;
        uint32_t sum;
    } cases[] = {
        {"no bytes", {}, 0},
        {"one group", {0, 0, 0, 5}, 5},
        {"short last group", {1, 2, 3, 4, 5}, 0x06020304},
        {"three bytes", {1, 2, 3}, 0x01020300},
        {"wraps modulo 2^32", Bytes(8, 0xFF), 0xFFFFFFFE},
        {"byte order", {0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x00, 0x01}, 0x12345679},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EepromChecksum(c.bytes.data(), c.bytes.size()), c.sum);
    }
}

TEST_F(LinkRequestsTest, ReadLogInfoKeepsFourBytesIncludingZeros) {
    const Bytes payload = {'A', 0x00, 'B', 'C', 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    const Bytes nextUnit = {0x55};
    spooler.QueueStream(Cat({Padded(Cat({{0x01}, Answer(0x0A, payload)})), nextUnit}));
    std::string out = "previous";
    EXPECT_TRUE(ReadLogInfo(link, &out));
    EXPECT_EQ(out, std::string("A\0BC", 4));
    EXPECT_EQ(host.sleeps, (std::vector<uint32_t>{500, 500}));
    ASSERT_EQ(spooler.jobs.size(), 1u);
    EXPECT_EQ(spooler.jobs[0].bytes[9], 0x2C);
    EXPECT_EQ(NextBytes(1), nextUnit);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(LinkRequestsTest, ReadLogInfoFailures) {
    struct Case {
        const char* name;
        bool open;
        Bytes stream;
        std::string message;
    } cases[] = {
        {"wrong length", true, Padded(Answer(0x0A, Bytes(15, 1))), kLogInfoRead},
        {"silence", true, {}, kLogInfoRead},
        {"cut short", true, Answer(0x0A, Bytes(10, 1), 16), kLogInfoRead},
        {"no printer", false, {}, kLogInfoWrite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.messages.clear();
        if (!c.open) link.Close();
        spooler.rawReads.clear();
        spooler.QueueStream(c.stream);
        std::string out = "kept";
        EXPECT_FALSE(ReadLogInfo(link, &out));
        EXPECT_EQ(host.messages, std::vector<std::string>{c.message});
    }
}

TEST_F(LinkRequestsTest, LogDataPacketResults) {
    struct Case {
        const char* name;
        uint16_t length;
        uint32_t valid;
        int ones;
        int zeros;
        int final;
    } cases[] = {
        {"full packet", 1020, 1008, 1007, 0, kParseDone},
        {"empty packet", 1020, 0, 0, 1007, kParseRecordOnly},
        {"ten bytes", 1020, 10, 10, 997, kParseRecordOnly},
        {"valid count beyond the area", 1020, 5000, 1007, 0, kParseDone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes header =
            Cat({{0x40, 0x06, static_cast<uint8_t>(c.length >> 8), static_cast<uint8_t>(c.length)},
                 Be32(0xA1B2C3D4),            // first field
                 Be32(c.valid),               // V
                 {0x01, 0x40, 0x40, 0x40}});  // last flag, unexamined
        LogDataParser parser;
        std::vector<int> results;
        for (uint8_t b : Cat({{0x00, 0x40, 0x07}, header})) {  // stray, wrong code
            results.push_back(ParseLogDataAnswer(&parser, b));
        }
        std::vector<int> expected = {kParseNothing, kParseStart, kParseResync, kParseStart};
        expected.resize(results.size(), kParseNothing);
        EXPECT_EQ(results, expected);
        EXPECT_EQ(parser.firstField, 0xA1B2C3D4u);
        EXPECT_EQ(parser.validCount, c.valid);
        EXPECT_EQ(parser.lastFlag, 1);
        int ones = 0;
        int zeros = 0;
        int last = 99;
        for (int i = 0; i < 1008; ++i) {
            // Start bytes inside the data area are data, not a new packet.
            int r = ParseLogDataAnswer(&parser, 0x40);
            if (i == 1007) {
                last = r;
            } else if (r == kParseData) {
                ++ones;
            } else if (r == kParseNothing) {
                ++zeros;
            }
        }
        EXPECT_EQ(ones, c.ones);
        EXPECT_EQ(zeros, c.zeros);
        EXPECT_EQ(last, c.final);
        // A finished packet takes nothing more until its caller starts the next one.
        EXPECT_EQ(ParseLogDataAnswer(&parser, 0x40), kParseNothing);
        EXPECT_EQ(parser.validCount, c.valid);
    }
}

TEST_F(LinkRequestsTest, LogDataPacketOfTheWrongLengthStopsAtTheFirstPayloadByte) {
    for (uint16_t length : {1019, 1021, 0}) {
        SCOPED_TRACE(length);
        const Bytes bytes = {0x40, 0x06, static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length), 0x00};
        LogDataParser parser;
        std::vector<int> results;
        for (uint8_t b : bytes) results.push_back(ParseLogDataAnswer(&parser, b));
        EXPECT_EQ(results, (std::vector<int>{kParseStart, 0, 0, 0, kParseBadLength}));
    }
}

TEST_F(LinkRequestsTest, LogInfoParserRejectsTheWrongLengthAtTheFirstPayloadByte) {
    LogInfoParser parser;
    std::vector<int> results;
    for (uint8_t b : Answer(0x0A, Bytes(15, 1))) {
        results.push_back(ParseLogInfoAnswer(&parser, b));
        if (results.back() == kParseBadLength) break;
    }
    EXPECT_EQ(results, (std::vector<int>{kParseStart, 0, 0, 0, kParseBadLength}));
}

TEST(LinkMemorySinkTest, GrowsInStepsAndHandsOverItsBytes) {
    MemorySink sink;
    EXPECT_EQ(sink.Data(), nullptr);
    EXPECT_EQ(sink.Size(), 0u);
    Bytes written;
    for (size_t i = 0; i < 16385; ++i) {
        uint8_t b = static_cast<uint8_t>(i * 13);
        ASSERT_TRUE(sink.WriteByte(b));
        written.push_back(b);
        if (i == 16383) {
            EXPECT_EQ(sink.Capacity(), 16384u);
        }
    }
    EXPECT_EQ(sink.Capacity(), 32768u);
    EXPECT_EQ(Bytes(sink.Data(), sink.Data() + sink.Size()), written);
    EXPECT_EQ(sink.Take(), written);
    EXPECT_EQ(sink.Size(), 0u);
    ASSERT_TRUE(sink.WriteByte(7));
    ASSERT_TRUE(sink.WriteByte(8));
    sink.Clear();
    ASSERT_TRUE(sink.WriteByte(9));
    EXPECT_EQ(sink.Take(), Bytes{9});
    MemorySink untouched;
    EXPECT_TRUE(untouched.Take().empty());
}

// The reader above the channel seam knows nothing of the spooler: a channel of another kind
// (here one that serves a script from memory) carries the same requests.
class ScriptChannel : public PrinterChannel {
  public:
    explicit ScriptChannel(Bytes answer) : m_answer(std::move(answer)) {}
    bool Open(const std::string&) override { return m_open = true; }
    void Close() override { m_open = false; }
    bool IsOpen() const override { return m_open; }
    bool Send(const uint8_t* data, uint32_t length, const char*) override {
        sent.emplace_back(data, data + length);
        return true;
    }
    int32_t QueryValue(const char*, uint8_t* buffer, uint32_t size) override {
        for (uint32_t i = 0; i < size; ++i) buffer[i] = 0;
        return 4;
    }
    bool ReadRawBlock(uint8_t* buffer, uint32_t size, uint32_t* length) override {
        uint32_t n = std::min<uint32_t>(size - 4, static_cast<uint32_t>(m_answer.size() - m_pos));
        for (uint32_t i = 0; i < 4; ++i) buffer[i] = 0;
        for (uint32_t i = 0; i < n; ++i) buffer[4 + i] = m_answer[m_pos + i];
        m_pos += n;
        *length = 4 + n;
        return true;
    }
    void ShowLastFailure() override {}
    std::vector<Bytes> sent;

  private:
    Bytes m_answer;
    size_t m_pos = 0;
    bool m_open = false;
};

TEST(LinkChannel, TheRequestsRunOverAnyChannel) {
    RecordingHost host;
    auto owned = std::make_unique<ScriptChannel>(Padded(Answer(0x05, kClockPayload)));
    ScriptChannel& channel = *owned;
    PrinterLink link(std::move(owned), host);
    ASSERT_TRUE(link.Open("anything"));
    EXPECT_TRUE(link.IsOnline());
    uint8_t clock[8] = {};
    ASSERT_TRUE(ReadClock(link, clock));
    EXPECT_EQ(Bytes(clock, clock + 8), kClockPayload);
    ASSERT_EQ(channel.sent.size(), 1u);
    EXPECT_EQ(channel.sent[0].size(), 24u);  // one clock frame
    link.Close();
    EXPECT_FALSE(channel.IsOpen());
}

}  // namespace
}  // namespace trawler
