// The acquisition run end to end against the emulated PV-730: packages, messages, files, waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "acquire/log_run.h"
#include "acquire/run_messages.h"
#include "acquire/session.h"
#include "link/link_settings.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"
#include "support/answer_faults.h"
#include "support/package_contents.h"
#include "support/recording_host.h"
#include "unit/output_test_support.h"

namespace trawler {
namespace {

using testing::PackageContents;
using testing::ReadPackage;
using testing::RecordingHost;
using testing::ScratchFolder;

constexpr char kPrinter[] = "PV-730";

// Counts the views' calls so the order of the window steps can be checked.
class RecordingView : public ReadingView {
  public:
    void BeginReading() override { calls.push_back("begin"); }
    void ShowProgressDialog() override { calls.push_back("show"); }
    void CloseProgressDialog() override { calls.push_back("close"); }
    void EndReading() override { calls.push_back("end"); }
    void EnableBrowse() override { calls.push_back("browse"); }
    std::vector<std::string> calls;
};

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One wizard session against one emulated device, with a scratch folder for its packages.
class RunFixture {
  public:
    explicit RunFixture(DeviceDescription device)
        : spooler(std::move(device), host), session(spooler, host), run(session) {
        ApplySettings(session.m_link, DefaultLinkSettings());
        session.SetPrinterName(kPrinter);
        run.m_strFolder = folder.Folder();
    }

    RunResult Run() { return run.Run(view); }

    std::string SavedPath() const { return session.m_strSavedPath; }
    // A path in the folder as the run names it, with the system's own separator.
    std::string InFolder(const std::string& name) const {
        return folder.Folder() + run.m_separator + name;
    }

    RecordingHost host;
    ScratchFolder folder;
    EmulatedSpooler spooler;
    Session session;
    LogRun run;
    RecordingView view;
};

using testing::AnswerFault;

DeviceDescription DeviceWithLog(uint64_t logBytes) {
    DeviceDescription d = DefaultDevice();
    d.log.size = logBytes;
    return d;
}

const std::vector<std::string> kAllTags = {"Cust", "Comm", "PCDT", "Date", "Vers", "B001",
                                           "B002", "B003", "B004", "B005", "B006", "B010",
                                           "B011", "B012", "B013", "LOGV", "LOGD", "ENDF"};

TEST(AcquisitionRun, ACompleteRunSavesEveryChunkInOrderUnderTheUnitNumber) {
    DeviceDescription device = DeviceWithLog(5000);
    ASSERT_TRUE(SetUnitNumber(&device, 1234));
    RunFixture f(device);
    f.run.m_strCustomer = "ACME Printing";
    f.run.m_strComment = "head replaced";

    const RunResult result = f.Run();
    ASSERT_TRUE(result.Saved());
    EXPECT_TRUE(f.host.messages.empty()) << f.host.messages.front();
    EXPECT_EQ(f.InFolder("No1234_20061130_1745.zlg"), f.SavedPath());
    EXPECT_EQ(f.SavedPath(), result.packagePath);
    EXPECT_EQ(std::vector<std::string>{"No1234_20061130_1745.zlg"}, FilesIn(f.folder.Folder()));

    PackageContents p = ReadPackage(f.SavedPath());
    ASSERT_EQ("", p.error);
    EXPECT_EQ(kAllTags, p.Tags());
    // The comment goes into "Cust" and the customer into "Comm" (padded to whole words).
    EXPECT_EQ("head replaced",
              std::string(p.Find("Cust")->data.begin(), p.Find("Cust")->data.begin() + 13));
    EXPECT_EQ("ACME Printing",
              std::string(p.Find("Comm")->data.begin(), p.Find("Comm")->data.begin() + 13));
    const DeviceDescription& d = f.spooler.Device();
    EXPECT_EQ(std::vector<uint8_t>(d.clock.begin(), d.clock.end()), p.Find("Date")->data);
    ASSERT_EQ(16u, p.Find("Vers")->length);
    for (int i = 0; i < 4; ++i) {
        const uint8_t* v = &p.Find("Vers")->data[i * 4];
        EXPECT_EQ(d.version[i], uint32_t(v[0]) | uint32_t(v[1]) << 8 | uint32_t(v[2]) << 16 |
                                    uint32_t(v[3]) << 24);
    }
    EXPECT_EQ(std::vector<uint8_t>(d.logInfo.begin(), d.logInfo.end()), p.Find("LOGV")->data);
    EXPECT_EQ(5000u, p.Find("LOGD")->length);
    EXPECT_EQ(1234u, f.run.m_unitNumber);

    // Three phases open the printer, and each closes it again.
    EXPECT_EQ(3u, f.spooler.Stats().opens);
    EXPECT_EQ(3u, f.spooler.Stats().closes);
    EXPECT_EQ(0u, f.spooler.OpenHandleCount());
    EXPECT_EQ((std::vector<std::string>{"begin", "show", "close", "end", "browse"}), f.view.calls);
    EXPECT_FALSE(f.run.m_bReading);
}

TEST(AcquisitionRun, EachBlockRecordIsStoredAsTheFirmwareSentIt) {
    RunFixture f(DeviceWithLog(10));
    ASSERT_TRUE(f.Run().Saved());
    PackageContents p = ReadPackage(f.SavedPath());
    ASSERT_EQ("", p.error);
    for (const EepromBlock& block : f.spooler.Device().eeprom) {
        char tag[5];
        std::snprintf(tag, sizeof tag, "B%03X", block.id & 0xFFF);
        SCOPED_TRACE(tag);
        const testing::Chunk* chunk = p.Find(tag);
        ASSERT_NE(nullptr, chunk);
        uint32_t n = static_cast<uint32_t>(block.data.size());
        ASSERT_EQ((n + 16 + 3) & ~3u, chunk->length);
        EXPECT_EQ(block.id, ReadBig32(&chunk->data[0]));
        EXPECT_EQ(block.second, ReadBig32(&chunk->data[4]));
        EXPECT_EQ(n, ReadBig32(&chunk->data[8]));
        EXPECT_TRUE(std::equal(block.data.begin(), block.data.end(), chunk->data.begin() + 12));
    }
}

TEST(AcquisitionRun, ProgressMovesOncePerMoreThan400000LogBytes) {
    struct Case {
        uint64_t logBytes;
        int steps;
    } cases[] = {
        {0, 0},
        {400000, 0},
        {400001, 1},
        {1000000, 2},
        // With full packets of 1008 bytes a step comes every 397 packets (400176 bytes).
        {397 * 1008, 1},
        {793 * 1008, 1},
        {794 * 1008, 2},
        {4000000, 9},
        {5000000, 9},  // the bar stops at 9 although 12 steps were sent
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logBytes);
        RunFixture f(DeviceWithLog(c.logBytes));
        ASSERT_TRUE(f.Run().Saved());
        EXPECT_EQ(0, f.host.progressLow);
        EXPECT_EQ(9, f.host.progressHigh);
        EXPECT_EQ(c.steps, f.host.progressPos);
    }
}

TEST(AcquisitionRun, TheLogChunkIsPaddedToWholeWordsAndRecordsThePaddedLength) {
    struct Case {
        uint64_t logBytes;
        uint32_t recorded;
    } cases[] = {{0, 0}, {1, 4}, {1008, 1008}, {1009, 1012}, {1011, 1012}, {2016, 2016}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logBytes);
        RunFixture f(DeviceWithLog(c.logBytes));
        ASSERT_TRUE(f.Run().Saved());
        PackageContents p = ReadPackage(f.SavedPath());
        ASSERT_EQ("", p.error);
        const testing::Chunk* logd = p.Find("LOGD");
        ASSERT_NE(nullptr, logd);
        EXPECT_EQ(c.recorded, logd->length);
        for (uint32_t i = static_cast<uint32_t>(c.logBytes); i < c.recorded; ++i) {
            EXPECT_EQ(0, logd->data[i]);
        }
    }
}

TEST(AcquisitionRun, APacketClaimingMoreThan1008BytesRecordsOnlyWhatWasStored) {
    DeviceDescription device = DeviceWithLog(2016);
    Fault f = AnswerFault(FaultKind::kOversizeValidCount, DeviceCommand::kLogData);
    f.packetPick = PacketPick::kFirst;
    f.value = 1100;
    f.times = 1;
    device.faults.push_back(f);
    RunFixture run(device);
    ASSERT_TRUE(run.Run().Saved());
    PackageContents p = ReadPackage(run.SavedPath());
    ASSERT_EQ("", p.error);
    EXPECT_EQ(2016u, p.Find("LOGD")->length);
}

TEST(AcquisitionRun, DemonstrationModeSavesOnlyTheCommentRecordWithoutTouchingThePrinter) {
    RunFixture f(DefaultDevice());
    f.session.m_bDemo = true;
    f.session.SetPrinterName(nullptr);
    f.run.m_strCustomer = "Customer only";
    int pumpsBefore = f.host.pumps;

    ASSERT_TRUE(f.Run().Saved());
    EXPECT_TRUE(f.host.messages.empty());
    // No block was read: the name carries the defined "unknown" number.
    EXPECT_EQ(f.InFolder("No0_20061130_1745.zlg"), f.SavedPath());
    PackageContents p = ReadPackage(f.SavedPath());
    ASSERT_EQ("", p.error);
    EXPECT_EQ((std::vector<std::string>{"Comm", "PCDT", "ENDF"}), p.Tags());
    EXPECT_EQ("Windows Version=5.1, Build Number=2600, (Service Pack 2), PlatformID=2",
              std::string(p.Find("PCDT")->data.begin(), p.Find("PCDT")->data.end()).substr(0, 70));
    EXPECT_EQ(std::vector<uint32_t>(10, 10), f.host.sleeps);
    EXPECT_EQ(11, f.host.pumps - pumpsBefore);  // once after the dialog, once per pause
    EXPECT_EQ(0u, f.spooler.Stats().opens);
    EXPECT_TRUE(f.spooler.Jobs().empty());
}

TEST(AcquisitionRun, AnEmptyFolderStaysSilentlyAndTouchesNothing) {
    RunFixture f(DefaultDevice());
    f.run.m_strFolder.clear();
    EXPECT_EQ(RunResult::kRefused, f.Run().outcome);
    EXPECT_TRUE(f.host.messages.empty());
    EXPECT_TRUE(FilesIn(f.folder.Folder()).empty());
    EXPECT_EQ(std::vector<std::string>{"browse"}, f.view.calls);
}

TEST(AcquisitionRun, AFolderThatCannotTakeTheContainerShowsTheSystemTextFirst) {
    RunFixture f(DefaultDevice());
    f.run.m_strFolder = f.folder.Path("missing");
    f.host.lastError = 2;
    f.host.lastErrorText = "No such file or directory";
    EXPECT_FALSE(f.Run().Saved());
    ASSERT_EQ(2u, f.host.messages.size());
    EXPECT_EQ(run_text::kCreateLogFile, f.host.messages[1]);
    // Back and Next are left as they were: the window steps never began.
    EXPECT_EQ(std::vector<std::string>{"browse"}, f.view.calls);
}

TEST(AcquisitionRun, ASecondPackageInTheSameMinuteNeverOverwritesTheFirst) {
    RunFixture f(DeviceWithLog(100));
    f.session.m_bDemo = true;
    ASSERT_TRUE(f.Run().Saved());  // No0_...: renamed
    ASSERT_TRUE(f.Run().Saved());  // the final name is taken: keeps the first name
    EXPECT_EQ(f.InFolder("20061130_1745.zlg"), f.SavedPath());
    auto before = testing::ReadAll(f.SavedPath());

    EXPECT_FALSE(f.Run().Saved());  // both names taken
    ASSERT_EQ(1u, f.host.messages.size());
    EXPECT_NE(std::string::npos, f.host.messages[0].find("already exists"));
    EXPECT_EQ(before, testing::ReadAll(f.SavedPath()));
    EXPECT_EQ((std::vector<std::string>{"20061130_1745.zlg", "No0_20061130_1745.zlg"}),
              FilesIn(f.folder.Folder()));
}

// Each row provokes one failure of the run through the emulator; the run must show exactly
// these boxes in order, stay on the page and leave the folder empty.
struct FailureCase {
    const char* name;
    std::function<void(DeviceDescription*)> setUp;
    std::vector<std::string> messages;
};

// The phase a run is in when the answer to `command` goes wrong.
RunPhase PhaseOfAnswer(DeviceCommand command) {
    switch (command) {
        case DeviceCommand::kClock:
            return RunPhase::kClock;
        case DeviceCommand::kVersion:
            return RunPhase::kVersion;
        case DeviceCommand::kEeprom:
            return RunPhase::kEeprom;
        case DeviceCommand::kLogInfo:
            return RunPhase::kLogInfo;
        case DeviceCommand::kLogData:
            return RunPhase::kLog;
    }
    return RunPhase::kSave;
}

std::string EepText(const char* format, unsigned id) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, id);
    return buffer;
}

TEST(AcquisitionRun, EveryFailureShowsItsMessagesAndLeavesNoFile) {
    const std::string openRefusedText = "Access is denied.";
    std::vector<FailureCase> cases = {
        {"printer missing",
         [](DeviceDescription* d) {
             Fault f;
             f.kind = FaultKind::kPrinterMissing;
             d->faults.push_back(f);
         },
         {"The printer name is invalid.", run_text::kPrinterOpenFailed}},
        {"offline, status byte",
         [](DeviceDescription* d) { d->printers[0].online = false; },
         {run_text::kPrinterNotOnline}},
        {"clock never answers",
         [](DeviceDescription* d) {
             d->faults.push_back(AnswerFault(FaultKind::kNoAnswer, DeviceCommand::kClock));
         },
         {run_text::kClockNotRead}},
        {"clock of the wrong length, no good answer after it",
         [](DeviceDescription* d) {
             Fault f = AnswerFault(FaultKind::kWrongLength, DeviceCommand::kClock);
             f.hasLength = true;
             f.value = 9;
             d->faults.push_back(f);
         },
         {"Error: ReadVersion command size illegal", run_text::kClockNotRead}},
        {"version never answers: this phase has no words for it",
         [](DeviceDescription* d) {
             d->faults.push_back(AnswerFault(FaultKind::kNoAnswer, DeviceCommand::kVersion));
         },
         {}},
        {"block 0x8004 never answers",
         [](DeviceDescription* d) {
             d->faults.push_back(AnswerFault(FaultKind::kNoAnswer, DeviceCommand::kEeprom, 0x8004));
         },
         {run_text::kEepReadFailed}},
        {"block 0x8004 answers as 0x8005",
         [](DeviceDescription* d) {
             Fault f = AnswerFault(FaultKind::kWrongBlockId, DeviceCommand::kEeprom, 0x8004);
             f.value = 0x8005;
             d->faults.push_back(f);
         },
         {EepText(run_text::kEepIdMismatch, 0x8005)}},
        {"block 0x8013 checksum off by one",
         [](DeviceDescription* d) {
             Fault f = AnswerFault(FaultKind::kBadChecksum, DeviceCommand::kEeprom, 0x8013);
             f.value = 1;
             d->faults.push_back(f);
         },
         {EepText(run_text::kEepChecksumMismatch, 0x8013)}},
        {"block 0x8001 with N not L - 16",
         [](DeviceDescription* d) {
             Fault f = AnswerFault(FaultKind::kWrongLength, DeviceCommand::kEeprom, 0x8001);
             f.hasLength = true;
             f.value = 0x30;
             d->faults.push_back(f);
         },
         {"Error: EEPROM Read: command size and data size mismatched", run_text::kEepReadFailed}},
        {"log information never answers",
         [](DeviceDescription* d) {
             d->faults.push_back(AnswerFault(FaultKind::kNoAnswer, DeviceCommand::kLogInfo));
         },
         {"Error: Log info read failed"}},
        {"log information of the wrong length",
         [](DeviceDescription* d) {
             Fault f = AnswerFault(FaultKind::kWrongLength, DeviceCommand::kLogInfo);
             f.hasLength = true;
             f.value = 15;
             d->faults.push_back(f);
         },
         {"Error: Log info read failed"}},
        {"the log stops inside the middle packet",
         [](DeviceDescription* d) {
             Fault f = AnswerFault(FaultKind::kTruncate, DeviceCommand::kLogData);
             f.packetPick = PacketPick::kMiddle;
             f.value = 500;
             d->faults.push_back(f);
         },
         {run_text::kLogReadTimeout, run_text::kLogReadFailed}},
        {"the last log packet has length 1019",
         [](DeviceDescription* d) {
             Fault f = AnswerFault(FaultKind::kWrongLength, DeviceCommand::kLogData);
             f.packetPick = PacketPick::kLast;
             f.hasLength = true;
             f.value = 1019;
             d->faults.push_back(f);
         },
         {run_text::kLogReadFailed}},
        {"the driver is busy twice in one read during the log",
         [](DeviceDescription* d) {
             Fault f = AnswerFault(FaultKind::kBusy, DeviceCommand::kLogData);
             f.packetPick = PacketPick::kFirst;
             f.count = 2;
             d->faults.push_back(f);
         },
         {run_text::kLogReadFailed}},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceDescription device = DeviceWithLog(5000);
        c.setUp(&device);
        RunFixture f(device);
        const RunResult result = f.Run();
        EXPECT_EQ(RunResult::kFailed, result.outcome);
        EXPECT_EQ("", result.packagePath);
        // A broken answer stops the run in the phase that asked for it; anything else stops
        // it while the printer is opened.
        const bool answerFault = !device.faults.empty() && device.faults[0].hasTarget;
        EXPECT_EQ(answerFault ? PhaseOfAnswer(device.faults[0].command) : RunPhase::kOpen,
                  result.phase);
        EXPECT_EQ(c.messages, f.host.messages);
        EXPECT_TRUE(FilesIn(f.folder.Folder()).empty());
        EXPECT_EQ("", f.SavedPath());
        EXPECT_EQ((std::vector<std::string>{"begin", "show", "close", "end", "browse"}),
                  f.view.calls);
    }
}

// The two request senders the emulator cannot make fail (a job that fails is only a missing
// answer): with the link closed, each phase names the request it could not send.
TEST(AcquisitionRun, ARequestThatCannotBeSentIsNamedByItsPhase) {
    RunFixture f(DeviceWithLog(100));
    ASSERT_FALSE(f.session.m_link.IsOpen());
    bool ok = true;
    EXPECT_TRUE(f.run.EepRead(0x8001, &ok).empty());
    EXPECT_FALSE(ok);
    uint32_t total = 0;
    EXPECT_FALSE(f.run.LogRead(&total));
    EXPECT_EQ((std::vector<std::string>{run_text::kEepSendFailed, run_text::kLogRequestWriteError}),
              f.host.messages);
    EXPECT_TRUE(f.spooler.Jobs().empty());
}

TEST(AcquisitionRun, AMissingVersionRecordFailsTheCommentRecordBeforeThePrinterIsAsked) {
    RunFixture f(DeviceWithLog(100));
    f.host.versionAvailable = false;
    EXPECT_FALSE(f.Run().Saved());
    EXPECT_EQ(std::vector<std::string>{run_text::kWriteCommentToLog}, f.host.messages);
    EXPECT_TRUE(FilesIn(f.folder.Folder()).empty());
    EXPECT_EQ(0u, f.spooler.Stats().opens);
}

TEST(AcquisitionRun, APackagingFailureShowsBothMessagesAndLeavesNothing) {
    RunFixture f(DeviceWithLog(100));
    // A folder where the temporary compressed file should go: gzopen cannot create it.
    std::filesystem::create_directory(f.folder.Path("20061130_1745.zlg.tmp.tmp"));
    EXPECT_FALSE(f.Run().Saved());
    EXPECT_EQ((std::vector<std::string>{"error: MakeZlg (-4)", run_text::kMakeZlgFile}),
              f.host.messages);
    // The container is gone (deleted by the packaging step) and no package was made; the
    // folder in the way is removed too where the runtime's remove takes empty folders.
    for (const std::string& name : FilesIn(f.folder.Folder())) {
        EXPECT_EQ("20061130_1745.zlg.tmp.tmp", name);
    }
    EXPECT_EQ("", f.SavedPath());
}

TEST(AcquisitionRun, ARecordOfBlock0x8013TooShortForTheNumberNamesThePackageNo0) {
    DeviceDescription device = DeviceWithLog(10);
    ASSERT_TRUE(SetUnitNumber(&device, 77));
    RunFixture f(device);
    ASSERT_TRUE(f.Run().Saved());
    EXPECT_EQ(77u, f.run.m_unitNumber);
    // 32 data bytes hold the number in bytes 28..31; with 28 or 20, record bytes 40..43 would
    // be the checksum or lie past the end.
    struct Case {
        size_t dataBytes;
        uint32_t unitNumber;
    } cases[] = {{32, 77}, {31, 0}, {28, 0}, {20, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dataBytes);
        DeviceDescription shortened = device;
        for (EepromBlock& b : shortened.eeprom) {
            if (b.id == 0x8013) b.data.resize(c.dataBytes);
        }
        RunFixture shortRecord(shortened);
        shortRecord.run.m_unitNumber = 99;  // as if an earlier printer had been read
        ASSERT_TRUE(shortRecord.Run().Saved());
        EXPECT_EQ(c.unitNumber, shortRecord.run.m_unitNumber);
        EXPECT_NE(std::string::npos,
                  shortRecord.SavedPath().find("No" + std::to_string(c.unitNumber) + "_"));
    }
}

TEST(AcquisitionRun, TheUnitNumberOfTheLastReadPrinterSurvivesADemonstrationRun) {
    DeviceDescription device = DeviceWithLog(10);
    ASSERT_TRUE(SetUnitNumber(&device, 4321));
    RunFixture f(device);
    ASSERT_TRUE(f.Run().Saved());
    f.session.m_bDemo = true;
    f.host.now.tm_min = 46;
    ASSERT_TRUE(f.Run().Saved());
    EXPECT_EQ(f.InFolder("No4321_20061130_1746.zlg"), f.SavedPath());
}

TEST(AcquisitionRun, TheRunWaitsOnlyWhereTheProtocolSays) {
    RunFixture f(DeviceWithLog(3000));
    ASSERT_TRUE(f.Run().Saved());
    // Drain: 199 waits of 100 ms on a silent printer. Then twelve requests and the log
    // request wait 500 ms each, the log information twice; no other wait.
    uint32_t afterSend = 0, readWaits = 0;
    for (uint32_t ms : f.host.sleeps) {
        if (ms == 500) ++afterSend;
        if (ms == 100) ++readWaits;
    }
    EXPECT_EQ(12u + 2u + 1u, afterSend);
    EXPECT_EQ(199u, readWaits);
    EXPECT_EQ(f.host.sleeps.size(), afterSend + readWaits);
}

}  // namespace
}  // namespace trawler
