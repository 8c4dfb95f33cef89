// Recording a collection and replaying it: the replay must hold the link to the same
// conversation, so the run shows the same messages and saves the same package.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "acquire/log_run.h"
#include "acquire/printer_search.h"
#include "acquire/session.h"
#include "cli/collect_command.h"
#include "link/link_settings.h"
#include "platform/system.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"
#include "sim/recording_spooler.h"
#include "support/answer_faults.h"
#include "support/collection_invariant.h"
#include "support/package_contents.h"
#include "support/recording_host.h"
#include "unit/output_test_support.h"

namespace trawler {
namespace {

using testing::AnswerFault;
using testing::Bytes;
using testing::RecordingHost;
using testing::ScratchFolder;

std::string Hex(const uint8_t* data, size_t n) {
    std::string text;
    char byte[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", data[i]);
        text += byte;
    }
    return text;
}

// Every spooler call as the link makes it and what came back, in order. Handles are left out:
// they are each spooler's own numbers.
class TranscriptSpooler : public Spooler {
  public:
    explicit TranscriptSpooler(Spooler& inner) : m_inner(inner) {}

    bool EnumerateLocal(std::vector<PrinterRecord>* records) override {
        bool ok = m_inner.EnumerateLocal(records);
        std::string line = "enumerate " + std::to_string(ok);
        for (const PrinterRecord& r : *records) {
            line += " [" + (r.hasName ? r.name : "-") + "|" + (r.hasDriver ? r.driver : "-") + "]";
        }
        lines.push_back(line);
        return ok;
    }
    bool OpenPrinterHandle(const std::string& name, uint32_t access,
                           PrinterHandle* handle) override {
        bool ok = m_inner.OpenPrinterHandle(name, access, handle);
        lines.push_back("open " + name + " " + std::to_string(ok));
        return ok;
    }
    bool ClosePrinterHandle(PrinterHandle handle) override {
        return Note("close", m_inner.ClosePrinterHandle(handle));
    }
    bool StartDocument(PrinterHandle handle, const std::string& docName,
                       const std::string& dataType) override {
        return Note("start " + docName + " " + dataType,
                    m_inner.StartDocument(handle, docName, dataType));
    }
    bool StartPrinterPage(PrinterHandle handle) override {
        return Note("page", m_inner.StartPrinterPage(handle));
    }
    bool WriteToPrinter(PrinterHandle handle, const uint8_t* data, uint32_t length,
                        uint32_t* written) override {
        bool ok = m_inner.WriteToPrinter(handle, data, length, written);
        lines.push_back("write " + Hex(data, length) + " " + std::to_string(ok) + " " +
                        std::to_string(*written));
        return ok;
    }
    bool EndPrinterPage(PrinterHandle handle) override {
        return Note("end page", m_inner.EndPrinterPage(handle));
    }
    bool EndDocument(PrinterHandle handle) override {
        return Note("end job", m_inner.EndDocument(handle));
    }
    uint32_t QueryPrinterData(PrinterHandle handle, const std::string& valueName, uint32_t* type,
                              uint8_t* buffer, uint32_t size, uint32_t* needed) override {
        uint32_t status = m_inner.QueryPrinterData(handle, valueName, type, buffer, size, needed);
        std::string line = "query " + valueName + " " + std::to_string(size) + " -> " +
                           std::to_string(status) + " " + std::to_string(*needed);
        if (status == 0) line += " " + Hex(buffer, std::min(*needed, size));
        lines.push_back(line);
        return status;
    }
    uint32_t LastError() override {
        uint32_t code = m_inner.LastError();
        lines.push_back("last error " + std::to_string(code));
        return code;
    }
    std::string ErrorText(uint32_t code) override {
        std::string text = m_inner.ErrorText(code);
        lines.push_back("text " + std::to_string(code) + " " + text);
        return text;
    }

    std::vector<std::string> lines;

  private:
    bool Note(const std::string& what, bool ok) {
        lines.push_back(what + " " + std::to_string(ok));
        return ok;
    }
    Spooler& m_inner;
};

struct Collection {
    RunResult result;
    std::vector<std::string> messages;
    std::vector<std::string> transcript;
    std::vector<std::string> files;  // what the run left in its folder
    std::vector<Bytes> contents;
};

// One collection as trawler-cli collect makes it: the printer named, else the first of the
// wizard's list, else the "not found" text.
Collection Collect(Spooler& spooler, RecordingHost& host, const LinkSettings& settings,
                   const std::string& printer, const std::string& folder) {
    Collection c;
    std::filesystem::create_directory(folder);
    TranscriptSpooler transcript(spooler);
    Session session(transcript, host);
    ApplySettings(session.m_link, settings);
    std::string name = printer;
    if (name.empty()) {
        std::vector<std::string> names = FindOnlinePv730Printers(transcript, &IsAnsiLeadByte);
        if (!names.empty()) name = *std::min_element(names.begin(), names.end(), ListOrderLess);
    }
    if (name.empty()) {
        host.ShowMessage(kPrinterNotFoundText);
    } else {
        session.SetPrinterName(name.c_str());
        LogRun run(session);
        run.m_strFolder = folder;
        run.m_strCustomer = "ACME";
        ReadingView view;
        c.result = run.Run(view);
    }
    c.messages = host.messages;
    c.transcript = transcript.lines;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        c.files.push_back(entry.path().filename().string());
    }
    std::sort(c.files.begin(), c.files.end());
    for (const std::string& file : c.files)
        c.contents.push_back(testing::ReadAll(folder + "/" + file));
    return c;
}

struct RoundTrip {
    Collection recorded;
    Collection replayed;
    std::vector<ReceivedCommand> commands;  // what the recorded printer took
    std::string writeError;
    std::string loadError;
    DeviceDescription description;
};

// A system whose texts for error codes are not the emulator's (another language, say).
class OtherWordsSpooler : public TranscriptSpooler {
  public:
    using TranscriptSpooler::TranscriptSpooler;
    std::string ErrorText(uint32_t code) override {
        return "Gerät meldet Fehler " + std::to_string(code) + ".";
    }
};

// Records a collection from the emulated device, loads what was written and collects again
// from it, with the settings the recording carries.
RoundTrip RecordAndReplay(const DeviceDescription& device, const LinkSettings& settings,
                          const std::string& printer, const ScratchFolder& folder,
                          bool otherWords = false) {
    RoundTrip trip;
    const std::string path = folder.Path("case.json");
    {
        RecordingHost host;
        EmulatedSpooler emulated(device, host);
        OtherWordsSpooler system(emulated);
        RecordingSpooler recorder(otherWords ? static_cast<Spooler&>(system) : emulated, path);
        recorder.SetLinkSettings(settings);
        trip.recorded = Collect(recorder, host, settings, printer, folder.Path("recorded"));
        trip.commands = emulated.Commands();
        recorder.WriteDescription("test", &trip.writeError);
    }
    trip.description = LoadDeviceDescription(path, &trip.loadError);
    if (!trip.loadError.empty() || !trip.description.linkSettings) return trip;
    RecordingHost host;
    EmulatedSpooler replay(trip.description, host);
    trip.replayed =
        Collect(replay, host, *trip.description.linkSettings, printer, folder.Path("replayed"));
    return trip;
}

bool Replayed(const DeviceDescription& d, const ReceivedCommand& c) {
    return std::any_of(d.replays.begin(), d.replays.end(), [&](const ReplayedAnswer& r) {
        return r.command == c.command &&
               (c.command != DeviceCommand::kEeprom || r.blockId == c.blockId);
    });
}

// The promise of a recording: the replay holds the link to the same conversation, read by
// read, so the run shows the same messages and leaves the same package (the clock is fixed,
// so even its time fields agree); and every request the run sent has its answer in the
// description, so none falls back to the emulator's own.
void ExpectSameCollection(const RoundTrip& trip, const LinkSettings& settings) {
    ASSERT_EQ("", trip.writeError);
    ASSERT_EQ("", trip.loadError);
    ASSERT_TRUE(trip.description.linkSettings.has_value());
    EXPECT_EQ(settings.OneReadByte, trip.description.linkSettings->OneReadByte);
    EXPECT_EQ(settings.EmptyReadCount, trip.description.linkSettings->EmptyReadCount);
    for (const ReceivedCommand& c : trip.commands) {
        EXPECT_TRUE(Replayed(trip.description, c))
            << "command " << int(c.command) << " block " << c.blockId << " has no replay";
    }
    EXPECT_EQ(trip.recorded.messages, trip.replayed.messages);
    // The replay ends the same way, in the same phase.
    EXPECT_EQ(trip.recorded.result.outcome, trip.replayed.result.outcome);
    EXPECT_EQ(trip.recorded.result.phase, trip.replayed.result.phase);
    ASSERT_EQ(trip.recorded.transcript.size(), trip.replayed.transcript.size());
    for (size_t i = 0; i < trip.recorded.transcript.size(); ++i) {
        ASSERT_EQ(trip.recorded.transcript[i], trip.replayed.transcript[i]) << "call " << i;
    }
    EXPECT_EQ(trip.recorded.files, trip.replayed.files);
    EXPECT_TRUE(trip.recorded.contents == trip.replayed.contents) << "packages differ";
}

LinkSettings QuickSettings() {
    LinkSettings s = DefaultLinkSettings();
    s.EmptyReadCount = 20;
    return s;
}

Fault SpoolerFault(FaultKind kind, uint32_t skip, uint32_t times) {
    Fault f;
    f.kind = kind;
    f.skip = skip;
    f.times = times;
    f.error = kind == FaultKind::kOpenRefused ? kErrorAccessDenied : kErrorGenFailure;
    return f;
}

Fault BytesFault(FaultKind kind, DeviceCommand command, uint32_t block, uint32_t offset,
                 std::vector<uint8_t> bytes) {
    Fault f = AnswerFault(kind, command, block);
    f.offset = offset;
    f.bytes = std::move(bytes);
    return f;
}

Fault Valued(FaultKind kind, DeviceCommand command, uint32_t block, uint32_t value) {
    Fault f = AnswerFault(kind, command, block);
    f.value = value;
    f.hasLength = kind == FaultKind::kWrongLength;
    if (kind == FaultKind::kCorrupt || kind == FaultKind::kDrop) {
        f.offset = value;
        f.value = 0x41;
        f.count = 2;
    }
    return f;
}

struct Case {
    const char* name;
    std::vector<Fault> faults;
    bool saves;
    std::string printer = "";  // empty: chosen as the command line chooses
    void (*adjust)(DeviceDescription*, LinkSettings*) = nullptr;
};

// Waits that do not let the printer's clock run (only the send waits do), and little patience.
void SlowAndImpatient(DeviceDescription* d, LinkSettings* s) {
    d->pacing = {300, 100, 20000};
    s->ReadWaitMillisec = 0;
    s->EmptyReadCount = 3;
}

void SlowInSmallBlocks(DeviceDescription* d, LinkSettings* s) {
    d->pacing = {150, 512, 200000};
    s->OneReadByte = 37;
}

// What an earlier conversation left in the printer, read by the drain before the first request.
void BytesWaiting(DeviceDescription* d, LinkSettings*) {
    ReplayedAnswer stale;
    stale.bytes = {0x40, 0x05, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0};
    stale.length = stale.bytes.size();
    stale.reads = {{ReadStep::kBusy, 0, 0, 1},
                   {ReadStep::kBytes, 10, 0, 1},
                   {ReadStep::kFails, 0, kErrorGenFailure, 1},
                   {ReadStep::kBytes, 4, 0, 1}};
    d->stale = stale;
}

const std::vector<Case>& Cases() {
    using C = DeviceCommand;
    using K = FaultKind;
    Fault offlineMode = SpoolerFault(K::kOffline, 2, 1);
    offlineMode.queryFails = true;
    offlineMode.error = kErrorNotSupported;
    Fault shortWrite = AnswerFault(K::kShortWrite, C::kEeprom, 0x8005);
    shortWrite.value = 7;
    Fault busy = AnswerFault(K::kBusy, C::kLogData, 0);
    busy.packetPick = PacketPick::kMiddle;
    busy.count = 1;
    Fault failOnce = AnswerFault(K::kQueryFails, C::kVersion);
    failOnce.count = 1;
    failOnce.error = kErrorGenFailure;
    Fault anyRead = SpoolerFault(K::kQueryFails, 12, 2);
    Fault lastPacketTruncated = Valued(K::kTruncate, C::kLogData, 0, 700);
    lastPacketTruncated.packetPick = PacketPick::kLast;
    static const std::vector<Case> kCases = {
        {"a clean run", {}, true},
        {"truncate", {Valued(K::kTruncate, C::kClock, 0, 6)}, false},
        {"truncate a log packet", {lastPacketTruncated}, false},
        {"stray-bytes",
         {BytesFault(K::kStrayBytes, C::kEeprom, 0x8004, 0, {0x00, 0x07, 0x11})},
         true},
        {"wrong-code", {Valued(K::kWrongCode, C::kVersion, 0, 0x09)}, false},
        {"wrong-length", {Valued(K::kWrongLength, C::kClock, 0, 9)}, false},
        {"wrong-block-id", {Valued(K::kWrongBlockId, C::kEeprom, 0x8003, 0x8004)}, false},
        {"bad-checksum", {Valued(K::kBadChecksum, C::kEeprom, 0x8002, 1)}, false},
        {"oversize-valid-count", {Valued(K::kOversizeValidCount, C::kLogData, 0, 1009)}, true},
        {"corrupt", {Valued(K::kCorrupt, C::kLogData, 0, 0)}, false},
        {"drop", {Valued(K::kDrop, C::kEeprom, 0x8013, 100)}, false},
        // The two bytes after the clock's unit are read under the version request.
        {"insert", {BytesFault(K::kInsert, C::kClock, 0, 4, {0xAA, 0xBB})}, true},
        {"no-answer", {AnswerFault(K::kNoAnswer, C::kVersion)}, false},
        {"busy", {busy}, true},
        {"query-fails at an answer", {failOnce}, true},
        {"query-fails on any read", {anyRead}, true},
        {"offline", {SpoolerFault(K::kOffline, 0, kFaultForever)}, false},
        {"offline at the second phase, the query failing", {offlineMode}, false},
        {"not found", {SpoolerFault(K::kPrinterMissing, 0, kFaultForever)}, false},
        {"open-refused", {SpoolerFault(K::kOpenRefused, 1, 1)}, false},
        {"job-start-fails", {SpoolerFault(K::kJobStartFails, 3, 1)}, false},
        {"short-write", {shortWrite}, false},
        {"a printer named that is not there", {}, false, "PV-731"},
        {"several faults",
         {busy, failOnce, BytesFault(K::kStrayBytes, C::kClock, 0, 0, {0x00, 0x40}),
          Valued(K::kDrop, C::kLogData, 0, 300)},
         false},
        {"a slow printer that times out mid-log", {}, false, "", SlowAndImpatient},
        {"a slow printer read in small blocks", {}, true, "", SlowInSmallBlocks},
        {"bytes waiting before the first request", {}, true, "", BytesWaiting},
    };
    return kCases;
}

TEST(Recording, AReplayHoldsTheLinkToTheRecordedConversation) {
    std::vector<std::string> clean;
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        DeviceDescription device = DefaultDevice();
        device.log.size = 5000;
        device.faults = c.faults;
        LinkSettings settings = QuickSettings();
        if (c.adjust) c.adjust(&device, &settings);
        ScratchFolder folder;
        RoundTrip trip = RecordAndReplay(device, settings, c.printer, folder);
        // The case must do what it is named for, or the comparison proves little.
        EXPECT_EQ(c.saves, trip.recorded.result.Saved());
        if (clean.empty()) {
            clean = trip.recorded.transcript;
        } else {
            EXPECT_NE(clean, trip.recorded.transcript) << "the fault changed nothing";
        }
        ExpectSameCollection(trip, settings);
    }
}

TEST(Recording, RandomDevicesAndFaultsReplayAsRecorded) {
    for (uint64_t key = 0; key < 300; ++key) {
        SCOPED_TRACE("key " + std::to_string(key));
        testing::Choices choices(key);
        testing::InvariantCase k = testing::MakeInvariantCase(choices);
        ScratchFolder folder;
        RoundTrip trip = RecordAndReplay(k.device, k.settings, key % 2 ? "PV-730" : "", folder);
        ExpectSameCollection(trip, k.settings);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << testing::DescribeFaults(k.device);
            return;
        }
    }
}

TEST(Recording, TheSystemsOwnErrorTextsAreShownByTheReplay) {
    DeviceDescription device = DefaultDevice();
    device.log.size = 100;
    Fault fails = AnswerFault(FaultKind::kQueryFails, DeviceCommand::kLogInfo);
    fails.error = kErrorNotSupported;
    device.faults = {fails};
    ScratchFolder folder;
    RoundTrip trip = RecordAndReplay(device, QuickSettings(), "", folder, true);
    ASSERT_FALSE(trip.recorded.messages.empty());
    EXPECT_EQ("Gerät meldet Fehler 50.", trip.recorded.messages.front());
    ExpectSameCollection(trip, QuickSettings());
}

// A recording is checked against itself when it is loaded: reads that hand out other bytes
// than the answer holds, or a fault aimed at an answer whose reads are fixed, would replay a
// conversation that never took place.
TEST(Recording, ADescriptionWhoseReadsDisagreeWithItsAnswersIsRefused) {
    const struct {
        const char* json;
        const char* error;
    } rows[] = {
        {R"({"replay": {"clock": {"hex": "40 05 00 08", "reads": "3"}}})",
         "replay.clock.reads: the reads hand out 3 bytes, the answer has 4"},
        {R"({"replay": {"stale": {"hex": "", "reads": "busy fail:0"}}})",
         "replay.stale.reads: not a read step: \"fail:0\""},
        {R"({"replay": {"version": {"hex": "00", "reads": "empty 1"}},
             "faults": [{"kind": "busy", "command": "version"}]})",
         "faults[0]: the answer it hits is replayed with its reads, which are fixed"},
        {R"({"settings": {"OneReadByte": 516, "Speed": 1}})",
         "settings.Speed: unknown link setting \"Speed\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.json);
        std::string error;
        DeviceDescription d = ParseDeviceDescription(row.json, "", &error);
        EXPECT_EQ(0u, error.rfind(row.error, 0)) << error;
        EXPECT_TRUE(d.printers.empty());
    }
}

// Opens and jobs straight on the spooler, as a program other than the run may make them.
std::vector<std::string> OpenAndPrint(Spooler& spooler, int times) {
    TranscriptSpooler transcript(spooler);
    for (int i = 0; i < times; ++i) {
        PrinterHandle handle = nullptr;
        if (!transcript.OpenPrinterHandle("PV-730", kPrinterAccessUse, &handle)) continue;
        if (transcript.StartDocument(handle, "PV-730 Data", "RAW")) transcript.EndDocument(handle);
        transcript.ClosePrinterHandle(handle);
    }
    return transcript.lines;
}

// Two refusals of one kind: the second fault must count the event the first one took, or its
// `skip` means another open than the one recorded.
TEST(Recording, SeveralRefusalsOfOneKindReplayAtTheirOwnEvents) {
    ScratchFolder folder;
    DeviceDescription device = DefaultDevice();
    device.faults = {SpoolerFault(FaultKind::kOpenRefused, 1, 1),
                     SpoolerFault(FaultKind::kOpenRefused, 3, 2),
                     SpoolerFault(FaultKind::kJobStartFails, 0, 1),
                     SpoolerFault(FaultKind::kJobStartFails, 2, 1)};
    std::vector<std::string> recorded;
    {
        RecordingHost host;
        EmulatedSpooler emulated(device, host);
        RecordingSpooler recorder(emulated, folder.Path("opens.json"));
        recorded = OpenAndPrint(recorder, 8);
        std::string error;
        ASSERT_TRUE(recorder.WriteDescription("test", &error)) << error;
    }
    std::string error;
    DeviceDescription description = LoadDeviceDescription(folder.Path("opens.json"), &error);
    ASSERT_EQ("", error);
    RecordingHost host;
    EmulatedSpooler replay(description, host);
    EXPECT_EQ(recorded, OpenAndPrint(replay, 8));
    EXPECT_EQ(3, std::count(recorded.begin(), recorded.end(), "open PV-730 0"));
}

TEST(Recording, AnExistingDescriptionIsNeverReplaced) {
    ScratchFolder folder;
    const std::string path = folder.Path("case.json");
    testing::WriteAll(path, testing::ToBytes("{}"));
    RecordingHost host;
    EmulatedSpooler emulated(DefaultDevice(), host);
    RecordingSpooler recorder(emulated, path);
    Collect(recorder, host, QuickSettings(), "", folder.Path("run"));
    std::string error;
    EXPECT_FALSE(recorder.WriteDescription("test", &error));
    EXPECT_EQ(path + " already exists", error);
    EXPECT_EQ(testing::ToBytes("{}"), testing::ReadAll(path));
}

// ---- trawler-cli collect --record ----------------------------------------------------------

// The container of the one package in a folder, its creation time (header bytes 12..23) blanked.
Bytes ContainerWithoutTime(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".zlg") names.push_back(entry.path().string());
    }
    if (names.size() != 1) return {};
    Bytes container = testing::ReadPackage(names[0]).container;
    if (container.size() >= 24) std::fill(container.begin() + 12, container.begin() + 24, 0);
    return container;
}

std::vector<std::string> Args(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(RecordingCommand, ARecordedRunReplaysToTheSameExitAndPackageUnderItsSettings) {
    struct Row {
        const char* name;
        const char* device;
        int exit;
    } rows[] = {
        {"saved, an answer busy and one with noise in front",
         R"({"log": {"size": 20000}, "faults": [
              {"kind": "busy", "command": "eeprom", "block": "0x8004"},
              {"kind": "stray-bytes", "command": "clock", "bytes": "00 01"}]})",
         0},
        {"failed, the log cut short", R"({"log": {"size": 20000}, "faults": [
              {"kind": "truncate", "command": "log_data", "packet": 5, "after": 10}]})",
         1},
    };
    const std::vector<std::string> quick = {"--setting",  "ReadWaitMillisec=0",
                                            "--setting",  "WaitAfterSendMillisec=0",
                                            "--progress", "none"};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder folder;
        std::filesystem::create_directory(folder.Path("first"));
        std::filesystem::create_directory(folder.Path("again"));
        testing::WriteAll(folder.Path("device.json"), testing::ToBytes(row.device));
        ASSERT_EQ(row.exit, RunCollect(Args(
                                {"--folder", folder.Path("first"), "--device",
                                 folder.Path("device.json"), "--record", folder.Path("case.json")},
                                quick)));
        // The log's answer is larger than an inline one: it streams to a file beside.
        EXPECT_TRUE(testing::Exists(folder.Path("case.log_data.bin")));
        // The replay takes the recorded settings, the command line's over them; recording it
        // again shows which it used.
        EXPECT_EQ(row.exit,
                  RunCollect({"--folder", folder.Path("again"), "--device",
                              folder.Path("case.json"), "--record", folder.Path("again.json"),
                              "--setting", "EmptyReadCount=7", "--progress", "none"}));
        std::string error;
        DeviceDescription again = LoadDeviceDescription(folder.Path("again.json"), &error);
        ASSERT_EQ("", error);
        ASSERT_TRUE(again.linkSettings.has_value());
        EXPECT_EQ(0, again.linkSettings->ReadWaitMillisec);
        EXPECT_EQ(0, again.linkSettings->WaitAfterSendMillisec);
        EXPECT_EQ(7, again.linkSettings->EmptyReadCount);
        EXPECT_EQ(ContainerWithoutTime(folder.Path("first")),
                  ContainerWithoutTime(folder.Path("again")));
    }
}

TEST(RecordingCommand, RefusesARecordingOfNoPrinterOrOverAnEarlierOne) {
    ScratchFolder folder;
    const std::string earlier = folder.Path("earlier.json");
    testing::WriteAll(earlier, testing::ToBytes("{}"));
    struct Row {
        const char* name;
        std::vector<std::string> args;
    } rows[] = {
        {"a demonstration reads no printer",
         {"--folder", folder.Folder(), "--demo", "--record", folder.Path("demo.json")}},
        {"an earlier recording of that name",
         {"--folder", folder.Folder(), "--simulate", "--record", earlier}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(2, RunCollect(Args(row.args, {"--progress", "none"})));
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder.Folder())) {
            files.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(std::vector<std::string>{"earlier.json"}, files);
        EXPECT_EQ(testing::ToBytes("{}"), testing::ReadAll(earlier));
    }
}

}  // namespace
}  // namespace trawler
