// Package redaction and its key: placeholders stable and distinct, every chunk but the three
// texts kept byte for byte, hostile texts, and refusals that leave nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "output/log_container.h"
#include "output/package.h"
#include "output/package_reader.h"
#include "output/package_redact.h"
#include "output/redaction.h"
#include "support/recording_host.h"
#include "unit/output_test_support.h"
#include "unit/redact_test_support.h"

namespace trawler {
namespace {

using testing::Bytes;
using testing::ChunkReader;
using testing::RecordingHost;
using testing::ScratchFolder;
using testing::ToBytes;
using testing::WriteAll;

std::string Text(const Bytes& chunk) {
    std::string text(chunk.begin(), chunk.end());
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

class RedactTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_scratch.Ok());
        const std::string keyFile = m_scratch.Path("k");
        WriteAll(keyFile, ToBytes(std::string(64, 'a') + "\n"));
        std::string error;
        ASSERT_TRUE(m_key.Load(keyFile, &error)) << error;
    }

    // A printer run's package with these texts and a log that is not a multiple of 4.
    std::string MakePackage(const std::string& name, const std::string& customer,
                            const std::string& comment, const std::string& servicePack) {
        const std::string path = m_scratch.Path(name);
        m_host.version.servicePack = servicePack;
        LogContainer container(m_host);
        EXPECT_TRUE(container.Create(path + ".c"));
        EXPECT_TRUE(WriteCommentToLog(container, m_host, customer, comment));
        container.WriteChunk("Date", 8, "\x20\x06\x11\x30\x17\x45\x00\x04");
        container.WriteChunk("LOGV", 4, "\x00\x01\x02\x03");
        container.WriteChunkHeader("LOGD", 0);
        for (int i = 0; i < 70001; ++i) container.AppendByte(static_cast<uint8_t>(i * 31));
        for (int i = 0; i < 3; ++i) container.AppendByte(0);
        container.SetChunkLength("LOGD", 70004);
        EXPECT_TRUE(container.WriteEnd());
        EXPECT_TRUE(container.Close());
        EXPECT_EQ(MakeZlg(m_host, path + ".c", path), kPackageOk);
        return path;
    }

    ScratchFolder m_scratch;
    RecordingHost m_host;
    RedactionKey m_key;
};

TEST_F(RedactTest, PlaceholdersAreStableUnderOneKeyAndDistinctForDistinctTexts) {
    std::vector<std::string> texts = {"",
                                      "ACME",
                                      "acme",
                                      "ACME ",
                                      std::string(1, '\0'),
                                      std::string(100000, 'x'),
                                      "\x82\xA0\x82"};
    for (int i = 0; i < 2000; ++i) texts.push_back("customer " + std::to_string(i));
    // The same key read again, as another run would, and written and read back.
    RedactionKey again, written, other;
    std::string error;
    ASSERT_TRUE(again.Load(m_scratch.Path("k"), &error));
    ASSERT_TRUE(m_key.WriteNew(m_scratch.Path("copy"), &error)) << error;
    ASSERT_TRUE(written.Load(m_scratch.Path("copy"), &error)) << error;
    ASSERT_TRUE(other.Generate(&error));
    std::set<std::string> seen;
    size_t sameUnderOther = 0;
    for (const std::string& text : texts) {
        const std::string digest = m_key.Digest(text);
        EXPECT_TRUE(std::regex_match(digest, std::regex("[0-9a-f]{12}"))) << digest;
        EXPECT_EQ(again.Digest(text), digest);
        EXPECT_EQ(written.Digest(text), digest);
        sameUnderOther += other.Digest(text) == digest;
        seen.insert(digest);
    }
    EXPECT_EQ(seen.size(), texts.size());
    EXPECT_EQ(m_key.Digest("ACME"), "1b603529792e");  // as an independent HMAC-SHA-256 has it
    EXPECT_EQ(sameUnderOther, 0u);
    // A second try at an existing key file must not replace it.
    EXPECT_FALSE(other.WriteNew(m_scratch.Path("copy"), &error));
    ASSERT_TRUE(written.Load(m_scratch.Path("copy"), &error));
    EXPECT_EQ(written.Digest("ACME"), m_key.Digest("ACME"));
}

TEST_F(RedactTest, AKeyFileIsSixtyFourHexDigitsAndNothingElse) {
    struct Case {
        std::string content;
        bool ok;
    };
    const Case cases[] = {
        {std::string(64, 'F'), true},
        {std::string(64, '0') + "\r\n", true},
        {std::string(63, '0'), false},
        {std::string(65, '0'), false},
        {std::string(64, '0') + "\n\n", false},
        {std::string(63, '0') + "g", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        WriteAll(m_scratch.Path("case"), ToBytes(c.content));
        RedactionKey key;
        std::string error;
        EXPECT_EQ(key.Load(m_scratch.Path("case"), &error), c.ok) << error;
    }
    RedactionKey key;
    std::string error;
    EXPECT_FALSE(key.Load(m_scratch.Path("missing"), &error));
    EXPECT_NE(error.find("cannot read the key"), std::string::npos);
}

// Every chunk but the three texts is the same, in the same order; the texts are placeholders of
// the key's digests, ASCII, and the PC line keeps its layout.
TEST_F(RedactTest, ARedactedPackageDiffersFromTheOriginalOnlyInItsTextChunks) {
    struct Case {
        const char* name;
        std::string customer, comment, servicePack;
    };
    const Case cases[] = {
        {"plain", "Hotel Aurora", "fuser noise", "Service Pack 2"},
        {"very long", std::string(300000, 'C'), std::string(70001, 'c'), std::string(127, 'S')},
        {"cp932 with a lead byte at the end", "\x83\x7A\x83\x65\x83\x8B\x82",
         "\x8E\x86\x8B\x6C\x82\xDC\x82\xE8\x81", "\x82\xA0)"},
        {"control characters", "Evil\tName\nInc\x1B[31m\r", std::string("a\0b", 3),
         "), PlatformID=7, (x"},
        {"no customer and no comment", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string original = MakePackage("in.zlg", c.customer, c.comment, c.servicePack);
        const std::string redacted = m_scratch.Path("out.zlg");
        PlaceholderBook book(m_key);
        std::string error;
        ASSERT_EQ(RedactPackage(m_host, original, redacted, book, &error), RedactOutcome::kWritten)
            << error;
        ChunkReader before, after;
        PackageReport a, b;
        ASSERT_TRUE(ReadPackage(original, &a, &before));
        ASSERT_TRUE(ReadPackage(redacted, &b, &after)) << b.error.message;
        // A warning about a text goes with the text; every other stays.
        std::vector<std::string> kept;
        for (const std::string& w : a.warnings) {
            if (w.rfind("text chunk", 0) != 0) kept.push_back(w);
        }
        EXPECT_EQ(b.warnings, kept);
        EXPECT_EQ(after.header, before.header);
        ASSERT_EQ(after.chunks.size(), before.chunks.size());
        for (size_t i = 0; i < before.chunks.size(); ++i) {
            const std::string& tag = before.chunks[i].first;
            SCOPED_TRACE(tag);
            ASSERT_EQ(after.chunks[i].first, tag);
            const std::string was = Text(before.chunks[i].second);
            const std::string now = Text(after.chunks[i].second);
            if (tag == "Comm") {
                EXPECT_EQ(now, "customer-" + m_key.Digest(was));
            } else if (tag == "Cust") {
                EXPECT_EQ(now, "comment-" + m_key.Digest(was));
            } else if (tag == "PCDT") {
                EXPECT_EQ(now, "Windows Version=5.1, Build Number=2600, (pc-" + m_key.Digest(was) +
                                   "), PlatformID=2");
            } else {
                EXPECT_EQ(after.chunks[i].second, before.chunks[i].second);
            }
        }
        EXPECT_EQ(b.customer.empty(), c.customer.empty());
        EXPECT_EQ(b.comment.empty(), c.comment.empty());
        std::remove(original.c_str());
        std::remove(redacted.c_str());
    }
}

TEST_F(RedactTest, APcLineOutsideItsLayoutBecomesOnePlaceholder) {
    const std::string lines[] = {
        "Linux box of Mr. Tanaka",
        "Windows Version=5.1, Build Number=x, (Service Pack 2), PlatformID=2",
        "Windows Version=5.1, Build Number=2600, (Service Pack 2)",
        "Windows Version=5.1, Build Number=2600, (Service Pack 2), PlatformID=",
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        PlaceholderBook book(m_key);
        std::string redacted, error;
        ASSERT_TRUE(RedactPcLine(book, line, line, &redacted, &error));
        EXPECT_EQ(redacted, "pc-" + m_key.Digest(line));
    }
}

}  // namespace
}  // namespace trawler
