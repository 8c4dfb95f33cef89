// Every device request of the link against the emulated PV-730, through the same seam as the
// real spooler, with the frames the firmware took checked byte for byte.
#include <gtest/gtest.h>

#include "pv730/device_requests.h"
#include "link/link_settings.h"
#include "link/memory_sink.h"
#include "link/printer_link.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"
#include "support/recording_host.h"
#include "support/wire_bytes.h"

namespace trawler {
namespace {

// The PV-730's requests and parsers are what these tests drive.
using namespace pv730;

using testing::ClockFrame;
using testing::EepromFrame;
using testing::LogFrame;
using testing::RecordingHost;
using testing::VersionFrame;

class LinkAgainstEmulator : public ::testing::Test {
  protected:
    LinkAgainstEmulator() : spooler(MakeDevice(), host), link(spooler, host) {
        ApplySettings(link, DefaultLinkSettings());
    }
    static DeviceDescription MakeDevice() {
        DeviceDescription d = DefaultDevice();
        d.log.size = 2500;  // three packets: 1008, 1008, 484
        return d;
    }

    RecordingHost host;
    EmulatedSpooler spooler;
    PrinterLink link;
};

TEST_F(LinkAgainstEmulator, EveryRequestIsAnsweredAndParsed) {
    ASSERT_TRUE(link.Open("PV-730"));
    ASSERT_TRUE(link.IsOnline());
    const DeviceDescription& device = spooler.Device();

    uint8_t clock[8] = {};
    ASSERT_TRUE(ReadClock(link, clock));
    EXPECT_EQ(std::vector<uint8_t>(device.clock.begin(), device.clock.end()),
              std::vector<uint8_t>(clock, clock + 8));

    uint32_t version[4] = {};
    ASSERT_TRUE(ReadVersion(link, version));
    EXPECT_EQ(std::vector<uint32_t>(device.version.begin(), device.version.end()),
              std::vector<uint32_t>(version, version + 4));

    for (const EepromBlock& block : device.eeprom) {
        SCOPED_TRACE(block.id);
        ASSERT_TRUE(link.SendEepromReadRequest(block.id));
        link.WaitAfterSend();
        link.ResetReader();
        MemorySink record, data;
        uint32_t id = 0, checksum = 0;
        ASSERT_TRUE(ReadEepromBlock(link, record, data, &id, &checksum));
        link.SkipToBlockEnd();
        EXPECT_EQ(block.id, id);
        EXPECT_EQ(block.data, std::vector<uint8_t>(data.Data(), data.Data() + data.Size()));
        EXPECT_EQ(EepromChecksum(data.Data(), data.Size()), checksum);
        EXPECT_EQ(block.data.size() + 16, record.Size());
    }

    std::string info;
    ASSERT_TRUE(ReadLogInfo(link, &info));
    EXPECT_EQ(std::string(device.logInfo.begin(), device.logInfo.end()), info);

    ASSERT_TRUE(link.SendLogDataRequest());
    link.ResetReader();
    link.WaitAfterSend();
    uint64_t logBytes = 0;
    int packets = 0;
    uint8_t last = 0;
    while (last != 1) {
        LogDataParser parser;
        int result = kParseNothing;
        while (result != kParseDone && result != kParseRecordOnly) {
            uint8_t byte = 0;
            ASSERT_EQ(1, link.ReadByte(&byte));
            result = ParseLogDataAnswer(&parser, byte);
            last = parser.lastFlag;
            ASSERT_NE(kParseBadLength, result);
            if (result == kParseData || result == kParseDone) ++logBytes;
        }
        ++packets;
    }
    link.SkipToBlockEnd();
    EXPECT_EQ(2500u, logBytes);
    EXPECT_EQ(3, packets);
    EXPECT_TRUE(host.messages.empty());
    link.Close();

    // What the firmware received: one job per command, each named and typed as a real one.
    std::vector<std::vector<uint8_t>> expected = {ClockFrame(), VersionFrame()};
    for (const EepromBlock& block : device.eeprom) expected.push_back(EepromFrame(block.id));
    expected.push_back(LogFrame(0x2C));
    expected.push_back(LogFrame(0x23));
    ASSERT_EQ(expected.size(), spooler.Jobs().size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i], spooler.Jobs()[i].bytes);
        EXPECT_EQ("PV-730 Data", spooler.Jobs()[i].docName);
        EXPECT_EQ("RAW", spooler.Jobs()[i].dataType);
        EXPECT_EQ(expected[i].size() == 40 ? 40u : 24u, spooler.Jobs()[i].bytes.size());
    }
}

TEST_F(LinkAgainstEmulator, EveryReadBufferSizeDeliversTheSameAnswers) {
    // A 5-byte buffer hands out one answer byte per raw read; 4096 bytes hands out many.
    for (int32_t oneReadByte : {5, 516, 4096}) {
        SCOPED_TRACE(oneReadByte);
        link.SetOneReadByte(oneReadByte);
        ASSERT_TRUE(link.Open("PV-730"));
        uint32_t version[4] = {};
        ASSERT_TRUE(ReadVersion(link, version));
        EXPECT_EQ(spooler.Device().version[3], version[3]);
        uint8_t clock[8] = {};
        ASSERT_TRUE(ReadClock(link, clock));
        EXPECT_EQ(spooler.Device().clock[0], clock[0]);
        link.Close();
    }
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(LinkAgainstEmulator, DrainOnASilentPrinterGivesUpAfterTheEmptyReadBudget) {
    ASSERT_TRUE(link.Open("PV-730"));
    EXPECT_TRUE(link.Drain());
    // 200 empty reads with 199 waits of 100 ms between them: about 20 seconds.
    EXPECT_EQ(std::vector<uint32_t>(199, 100), host.sleeps);
    EXPECT_EQ(200u, spooler.Stats().rawReads);
}

}  // namespace
}  // namespace trawler
