// Command frames as the spooler receives them, CSendBuff growth, and the settings override parser.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/link_settings.h"
#include "link/printer_link.h"
#include "link/send_buff.h"
#include "link_fake_spooler.h"
#include "support/recording_host.h"

namespace trawler {
namespace {

using testing::LinkFakeSpooler;
using testing::RecordingHost;
using Bytes = std::vector<uint8_t>;

TEST(LinkFramesTest, EachSenderSendsItsExactFrameAsOneRawJob) {
    struct Case {
        const char* name;
        bool (*send)(PrinterLink&);
        Bytes frame;
    } cases[] = {
        {"clock",
         [](PrinterLink& l) { return l.SendClockRequest(); },
         {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00,    // frame start
          0x40, 0x1B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00,    // read clock
          0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00}},  // frame end
        {"version",
         [](PrinterLink& l) { return l.SendVersionRequest(); },
         {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00,  //
          0x40, 0x1B, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00,  // read version
          0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00}},
        {"EEPROM 0x8001",
         [](PrinterLink& l) { return l.SendEepromReadRequest(0x8001); },
         {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00,  //
          0x40, 0x1C, 0x00, 0x04, 0x00, 0x00, 0x80, 0x01,  // block ID big-endian
          0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00}},
        {"EEPROM 0x8013",
         [](PrinterLink& l) { return l.SendEepromReadRequest(0x8013); },
         {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00,  //
          0x40, 0x1C, 0x00, 0x04, 0x00, 0x00, 0x80, 0x13,  //
          0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00}},
        {"EEPROM all bytes",
         [](PrinterLink& l) { return l.SendEepromReadRequest(0x12345678); },
         {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00,  //
          0x40, 0x1C, 0x00, 0x04, 0x12, 0x34, 0x56, 0x78,  //
          0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00}},
        {"log info",
         [](PrinterLink& l) { return l.SendLogInfoRequest(); },
         {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00,  //
          0x40, 0x2C, 0x00, 0x14, 0xFF, 0x07, 0x00, 0x00,  // code 2C, n = 20, FF 07
          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 18 zero bytes
          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
          0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00}},
        {"log data",
         [](PrinterLink& l) { return l.SendLogDataRequest(); },
         {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00,  //
          0x40, 0x23, 0x00, 0x14, 0xFF, 0x07, 0x00, 0x00,  // code 23, n = 20, FF 07
          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
          0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkFakeSpooler spooler;
        RecordingHost host;
        PrinterLink link(spooler, host);
        ASSERT_TRUE(link.Open("p"));
        EXPECT_TRUE(c.send(link));
        ASSERT_EQ(spooler.jobs.size(), 1u);
        EXPECT_EQ(spooler.jobs[0].docName, "PV-730 Data");
        EXPECT_EQ(spooler.jobs[0].dataType, "RAW");
        EXPECT_EQ(spooler.jobs[0].bytes, c.frame);
        EXPECT_TRUE(spooler.jobs[0].pageEnded);
        EXPECT_TRUE(spooler.jobs[0].docEnded);
        EXPECT_EQ(spooler.rawQueries, 0);  // senders neither wait nor read
        EXPECT_TRUE(host.sleeps.empty());
    }
}

TEST(LinkFramesTest, SendersReportTheFrameHandedOverEvenWhenTheJobFails) {
    LinkFakeSpooler spooler;
    RecordingHost host;
    PrinterLink link(spooler, host);
    ASSERT_TRUE(link.Open("p"));
    spooler.shortWriteBy = 3;
    EXPECT_TRUE(link.SendClockRequest());
    spooler.startDocFails = true;
    EXPECT_TRUE(link.SendLogDataRequest());
    EXPECT_TRUE(host.messages.empty());
}

TEST(LinkSendBuffTest, CapacityGrowsByTheCountPlus1024) {
    RecordingHost host;
    CSendBuff buff(&host);
    EXPECT_EQ(buff.Data(), nullptr);
    EXPECT_EQ(buff.Capacity(), 0);
    EXPECT_EQ(buff.Length(), 0);

    const Bytes head = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Step {
        int32_t count;
        int32_t length;
        int32_t capacity;
    } steps[] = {
        {8, 8, 1032},       // first allocation: count + 1024
        {24, 32, 1032},     // fits
        {8, 40, 1032},      // a whole 40-byte frame never grows
        {0, 40, 1032},      // nothing to copy
        {-3, 40, 1032},     // negative counts copy nothing
        {992, 1032, 1032},  // exactly full
        {1, 1033, 2057},    // one more byte grows by 1 + 1024
    };
    const Bytes source(2000, 0xAB);
    bool first = true;
    for (const Step& s : steps) {
        SCOPED_TRACE(::testing::Message() << "add " << s.count << " to " << buff.Length());
        EXPECT_TRUE(buff.Add(first ? head.data() : source.data(), s.count));
        first = false;
        EXPECT_EQ(buff.Length(), s.length);
        EXPECT_EQ(buff.Capacity(), s.capacity);
    }
    EXPECT_EQ(Bytes(buff.Data(), buff.Data() + 8), head);
    EXPECT_TRUE(host.messages.empty());
}

TEST(LinkSendBuffTest, LargeAddGrowsAndKeepsTheBytesInFront) {
    CSendBuff buff;
    const Bytes head = {9, 8, 7, 6, 5, 4, 3, 2};
    const Bytes big(2000, 0x5A);
    ASSERT_TRUE(buff.Add(head.data(), 8));
    ASSERT_TRUE(buff.Add(big.data(), 2000));
    EXPECT_EQ(buff.Capacity(), 1032 + 2000 + 1024);
    EXPECT_EQ(buff.Length(), 2008);
    EXPECT_EQ(Bytes(buff.Data(), buff.Data() + 8), head);
    EXPECT_EQ(Bytes(buff.Data() + 8, buff.Data() + 2008), big);
}

TEST(LinkSendBuffTest, GrowthBeyondTheCapacityFieldFailsWithTheBoxAndKeepsTheBytes) {
    RecordingHost host;
    CSendBuff buff(&host);
    const Bytes head = {1, 2, 3};
    ASSERT_TRUE(buff.Add(head.data(), 3));
    // The capacity is a signed 32-bit count: this growth cannot be represented.
    EXPECT_FALSE(buff.Add(head.data(), std::numeric_limits<int32_t>::max() - 100));
    EXPECT_EQ(host.messages, std::vector<std::string>{"ERROR:CSendBuff::Add new failed"});
    ASSERT_NE(buff.Data(), nullptr);
    EXPECT_EQ(buff.Length(), 3);
    EXPECT_EQ(buff.Capacity(), 1027);
    EXPECT_EQ(Bytes(buff.Data(), buff.Data() + 3), head);

    // A first allocation that cannot be had fails silently.
    CSendBuff fresh(&host);
    EXPECT_FALSE(fresh.Add(head.data(), std::numeric_limits<int32_t>::max()));
    EXPECT_EQ(fresh.Data(), nullptr);
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST(LinkSettingsTest, ParsesEachNameAndSigned32BitValues) {
    struct Case {
        const char* text;
        LinkSettings expected;
    } cases[] = {
        {"EmptyReadCount=7", {7, 100, 500, 516}},
        {"OneReadByte=1024", {200, 100, 500, 1024}},
        {"ReadWaitMillisec=0", {200, 0, 500, 516}},
        {"WaitAfterSendMillisec=-20", {200, 100, -20, 516}},
        {"EmptyReadCount=+15", {15, 100, 500, 516}},
        {"EmptyReadCount=2147483647", {2147483647, 100, 500, 516}},
        {"EmptyReadCount=-2147483648", {INT32_MIN, 100, 500, 516}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        LinkSettings settings;
        std::string error;
        EXPECT_TRUE(ParseLinkSetting(c.text, &settings, &error));
        EXPECT_EQ(settings.EmptyReadCount, c.expected.EmptyReadCount);
        EXPECT_EQ(settings.ReadWaitMillisec, c.expected.ReadWaitMillisec);
        EXPECT_EQ(settings.WaitAfterSendMillisec, c.expected.WaitAfterSendMillisec);
        EXPECT_EQ(settings.OneReadByte, c.expected.OneReadByte);
    }
}

TEST(LinkSettingsTest, RejectsGarbageAndLeavesTheSettingsAlone) {
    const char* cases[] = {
        "",
        "EmptyReadCount",
        "EmptyReadCount=",
        "EmptyReadCount=-",
        "EmptyReadCount=12x",
        "EmptyReadCount= 12",
        "EmptyReadCount=12 ",
        "EmptyReadCount=0x10",
        "EmptyReadCount=1.5",
        "EmptyReadCount=2147483648",
        "EmptyReadCount=-2147483649",
        "EmptyReadCount=99999999999999999999",
        "emptyreadcount=5",
        " EmptyReadCount=5",
        "Unknown=5",
        "=5",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        LinkSettings settings;
        std::string error;
        EXPECT_FALSE(ParseLinkSetting(text, &settings, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(settings.EmptyReadCount, kDefaultEmptyReadCount);
        EXPECT_EQ(settings.OneReadByte, kDefaultOneReadByte);
        EXPECT_FALSE(ParseLinkSetting(text, &settings, nullptr));
    }
}

}  // namespace
}  // namespace trawler
