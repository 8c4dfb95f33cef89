// PrinterLink against the scripted spooler: open/close, value queries, jobs and the byte reader.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/link_settings.h"
#include "link/printer_link.h"
#include "link_fake_spooler.h"
#include "platform/messages.h"
#include "support/recording_host.h"

namespace trawler {
namespace {

using testing::LinkFakeSpooler;
using testing::RecordingHost;
using RawRead = LinkFakeSpooler::RawRead;

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
}

class LinkReaderTest : public ::testing::Test {
  protected:
    void OpenPrinter() {
        ASSERT_TRUE(link.Open("PV-730 USB"));
        spooler.calls.clear();
    }

    LinkFakeSpooler spooler;
    RecordingHost host;
    PrinterLink link{spooler, host};
};

TEST_F(LinkReaderTest, NothingReachesTheSpoolerWithoutAnOpenPrinter) {
    uint8_t byte = 0;
    uint8_t buffer[4] = {};
    const uint8_t data[3] = {1, 2, 3};
    EXPECT_EQ(link.ReadByte(&byte), kReadNoPrinter);
    EXPECT_EQ(link.QueryValue("HlPvCheck", buffer, 4), -1);
    EXPECT_FALSE(link.IsOnline());
    EXPECT_FALSE(link.Send(data, 3));
    EXPECT_FALSE(link.SendClockRequest());
    EXPECT_FALSE(link.SendVersionRequest());
    EXPECT_FALSE(link.SendEepromReadRequest(0x8001));
    EXPECT_FALSE(link.SendLogInfoRequest());
    EXPECT_FALSE(link.SendLogDataRequest());
    link.SkipToBlockEnd();
    EXPECT_TRUE(link.Drain());
    EXPECT_TRUE(spooler.calls.empty());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.sleeps.empty());
}

TEST_F(LinkReaderTest, OpenClosesThePreviousPrinterAndTheDestructorClosesTheLast) {
    {
        PrinterLink local(spooler, host);
        EXPECT_TRUE(local.Open("first"));
        EXPECT_TRUE(local.Open("second"));
        EXPECT_EQ(spooler.closes, 1);
        EXPECT_EQ(local.PrinterName(), "second");
        EXPECT_TRUE(local.IsOpen());
    }
    EXPECT_EQ(spooler.closes, 2);
    EXPECT_EQ(spooler.calls,
              (std::vector<std::string>{"Open first", "Close", "Open second", "Close"}));
}

TEST_F(LinkReaderTest, FailedOpenShowsTheSystemTextAndLeavesTheLinkClosed) {
    spooler.openFails = true;
    EXPECT_FALSE(link.Open("gone"));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.PrinterName(), "gone");
    // The fake has no text for this code: the box still appears.
    EXPECT_EQ(host.messages, std::vector<std::string>{UnknownErrorText(kErrorInvalidPrinterName)});
}

TEST_F(LinkReaderTest, SystemTextWithPercentSignsIsShownUnchanged) {
    spooler.genFailureText = "Disk 100% full %s %d %n";
    OpenPrinter();
    link.EmptyReadCount = 1;
    spooler.rawReads = {LinkFakeSpooler::Failed()};
    uint8_t byte = 0;
    EXPECT_EQ(link.ReadByte(&byte), kReadTimeout);
    EXPECT_EQ(host.messages, std::vector<std::string>{"Disk 100% full %s %d %n"});
}

TEST_F(LinkReaderTest, IsOnlineNeedsASuccessfulQueryThatWroteZero) {
    struct Case {
        const char* name;
        uint32_t status;
        bool writes;
        uint8_t firstByte;
        bool online;
        size_t boxes;
    } cases[] = {
        {"online", 0, true, 0, true, 0},
        {"offline byte", 0, true, 2, false, 0},
        {"driver wrote nothing", 0, false, 0, false, 0},
        {"query failed", kErrorGenFailure, true, 0, false, 1},
    };
    OpenPrinter();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.messages.clear();
        spooler.checkStatus = c.status;
        spooler.checkWrites = c.writes;
        spooler.checkFirstByte = c.firstByte;
        EXPECT_EQ(link.IsOnline(), c.online);
        EXPECT_EQ(host.messages.size(), c.boxes);
    }
}

TEST_F(LinkReaderTest, QueryValueStartsTypeAtThreeAndNeededAtZero) {
    OpenPrinter();
    uint8_t buffer[4] = {};
    EXPECT_EQ(link.QueryValue("HlPvCheck", buffer, 4), 4);
    ASSERT_EQ(spooler.typesIn.size(), 1u);
    EXPECT_EQ(spooler.typesIn[0], 3u);
    EXPECT_EQ(spooler.neededIn[0], 0u);
}

TEST_F(LinkReaderTest, SendEndsPageAndDocumentWheneverTheyWereStarted) {
    const std::vector<uint8_t> data = Pattern(24);
    struct Case {
        const char* name;
        bool startDocFails;
        bool startPageFails;
        uint32_t shortBy;
        const char* docName;
        bool result;
        std::vector<std::string> calls;
    } cases[] = {
        {"whole job",
         false,
         false,
         0,
         nullptr,
         true,
         {"StartDoc", "StartPage", "Write", "EndPage", "EndDoc"}},
        {"named job",
         false,
         false,
         0,
         "Other",
         true,
         {"StartDoc", "StartPage", "Write", "EndPage", "EndDoc"}},
        {"short write",
         false,
         false,
         1,
         nullptr,
         false,
         {"StartDoc", "StartPage", "Write", "EndPage", "EndDoc"}},
        {"page refused", false, true, 0, nullptr, false, {"StartDoc", "StartPage", "EndDoc"}},
        {"document refused", true, false, 0, nullptr, false, {"StartDoc"}},
    };
    OpenPrinter();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spooler.calls.clear();
        spooler.jobs.clear();
        spooler.startDocFails = c.startDocFails;
        spooler.startPageFails = c.startPageFails;
        spooler.shortWriteBy = c.shortBy;
        EXPECT_EQ(link.Send(data.data(), 24, c.docName), c.result);
        EXPECT_EQ(spooler.calls, c.calls);
        if (!c.startDocFails) {
            ASSERT_EQ(spooler.jobs.size(), 1u);
            EXPECT_EQ(spooler.jobs[0].docName, c.docName ? c.docName : "PV-730 Data");
            EXPECT_EQ(spooler.jobs[0].dataType, "RAW");
            EXPECT_TRUE(spooler.jobs[0].docEnded);
        }
    }
    EXPECT_TRUE(host.messages.empty());
}

// One ReadByte call against a script: its code, the waits it made, the queries it used.
TEST_F(LinkReaderTest, ReadByteCodesWaitsAndQueries) {
    const RawRead empty = LinkFakeSpooler::Empty();
    const RawRead busy = LinkFakeSpooler::Busy();
    struct Case {
        const char* name;
        int32_t emptyReadCount;
        std::vector<RawRead> script;
        int32_t code;
        uint8_t byte;
        size_t waits;
        int queries;
    } cases[] = {
        {"five-byte block delivers one byte", 5, {LinkFakeSpooler::Block({0x41})}, 1, 0x41, 0, 1},
        {"four-byte block is an empty read", 2, {empty, empty}, 0, 0, 1, 2},
        {"EmptyReadCount 1 gives up at once", 1, {}, 0, 0, 0, 1},
        {"EmptyReadCount 0 gives up at once", 0, {}, 0, 0, 0, 1},
        {"EmptyReadCount 3 waits twice", 3, {}, 0, 0, 2, 3},
        {"busy once then bytes", 5, {busy, LinkFakeSpooler::Block({0x42})}, 1, 0x42, 1, 2},
        {"busy twice", 5, {busy, busy, LinkFakeSpooler::Block({0x42})}, -1, 0, 1, 2},
        {"empty does not spend the busy budget", 2, {busy, empty, busy}, -1, 0, 2, 3},
        {"busy does not spend the empty budget", 2, {empty, busy, empty}, 0, 0, 2, 3},
    };
    OpenPrinter();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.sleeps.clear();
        spooler.rawQueries = 0;
        spooler.rawReads.assign(c.script.begin(), c.script.end());
        link.EmptyReadCount = c.emptyReadCount;
        link.ReadWaitMillisec = 70;
        uint8_t byte = 0;
        EXPECT_EQ(link.ReadByte(&byte), c.code);
        if (c.code == 1) {
            EXPECT_EQ(byte, c.byte);
        }
        EXPECT_EQ(host.sleeps, std::vector<uint32_t>(c.waits, 70));
        EXPECT_EQ(spooler.rawQueries, c.queries);
        EXPECT_TRUE(host.messages.empty());
    }
}

TEST_F(LinkReaderTest, EmptyAndBusyCountsStartAgainWithEachCall) {
    OpenPrinter();
    link.EmptyReadCount = 2;
    const RawRead busy = LinkFakeSpooler::Busy();
    const RawRead empty = LinkFakeSpooler::Empty();
    spooler.rawReads = {busy, LinkFakeSpooler::Block({1}), busy, empty,
                        LinkFakeSpooler::Block({2})};
    uint8_t byte = 0;
    EXPECT_EQ(link.ReadByte(&byte), 1);
    EXPECT_EQ(byte, 1);
    EXPECT_EQ(link.ReadByte(&byte), 1);
    EXPECT_EQ(byte, 2);
    EXPECT_EQ(host.sleeps.size(), 3u);
}

TEST_F(LinkReaderTest, FailingQueriesEndLikeSilenceWithOneBoxPerCall) {
    OpenPrinter();
    ApplySettings(link, DefaultLinkSettings());
    for (int i = 0; i < 1000; ++i) spooler.rawReads.push_back(LinkFakeSpooler::Failed());
    uint8_t byte = 0;
    EXPECT_EQ(link.ReadByte(&byte), kReadTimeout);
    EXPECT_EQ(spooler.rawQueries, 200);
    EXPECT_EQ(host.sleeps.size(), 199u);
    EXPECT_EQ(host.messages, std::vector<std::string>{spooler.genFailureText});

    // A later call may show its own box, and a failure before good bytes does not end the read.
    spooler.rawReads = {LinkFakeSpooler::Failed(), LinkFakeSpooler::Block({9})};
    EXPECT_EQ(link.ReadByte(&byte), kReadByteOk);
    EXPECT_EQ(byte, 9);
    EXPECT_EQ(host.messages.size(), 2u);
}

TEST_F(LinkReaderTest, ABlockIsDeliveredWholeBeforeTheNextQuery) {
    OpenPrinter();
    const std::vector<uint8_t> stream = Pattern(1000);
    spooler.QueueStream(stream, 300);
    std::vector<uint8_t> got;
    std::vector<int> queriesAt;
    for (size_t i = 0; i < stream.size(); ++i) {
        uint8_t byte = 0;
        ASSERT_EQ(link.ReadByte(&byte), 1);
        got.push_back(byte);
        queriesAt.push_back(spooler.rawQueries);
    }
    EXPECT_EQ(got, stream);
    EXPECT_EQ(queriesAt[299], 1);
    EXPECT_EQ(queriesAt[300], 2);
    EXPECT_EQ(spooler.rawQueries, 4);
    EXPECT_EQ(link.DeliveredCount(), 1000u);
}

TEST_F(LinkReaderTest, ADriverThatOverstatesItsBlockIsReadOnlyToTheBufferEnd) {
    OpenPrinter();
    link.SetOneReadByte(8);
    RawRead r = LinkFakeSpooler::Block(Pattern(20));
    spooler.rawReads = {r, LinkFakeSpooler::Block({0x77})};
    uint8_t byte = 0;
    for (int i = 0; i < 4; ++i) ASSERT_EQ(link.ReadByte(&byte), 1);
    EXPECT_EQ(spooler.rawQueries, 1);
    ASSERT_EQ(link.ReadByte(&byte), 1);
    EXPECT_EQ(byte, 0x77);
    EXPECT_EQ(spooler.querySizes, (std::vector<uint32_t>{8, 8}));
}

TEST_F(LinkReaderTest, SkipToBlockEndFinishesTheCurrentUnit) {
    struct Case {
        uint32_t delivered;
        int skipped;
        uint32_t deliveredAfter;
    } cases[] = {{0, 0, 0}, {20, 492, 0}, {512, 0, 512}, {1024, 0, 1024}, {700, 324, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delivered);
        LinkFakeSpooler fake;
        PrinterLink local(fake, host);
        ASSERT_TRUE(local.Open("p"));
        const std::vector<uint8_t> stream = Pattern(2048);
        fake.QueueStream(stream);
        uint8_t byte = 0;
        for (uint32_t i = 0; i < c.delivered; ++i) ASSERT_EQ(local.ReadByte(&byte), 1);
        local.SkipToBlockEnd();
        EXPECT_EQ(local.DeliveredCount(), c.deliveredAfter);
        ASSERT_EQ(local.ReadByte(&byte), 1);
        EXPECT_EQ(byte, stream[c.delivered + static_cast<uint32_t>(c.skipped)]);
    }
}

TEST_F(LinkReaderTest, SkipToBlockEndStopsAtTheFirstFailedRead) {
    OpenPrinter();
    link.EmptyReadCount = 1;
    spooler.QueueStream(Pattern(100));
    uint8_t byte = 0;
    for (int i = 0; i < 20; ++i) ASSERT_EQ(link.ReadByte(&byte), 1);
    link.SkipToBlockEnd();
    EXPECT_EQ(link.DeliveredCount(), 0u);
    EXPECT_EQ(spooler.rawQueries, 2);  // the stream's block, then one empty read
}

TEST_F(LinkReaderTest, DrainOnSilenceWaitsOutTheEmptyReadBudget) {
    OpenPrinter();
    ApplySettings(link, DefaultLinkSettings());
    EXPECT_TRUE(link.Drain());
    EXPECT_EQ(spooler.rawQueries, 200);
    EXPECT_EQ(host.sleeps, std::vector<uint32_t>(199, 100));
    EXPECT_EQ(host.TotalSleepMillis(), 19900u);

    // Waiting bytes are consumed first.
    host.sleeps.clear();
    spooler.QueueStream(Pattern(1500));
    EXPECT_TRUE(link.Drain());
    EXPECT_EQ(link.DeliveredCount(), 1500u);
    EXPECT_EQ(host.sleeps.size(), 199u);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(LinkReaderTest, SetOneReadByteDropsBufferedBytesAndResizesTheNextRead) {
    OpenPrinter();
    spooler.rawReads = {LinkFakeSpooler::Block({1, 2, 3}), LinkFakeSpooler::Block({4})};
    uint8_t byte = 0;
    ASSERT_EQ(link.ReadByte(&byte), 1);
    EXPECT_TRUE(link.SetOneReadByte(516));
    EXPECT_EQ(link.OneReadByte(), 516);
    ASSERT_EQ(link.ReadByte(&byte), 1);
    EXPECT_EQ(byte, 4);
    EXPECT_EQ(spooler.querySizes, (std::vector<uint32_t>{1024, 516}));
    EXPECT_EQ(link.DeliveredCount(), 1u);
}

TEST_F(LinkReaderTest, ResetReaderDropsBufferedBytes) {
    OpenPrinter();
    spooler.rawReads = {LinkFakeSpooler::Block({1, 2, 3}), LinkFakeSpooler::Block({4})};
    uint8_t byte = 0;
    ASSERT_EQ(link.ReadByte(&byte), 1);
    link.ResetReader();
    EXPECT_EQ(link.DeliveredCount(), 0u);
    ASSERT_EQ(link.ReadByte(&byte), 1);
    EXPECT_EQ(byte, 4);
}

TEST_F(LinkReaderTest, BufferedBytesSurviveCloseAndOpen) {
    OpenPrinter();
    spooler.rawReads = {LinkFakeSpooler::Block({1, 2})};
    uint8_t byte = 0;
    ASSERT_EQ(link.ReadByte(&byte), 1);
    link.Close();
    EXPECT_EQ(link.ReadByte(&byte), kReadNoPrinter);
    ASSERT_TRUE(link.Open("again"));
    ASSERT_EQ(link.ReadByte(&byte), 1);
    EXPECT_EQ(byte, 2);
    EXPECT_EQ(spooler.rawQueries, 1);
}

TEST_F(LinkReaderTest, UnusableBufferSizeGivesNoBufferWithoutAQuery) {
    OpenPrinter();
    uint8_t byte = 0;
    for (int32_t size : {0, -5}) {
        SCOPED_TRACE(size);
        link.SetOneReadByte(size);
        EXPECT_EQ(link.ReadByte(&byte), kReadNoBuffer);
    }
    EXPECT_EQ(spooler.rawQueries, 0);
}

TEST_F(LinkReaderTest, NegativeWaitsDoNotBecomeHugeSleeps) {
    OpenPrinter();
    link.EmptyReadCount = 3;
    link.ReadWaitMillisec = -1;
    link.WaitAfterSendMillisec = -500;
    uint8_t byte = 0;
    EXPECT_EQ(link.ReadByte(&byte), kReadTimeout);
    link.WaitAfterSend();
    EXPECT_EQ(host.sleeps, (std::vector<uint32_t>{0, 0, 0}));
}

TEST_F(LinkReaderTest, NewLinkValuesAndAppliedSettings) {
    const LinkSettings initial = CurrentSettings(link);
    EXPECT_EQ(initial.EmptyReadCount, 30);
    EXPECT_EQ(initial.ReadWaitMillisec, 200);
    EXPECT_EQ(initial.WaitAfterSendMillisec, 1000);
    EXPECT_EQ(initial.OneReadByte, 1024);

    OpenPrinter();
    spooler.rawReads = {LinkFakeSpooler::Block({1, 2}), LinkFakeSpooler::Block({3})};
    uint8_t byte = 0;
    ASSERT_EQ(link.ReadByte(&byte), 1);
    ApplySettings(link, LinkSettings{7, 8, 9, 600});
    const LinkSettings applied = CurrentSettings(link);
    EXPECT_EQ(applied.EmptyReadCount, 7);
    EXPECT_EQ(applied.ReadWaitMillisec, 8);
    EXPECT_EQ(applied.WaitAfterSendMillisec, 9);
    EXPECT_EQ(applied.OneReadByte, 600);
    // OneReadByte went through SetOneReadByte: the buffered byte 2 is gone.
    ASSERT_EQ(link.ReadByte(&byte), 1);
    EXPECT_EQ(byte, 3);
    EXPECT_EQ(spooler.querySizes.back(), 600u);
}

}  // namespace
}  // namespace trawler
