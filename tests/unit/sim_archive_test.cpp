// The one-file recording: what the loader refuses, and the names the wizard gives recordings.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <zlib.h>

#include "sim/recording_archive.h"
#include "link/link_settings.h"
#include "sim/run_recorder.h"
#include "unit/output_test_support.h"

namespace trawler {
namespace {

using testing::Bytes;
using testing::ReadAll;
using testing::ScratchFolder;

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file) << path;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// A path as a JSON string's body: Windows paths carry backslashes.
std::string JsonEscaped(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

struct Entry {
    std::string name;
    std::string data;
};

// An archive laid out by hand, entry by entry, so names and lengths can be anything.
Bytes HandMadeArchive(const ScratchFolder& folder, const std::vector<Entry>& entries) {
    Bytes list;
    for (const Entry& e : entries) {
        list.push_back(static_cast<uint8_t>(e.name.size() >> 8));
        list.push_back(static_cast<uint8_t>(e.name.size()));
        list.insert(list.end(), e.name.begin(), e.name.end());
        for (int shift = 56; shift >= 0; shift -= 8) {
            list.push_back(static_cast<uint8_t>(uint64_t{e.data.size()} >> shift));
        }
        list.insert(list.end(), e.data.begin(), e.data.end());
    }
    list.push_back(0);
    list.push_back(0);
    const std::string member = folder.Path("member.gz");
    gzFile gz = gzopen(member.c_str(), "wb");
    gzwrite(gz, list.data(), static_cast<unsigned>(list.size()));
    gzclose(gz);
    Bytes archive = Text(kRecordingArchiveMagic);
    const Bytes body = ReadAll(member);
    archive.insert(archive.end(), body.begin(), body.end());
    return archive;
}

constexpr char kDescription[] = R"({"log": {"file": "case.log_data.bin"}})";

// What loading `bytes` as a recording says; "" when it loads, with the log file's bytes in *log.
std::string LoadError(const ScratchFolder& folder, const Bytes& bytes, Bytes* log = nullptr) {
    const std::string path = folder.Path("try.ztr");
    std::remove(path.c_str());
    WriteBytes(path, bytes);
    UnpackedRecording unpacked;
    std::string error;
    DeviceDescription device = LoadRecordedDevice(path, &unpacked, &error);
    if (error.empty() && log != nullptr) *log = ReadAll(device.log.path);
    return error;
}

TEST(RecordingArchive, WrittenArchivesLoadAndDamagedOnesAreRefused) {
    ScratchFolder folder;
    WriteBytes(folder.Path("case.json"), Text(kDescription));
    Bytes log(3000);
    for (size_t i = 0; i < log.size(); ++i) log[i] = static_cast<uint8_t>(i * 7);
    WriteBytes(folder.Path("case.log_data.bin"), log);
    const std::string path = folder.Path("case.ztr");
    std::string error;
    ASSERT_TRUE(
        WriteRecordingArchive(folder.Path("case.json"), {"case.log_data.bin"}, path, &error))
        << error;
    const Bytes good = ReadAll(path);
    {
        UnpackedRecording unpacked;
        DeviceDescription device = LoadRecordedDevice(path, &unpacked, &error);
        ASSERT_EQ("", error);
        ASSERT_TRUE(device.log.fromFile);
        EXPECT_EQ(log, ReadAll(device.log.path));
    }
    // Every cut and anything after the end is refused; a flipped byte after the magic either
    // is, or it hit bits nothing reads (the gzip header's time, the last byte's padding) and
    // the recording is the same.
    const std::string damaged = "the recording is damaged or cut short";
    for (size_t cut = 8; cut < good.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        ASSERT_EQ(damaged, LoadError(folder, Bytes(good.begin(), good.begin() + cut)));
    }
    size_t refused = 0;
    for (size_t at = 8; at < good.size(); ++at) {
        SCOPED_TRACE("flipped at " + std::to_string(at));
        Bytes flipped = good;
        flipped[at] ^= 0x20;
        Bytes loaded;
        if (LoadError(folder, flipped, &loaded).empty()) {
            ASSERT_EQ(log, loaded);
        } else {
            ++refused;
        }
    }
    EXPECT_GT(refused, good.size() - 8 - 8);
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_EQ(damaged, LoadError(folder, longer));
    // Never over an earlier file, and no partial file left beside it.
    EXPECT_FALSE(WriteRecordingArchive(folder.Path("case.json"), {}, path, &error));
    EXPECT_EQ(path + " already exists", error);
    EXPECT_EQ(good, ReadAll(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
}

TEST(RecordingArchive, EntriesAndFilesOutsideTheRecordingAreRefused) {
    ScratchFolder folder;
    WriteBytes(folder.Path("elsewhere.bin"), Bytes(100, 1));
    const std::string outside = "the recording names a file outside itself: ";
    struct Refusal {
        const char* name;
        std::vector<Entry> entries;
        std::string error;  // "" loads; else the start of the message
    };
    const std::vector<Refusal> cases = {
        {"well made", {{"r.json", kDescription}, {"case.log_data.bin", "LOG"}}, ""},
        {"wrong magic", {}, "not a recording"},
        {"a side file in a folder",
         {{"r.json", kDescription}, {"sub/case.log_data.bin", "LOG"}},
         outside + "\"sub/case.log_data.bin\""},
        {"a side file above",
         {{"r.json", kDescription}, {"..\\case.log_data.bin", "LOG"}},
         outside},
        {"a drive", {{"r.json", kDescription}, {"C:case.log_data.bin", "LOG"}}, outside},
        {"no description first", {{"case.log_data.bin", "LOG"}}, outside},
        {"a name twice",
         {{"r.json", kDescription}, {"case.log_data.bin", "A"}, {"case.log_data.bin", "B"}},
         "the recording holds \"case.log_data.bin\" twice"},
        {"a description reading outside",
         {{"r.json", R"({"log": {"file": "../elsewhere.bin"}})"}},
         outside},
        {"a description reading an absolute path",
         {{"r.json",
           R"({"log": {"file": ")" + JsonEscaped(folder.Path("elsewhere.bin")) + R"("}})"}},
         outside},
        {"nothing at all", {}, "the recording is damaged"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = HandMadeArchive(folder, c.entries);
        if (c.error == "not a recording") bytes[5] = 'X';
        const std::string error = LoadError(folder, bytes);
        if (c.error.empty()) {
            EXPECT_EQ("", error);
        } else {
            EXPECT_EQ(0u, error.find(c.error)) << error;
        }
    }
}

TEST(RunRecorder, RecordingsAreNamedAfterThePackageOrTheFailedRun) {
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 2;
    t.tm_mday = 5;
    t.tm_hour = 9;
    t.tm_min = 7;
    EXPECT_EQ("C:\\logs\\No1234_20240305_0907.ztr",
              RunRecordingPath("C:\\logs", "C:\\logs\\No1234_20240305_0907.zlg", 1234, t, '\\'));
    EXPECT_EQ("C:\\logs\\Failed_No0_20240305_0907.ztr",
              RunRecordingPath("C:\\logs", "", 0, t, '\\'));
    EXPECT_EQ("out/Failed_No77_20240305_0907.ztr", RunRecordingPath("out", "", 77, t, '/'));

    ScratchFolder folder;
    const std::string first = folder.Path("Failed_No0_20240305_0907.ztr");
    EXPECT_EQ(first, FreeRecordingPath(first));
    WriteBytes(first, {});
    EXPECT_EQ(folder.Path("Failed_No0_20240305_0907-2.ztr"), FreeRecordingPath(first));
}

// A recording that cannot be written says so and leaves nothing; the next run records anew.
TEST(RunRecorder, ARecordingThatCannotBeWrittenLeavesNothingAndTheNextOneIsWritten) {
    ScratchFolder folder;
    class Silent : public Spooler {
        bool EnumerateLocal(std::vector<PrinterRecord>*) override { return true; }
        bool OpenPrinterHandle(const std::string&, uint32_t, PrinterHandle*) override {
            return false;
        }
        bool ClosePrinterHandle(PrinterHandle) override { return true; }
        bool StartDocument(PrinterHandle, const std::string&, const std::string&) override {
            return false;
        }
        bool StartPrinterPage(PrinterHandle) override { return false; }
        bool WriteToPrinter(PrinterHandle, const uint8_t*, uint32_t, uint32_t*) override {
            return false;
        }
        bool EndPrinterPage(PrinterHandle) override { return false; }
        bool EndDocument(PrinterHandle) override { return false; }
        uint32_t QueryPrinterData(PrinterHandle, const std::string&, uint32_t*, uint8_t*, uint32_t,
                                  uint32_t*) override {
            return kErrorInvalidHandle;
        }
        uint32_t LastError() override { return kErrorInvalidPrinterName; }
        std::string ErrorText(uint32_t) override { return ""; }
    } pc;
    RunRecorder recorder(pc);
    std::string error;
    EXPECT_FALSE(recorder.EndRun("failed", folder.Path("never.ztr"), &error));
    EXPECT_FALSE(std::filesystem::exists(folder.Path("never.ztr")));

    const std::string missing = folder.Path("missing") + "/Failed_No0_20240305_0907.ztr";
    recorder.BeginRun(DefaultLinkSettings());
    PrinterHandle handle = nullptr;
    EXPECT_FALSE(recorder.OpenPrinterHandle("PV-730", kPrinterAccessUse, &handle));
    EXPECT_FALSE(recorder.EndRun("failed", missing, &error));
    EXPECT_EQ("cannot create " + missing + ".part", error);

    const std::string next = folder.Path("Failed_No0_20240305_0908.ztr");
    recorder.BeginRun(DefaultLinkSettings());
    ASSERT_TRUE(recorder.EndRun("failed", next, &error)) << error;
    UnpackedRecording unpacked;
    LoadRecordedDevice(next, &unpacked, &error);
    EXPECT_EQ("", error);
}

}  // namespace
}  // namespace trawler
