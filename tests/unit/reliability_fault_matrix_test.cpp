// The fault matrix: every fault the emulator injects, at every phase it can hit, under six
// link settings, each a whole run checked for its boxes, its result and the files it leaves.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "acquire/run_messages.h"
#include "pv730/device_requests.h"
#include "support/answer_faults.h"
#include "support/reliability_harness.h"

namespace trawler {
namespace {

// The PV-730's requests and parsers are what these tests drive.
using namespace pv730;

using testing::FilesIn;
using testing::ReliabilityDevice;
using testing::ReliabilityRun;

// Three packets (1008, 1008 and 484 log bytes): first, middle and last are distinct.
constexpr uint64_t kLogSize = 2500;
constexpr uint32_t kDeviceError = 31;  // what the emulated driver's failing calls report
constexpr char kDeviceErrorText[] = "A device attached to the system is not functioning.";
constexpr uint8_t kWrongCode = 0x0F;

std::string EepText(const char* format, uint32_t id) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(id));
    return buffer;
}

// Where an answer fault can strike.
struct AnswerPhase {
    std::string name;
    DeviceCommand command;
    uint32_t blockId;  // EEPROM only
    PacketPick pick;   // log data only
    bool IsPacket() const { return command == DeviceCommand::kLogData; }
};

std::vector<AnswerPhase> AnswerPhases() {
    std::vector<AnswerPhase> phases = {{"clock", DeviceCommand::kClock, 0, PacketPick::kFirst},
                                       {"version", DeviceCommand::kVersion, 0, PacketPick::kFirst}};
    for (const pv730::EepromBlockInfo& block : kEepromBlocks) {
        const uint32_t id = block.id;
        char name[16];
        std::snprintf(name, sizeof name, "block%04X", static_cast<unsigned>(id));
        phases.push_back({name, DeviceCommand::kEeprom, id, PacketPick::kFirst});
    }
    phases.push_back({"loginfo", DeviceCommand::kLogInfo, 0, PacketPick::kFirst});
    phases.push_back({"firstpacket", DeviceCommand::kLogData, 0, PacketPick::kFirst});
    phases.push_back({"middlepacket", DeviceCommand::kLogData, 0, PacketPick::kMiddle});
    phases.push_back({"lastpacket", DeviceCommand::kLogData, 0, PacketPick::kLast});
    return phases;
}

// The boxes of a phase whose answer never completes: the reader's time-out (code 0), or a
// reader error (busy twice, code -1), which only the log phase words differently.
std::vector<std::string> TimeoutMessages(DeviceCommand command) {
    switch (command) {
        case DeviceCommand::kClock:
            return {run_text::kClockNotRead};
        case DeviceCommand::kVersion:
            return {};  // the version phase has no words of its own
        case DeviceCommand::kEeprom:
            return {run_text::kEepReadFailed};
        case DeviceCommand::kLogInfo:
            return {kMsgLogInfoReadFailed};
        case DeviceCommand::kLogData:
            break;
    }
    return {run_text::kLogReadTimeout, run_text::kLogReadFailed};
}

std::vector<std::string> ReaderErrorMessages(DeviceCommand command) {
    if (command == DeviceCommand::kLogData) return {run_text::kLogReadFailed};
    return TimeoutMessages(command);
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct MatrixCase {
    std::string name;
    std::vector<Fault> faults;
    LinkSettings settings;
    bool succeeds = false;
    std::vector<std::string> messages;
    uint64_t savedLogSize = kLogSize;  // log bytes the package holds (zero bytes beyond the log)
};

Fault AnswerFault(FaultKind kind, const AnswerPhase& phase) {
    Fault f = testing::AnswerFault(kind, phase.command, phase.blockId);
    f.packetPick = phase.pick;
    return f;
}

uint32_t BlockRecordLength(uint32_t blockId) {
    for (const EepromBlock& b : ReliabilityDevice("", kLogSize).eeprom) {
        if (b.id == blockId) return static_cast<uint32_t>(b.data.size()) + 16;
    }
    return 0;
}

// Every answer fault at every answer phase it can reach, with what the run must do.
void AddAnswerFaults(const LinkSettings& settings, std::vector<MatrixCase>* out) {
    const bool oneEmptyRead = settings.EmptyReadCount <= 1;
    for (const AnswerPhase& phase : AnswerPhases()) {
        const bool eeprom = phase.command == DeviceCommand::kEeprom;
        auto add = [&](const char* variant, Fault fault, bool succeeds,
                       std::vector<std::string> messages) -> MatrixCase& {
            MatrixCase c;
            c.name = std::string(variant) + "_" + phase.name;
            c.faults = {fault};
            c.settings = settings;
            c.succeeds = succeeds;
            c.messages = std::move(messages);
            out->push_back(c);
            return out->back();
        };
        const auto timeout = TimeoutMessages(phase.command);

        add("noanswer", AnswerFault(FaultKind::kNoAnswer, phase), false, timeout);

        Fault truncate = AnswerFault(FaultKind::kTruncate, phase);
        truncate.value = phase.IsPacket() ? 500 : 6;  // inside the packet, or inside the payload
        add("truncate", truncate, false, timeout);

        // Bytes in front of an answer are skipped; the run does not even notice them. Between
        // two log packets there is no room for them: the log read fails instead of guessing.
        const bool laterPacket = phase.IsPacket() && phase.pick != PacketPick::kFirst;
        const std::vector<std::string> strayMessages =
            laterPacket ? std::vector<std::string>{run_text::kLogReadFailed}
                        : std::vector<std::string>{};
        Fault stray = AnswerFault(FaultKind::kStrayBytes, phase);
        stray.bytes = {0x00, 0x11, 0x22};
        add("stray", stray, !laterPacket, strayMessages);
        // Noise that ends in a start byte must not swallow the real one behind it.
        Fault strayStart = stray;
        strayStart.bytes = {0x11, 0x40};
        add("straystart", strayStart, !laterPacket, strayMessages);

        Fault code = AnswerFault(FaultKind::kWrongCode, phase);
        code.value = kWrongCode;
        if (phase.IsPacket()) {
            // Hunting for the next start byte would drop this packet's log bytes silently: a
            // damaged packet ends the read like a packet of the wrong length.
            add("wrongcode", code, false, {run_text::kLogReadFailed});
        } else {
            add("wrongcode", code, false, timeout);
        }

        Fault length = AnswerFault(FaultKind::kWrongLength, phase);
        length.hasLength = true;
        switch (phase.command) {
            case DeviceCommand::kClock:
                length.value = 9;
                add("wronglength", length, false, Join({kMsgCommandSizeIllegal}, timeout));
                break;
            case DeviceCommand::kVersion:
                length.value = 17;
                add("wronglength", length, false, Join({kMsgCommandSizeIllegal}, timeout));
                break;
            case DeviceCommand::kEeprom:
                length.value = BlockRecordLength(phase.blockId) + 4;
                add("wronglength", length, false, Join({kMsgEepromSizeMismatch}, timeout));
                break;
            case DeviceCommand::kLogInfo:
                length.value = 15;
                add("wronglength", length, false, {kMsgLogInfoReadFailed});
                break;
            case DeviceCommand::kLogData:
                length.value = 1019;
                add("wronglength", length, false, {run_text::kLogReadFailed});
                break;
        }

        if (eeprom) {
            Fault id = AnswerFault(FaultKind::kWrongBlockId, phase);
            id.value = phase.blockId + 0x100;
            add("wrongblockid", id, false, {EepText(run_text::kEepIdMismatch, id.value)});
            Fault sum = AnswerFault(FaultKind::kBadChecksum, phase);
            sum.value = 1;
            add("badchecksum", sum, false,
                {EepText(run_text::kEepChecksumMismatch, phase.blockId)});
        }

        if (phase.IsPacket()) {
            // A packet claiming more than its area holds still brings 1008 bytes, all kept;
            // only the short last packet has filler to take for log.
            Fault oversize = AnswerFault(FaultKind::kOversizeValidCount, phase);
            oversize.value = 1009;
            MatrixCase& c = add("oversizevalid", oversize, true, {});
            if (phase.pick == PacketPick::kLast) c.savedLogSize = 3 * 1008;
        }

        Fault busyOnce = AnswerFault(FaultKind::kBusy, phase);
        busyOnce.count = 1;
        add("busyonce", busyOnce, true, {});
        Fault busyTwice = AnswerFault(FaultKind::kBusy, phase);
        busyTwice.count = 2;
        add("busytwice", busyTwice, false, ReaderErrorMessages(phase.command));

        // A failed raw read shows the driver's text and counts like an empty read: with one
        // empty read allowed it already ends the answer.
        Fault failOnce = AnswerFault(FaultKind::kQueryFails, phase);
        failOnce.count = 1;
        failOnce.error = kDeviceError;
        if (oneEmptyRead) {
            add("queryfailsonce", failOnce, false, Join({kDeviceErrorText}, timeout));
        } else {
            add("queryfailsonce", failOnce, true, {kDeviceErrorText});
        }
        Fault failForever = failOnce;
        failForever.count = kFaultForever;
        add("queryfailsforever", failForever, false, Join({kDeviceErrorText}, timeout));
    }
}

// Faults at the printer's three opens: the run's drain, the EEPROM phase and the log phase.
void AddOpenFaults(const LinkSettings& settings, std::vector<MatrixCase>* out) {
    const char* opens[] = {"drainopen", "eepromopen", "logopen"};
    struct Kind {
        const char* name;
        FaultKind kind;
        bool queryFails;
        uint32_t error;
        std::vector<std::string> messages;
    } kinds[] = {
        {"printermissing",
         FaultKind::kPrinterMissing,
         false,
         0,
         {"The printer name is invalid.", run_text::kPrinterOpenFailed}},
        {"openrefused",
         FaultKind::kOpenRefused,
         false,
         5,
         {"Access is denied.", run_text::kPrinterOpenFailed}},
        {"offline", FaultKind::kOffline, false, 0, {run_text::kPrinterNotOnline}},
        {"offlinequeryfails",
         FaultKind::kOffline,
         true,
         kDeviceError,
         {kDeviceErrorText, run_text::kPrinterNotOnline}},
    };
    for (const Kind& k : kinds) {
        for (uint32_t open = 0; open < 3; ++open) {
            MatrixCase c;
            c.name = std::string(k.name) + "_" + opens[open];
            Fault f;
            f.kind = k.kind;
            f.skip = open;  // one lookup, open or check per phase
            f.times = 1;
            f.queryFails = k.queryFails;
            f.error = k.error;
            c.faults = {f};
            c.settings = settings;
            c.messages = k.messages;
            out->push_back(c);
        }
    }
}

// Faults on the jobs: each of the fourteen commands of a run can be refused or cut short.
// The senders do not pass this on, so it shows as the answer that never comes.
void AddJobFaults(const LinkSettings& settings, std::vector<MatrixCase>* out) {
    std::vector<std::pair<std::string, DeviceCommand>> requests = {
        {"clock", DeviceCommand::kClock}, {"version", DeviceCommand::kVersion}};
    for (const pv730::EepromBlockInfo& block : kEepromBlocks) {
        const uint32_t id = block.id;
        char name[16];
        std::snprintf(name, sizeof name, "block%04X", static_cast<unsigned>(id));
        requests.push_back({name, DeviceCommand::kEeprom});
    }
    requests.push_back({"loginfo", DeviceCommand::kLogInfo});
    requests.push_back({"logrequest", DeviceCommand::kLogData});
    for (uint32_t job = 0; job < requests.size(); ++job) {
        for (FaultKind kind : {FaultKind::kJobStartFails, FaultKind::kShortWrite}) {
            MatrixCase c;
            c.name =
                std::string(kind == FaultKind::kJobStartFails ? "jobstartfails_" : "shortwrite_") +
                requests[job].first;
            Fault f;
            f.kind = kind;
            f.skip = job;
            f.times = 1;
            f.error = kDeviceError;
            f.value = kFaultForever;  // short write: one byte short
            c.faults = {f};
            c.settings = settings;
            c.messages = TimeoutMessages(requests[job].second);
            out->push_back(c);
        }
    }
}

struct MatrixSettings {
    int32_t emptyReadCount;
    int32_t oneReadByte;
};

void PrintTo(const MatrixSettings& m, std::ostream* os) {
    *os << "EmptyReadCount " << m.emptyReadCount << ", OneReadByte " << m.oneReadByte;
}

const MatrixSettings kSettings[] = {{200, 516}, {200, 5}, {200, 4096}, {1, 516}, {1, 5}, {1, 4096}};

// The cases of one link setting.
std::vector<MatrixCase> CasesFor(const MatrixSettings& m) {
    LinkSettings settings = testing::MakeSettings(m.emptyReadCount, m.oneReadByte);
    std::vector<MatrixCase> cases;
    MatrixCase clean;
    clean.name = "nofault";
    clean.settings = settings;
    clean.succeeds = true;
    cases.push_back(clean);
    AddAnswerFaults(settings, &cases);
    AddOpenFaults(settings, &cases);
    AddJobFaults(settings, &cases);
    for (MatrixCase& c : cases) {
        c.name +=
            "_erc" + std::to_string(m.emptyReadCount) + "_orb" + std::to_string(m.oneReadByte);
    }
    return cases;
}

// The log file every case streams, and the tally printed at the end.
class MatrixEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        folder = std::make_unique<testing::ScratchFolder>();
        logPath = folder->Path("log.bin");
        ASSERT_TRUE(testing::WriteLogFile(logPath, kLogSize));
    }
    void TearDown() override {
        std::printf("fault matrix: %d cases run, %d passed\n", run, passed);
        folder.reset();
    }
    static std::unique_ptr<testing::ScratchFolder> folder;
    static std::string logPath;
    static int run;
    static int passed;
};
std::unique_ptr<testing::ScratchFolder> MatrixEnvironment::folder;
std::string MatrixEnvironment::logPath;
int MatrixEnvironment::run = 0;
int MatrixEnvironment::passed = 0;

[[maybe_unused]] const ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new MatrixEnvironment);

int FailedParts() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// One whole run of the matrix; true when every check held.
bool RunCase(const MatrixCase& c) {
    SCOPED_TRACE(c.name);
    const int failedBefore = FailedParts();
    ++MatrixEnvironment::run;
    DeviceDescription device = ReliabilityDevice(MatrixEnvironment::logPath, kLogSize);
    device.faults = c.faults;
    ReliabilityRun<> f(device, c.settings);
    EXPECT_TRUE(f.folder.Ok());

    const RunResult result = f.Run();

    EXPECT_EQ(c.succeeds ? RunResult::kSaved : RunResult::kFailed, result.outcome);
    EXPECT_EQ(c.messages, f.host.messages);
    EXPECT_FALSE(f.run.m_bReading);
    // A buffer of 5 bytes takes one answer byte per raw read: the setting really reached the link.
    if (c.settings.OneReadByte == 5) {
        EXPECT_GE(f.spooler.Stats().rawReads, f.spooler.Stats().answerBytesServed);
    }
    if (c.succeeds) {
        const std::string name = "No1234_20061130_1745.zlg";
        const std::string path = f.folder.Folder() + "/" + name;
        EXPECT_EQ(std::vector<std::string>{name}, FilesIn(f.folder.Folder()));
        EXPECT_EQ(path, f.session.m_strSavedPath);
        std::vector<uint8_t> log = testing::ReliabilityLog(kLogSize);
        log.resize(static_cast<size_t>(c.savedLogSize), 0);
        EXPECT_TRUE(testing::PackageHoldsDevice(path, f.spooler.Device(), log));
        EXPECT_EQ(0u, f.spooler.OpenHandleCount());
    } else {
        EXPECT_EQ(std::vector<std::string>{}, FilesIn(f.folder.Folder()));
        EXPECT_EQ("", f.session.m_strSavedPath);
        // Every fault here reaches the printer: the run says where it stopped.
        EXPECT_TRUE(result.phase.has_value());
    }
    bool passed = FailedParts() == failedBefore;
    if (passed) ++MatrixEnvironment::passed;
    return passed;
}

// One test per link setting (a test per case would cost a process each under the emulator
// of the Windows build); a failure names its case.
class FaultMatrix : public ::testing::TestWithParam<MatrixSettings> {};

TEST_P(FaultMatrix, EveryFaultEndsTheRunWithItsMessagesAndFiles) {
    int run = 0;
    int passed = 0;
    for (const MatrixCase& c : CasesFor(GetParam())) {
        ++run;
        if (RunCase(c)) ++passed;
    }
    EXPECT_GT(run, 200);
    std::printf("fault matrix (EmptyReadCount %d, OneReadByte %d): %d cases run, %d passed\n",
                GetParam().emptyReadCount, GetParam().oneReadByte, run, passed);
}

INSTANTIATE_TEST_SUITE_P(Reliability, FaultMatrix, ::testing::ValuesIn(kSettings),
                         [](const ::testing::TestParamInfo<MatrixSettings>& info) {
                             return "EmptyReadCount" + std::to_string(info.param.emptyReadCount) +
                                    "_OneReadByte" + std::to_string(info.param.oneReadByte);
                         });

}  // namespace
}  // namespace trawler
