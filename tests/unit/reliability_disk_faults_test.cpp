// Whole runs on a failing disk: full at each chunk boundary, inside the log and inside the
// package, failing at close, read-only, and a folder that vanishes in the middle of the run.
// Linux only: the test stands in front of glibc's file calls; the Windows build compiles it to
// nothing.
#if defined(__linux__)

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "acquire/run_messages.h"
#include "cli/collect_command.h"
#include "output/package.h"
#include "support/disk_fault_injector.h"
#include "support/reliability_harness.h"

namespace trawler {
namespace {

namespace disk = testing::disk;
using testing::FilesIn;
using testing::ReliabilityDevice;
using testing::SystemErrorHost;

using DiskRun = testing::ReliabilityRun<SystemErrorHost>;

constexpr uint64_t kSmallLog = 2500;   // fits the container's append buffer
constexpr uint64_t kLargeLog = 20000;  // two full append buffers, then the rest at the patch
constexpr char kPackageName[] = "No1234_20061130_1745.zlg";

const std::string kFull = std::strerror(ENOSPC);
const std::string kReadOnly = std::strerror(EROFS);

std::string ZlgText(int code) {
    return "error: MakeZlg (" + std::to_string(code) + ")";
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

enum class File { kContainer, kCompressed, kPackage };

bool IsFile(const disk::WriteRecord& w, File file) {
    switch (file) {
        case File::kContainer:
            return EndsWith(w.path, ".zlg.tmp");
        case File::kCompressed:
            return EndsWith(w.path, ".zlg.tmp.tmp");
        case File::kPackage:
            return EndsWith(w.path, ".zlg");
    }
    return false;
}

// The writes of a clean run, in order, with where each one starts in the disk's budget.
std::vector<disk::WriteRecord> MeasureRun(uint64_t logSize) {
    DiskRun f(ReliabilityDevice("", logSize), DefaultLinkSettings());
    disk::Arm(disk::Mode::kFull, f.folder.Folder(), std::numeric_limits<uint64_t>::max());
    RunResult result = f.Run();
    std::vector<disk::WriteRecord> writes = disk::State().writes;
    disk::Disarm();
    EXPECT_TRUE(result.Saved());
    return writes;
}

// Where the n-th (from 0; negative: from the end) write to a file with this head starts.
uint64_t WriteStart(const std::vector<disk::WriteRecord>& writes, File file,
                    const std::string& head, int n = 0) {
    std::vector<uint64_t> starts;
    for (const disk::WriteRecord& w : writes) {
        if (IsFile(w, file) && (head.empty() || w.head == head)) starts.push_back(w.before);
    }
    int index = n < 0 ? static_cast<int>(starts.size()) + n : n;
    if (index < 0 || index >= static_cast<int>(starts.size())) {
        ADD_FAILURE() << "no write " << n << " with head " << head;
        return 0;
    }
    return starts[static_cast<size_t>(index)];
}

// The n-th write to a file of exactly this size.
uint64_t SizedWriteStart(const std::vector<disk::WriteRecord>& writes, File file, uint64_t size,
                         int n = 0) {
    int seen = 0;
    for (const disk::WriteRecord& w : writes) {
        if (IsFile(w, file) && w.size == size && seen++ == n) return w.before;
    }
    ADD_FAILURE() << "no write of " << size << " bytes";
    return 0;
}

// A run that must fail: its boxes, its result, an empty folder and nothing saved.
void ExpectCleanFailure(DiskRun& f, const RunResult& result,
                        const std::vector<std::string>& messages) {
    EXPECT_FALSE(result.Saved());
    EXPECT_EQ(messages, f.host.messages);
    EXPECT_EQ(std::vector<std::string>{}, FilesIn(f.folder.Folder()));
    EXPECT_EQ("", f.session.m_strSavedPath);
    EXPECT_FALSE(f.run.m_container.IsOpen());
}

class DiskFaults : public ::testing::Test {
  protected:
    void TearDown() override { disk::Disarm(); }
};

TEST_F(DiskFaults, TheInjectorIsReachedByEveryWriterAndIsOffUntilArmed) {
    DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
    uint64_t before = disk::State().callsSeen;
    ASSERT_TRUE(f.Run().Saved());
    EXPECT_GT(disk::State().callsSeen, before);
    EXPECT_EQ(0, disk::State().failures);
    EXPECT_TRUE(f.host.messages.empty());
    EXPECT_TRUE(testing::PackageHoldsDevice(f.folder.Path(kPackageName), f.spooler.Device(),
                                            testing::DeviceLog(f.spooler.Device())));

    // Armed with no room, the C runtime's stream and zlib's own descriptor writes both fail:
    // the interposers really stand in front of the static libraries and of libz.
    testing::ScratchFolder other;
    disk::Arm(disk::Mode::kFull, other.Folder(), 0);
    std::FILE* file = std::fopen(other.Path("x").c_str(), "wb");
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(0u, std::fwrite("abcd", 1, 4, file));
    EXPECT_NE(0, std::fclose(file));
    gzFile gz = gzopen(other.Path("y.gz").c_str(), "wb6 ");
    ASSERT_NE(nullptr, gz);
    EXPECT_EQ(4, gzwrite(gz, "abcd", 4));  // buffered
    EXPECT_NE(Z_OK, gzclose(gz));
    // A folder that is not armed is not touched.
    disk::Arm(disk::Mode::kFull, other.Path("elsewhere"), 0);
    file = std::fopen(other.Path("z").c_str(), "wb");
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(4u, std::fwrite("abcd", 1, 4, file));
    EXPECT_EQ(0, std::fclose(file));
}

// A disk that fills up at each chunk boundary of the container: the chunk's writer shows the
// system's text, the run adds its words where it has any, and nothing is left behind.
TEST_F(DiskFaults, AContainerCutShortAtAnyChunkBoundaryLeavesNothing) {
    const std::vector<disk::WriteRecord> writes = MeasureRun(kSmallLog);
    // The system's text comes once per file: later writes to the same full disk stay silent.
    const std::vector<std::string> afterComment = {kFull, run_text::kWriteCommentToLog};
    // Only the system's text: this phase has no words of its own for a failed chunk.
    const std::vector<std::string> silentPhase = {kFull};
    struct Case {
        std::string tag;
        std::vector<std::string> messages;
    };
    std::vector<Case> cases = {
        {"Cust", afterComment}, {"Comm", afterComment}, {"PCDT", afterComment}};
    for (const char* tag : {"Date", "Vers", "B001", "B002", "B003", "B004", "B005", "B006", "B010",
                            "B011", "B012", "B013"}) {
        cases.push_back({tag, silentPhase});
    }
    // "LOGV" and the "LOGD" header fail without stopping the phase; the damaged container
    // then fails the run.
    cases.push_back({"LOGV", {kFull}});
    cases.push_back({"LOGD", {kFull}});
    // A run whose terminator did not reach the disk must not become a package.
    cases.push_back({"ENDF", {kFull, run_text::kCreateLogFile}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
        disk::Arm(disk::Mode::kFull, f.folder.Folder(),
                  WriteStart(writes, File::kContainer, c.tag));
        RunResult result = f.Run();
        EXPECT_GT(disk::State().failures, 0);
        disk::Disarm();
        ExpectCleanFailure(f, result, c.messages);
    }
}

TEST_F(DiskFaults, AContainerWhoseHeaderCannotBeWrittenIsRemovedAtOnce) {
    DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
    disk::Arm(disk::Mode::kFull, f.folder.Folder(), 20);
    RunResult result = f.Run();
    disk::Disarm();
    // The header write reports the full disk; the clean-up's close does not repeat it.
    ExpectCleanFailure(f, result, {kFull, run_text::kCreateLogFile});
    EXPECT_EQ(0u, f.spooler.Stats().opens);  // the printer is never touched
}

// The log streams through an 8192-byte append buffer: a disk that fills up inside the log.
TEST_F(DiskFaults, ALogWriteThatFailsPartWayEndsTheRunWithTheLogPhaseWords) {
    const std::vector<disk::WriteRecord> writes = MeasureRun(kLargeLog);
    // The padding, the length patch, "ENDF" and the close all fail again, silently.
    const std::vector<std::string> inAppend = {kFull, run_text::kLogWriteFailed,
                                               run_text::kLogReadFailed};
    struct Case {
        const char* name;
        uint64_t budget;
        std::vector<std::string> messages;
    } cases[] = {
        {"first block of the log", SizedWriteStart(writes, File::kContainer, 8192, 0) + 100,
         inAppend},
        {"second block of the log", SizedWriteStart(writes, File::kContainer, 8192, 1) + 1,
         inAppend},
        // The rest of the log leaves with the length patch, which names the log write failure.
        {"the last part of the log",
         SizedWriteStart(writes, File::kContainer, kLargeLog - 2 * 8192) + 10,
         {kFull, run_text::kLogWriteFailed}},
        {"the patched LOGD length",
         WriteStart(writes, File::kContainer, "LOGD", 1),
         {kFull, run_text::kLogWriteFailed}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DiskRun f(ReliabilityDevice("", kLargeLog), DefaultLinkSettings());
        disk::Arm(disk::Mode::kFull, f.folder.Folder(), c.budget);
        RunResult result = f.Run();
        disk::Disarm();
        ExpectCleanFailure(f, result, c.messages);
    }
}

// The container is whole; the disk fills up while it becomes a package.
TEST_F(DiskFaults, APackageCutShortIsDeletedWithItsCode) {
    const std::vector<disk::WriteRecord> writes = MeasureRun(kSmallLog);
    struct Case {
        const char* name;
        uint64_t budget;
        int code;
    } cases[] = {
        {"right after the container", WriteStart(writes, File::kCompressed, ""),
         kZlgCompressCloseFailed},
        {"inside the gzip member", WriteStart(writes, File::kCompressed, "") + 10,
         kZlgCompressCloseFailed},
        {"the gzip header's system byte", SizedWriteStart(writes, File::kCompressed, 1),
         kZlgCompressCloseFailed},
        {"inside the magic", WriteStart(writes, File::kPackage, "PV73") + 4,
         kPackageMagicWriteFailed},
        {"the first copied block", WriteStart(writes, File::kPackage, "", 1) + 100,
         kPackageShortWrite},
        {"the last byte of the package",
         WriteStart(writes, File::kPackage, "", -1) + writes.back().size - 1, kPackageShortWrite},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
        disk::Arm(disk::Mode::kFull, f.folder.Folder(), c.budget);
        RunResult result = f.Run();
        disk::Disarm();
        ExpectCleanFailure(f, result, {ZlgText(c.code), run_text::kMakeZlgFile});
    }

    // One byte more than the run needs: the package is whole.
    uint64_t total = writes.back().before + writes.back().size;
    DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
    disk::Arm(disk::Mode::kFull, f.folder.Folder(), total);
    ASSERT_TRUE(f.Run().Saved());
    EXPECT_EQ(0, disk::State().failures);
    disk::Disarm();
    EXPECT_TRUE(f.host.messages.empty());
    EXPECT_TRUE(testing::PackageHoldsDevice(f.folder.Path(kPackageName), f.spooler.Device(),
                                            testing::DeviceLog(f.spooler.Device())));
}

// Buffered writes that all succeed, and a close that reports the loss.
TEST_F(DiskFaults, AFileWhoseCloseFailsIsNeverTakenForAWholeOne) {
    struct Case {
        const char* suffix;
        std::vector<std::string> messages;
    } cases[] = {
        {".zlg.tmp", {kFull, run_text::kCreateLogFile}},
        {".zlg.tmp.tmp", {ZlgText(kZlgCompressCloseFailed), run_text::kMakeZlgFile}},
        {"_1745.zlg", {ZlgText(kPackageShortWrite), run_text::kMakeZlgFile}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.suffix);
        DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
        disk::Arm(disk::Mode::kFailAtClose, f.folder.Folder(), 0, c.suffix);
        RunResult result = f.Run();
        disk::Disarm();
        ExpectCleanFailure(f, result, c.messages);
    }
}

// A real full device behind the name of the compressed file, without any interposer.
TEST_F(DiskFaults, ACompressedFileOnAFullDeviceFailsThePackage) {
    DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
    std::error_code ec;
    std::filesystem::create_symlink("/dev/full", f.folder.Path("20061130_1745.zlg.tmp.tmp"), ec);
    ASSERT_FALSE(ec) << ec.message();
    RunResult result = f.Run();
    ExpectCleanFailure(f, result, {ZlgText(kZlgCompressCloseFailed), run_text::kMakeZlgFile});
}

TEST_F(DiskFaults, AFolderThatCannotBeWrittenStopsBeforeThePrinter) {
    struct Case {
        const char* name;
        std::function<std::string(testing::ScratchFolder&)> prepare;  // returns the folder
        std::function<void(const std::string&)> arm;
        std::string systemText;
    };
    std::vector<Case> cases = {
        {"read-only disk", [](testing::ScratchFolder& s) { return s.Folder(); },
         [](const std::string& folder) { disk::Arm(disk::Mode::kReadOnly, folder); }, kReadOnly},
        {"a file where the folder should be",
         [](testing::ScratchFolder& s) {
             testing::WriteAll(s.Path("plain"), testing::ToBytes("x"));
             return s.Path("plain");
         },
         [](const std::string&) {}, std::strerror(ENOTDIR)},
        {"a folder that is gone", [](testing::ScratchFolder& s) { return s.Path("gone"); },
         [](const std::string&) {}, std::strerror(ENOENT)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
        f.run.m_strFolder = c.prepare(f.folder);
        c.arm(f.run.m_strFolder);
        RunResult result = f.Run();
        disk::Disarm();
        EXPECT_FALSE(result.Saved());
        EXPECT_EQ((std::vector<std::string>{c.systemText, run_text::kCreateLogFile}),
                  f.host.messages);
        EXPECT_EQ(0u, f.spooler.Stats().opens);
        EXPECT_EQ("", f.session.m_strSavedPath);
    }
    // The pseudo file system of the kernel takes no new files, even from root.
    DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
    f.run.m_strFolder = "/proc";
    std::FILE* probe = std::fopen("/proc/20061130_1745.zlg.tmp", "w+b");
    ASSERT_EQ(nullptr, probe);
    const std::string procText = std::strerror(errno);
    EXPECT_FALSE(f.Run().Saved());
    EXPECT_EQ((std::vector<std::string>{procText, run_text::kCreateLogFile}), f.host.messages);
}

// The disk turns read-only (a write-protect switch) after the container was created.
TEST_F(DiskFaults, ADiskThatTurnsReadOnlyDuringTheRunFailsThePackage) {
    DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
    std::string folder = f.folder.Folder();
    f.host.onPump = [folder](int pump) {
        if (pump == 2) disk::Arm(disk::Mode::kReadOnly, folder);
    };
    RunResult result = f.Run();
    disk::Disarm();
    ExpectCleanFailure(f, result, {ZlgText(kZlgTempCreateFailed), run_text::kMakeZlgFile});
}

// The folder (a USB stick, a network share) disappears while the printer is being read.
TEST_F(DiskFaults, AFolderRemovedDuringTheRunLeavesNoFileAndSavesNothing) {
    struct Case {
        const char* name;
        int pump;  // 1 after the dialog, 2 after the EEPROM phase, 3 to 5 after each packet
        bool recreate;
    } cases[] = {
        {"before the comment record", 1, false},
        {"after the EEPROM phase", 2, false},
        {"between log packets", 4, false},
        {"after the last packet", 6, false},
        {"replaced by an empty folder of the same name", 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DiskRun f(ReliabilityDevice("", kSmallLog), DefaultLinkSettings());
        std::string folder = f.folder.Folder();
        bool removed = false;
        f.host.onPump = [&, folder](int pump) {
            if (pump != c.pump) return;
            std::error_code ec;
            removed = std::filesystem::remove_all(folder, ec) > 0;
            if (c.recreate) std::filesystem::create_directory(folder, ec);
        };
        RunResult result = f.Run();
        EXPECT_TRUE(removed);
        EXPECT_FALSE(result.Saved());
        EXPECT_EQ(
            (std::vector<std::string>{ZlgText(kZlgContainerOpenFailed), run_text::kMakeZlgFile}),
            f.host.messages);
        EXPECT_EQ(c.recreate, std::filesystem::exists(folder));
        EXPECT_EQ(std::vector<std::string>{}, FilesIn(folder));
        EXPECT_EQ("", f.session.m_strSavedPath);
    }
}

// collect asks the folder before the printer: one that cannot be written (here a read-only
// disk, which stops root as well) is named with the system's reason and nothing is read.
TEST_F(DiskFaults, CollectNamesAFolderThatCannotBeWrittenBeforeThePrinter) {
    testing::ScratchFolder packages;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    disk::Arm(disk::Mode::kReadOnly, packages.Folder());
    // No printer at all: a check made after the printer search would end in "not found".
    testing::ScratchFolder devices;
    testing::WriteAll(devices.Path("none.json"), testing::ToBytes("{\"printers\": []}"));
    int code = RunCollect(
        {"--device", devices.Path("none.json"), "--folder", packages.Folder(), "--progress=lines"},
        out, err);
    disk::Disarm();
    EXPECT_EQ(code, 2);
    EXPECT_EQ(testing::ReadBack(out), "FAIL\n");
    EXPECT_EQ(testing::ReadBack(err), "trawler-cli collect: the folder " + packages.Folder() +
                                          " cannot be written: " + kReadOnly + "\n");
    EXPECT_EQ(FilesIn(packages.Folder()), std::vector<std::string>{});
}

// A collection that saved its package but could not write the recording asked for: exit 1 and
// "FAIL", never "OK", and the saved package is named so that it is not lost.
TEST_F(DiskFaults, ARecordingThatCannotBeWrittenFailsTheCollectButNamesItsPackage) {
    testing::ScratchFolder packages, records;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    disk::Arm(disk::Mode::kReadOnly, records.Folder());
    int code = RunCollect({"--simulate", "--folder", packages.Folder(), "--record",
                           records.Path("run.json"), "--progress=lines", "--setting",
                           "ReadWaitMillisec=0", "--setting", "WaitAfterSendMillisec=0"},
                          out, err);
    disk::Disarm();
    const std::string printed = testing::ReadBack(out), problems = testing::ReadBack(err);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(EndsWith(printed, "\nFAIL\n")) << printed;
    EXPECT_EQ(printed.find("OK "), std::string::npos) << printed;
    std::vector<std::string> saved = FilesIn(packages.Folder());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_NE(problems.find("the package itself was saved: " + packages.Path(saved.front())),
              std::string::npos)
        << problems;
}

}  // namespace
}  // namespace trawler

#endif  // defined(__linux__)
