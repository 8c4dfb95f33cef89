// trawler-cli collect and printers: arguments, exit codes and the package they leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "acquire/printer_search.h"
#include "cli/collect_command.h"
#include "platform/file_ops.h"
#include "cli/collect_progress.h"
#include "pv730/protocol.h"
#include "support/package_contents.h"
#include "unit/output_test_support.h"

namespace trawler {
namespace {

using testing::ScratchFolder;

std::vector<std::string> PackagesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// The emulated printer with no waits, so a whole run takes no real time.
std::vector<std::string> Quick(std::vector<std::string> args) {
    for (const char* s :
         {"--setting", "ReadWaitMillisec=0", "--setting", "WaitAfterSendMillisec=0"}) {
        args.push_back(s);
    }
    return args;
}

TEST(CliCollect, BadArgumentsAreAUsageErrorAndWriteNothing) {
    ScratchFolder folder;
    struct Case {
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"no folder", {"--simulate"}},
        {"unknown option", {"--folder", folder.Folder(), "--simulate", "--fast"}},
        {"option without its value", {"--simulate", "--folder"}},
        {"unknown setting", {"--folder", folder.Folder(), "--simulate", "--setting", "Speed=1"}},
        {"setting that is not a number",
         {"--folder", folder.Folder(), "--simulate", "--setting", "OneReadByte=lots"}},
        {"device file that does not exist",
         {"--folder", folder.Folder(), "--device", folder.Path("none.json")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(2, RunCollect(c.args));
        EXPECT_TRUE(PackagesIn(folder.Folder()).empty());
    }
}

TEST(CliCollect, ACollectionFromTheEmulatedPrinterSavesOneValidPackage) {
    ScratchFolder folder;
    ASSERT_EQ(0, RunCollect(Quick({"--folder", folder.Folder(), "--simulate", "--customer", "ACME",
                                   "--comment", "fuser noise"})));
    std::vector<std::string> names = PackagesIn(folder.Folder());
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(0u, names[0].find("No1234_"));
    testing::PackageContents p = testing::ReadPackage(folder.Path(names[0]));
    ASSERT_EQ("", p.error);
    EXPECT_EQ("ACME", std::string(p.Find("Comm")->data.begin(), p.Find("Comm")->data.end()));
    EXPECT_NE(nullptr, p.Find("LOGD"));
}

TEST(CliCollect, DemonstrationModeNeedsNoPrinterAndAFailedRunExitsOne) {
    ScratchFolder folder;
    EXPECT_EQ(0, RunCollect({"--folder", folder.Folder(), "--demo"}));
    ASSERT_EQ(1u, PackagesIn(folder.Folder()).size());
    testing::PackageContents p = testing::ReadPackage(folder.Path(PackagesIn(folder.Folder())[0]));
    EXPECT_EQ((std::vector<std::string>{"PCDT", "ENDF"}), p.Tags());

    // A printer that is not there: the run fails and leaves nothing new.
    EXPECT_EQ(1, RunCollect(Quick(
                     {"--folder", folder.Folder(), "--simulate", "--printer", "No Such Printer"})));
    EXPECT_EQ(1u, PackagesIn(folder.Folder()).size());
}

// What collect wrote on its two streams, and how it ended.
struct Collected {
    int exitCode = -1;
    std::string out;
    std::string err;

    std::vector<std::string> OutLines() const {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

Collected Collect(const std::vector<std::string>& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Collected c;
    c.exitCode = RunCollect(args, out, err);
    c.out = testing::ReadBack(out);
    c.err = testing::ReadBack(err);
    return c;
}

// A device description file in its own folder, apart from the packages.
class DeviceFile {
  public:
    explicit DeviceFile(const std::string& json) {
        testing::WriteAll(Path(), testing::ToBytes(json));
    }
    std::string Path() const { return m_folder.Path("device.json"); }

  private:
    ScratchFolder m_folder;
};

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

// The PHASE lines of a printer run, in the order the run goes through them.
std::vector<std::string> PrinterRunPhases() {
    std::vector<std::string> phases = {"PHASE open", "PHASE clock", "PHASE version"};
    for (const pv730::EepromBlockInfo& block : pv730::kEepromBlocks) {
        char line[32];
        std::snprintf(line, sizeof line, "PHASE eeprom 0x%04X", static_cast<unsigned>(block.id));
        phases.push_back(line);
    }
    phases.insert(phases.end(), {"PHASE log-info", "PHASE log", "PHASE save"});
    return phases;
}

// Checks the line protocol's grammar and its LOG lines: they follow "PHASE log", and no more
// than kLogLineBytes and one packet go by without one; they rise by at least kLogLineBytes
// except into the last, which gives every log byte read. Returns the PHASE lines and, in
// *logBytes, the last LOG count (0 without one).
std::vector<std::string> CheckLines(const std::vector<std::string>& lines, uint64_t* logBytes) {
    std::vector<std::string> phases;
    std::vector<uint64_t> counts;
    *logBytes = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        SCOPED_TRACE("line " + std::to_string(i) + ": " + line);
        if (StartsWith(line, "PHASE ")) {
            phases.push_back(line);
        } else if (StartsWith(line, "LOG ")) {
            EXPECT_FALSE(phases.empty());
            if (!phases.empty()) {
                EXPECT_EQ("PHASE log", phases.back());
            }
            counts.push_back(std::stoull(line.substr(4)));
            *logBytes = counts.back();
        } else {
            EXPECT_TRUE(line == "FAIL" || StartsWith(line, "OK "));
            EXPECT_EQ(lines.size() - 1, i) << "the OK or FAIL line is the last";
        }
    }
    for (size_t i = 0; i < counts.size(); ++i) {
        SCOPED_TRACE("LOG line " + std::to_string(i));
        const uint64_t before = i > 0 ? counts[i - 1] : 0;
        EXPECT_GT(counts[i], before);
        EXPECT_LT(counts[i] - before, kLogLineBytes + pv730::kLogDataArea);
        if (i + 1 < counts.size()) {
            EXPECT_GE(counts[i] - before, kLogLineBytes);
        }
    }
    return phases;
}

TEST(CliCollectProgress, TheLinesOfACleanRunGoThroughEveryPhaseAndEndWithTheSavedPackage) {
    // A log that ends inside a packet and takes several LOG lines.
    const uint64_t logSize = 3 * kLogLineBytes + 1234;
    DeviceFile device("{\"log\": {\"size\": " + std::to_string(logSize) + "}}");
    ScratchFolder folder;
    Collected c = Collect(
        Quick({"--folder", folder.Folder(), "--device", device.Path(), "--progress=lines"}));
    ASSERT_EQ(0, c.exitCode) << c.err;
    std::vector<std::string> lines = c.OutLines();
    uint64_t logBytes = 0;
    EXPECT_EQ(PrinterRunPhases(), CheckLines(lines, &logBytes));
    EXPECT_EQ(logSize, logBytes);
    std::vector<std::string> names = PackagesIn(folder.Folder());
    ASSERT_EQ(1u, names.size());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("OK " + folder.Path(names[0]), lines.back());
}

TEST(CliCollectProgress, TheLinesOfAFailedRunEndWithFailWhereTheRunStopped) {
    struct Case {
        const char* name;
        const char* device;
        int exitCode;
        const char* lastPhase;  // empty: the run never began
    } cases[] = {
        {"the clock is never answered",
         R"({"faults": [{"kind": "no-answer", "command": "clock"}]})", 1, "PHASE clock"},
        {"a log packet in the middle is damaged",
         R"({"log": {"size": 1000000}, "faults": [{"kind": "corrupt", "command": "log_data",
             "packet": "middle", "offset": 0, "value": "0x41"}]})",
         1, "PHASE log"},
        // The search, the first open and the clock's phase each ask whether the printer is
        // online before the log information's phase opens it again.
        {"the printer is offline when the log is to be read",
         R"({"faults": [{"kind": "offline", "skip": 3}]})", 1, "PHASE log-info"},
        {"no printer to read", R"({"printers": []})", 1, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        DeviceFile device(k.device);
        ScratchFolder folder;
        Collected c = Collect(
            Quick({"--folder", folder.Folder(), "--device", device.Path(), "--progress", "lines"}));
        EXPECT_EQ(k.exitCode, c.exitCode);
        std::vector<std::string> lines = c.OutLines();
        uint64_t logBytes = 0;
        std::vector<std::string> phases = CheckLines(lines, &logBytes);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ("FAIL", lines.back());
        EXPECT_EQ(std::string(k.lastPhase), phases.empty() ? "" : phases.back());
        // The phases that were reached came in the clean run's order.
        std::vector<std::string> reached = PrinterRunPhases();
        reached.resize(std::min(reached.size(), phases.size()));
        EXPECT_EQ(reached, phases);
        EXPECT_NE("", c.err) << "the run says why on stderr";
        EXPECT_TRUE(PackagesIn(folder.Folder()).empty());
    }
}

// The folder is named with what is wrong with it, before the printer is looked for: the
// device has no printer, so a check made after the search would end with exit 1 and the
// wizard's "not found" text instead.
void ExpectFolderRefused(const std::string& folder, const std::string& why, bool demo) {
    DeviceFile device(R"({"printers": []})");
    std::vector<std::string> args = {"--folder", folder, "--progress=lines"};
    if (demo) {
        args.push_back("--demo");
    } else {
        args.insert(args.end(), {"--device", device.Path()});
    }
    Collected c = Collect(Quick(args));
    EXPECT_EQ(2, c.exitCode);
    EXPECT_NE(std::string::npos, c.err.find(folder)) << c.err;
    EXPECT_NE(std::string::npos, c.err.find(why)) << c.err;
    EXPECT_EQ(std::string::npos, c.err.find(kPrinterNotFoundText)) << c.err;
    EXPECT_EQ("FAIL\n", c.out);
}

TEST(CliCollect, AFolderThatIsMissingIsAFileOrTakesNoFilesIsNamedBeforeThePrinterIsLookedFor) {
    ScratchFolder scratch;
    testing::WriteAll(scratch.Path("notes.txt"), testing::ToBytes("x"));
    struct Case {
        const char* name;
        std::string folder;
        const char* why;
        bool demo;
    };
    std::vector<Case> cases = {
        {"missing", scratch.Path("missing"), "does not exist", false},
        {"missing, in demonstration mode", scratch.Path("missing"), "does not exist", true},
        {"a file", scratch.Path("notes.txt"), "is not a folder", false},
    };
    // A folder that takes no new files, whose refusal reads "not found" like a missing one.
    if (IsFolder("/proc")) cases.push_back({"/proc", "/proc", "cannot be written: ", false});
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ExpectFolderRefused(k.folder, k.why, k.demo);
    }
    EXPECT_EQ(std::vector<std::string>{"notes.txt"}, PackagesIn(scratch.Folder()));
}

// A console host whose clock the test moves.
class SteppedClockHost : public ConsoleHost {
  public:
    explicit SteppedClockHost(std::FILE* out) : ConsoleHost(out, out) {}
    uint64_t MonotonicMillis() override { return now; }
    uint64_t now = 1000;
};

TEST(CliCollectProgress, TheStatusLineIsRedrawnAFewTimesASecondAndEndsBeforeAMessage) {
    std::FILE* out = std::tmpfile();
    SteppedClockHost host(out);
    StatusLineView view(host);
    view.PhaseBegins(RunPhase::kLog, 0);
    // Ten seconds of a fast log: a packet every millisecond.
    const uint64_t packets = 10000;
    for (uint32_t i = 1; i <= packets; ++i) {
        ++host.now;
        view.LogBytesRead(i * pv730::kLogDataArea);
    }
    host.ShowMessage("Error: Log Data read timeout");
    std::string text = testing::ReadBack(out);
    const size_t draws = static_cast<size_t>(std::count(text.begin(), text.end(), '\r'));
    EXPECT_LE(draws, 1 + packets / kStatusRedrawMillis);
    EXPECT_GE(draws, packets / kStatusRedrawMillis);
    EXPECT_NE(std::string::npos, text.find("\nError: Log Data read timeout\n")) << text;
}

TEST(CliPrinters, ListsTheEmulatedPrinterAndRejectsUnknownArguments) {
    EXPECT_EQ(0, RunPrinters({"--simulate"}));
    EXPECT_EQ(2, RunPrinters({"--everything"}));
}

}  // namespace
}  // namespace trawler
