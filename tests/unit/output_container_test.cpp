// LogContainer: header and chunk bytes, padding, the append buffer, FindChunk and the patch.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "output/log_container.h"
#include "output_test_support.h"
#include "support/recording_host.h"

namespace trawler {
namespace {

using testing::Bytes;
using testing::ReadAll;
using testing::RecordingHost;
using testing::ScratchFolder;
using testing::ToBytes;

// "PV730LO1", value 0, the time digits of 30 November 2006 17:45, twelve zero bytes.
Bytes ExpectedHeader() {
    Bytes header = ToBytes("PV730LO1");
    header.insert(header.end(), {0, 0, 0, 0});
    Bytes digits = ToBytes("200611301745");
    header.insert(header.end(), digits.begin(), digits.end());
    header.insert(header.end(), 12, 0);
    return header;
}

const Bytes kEndf = {'E', 'N', 'D', 'F', 0, 0, 0, 0};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class ContainerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_scratch.Ok()); }
    ScratchFolder m_scratch;
    RecordingHost m_host;
    std::string m_path = m_scratch.Path("c.zlg.tmp");
};

TEST_F(ContainerTest, EmptyContainerIsHeaderAndTerminatorAndReplacesAnOldFile) {
    testing::WriteAll(m_path, Bytes(500, 0xAA));
    LogContainer container(m_host);
    ASSERT_TRUE(container.Create(m_path));
    EXPECT_TRUE(container.IsOpen());
    ASSERT_TRUE(container.WriteEnd());
    ASSERT_TRUE(container.Close());
    EXPECT_FALSE(container.IsOpen());
    Bytes file = ReadAll(m_path);
    EXPECT_EQ(file.size(), 44u);
    EXPECT_EQ(file, Concat({ExpectedHeader(), kEndf}));
    EXPECT_TRUE(m_host.messages.empty());
}

TEST_F(ContainerTest, WriteChunkPadsToFourBytes) {
    struct Case {
        const char* name;
        const char* tag;
        std::string content;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {"empty", "PCDT", "", {'P', 'C', 'D', 'T', 0, 0, 0, 0}},
        {"abc", "Comm", "abc", {0x43, 0x6F, 0x6D, 0x6D, 0, 0, 0, 4, 0x61, 0x62, 0x63, 0}},
        {"five",
         "Cust",
         "12345",
         {'C', 'u', 's', 't', 0, 0, 0, 8, '1', '2', '3', '4', '5', 0, 0, 0}},
        {"eight",
         "Cust",
         "12345678",
         {'C', 'u', 's', 't', 0, 0, 0, 8, '1', '2', '3', '4', '5', '6', '7', '8'}},
        {"four", "Comm", "wxyz", {'C', 'o', 'm', 'm', 0, 0, 0, 4, 'w', 'x', 'y', 'z'}},
        {"high bytes",
         "B001",
         "\x80\x01\xFF",
         {'B', '0', '0', '1', 0, 0, 0, 4, 0x80, 0x01, 0xFF, 0}},
        // An EEPROM record of odd length (N = 5, 21 bytes) is recorded as 24 and followed by
        // three zero bytes; the record itself is stored as received.
        {"EEPROM record N = 5",
         "B001",
         std::string("\x00\x00\x80\x01"      // block ID 0x8001
                     "\x00\x01\x00\x02"      // second field
                     "\x00\x00\x00\x05"      // N = 5
                     "\x11\x22\x33\x44\x55"  // data
                     "\x66\x22\x33\x44",     // checksum 0x11223344 + 0x55000000
                     21),
         {'B',  '0',  '0',  '1',  0,    0,    0,    24,          // tag, recorded length
          0x00, 0x00, 0x80, 0x01, 0x00, 0x01, 0x00, 0x02,        // block ID, second field
          0x00, 0x00, 0x00, 0x05, 0x11, 0x22, 0x33, 0x44, 0x55,  // N, data
          0x66, 0x22, 0x33, 0x44,                                // checksum
          0,    0,    0}},                                       // padding
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogContainer container(m_host);
        ASSERT_TRUE(container.Create(m_path));
        ASSERT_TRUE(
            container.WriteChunk(c.tag, static_cast<uint32_t>(c.content.size()), c.content.data()));
        ASSERT_TRUE(container.Close());
        EXPECT_EQ(ReadAll(m_path), Concat({ExpectedHeader(), c.expected}));
    }
}

TEST_F(ContainerTest, AppendedBytesReachTheFileInBlocksOf8192) {
    LogContainer container(m_host);
    ASSERT_TRUE(container.Create(m_path));
    ASSERT_TRUE(container.WriteChunkHeader("LOGD", 0));
    const int total = 3 * 8192 + 100;
    std::vector<int> growth;  // append counts after which the file on disk grew
    uintmax_t size = std::filesystem::file_size(m_path);
    for (int i = 1; i <= total; ++i) {
        ASSERT_TRUE(container.AppendByte(static_cast<uint8_t>(i)));
        uintmax_t now = std::filesystem::file_size(m_path);
        if (now != size) growth.push_back(i);
        size = now;
    }
    EXPECT_EQ(growth, (std::vector<int>{8192, 2 * 8192, 3 * 8192}));
    // The 100 bytes still in the buffer reach the file at Close.
    ASSERT_TRUE(container.Close());
    Bytes file = ReadAll(m_path);
    ASSERT_EQ(file.size(), 44u + total);
    for (int i = 1; i <= total; ++i) {
        ASSERT_EQ(file[43 + i], static_cast<uint8_t>(i)) << "appended byte " << i;
    }
}

TEST_F(ContainerTest, SetChunkLengthPatchesTheLogHeaderAndReturnsToTheEnd) {
    LogContainer container(m_host);
    ASSERT_TRUE(container.Create(m_path));
    ASSERT_TRUE(container.WriteChunk("PCDT", 5, "hello"));
    ASSERT_TRUE(container.WriteChunk("LOGV", 4, "\x01\x02\x03\x04"));
    ASSERT_TRUE(container.WriteChunkHeader("LOGD", 0));
    for (uint8_t b = 1; b <= 10; ++b) ASSERT_TRUE(container.AppendByte(b));
    ASSERT_TRUE(container.AppendByte(0));
    ASSERT_TRUE(container.AppendByte(0));
    ASSERT_TRUE(container.SetChunkLength("LOGD", 12));
    ASSERT_TRUE(container.WriteEnd());
    ASSERT_TRUE(container.Close());
    Bytes expected = Concat({ExpectedHeader(),
                             {'P', 'C', 'D', 'T', 0, 0, 0, 8, 'h', 'e', 'l', 'l', 'o', 0, 0, 0},
                             {'L', 'O', 'G', 'V', 0, 0, 0, 4, 1, 2, 3, 4},
                             {'L', 'O', 'G', 'D', 0, 0, 0, 12, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 0},
                             kEndf});
    EXPECT_EQ(ReadAll(m_path), expected);
    EXPECT_TRUE(m_host.messages.empty());
}

TEST_F(ContainerTest, FindChunkIsSilentAtTheTerminatorAndReportsTheEndOfTheFile) {
    m_host.lastError = 38;
    m_host.lastErrorText = "Reached the end of the file.";
    LogContainer container(m_host);
    ASSERT_TRUE(container.Create(m_path));
    ASSERT_TRUE(container.WriteChunk("Cust", 3, "abc"));
    ASSERT_TRUE(container.WriteChunk("PCDT", 9, "123456789"));
    uint32_t length = 0;
    EXPECT_TRUE(container.FindChunk("PCDT", &length));
    EXPECT_EQ(length, 12u);

    // No terminator yet: the walk runs into the end of the file.
    EXPECT_FALSE(container.FindChunk("LOGD", &length));
    EXPECT_EQ(m_host.messages, (std::vector<std::string>{"Reached the end of the file."}));

    m_host.messages.clear();
    ASSERT_TRUE(container.SetChunkLength("PCDT", 12));  // back at the end
    ASSERT_TRUE(container.WriteEnd());
    EXPECT_FALSE(container.FindChunk("LOGD", &length));
    EXPECT_TRUE(m_host.messages.empty());
    ASSERT_TRUE(container.Close());
}

TEST_F(ContainerTest, FailedPatchStillLeavesThePositionAtTheEnd) {
    LogContainer container(m_host);
    ASSERT_TRUE(container.Create(m_path));
    EXPECT_FALSE(container.Damaged());
    ASSERT_TRUE(container.WriteChunk("Cust", 3, "abc"));
    ASSERT_TRUE(container.WriteEnd());
    EXPECT_FALSE(container.SetChunkLength("LOGD", 12));  // not there: the walk meets ENDF
    ASSERT_TRUE(container.WriteChunk("Comm", 1, "x"));
    // Later writes succeed, but the failed patch marks the file for good (until the next Open):
    // the run asks this once at its end instead of threading every result.
    EXPECT_TRUE(container.Damaged());
    ASSERT_TRUE(container.Close());
    EXPECT_TRUE(container.Damaged());
    Bytes expected = Concat({ExpectedHeader(),
                             {'C', 'u', 's', 't', 0, 0, 0, 4, 'a', 'b', 'c', 0},
                             kEndf,
                             {'C', 'o', 'm', 'm', 0, 0, 0, 4, 'x', 0, 0, 0}});
    EXPECT_EQ(ReadAll(m_path), expected);
    // The next run's container starts whole.
    ASSERT_TRUE(container.Create(m_scratch.Path("next.tmp")));
    EXPECT_FALSE(container.Damaged());
}

TEST_F(ContainerTest, ChunkHeaderWritesWaitingAppendedBytesFirst) {
    LogContainer container(m_host);
    ASSERT_TRUE(container.Create(m_path));
    ASSERT_TRUE(container.WriteChunkHeader("LOGD", 4));
    for (uint8_t b = 1; b <= 4; ++b) ASSERT_TRUE(container.AppendByte(b));
    ASSERT_TRUE(container.WriteEnd());  // no SetChunkLength: the bytes must still come first
    ASSERT_TRUE(container.Close());
    EXPECT_EQ(ReadAll(m_path),
              Concat({ExpectedHeader(), {'L', 'O', 'G', 'D', 0, 0, 0, 4, 1, 2, 3, 4}, kEndf}));
}

TEST_F(ContainerTest, NothingIsWrittenWithoutAnOpenFile) {
    LogContainer container(m_host);
    uint32_t length = 7;
    EXPECT_FALSE(container.WriteFileHeader(0));
    EXPECT_FALSE(container.WriteChunkHeader("LOGD", 0));
    EXPECT_FALSE(container.WriteBytes(3, "abc"));
    EXPECT_FALSE(container.WriteChunk("Cust", 3, "abc"));
    EXPECT_FALSE(container.AppendByte(1));
    EXPECT_FALSE(container.FlushAppended());
    EXPECT_FALSE(container.FindChunk("Cust", &length));
    EXPECT_FALSE(container.SetChunkLength("LOGD", 4));
    EXPECT_FALSE(container.WriteEnd());
    EXPECT_FALSE(container.Close());
    EXPECT_EQ(length, 7u);
    EXPECT_TRUE(m_host.messages.empty());
}

TEST_F(ContainerTest, CreateInAMissingFolderShowsTheSystemText) {
    m_host.lastError = 3;
    m_host.lastErrorText = "The system cannot find the path specified.";
    LogContainer container(m_host);
    EXPECT_FALSE(container.Create(m_scratch.Path("missing/c.zlg.tmp")));
    EXPECT_FALSE(container.IsOpen());
    EXPECT_EQ(m_host.messages, (std::vector<std::string>{m_host.lastErrorText}));
}

TEST_F(ContainerTest, OpenOnAnOpenContainerFinishesTheFirstFile) {
    std::string second = m_scratch.Path("second.tmp");
    LogContainer container(m_host);
    ASSERT_TRUE(container.Create(m_path));
    ASSERT_TRUE(container.WriteChunkHeader("LOGD", 0));
    ASSERT_TRUE(container.AppendByte(9));
    ASSERT_TRUE(container.Create(second));
    ASSERT_TRUE(container.WriteEnd());
    ASSERT_TRUE(container.Close());
    EXPECT_EQ(ReadAll(m_path), Concat({ExpectedHeader(), {'L', 'O', 'G', 'D', 0, 0, 0, 0, 9}}));
    EXPECT_EQ(ReadAll(second), Concat({ExpectedHeader(), kEndf}));
}

// A full disk: the buffered stream fails on its first real write and at the close.
TEST_F(ContainerTest, FullDiskFailsAppendsAndCloseWithoutOverrunningTheBuffer) {
    if (!testing::Exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    m_host.lastError = 28;
    m_host.lastErrorText = "No space left on device";
    LogContainer container(m_host);
    ASSERT_TRUE(container.Open("/dev/full"));
    ASSERT_TRUE(container.WriteChunkHeader("LOGD", 0));
    for (int i = 1; i < 8192; ++i) ASSERT_TRUE(container.AppendByte(1));
    EXPECT_FALSE(container.AppendByte(1));  // the 8192nd: the block write fails
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(container.AppendByte(2));
    EXPECT_FALSE(container.Close());
    EXPECT_FALSE(container.IsOpen());
    ASSERT_FALSE(m_host.messages.empty());
    EXPECT_EQ(m_host.messages.front(), "No space left on device");

    // Small writes sit in the stream's buffer; only the close can tell that they were lost.
    m_host.messages.clear();
    ASSERT_TRUE(container.Open("/dev/full"));
    ASSERT_TRUE(container.WriteChunk("Cust", 3, "abc"));
    EXPECT_FALSE(container.Close());
    EXPECT_EQ(m_host.messages, (std::vector<std::string>{"No space left on device"}));
}

}  // namespace
}  // namespace trawler
