// The package reader, inspect and extract: a full package read back, and damage of every kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <zlib.h>

#include "output/ansi_text.h"
#include "output/log_container.h"
#include "output/package.h"
#include "output/package_extract.h"
#include "output/package_reader.h"
#include "output/package_report.h"
#include "pv730/protocol.h"
#include "output_test_support.h"
#include "support/recording_host.h"

#include "cli/diff_command.h"
#include "cli/inspect_command.h"

#if defined(__linux__)
// Stands in front of the C runtime's file calls of this executable; off until armed.
#include "support/disk_fault_injector.h"
#endif

namespace trawler {
namespace {

using testing::Bytes;
using testing::CommandResult;
using testing::Exists;
using testing::ReadAll;
using testing::RecordingHost;
using testing::RunCommand;
using testing::ScratchFolder;
using testing::ToBytes;
using testing::WriteAll;

void PutBe32(Bytes* out, uint32_t v) {
    out->insert(out->end(), {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                             static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}

void SetBe32(Bytes* out, size_t at, uint32_t v) {
    (*out)[at] = static_cast<uint8_t>(v >> 24);
    (*out)[at + 1] = static_cast<uint8_t>(v >> 16);
    (*out)[at + 2] = static_cast<uint8_t>(v >> 8);
    (*out)[at + 3] = static_cast<uint8_t>(v);
}

// Block ID, second field, N, data, checksum: an EEPROM answer record with a correct sum.
Bytes Record(uint32_t id, const Bytes& data) {
    Bytes record;
    PutBe32(&record, id);
    PutBe32(&record, 0x00010002);
    PutBe32(&record, static_cast<uint32_t>(data.size()));
    record.insert(record.end(), data.begin(), data.end());
    uint32_t sum = 0;
    for (size_t i = 0; i < data.size(); i += 4) {
        uint32_t group = 0;
        for (size_t j = 0; j < 4; ++j) group = group << 8 | (i + j < data.size() ? data[i + j] : 0);
        sum += group;
    }
    PutBe32(&record, sum);
    return record;
}

size_t FindTag(const Bytes& container, const char* tag) {
    size_t p = 36;
    while (p + 8 <= container.size()) {
        if (std::string(container.begin() + p, container.begin() + p + 4) == tag) return p;
        p += 8 + ((size_t{container[p + 4]} << 24) | (size_t{container[p + 5]} << 16) |
                  (size_t{container[p + 6]} << 8) | container[p + 7]);
    }
    ADD_FAILURE() << "no chunk " << tag;
    return 0;
}

// Every entry under folder, hidden ones and those in subfolders included, sorted.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        names.push_back(entry.path().lexically_relative(folder).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The pieces between separators: n separators make n + 1 pieces.
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces(1);
    for (char c : text) {
        if (c == separator) {
            pieces.emplace_back();
        } else {
            pieces.back().push_back(c);
        }
    }
    return pieces;
}

// The lines of an output whose every line ends in '\n'; an unfinished last line fails.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines = Split(text, '\n');
    EXPECT_EQ(lines.back(), "") << "the last line is unfinished";
    lines.pop_back();
    return lines;
}

std::string In(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

#if defined(__linux__)
// The digest as the system's own tool computes it, apart from the product's code.
std::string Sha256Sum(const std::string& path) {
    std::string command = "sha256sum < '" + path + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "popen failed";
    char digest[65] = {};
    size_t got = std::fread(digest, 1, 64, pipe);
    pclose(pipe);
    return std::string(digest, got);
}
#endif

class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_scratch.Ok());
        m_container = BuildContainer(true);
        m_package = Package(m_container, "good.zlg");
    }

    // A printer package's container as a run writes it.
    // unitDataSize is N of block 0x8013, whose data bytes 28..31 (when it has them) hold 1234.
    Bytes BuildContainer(bool printer, const std::string& customer = "ACME",
                         const std::string& comment = "paper jam", size_t unitDataSize = 32) {
        std::string path = m_scratch.Path("build.tmp");
        LogContainer container(m_host);
        EXPECT_TRUE(container.Create(path));
        EXPECT_TRUE(WriteCommentToLog(container, m_host, customer, comment));
        if (printer) {
            container.WriteChunk("Date", 8, "\x20\x06\x11\x30\x17\x45\x00\x04");
            const uint8_t vers[16] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0};
            container.WriteChunk("Vers", 16, vers);
            const uint32_t ids[] = {0x8001, 0x8002, 0x8003, 0x8004, 0x8005,
                                    0x8006, 0x8010, 0x8011, 0x8012, 0x8013};
            for (uint32_t id : ids) {
                Bytes data;
                size_t n = id == 0x8001 ? 5 : id == 0x8013 ? unitDataSize : 32;  // B001 is padded
                for (size_t i = 0; i < n; ++i) data.push_back(static_cast<uint8_t>(id + i * 7));
                if (id == 0x8013 && n >= 32) {  // record bytes 40..43: unit number 1234
                    data[28] = 0;
                    data[29] = 0;
                    data[30] = 0x04;
                    data[31] = 0xD2;
                }
                Bytes record = Record(id, data);
                char tag[5];
                std::snprintf(tag, sizeof tag, "B%03X", static_cast<unsigned>(id & 0xFFF));
                container.WriteChunk(tag, static_cast<uint32_t>(record.size()), record.data());
            }
            container.WriteChunk("LOGV", 4, "\x00\x01\x02\x03");
            container.WriteChunkHeader("LOGD", 0);
            for (int i = 0; i < 1009; ++i) container.AppendByte(static_cast<uint8_t>(i * 13));
            for (int i = 0; i < 3; ++i) container.AppendByte(0);
            container.SetChunkLength("LOGD", 1012);
        }
        EXPECT_TRUE(container.WriteEnd());
        EXPECT_TRUE(container.Close());
        return ReadAll(path);
    }

    // Packs container bytes with the real writer.
    std::string Package(const Bytes& container, const std::string& name) {
        return PackageAt(container, m_scratch.Path(name));
    }

    std::string PackageAt(const Bytes& container, const std::string& path) {
        WriteAll(path + ".tmp", container);
        EXPECT_EQ(MakeZlg(m_host, path + ".tmp", path), kPackageOk);
        return path;
    }

    // The packages of a batch: in folder, two valid ones (one in a subfolder) and two damaged;
    // beside it a folder without packages and a path to nothing.
    struct BatchFiles {
        std::string folder, good, badSum, badCrc, demo, empty, missing;
    };

    BatchFiles MakeBatchFiles() {
        BatchFiles f;
        f.folder = m_scratch.Path("batch");
        std::filesystem::create_directories(In(f.folder, "later"));
        f.good = PackageAt(m_container, In(f.folder, "a-good.zlg"));
        Bytes checksum = m_container;
        checksum[FindTag(checksum, "B005") + 20] ^= 1;
        f.badSum = PackageAt(checksum, In(f.folder, "b-checksum.zlg"));
        Bytes crc = ReadAll(m_package);
        crc[crc.size() - 8] ^= 1;
        f.badCrc = In(f.folder, "c-crc.zlg");
        WriteAll(f.badCrc, crc);
        f.demo = PackageAt(BuildContainer(false, "", ""), In(In(f.folder, "later"), "demo.zlg"));
        f.empty = m_scratch.Path("empty");
        std::filesystem::create_directory(f.empty);
        f.missing = m_scratch.Path("missing.zlg");
        return f;
    }

    // Every field of each file's batch line but the SHA-256, whose value another test checks;
    // "damaged" and "unreadable" lines carry the reader's message and kind.
    static std::map<std::string, std::vector<std::string>> ExpectedLineFields(const BatchFiles& f) {
        std::map<std::string, std::vector<std::string>> expected = {
            {f.good,
             {f.good, "valid", "1234", "1.2.3.4", "2006-11-30 17:45", "\"ACME\"", "\"paper jam\"",
              "1012"}},
            {f.demo, {f.demo, "valid", "-", "-", "2006-11-30 17:45", "-", "-", "-"}},
        };
        const std::pair<std::string, std::string> problems[] = {
            {f.badSum, "damaged: eeprom-checksum"},
            {f.badCrc, "damaged: crc-mismatch"},
            {f.missing, "unreadable: open-failed"}};
        for (const auto& [path, verdict] : problems) {
            PackageReport r;
            ReadPackage(path, &r);
            std::string word = verdict.substr(0, verdict.find(' ') + 1);
            std::string kind = verdict.substr(verdict.find(' ') + 1);
            expected[path] = {
                path, word + r.error.message + " [" + kind + "]", "-", "-", "-", "-", "-", "-"};
        }
        return expected;
    }

    ScratchFolder m_scratch;
    RecordingHost m_host;
    Bytes m_container;
    std::string m_package;
};

TEST_F(ReaderTest, FullPackageReadsBack) {
    PackageReport r;
    ASSERT_TRUE(ReadPackage(m_package, &r)) << r.error.message;
    EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
    EXPECT_EQ(r.containerSize, m_container.size());
    EXPECT_EQ(r.packageSize, ReadAll(m_package).size());
    EXPECT_EQ(r.gzipOs, 11);
    EXPECT_EQ(r.created, "200611301745");
    std::vector<std::string> tags;
    for (const ChunkEntry& c : r.chunks) tags.push_back(c.tag);
    EXPECT_EQ(tags, (std::vector<std::string>{"Cust", "Comm", "PCDT", "Date", "Vers", "B001",
                                              "B002", "B003", "B004", "B005", "B006", "B010",
                                              "B011", "B012", "B013", "LOGV", "LOGD", "ENDF"}));
    EXPECT_EQ(r.comment, "paper jam");
    EXPECT_EQ(r.customer, "ACME");
    EXPECT_EQ(r.pcLine, "Windows Version=5.1, Build Number=2600, (Service Pack 2), PlatformID=2");
    ASSERT_TRUE(r.hasUnitNumber);
    EXPECT_EQ(r.unitNumber, 1234u);
    EXPECT_EQ(r.version, (std::array<uint32_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(r.clock, (std::array<uint8_t, 8>{0x20, 0x06, 0x11, 0x30, 0x17, 0x45, 0x00, 0x04}));
    EXPECT_EQ(r.logInfo, (std::array<uint8_t, 4>{0, 1, 2, 3}));
    EXPECT_EQ(r.logLength, 1012u);
    ASSERT_EQ(r.eeprom.size(), 10u);
    EXPECT_EQ(r.eeprom[0].dataSize, 5u);
    EXPECT_EQ(r.eeprom[9].blockId, 0x8013u);

    std::string text = FormatReportText(r, m_package);
    EXPECT_NE(text.find("Unit number 1234\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Customer    \"ACME\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Comment     \"paper jam\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Firmware    1.2.3.4\n"), std::string::npos) << text;

    CommandResult result = RunCommand(RunInspect, {m_package, "--json"});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.err, "");
    nlohmann::json j = nlohmann::json::parse(result.out);
    EXPECT_EQ(j["format"], 1);
    EXPECT_EQ(j["valid"], true);
    EXPECT_TRUE(j["error"].is_null());
    EXPECT_EQ(j["unit_number"], 1234);
    EXPECT_EQ(j["firmware_version"], nlohmann::json({1, 2, 3, 4}));
    EXPECT_EQ(j["clock"], "2006113017450004");
    EXPECT_EQ(j["log_length"], 1012);
    EXPECT_EQ(j["texts"]["customer"], "ACME");
    EXPECT_EQ(j["texts"]["code_page"], "ascii");
    EXPECT_EQ(j["container"]["chunks"].size(), 18u);
    EXPECT_EQ(j["eeprom"][9]["tag"], "B013");
}

// The reader and the collector share one rule: data bytes 28..31 of block 0x8013 are the unit
// number only when the data holds them (N >= 32); for N = 28..31 record bytes 40..43 reach
// into the checksum and must not be reported.
TEST_F(ReaderTest, UnitNumberOnlyFromDataThatHoldsBytes28To31) {
    for (size_t n = 24; n <= 36; ++n) {
        SCOPED_TRACE("N = " + std::to_string(n));
        Bytes container = BuildContainer(true, "ACME", "paper jam", n);
        std::string path = Package(container, "unit" + std::to_string(n) + ".zlg");
        const bool holds = n >= 32;
        PackageReport r;
        ASSERT_TRUE(ReadPackage(path, &r)) << r.error.message;
        EXPECT_EQ(r.hasUnitNumber, holds);
        if (holds) {
            EXPECT_EQ(r.unitNumber, 1234u);
        }
        EXPECT_EQ(r.warnings.size(), holds ? 0u : 1u);
        std::string text = FormatReportText(r, path);
        EXPECT_EQ(text.find(holds ? "Unit number 1234\n" : "Unit number") != std::string::npos,
                  holds)
            << text;
        nlohmann::json j = nlohmann::json::parse(FormatReportJson(r, path));
        EXPECT_EQ(j["unit_number"], holds ? nlohmann::json(1234) : nlohmann::json(nullptr));

        // The collector's view of the same record: the whole record, and one cut short.
        size_t at = FindTag(container, "B013") + 8;
        const uint8_t* record = container.data() + at;
        uint32_t unit = 7;
        EXPECT_EQ(pv730::UnitNumberFromRecord(record, n + 16, &unit), holds);
        EXPECT_EQ(unit, holds ? 1234u : 7u);
        EXPECT_FALSE(pv730::UnitNumberFromRecord(record, n + 15, &unit));
    }
}

TEST_F(ReaderTest, DemonstrationPackageHasNoPrinterData) {
    std::string path = Package(BuildContainer(false, "", ""), "demo.zlg");
    CommandResult result = RunCommand(RunInspect, {path});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("no printer data"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Customer    (none)"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Warning"), std::string::npos) << result.out;
}

TEST_F(ReaderTest, JapaneseAndWesternTextsAreShownInUtf8) {
    // "テスト株式会社" in code page 932, a comment in half-width katakana ("ｱｲ").
    std::string customer = "\x83\x65\x83\x58\x83\x67\x8A\x94\x8E\xAE\x89\xEF\x8E\xD0";
    std::string path = Package(BuildContainer(false, customer, "\xB1\xB2"), "jp.zlg");
    PackageReport r;
    ASSERT_TRUE(ReadPackage(path, &r));
    std::string json = FormatReportJson(r, path);
    nlohmann::json j = nlohmann::json::parse(json);
    EXPECT_EQ(j["texts"]["code_page"], "cp932");
    EXPECT_EQ(j["texts"]["customer"],
              "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\xE6\xA0\xAA\xE5\xBC"
              "\x8F\xE4\xBC\x9A\xE7\xA4\xBE");
    EXPECT_EQ(j["texts"]["comment"], "\xEF\xBD\xB1\xEF\xBD\xB2");

    path = Package(BuildContainer(false, "M\xFCller", "caf\xE9 \x80"), "de.zlg");
    ASSERT_TRUE(ReadPackage(path, &r));
    j = nlohmann::json::parse(FormatReportJson(r, path));
    EXPECT_EQ(j["texts"]["code_page"], "windows-1252");
    EXPECT_EQ(j["texts"]["customer"], "M\xC3\xBCller");
    EXPECT_EQ(j["texts"]["comment"], "caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(AnsiText, CodePageGuess) {
    struct Case {
        const char* name;
        std::vector<std::string> texts;
        TextCodePage expected;
    };
    const std::vector<Case> cases = {
        {"plain ASCII", {"ACME", "jam"}, TextCodePage::kAscii},
        {"kanji", {"\x93\xFA\x96\x7B"}, TextCodePage::kCp932},
        {"half-width katakana alone is not enough", {"\xB1\xB2"}, TextCodePage::kWindows1252},
        {"katakana with kanji elsewhere", {"\xB1\xB2", "\x93\xFA"}, TextCodePage::kCp932},
        {"lead byte at the end", {"\x93\xFA\x93"}, TextCodePage::kWindows1252},
        {"German umlauts", {"Gr\xFC\xDF"}, TextCodePage::kWindows1252},
        {"one Western text spoils the guess",
         {"\x93\xFA", "\xE9t\xE9"},
         TextCodePage::kWindows1252},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GuessCodePage(c.texts), c.expected);
    }
    // Bytes without a character still give valid UTF-8.
    EXPECT_EQ(AnsiToUtf8("\x85\x40x", TextCodePage::kCp932), "\xEF\xBF\xBDx");
    EXPECT_EQ(AnsiToUtf8("\x81", TextCodePage::kWindows1252), "\xC2\x81");
    EXPECT_EQ(EscapeForTerminal("a\x1B[2Jb\r\n\xC2\x9B"), "a\\x1B[2Jb\\r\\n\\u009B");
}

// The container with count empty unknown chunks ("X000", "X001", ...) inserted before "ENDF".
Bytes WithEmptyChunks(Bytes container, size_t count) {
    Bytes extra;
    for (size_t i = 0; i < count; ++i) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "X%03X", static_cast<unsigned>(i));
        extra.insert(extra.end(), tag, tag + 4);
        PutBe32(&extra, 0);
    }
    container.insert(container.end() - 8, extra.begin(), extra.end());
    return container;
}

struct Damage {
    const char* kind;
    bool inContainer;  // damage the container and pack it again, or the package bytes
    std::function<void(Bytes*)> apply;
};

TEST_F(ReaderTest, EveryKindOfDamageGetsItsOwnMessage) {
    const Bytes c = m_container;
    const std::vector<Damage> cases = {
        {"bad-magic", false, [](Bytes* p) { (*p)[6] = '0'; }},
        {"bad-gzip-header", false, [](Bytes* p) { (*p)[9] = 0x8C; }},
        {"truncated-gzip", false, [](Bytes* p) { p->resize(p->size() / 2); }},
        {"bad-compressed-data", false, [](Bytes* p) { (*p)[18] = 0xFF; }},
        {"crc-mismatch", false, [](Bytes* p) { (*p)[p->size() - 8] ^= 1; }},
        {"length-mismatch", false, [](Bytes* p) { (*p)[p->size() - 4] ^= 1; }},
        {"data-after-gzip", false, [](Bytes* p) { p->push_back(0); }},
        {"bad-container-magic", true, [](Bytes* b) { (*b)[6] = '0'; }},
        {"chunk-past-end", true,
         [](Bytes* b) { SetBe32(b, FindTag(*b, "LOGD") + 4, 0xFFFFFFF0u); }},
        {"missing-endf", true, [](Bytes* b) { b->resize(b->size() - 8); }},
        {"data-after-endf", true, [](Bytes* b) { b->insert(b->end(), 4, 0); }},
        {"eeprom-checksum", true, [](Bytes* b) { (*b)[FindTag(*b, "B005") + 8 + 12] ^= 0x10; }},
        {"eeprom-id-mismatch", true, [](Bytes* b) { SetBe32(b, FindTag(*b, "B004") + 8, 0x8005); }},
        {"eeprom-size-mismatch", true, [](Bytes* b) { SetBe32(b, FindTag(*b, "B002") + 16, 28); }},
        {"oversize-chunk", true, [](Bytes* b) { SetBe32(b, FindTag(*b, "Cust") + 4, 0x7FFFFFFC); }},
        {"duplicate-chunk", true,
         [](Bytes* b) { std::memcpy(b->data() + FindTag(*b, "Comm"), "Cust", 4); }},
        {"bad-tag", true, [](Bytes* b) { (*b)[FindTag(*b, "PCDT")] = '/'; }},
        {"bad-chunk-length", true, [](Bytes* b) { SetBe32(b, FindTag(*b, "Vers") + 4, 12); }},
        {"truncated-container", true, [](Bytes* b) { b->resize(20); }},
        {"eeprom-too-short", true, [](Bytes* b) { SetBe32(b, FindTag(*b, "B001") + 4, 12); }},
        {"too-many-chunks", true,
         [](Bytes* b) { *b = WithEmptyChunks(*b, kMaxChunks + 1 - 18); }},  // 18 with "ENDF"
    };
    std::set<std::string> messages;
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.kind);
        std::string path;
        if (d.inContainer) {
            Bytes damaged = c;
            d.apply(&damaged);
            path = Package(damaged, std::string(d.kind) + ".zlg");
        } else {
            Bytes damaged = ReadAll(m_package);
            d.apply(&damaged);
            path = m_scratch.Path(std::string(d.kind) + ".zlg");
            WriteAll(path, damaged);
        }
        PackageReport r;
        EXPECT_FALSE(ReadPackage(path, &r));
        EXPECT_EQ(r.error.kind, d.kind) << r.error.message;
        messages.insert(r.error.message);

        CommandResult result = RunCommand(RunInspect, {path});
        EXPECT_EQ(result.code, kInspectDamaged);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, path + ": " + r.error.message + " [" + d.kind + "]\n");
        CommandResult json = RunCommand(RunInspect, {"--json", path});
        EXPECT_EQ(json.code, kInspectDamaged);
        nlohmann::json j = nlohmann::json::parse(json.out);
        EXPECT_EQ(j["valid"], false);
        EXPECT_EQ(j["error"]["kind"], d.kind);
    }
    EXPECT_EQ(messages.size(), cases.size());
}

// A package whose container inflates past the 4 GiB limit, made without 4 GiB of input: the
// container header and a "LOGD" chunk claiming 0xFFFFFFFC bytes, then one fully flushed deflate
// segment of 1 MiB of zeros repeated (a full flush makes each segment decode on its own). The
// stream stops there: the limit must be met before any end.
Bytes OversizePackage() {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
    auto deflateFlushed = [&z](const Bytes& in) {
        Bytes out(deflateBound(&z, static_cast<uLong>(in.size())) + 64);
        z.next_in = const_cast<Bytef*>(in.data());
        z.avail_in = static_cast<uInt>(in.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
        EXPECT_EQ(z.avail_in, 0u);
        out.resize(out.size() - z.avail_out);
        return out;
    };
    Bytes head = ToBytes("PV730LO1");
    PutBe32(&head, 0);
    Bytes digits = ToBytes("200611301745");
    head.insert(head.end(), digits.begin(), digits.end());
    head.insert(head.end(), 12, 0);
    Bytes logd = ToBytes("LOGD");
    head.insert(head.end(), logd.begin(), logd.end());
    PutBe32(&head, 0xFFFFFFFCu);
    Bytes package = ToBytes("PV730LZ1");
    package.insert(package.end(), {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0x0B});
    Bytes start = deflateFlushed(head);
    package.insert(package.end(), start.begin(), start.end());
    const Bytes segment = deflateFlushed(Bytes(size_t{1} << 20, 0));
    deflateEnd(&z);
    for (uint64_t inflated = head.size(); inflated <= kMaxContainerBytes;
         inflated += uint64_t{1} << 20) {
        package.insert(package.end(), segment.begin(), segment.end());
    }
    return package;
}

// The reader's limits are damage reported with their kind, never a crash or a valid package;
// a container exactly at the chunk limit is still valid.
TEST_F(ReaderTest, LimitsAreReportedAsDamage) {
    std::string oversize = m_scratch.Path("oversize.zlg");
    WriteAll(oversize, OversizePackage());
    CommandResult result = RunCommand(RunInspect, {oversize, "--json"});
    EXPECT_EQ(result.code, kInspectDamaged);
    nlohmann::json j = nlohmann::json::parse(result.out);
    EXPECT_EQ(j["valid"], false);
    EXPECT_EQ(j["error"]["kind"], "oversize-container");
    EXPECT_EQ(j["error"]["area"], "container");
    EXPECT_EQ(j["error"]["offset"], kMaxContainerBytes);

    // At most kMaxChunks chunks, "ENDF" included: the last one allowed is still valid.
    PackageReport r;
    ASSERT_TRUE(ReadPackage(m_package, &r));
    const size_t atLimit = kMaxChunks - r.chunks.size();
    ASSERT_TRUE(ReadPackage(Package(WithEmptyChunks(m_container, atLimit), "limit.zlg"), &r))
        << r.error.message;
    EXPECT_EQ(r.chunks.size(), kMaxChunks);

#if !defined(_WIN32)
    // A file that opens but cannot be read (the runtime opens a folder for reading) is a read
    // failure, not a short or valid package. inspect walks a folder it is given, so the command
    // is shown one through /proc (it opens, and reading at offset 0 fails).
    std::string folder = m_scratch.Path("folder.zlg");
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(ReadPackage(folder, &r));
    EXPECT_EQ(r.error.kind, "read-failed");
#endif
#if defined(__linux__)
    result = RunCommand(RunInspect, {"/proc/self/mem", "--json"});
    EXPECT_EQ(result.code, kInspectUsage);
    j = nlohmann::json::parse(result.out);
    EXPECT_EQ(j["valid"], false);
    EXPECT_EQ(j["error"]["kind"], "read-failed");
#endif
}

TEST_F(ReaderTest, DamageIsLocatedByOffset) {
    struct Case {
        const char* name;
        std::function<void(Bytes*)> apply;
        std::string area;
        uint64_t offset;
    };
    const size_t b004 = FindTag(m_container, "B004");
    const size_t logd = FindTag(m_container, "LOGD");
    const std::vector<Case> cases = {
        {"ID", [b004](Bytes* b) { SetBe32(b, b004 + 8, 0x8005); }, "container", b004},
        {"past end", [logd](Bytes* b) { SetBe32(b, logd + 4, 0xFFFFFFF0u); }, "container", logd},
        {"after ENDF", [](Bytes* b) { b->insert(b->end(), 4, 0); }, "container",
         m_container.size()},
        {"missing ENDF", [](Bytes* b) { b->resize(b->size() - 8); }, "container",
         m_container.size() - 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes damaged = m_container;
        c.apply(&damaged);
        PackageReport r;
        EXPECT_FALSE(ReadPackage(Package(damaged, "located.zlg"), &r));
        EXPECT_EQ(r.error.area, c.area);
        EXPECT_EQ(r.error.offset, c.offset) << r.error.message;
        std::remove(m_scratch.Path("located.zlg").c_str());
    }
    Bytes package = ReadAll(m_package);
    package.push_back(1);
    WriteAll(m_scratch.Path("extra.zlg"), package);
    PackageReport r;
    EXPECT_FALSE(ReadPackage(m_scratch.Path("extra.zlg"), &r));
    EXPECT_EQ(r.error.area, "package");
    EXPECT_EQ(r.error.offset, package.size() - 1);
}

TEST_F(ReaderTest, UnreadableFilesAndBadArguments) {
    EXPECT_EQ(RunCommand(RunInspect, {m_scratch.Path("none.zlg")}).code, kInspectUsage);
    WriteAll(m_scratch.Path("empty.zlg"), {});
    CommandResult empty = RunCommand(RunInspect, {m_scratch.Path("empty.zlg")});
    EXPECT_EQ(empty.code, kInspectDamaged);
    EXPECT_NE(empty.err.find("[bad-magic]"), std::string::npos);
    EXPECT_EQ(RunCommand(RunInspect, {}).code, kInspectUsage);
    EXPECT_EQ(RunCommand(RunInspect, {"--json"}).code, kInspectUsage);
    EXPECT_EQ(RunCommand(RunInspect, {m_package, "--xml"}).code, kInspectUsage);
    EXPECT_EQ(RunCommand(RunExtract, {m_package}).code, kInspectUsage);
    EXPECT_EQ(RunCommand(RunExtract, {m_package, "--to"}).code, kInspectUsage);
}

struct BatchCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> files;  // in the order they must be reported
    std::string count;
    int code;
    std::string err;
};

// A batch names every package once, in order, with its verdict and, when damaged or unreadable,
// its problem; no package stops the others, and the exit status is that of the worst.
TEST_F(ReaderTest, BatchReportsEveryPackageAndNamesEachDamagedOne) {
    const BatchFiles f = MakeBatchFiles();
    std::map<std::string, std::vector<std::string>> expected = ExpectedLineFields(f);

    const std::vector<BatchCase> cases = {
        {"a folder with damaged packages, walked in name order",
         {f.folder},
         {f.good, f.badSum, f.badCrc, f.demo},
         "4 packages: 2 valid, 2 damaged, 0 unreadable",
         kInspectDamaged,
         ""},
        {"files only, all valid",
         {f.demo, f.good},
         {f.demo, f.good},
         "2 packages: 2 valid, 0 damaged, 0 unreadable",
         kInspectOk,
         ""},
        {"a missing file among them",
         {f.badSum, f.missing, f.good},
         {f.badSum, f.missing, f.good},
         "3 packages: 1 valid, 1 damaged, 1 unreadable",
         kInspectUsage,
         ""},
        {"a folder without packages",
         {f.good, f.empty},
         {f.good},
         "1 package: 1 valid, 0 damaged, 0 unreadable",
         kInspectUsage,
         f.empty + ": no .zlg package in this folder or its subfolders\n"},
        {"a folder of one package still gets the batch form",
         {In(f.folder, "later")},
         {f.demo},
         "1 package: 1 valid, 0 damaged, 0 unreadable",
         kInspectOk,
         ""},
    };
    for (const BatchCase& c : cases) {
        SCOPED_TRACE(c.name);
        CommandResult result = RunCommand(RunInspect, c.args);
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(result.err, c.err);
        std::vector<std::string> lines = Lines(result.out);
        ASSERT_EQ(lines.size(), c.files.size() + 1) << result.out;
        for (size_t i = 0; i < c.files.size(); ++i) {
            std::vector<std::string> fields = Split(lines[i], '\t');
            ASSERT_EQ(fields.size(), 9u) << lines[i];
            PackageReport r;
            ReadPackage(c.files[i], &r);
            EXPECT_EQ(fields.back(), r.sha256.empty() ? "-" : r.sha256);
            fields.pop_back();
            EXPECT_EQ(fields, expected[c.files[i]]);
        }
        EXPECT_EQ(lines.back(), c.count);
    }
}

// A folder means the .zlg files under it, however deep, each folder's entries in byte order of
// their names; other files are passed over whatever they hold, and links to folders are not
// followed (one pointing up the tree would never end).
TEST_F(ReaderTest, FolderIsWalkedRecursivelyForZlgFilesOnly) {
    namespace fs = std::filesystem;
    const std::string tree = m_scratch.Path("tree");
    for (const char* sub : {"sub/deeper", "sub.zlg", "empty"})
        fs::create_directories(In(tree, sub));
    const Bytes package = ReadAll(m_package);
    // Every file holds a valid package, so only its name can keep it out.
    for (const char* name : {"b.zlg", "A.ZLG", "notes.txt", "c.zlg.tmp", "zlg", "sub/a.zlg",
                             "sub/deeper/z.Zlg", "sub/deeper/y.gz", "sub.zlg/inner.zlg"}) {
        WriteAll(In(tree, name), package);
    }
    std::vector<std::string> expected = {In(tree, "A.ZLG"), In(tree, "b.zlg")};
#if !defined(_WIN32)
    fs::create_symlink("b.zlg", In(tree, "link-to-b.zlg"));
    fs::create_directory_symlink(".", In(tree, "loop"));
    fs::create_directory_symlink("sub", In(tree, "m-link-to-sub"));
    expected.push_back(In(tree, "link-to-b.zlg"));
#endif
    for (const char* name : {"sub/a.zlg", "sub/deeper/z.Zlg", "sub.zlg/inner.zlg"}) {
        expected.push_back((fs::path(tree) / fs::path(name).make_preferred()).string());
    }

    CommandResult result = RunCommand(RunInspect, {tree});
    EXPECT_EQ(result.code, kInspectOk) << result.err;
    EXPECT_EQ(result.err, "");
    std::vector<std::string> files;
    for (const std::string& line : Lines(result.out)) files.push_back(Split(line, '\t').front());
    ASSERT_FALSE(files.empty());
    std::string count = files.back();
    files.pop_back();
    EXPECT_EQ(files, expected);
    EXPECT_EQ(count, std::to_string(expected.size()) + " packages: " +
                         std::to_string(expected.size()) + " valid, 0 damaged, 0 unreadable");
}

// With --json every line of standard output is one package's object: the single report of that
// file, whose "sha256" is the digest of the file's bytes, damaged or not.
TEST_F(ReaderTest, JsonLinesAreTheSingleReportsWithEachFilesSha256) {
    const std::string folder = m_scratch.Path("json");
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(m_package, In(folder, "good.zlg"));
    // FIPS 180-2's examples: the empty message, "abc", and a million 'a' (more than one read
    // block of the reader). None is a package; each is still hashed.
    const std::vector<std::pair<std::string, std::string>> known = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
    std::map<std::string, std::string> digests;
    for (size_t i = 0; i < known.size(); ++i) {
        std::string path = In(folder, "known" + std::to_string(i) + ".zlg");
        WriteAll(path, ToBytes(known[i].first));
        digests[path] = known[i].second;
    }
#if defined(__linux__)
    digests[In(folder, "good.zlg")] = Sha256Sum(m_package);
#endif
    const std::string missing = m_scratch.Path("missing.zlg");

    CommandResult result = RunCommand(RunInspect, {"--json", folder, missing});
    EXPECT_EQ(result.code, kInspectUsage);  // the missing file
    std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 5u) << result.out;
    std::set<std::string> seen;
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        nlohmann::json j = nlohmann::json::parse(line);
        const std::string path = j["file"];
        seen.insert(path);
        EXPECT_EQ(j, nlohmann::json::parse(RunCommand(RunInspect, {path, "--json"}).out));
        if (path == missing) {
            EXPECT_TRUE(j["sha256"].is_null());
        } else if (digests.count(path) > 0) {
            EXPECT_EQ(j["sha256"], digests[path]);
        } else {
            EXPECT_TRUE(j["sha256"].is_string());
        }
    }
    EXPECT_EQ(seen.size(), lines.size());
    EXPECT_EQ(Lines(result.err).back(), "5 packages: 1 valid, 3 damaged, 1 unreadable");

    // The full report of one package quotes the same digest.
    std::string text = RunCommand(RunInspect, {m_package}).out;
    PackageReport r;
    ReadPackage(m_package, &r);
    ASSERT_EQ(r.sha256.size(), 64u);
#if defined(__linux__)
    EXPECT_EQ(r.sha256, Sha256Sum(m_package));
#endif
    EXPECT_NE(text.find("\nSHA-256     " + r.sha256 + "\n"), std::string::npos) << text;
}

// Whatever bytes a package's texts, its damage or its file name hold, a batch line stays one
// line of nine fields without a control character, and the JSON line gives the texts back.
TEST_F(ReaderTest, HostileTextsStayOnOneLine) {
    std::string customer = "A";
    for (int c = 1; c < 0x20; ++c) customer.push_back(static_cast<char>(c));
    customer += "\x7F\t|;\"\\,";
    std::string comment;  // every C1 byte: in windows-1252 five of them are C1 controls
    for (int c = 0x80; c < 0xA0; ++c) comment.push_back(static_cast<char>(c));
    const std::string folder = m_scratch.Path("hostile");
    std::filesystem::create_directory(folder);
    std::vector<std::string> paths;  // in name order
#if !defined(_WIN32)
    paths.push_back(PackageAt(m_container, In(folder, "name\n\t\x1B[2J\xC2\x9B.zlg")));
#endif
    const std::string texts =
        PackageAt(BuildContainer(true, customer, comment), In(folder, "texts.zlg"));
    paths.push_back(texts);
    Bytes created = m_container;
    std::memcpy(created.data() + 12,
                "20\n\t\x1B"
                "611301745",
                12);
    paths.push_back(PackageAt(created, In(folder, "zz-created.zlg")));

    CommandResult text = RunCommand(RunInspect, {folder});
    EXPECT_EQ(text.code, kInspectOk) << text.err;
    std::vector<std::string> lines = Lines(text.out);
    ASSERT_EQ(lines.size(), paths.size() + 1) << text.out;
    for (size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(Split(lines[i], '\t').size(), 9u);
        for (size_t k = 0; k < lines[i].size(); ++k) {
            uint8_t c = static_cast<uint8_t>(lines[i][k]);
            bool c1 = c == 0xC2 && k + 1 < lines[i].size() &&
                      (static_cast<uint8_t>(lines[i][k + 1]) & 0xE0) == 0x80;
            EXPECT_FALSE((c < 0x20 && c != '\t') || c == 0x7F || c1) << "byte " << k;
        }
    }

    CommandResult json = RunCommand(RunInspect, {"--json", folder});
    lines = Lines(json.out);
    ASSERT_EQ(lines.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        nlohmann::json j = nlohmann::json::parse(lines[i]);
        EXPECT_EQ(j["file"], paths[i]);
        if (paths[i] == texts) {
            EXPECT_EQ(j["texts"]["customer"], AnsiToUtf8(customer, TextCodePage::kWindows1252));
        }
    }
}

TEST_F(ReaderTest, ExtractWritesTheContainerAndEachChunkWithoutPadding) {
    std::string folder = m_scratch.Path("out");
    CommandResult result = RunCommand(RunExtract, {m_package, "--to", folder});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(ReadAll(folder + "/container.bin"), m_container);
    EXPECT_EQ(ReadAll(folder + "/01_Cust.bin"), ToBytes("paper jam"));
    EXPECT_EQ(ReadAll(folder + "/02_Comm.bin"), ToBytes("ACME"));
    EXPECT_EQ(ReadAll(folder + "/04_Date.bin").size(), 8u);
    Bytes b001 = ReadAll(folder + "/06_B001.bin");
    EXPECT_EQ(b001.size(), 21u);  // N = 5: the record without its 3 padding bytes
    size_t at = FindTag(m_container, "B001") + 8;
    EXPECT_EQ(b001, Bytes(m_container.begin() + at, m_container.begin() + at + 21));
    Bytes log = ReadAll(folder + "/17_LOGD.bin");
    ASSERT_EQ(log.size(), 1012u);  // the log's length is not stored: the whole chunk
    EXPECT_EQ(log[1008], static_cast<uint8_t>(1008 * 13));
    EXPECT_FALSE(Exists(folder + "/18_ENDF.bin"));
    EXPECT_NE(result.out.find(folder + "/17_LOGD.bin\n"), std::string::npos);

    // A second extraction into the same folder replaces nothing.
    CommandResult again = RunCommand(RunExtract, {m_package, "--to", folder});
    EXPECT_EQ(again.code, kInspectDamaged);
    EXPECT_NE(again.err.find("will not replace"), std::string::npos) << again.err;
    EXPECT_EQ(ReadAll(folder + "/container.bin"), m_container);

    // A damaged package writes nothing at all.
    Bytes damaged = m_container;
    damaged[FindTag(damaged, "B005") + 20] ^= 1;
    std::string bad = Package(damaged, "bad.zlg");
    CommandResult refused = RunCommand(RunExtract, {bad, "--to", m_scratch.Path("bad-out")});
    EXPECT_EQ(refused.code, kInspectDamaged);
    EXPECT_FALSE(Exists(m_scratch.Path("bad-out")));
}

// Wherever an extraction stops, nothing it wrote remains: no cut-short container.bin, no chunk
// files, no staging folder, no folder it created; an existing file is left as it was.
TEST_F(ReaderTest, AnExtractionThatStopsPartWayLeavesNothingBehind) {
    struct Case {
        std::string name;
        std::string existing;                          // a file already in the target folder
        std::function<void(const std::string&)> fail;  // arms a failing disk for the folder
    };
    std::vector<Case> cases = {{"a later chunk file exists", "05_Vers.bin", nullptr},
                               {"container.bin exists", "container.bin", nullptr}};
#if defined(__linux__)
    namespace disk = testing::disk;
    std::string measured = m_scratch.Path("measured");
    ASSERT_EQ(RunCommand(RunExtract, {m_package, "--to", measured}).code, kInspectOk);
    uint64_t total = 0;
    for (const std::string& name : Entries(measured))
        total += ReadAll(measured + "/" + name).size();
    for (uint64_t k = 0; k <= 8; ++k) {
        uint64_t budget = k < 8 ? k * total / 8 : total - 1;
        cases.push_back(
            {"disk full after " + std::to_string(budget) + " of " + std::to_string(total) +
                 " bytes",
             "", [budget](const std::string& f) { disk::Arm(disk::Mode::kFull, f, budget); }});
    }
    for (const char* suffix : {"container.bin", "_LOGD.bin"}) {
        cases.push_back(
            {std::string(suffix) + " fails to close", "", [suffix](const std::string& f) {
                 disk::Arm(disk::Mode::kFailAtClose, f, 0, suffix);
             }});
    }
    cases.push_back({"no file can be created", "",
                     [](const std::string& f) { disk::Arm(disk::Mode::kReadOnly, f); }});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch;
        ASSERT_TRUE(scratch.Ok());
        // A folder of its own, two levels of it new unless a file must already be in it.
        std::string folder = scratch.Path("new/out");
        if (!c.existing.empty()) {
            std::filesystem::create_directories(folder);
            WriteAll(folder + "/" + c.existing, ToBytes("earlier"));
        }
        if (c.fail) c.fail(scratch.Folder());
        CommandResult result = RunCommand(RunExtract, {m_package, "--to", folder});
#if defined(__linux__)
        EXPECT_EQ(disk::State().failures > 0, c.fail != nullptr);
        disk::Disarm();
#endif
        EXPECT_EQ(result.code, kInspectDamaged);
        EXPECT_EQ(result.out, "");  // no path is printed for a file that does not remain
        EXPECT_NE(result.err.find("[extract-failed]"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find(".extract-"), std::string::npos)
            << "the message names the target, not the staged copy: " << result.err;
        if (c.existing.empty()) {
            EXPECT_FALSE(Exists(scratch.Path("new")));
        } else {
            EXPECT_EQ(result.err, m_package + ": will not replace the existing file \"" + folder +
                                      "/" + c.existing + "\" [extract-failed]\n");
            EXPECT_EQ(Entries(folder), std::vector<std::string>{c.existing});
            EXPECT_EQ(ReadAll(folder + "/" + c.existing), ToBytes("earlier"));
        }
    }
}

// Every reading command names the argument it does not know, escaped, before its usage.
TEST(CliArguments, AnUnknownArgumentIsNamedBeforeTheUsage) {
    using Command = int (*)(const std::vector<std::string>&, std::FILE*, std::FILE*);
    const struct {
        const char* name;
        Command command;
    } commands[] = {{"inspect", RunInspect}, {"extract", RunExtract}, {"diff", RunDiff}};
    for (const auto& c : commands) {
        SCOPED_TRACE(c.name);
        CommandResult result = RunCommand(c.command, {"a.zlg", "--jsno\x1b[2J"});
        EXPECT_EQ(2, result.code);
        EXPECT_EQ(0u, result.err.find(std::string("trawler-cli ") + c.name +
                                      ": unknown argument \"--jsno\\x1B[2J\"\nusage: "))
            << result.err;
    }
}

}  // namespace
}  // namespace trawler
