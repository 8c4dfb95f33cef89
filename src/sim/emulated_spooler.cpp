// EmulatedSpooler: queues, jobs, the driver's two private values and the firmware's answers.
//
// Raw-read block handed out for the raw-read value (the needed count is its whole length):
//   0  1  status: 0 = valid, kBusyStatus = driver busy (nothing else in the block)
//   1  3  zero
//   4  n  the next answer bytes, n <= min(buffer size - 4, bytes per read); n = 0: none waiting
// The online value fills four bytes: status (0 online, kOfflineStatus offline), three zeros.
#include "sim/emulated_spooler.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

#include "sim/answer_stream.h"
#include "pv730/firmware_frames.h"
#include "sim/device_answers.h"
#include "sim/fault_table.h"
#include "pv730/protocol.h"

namespace trawler {

using sim::AnswerEdits;

struct EmulatedSpooler::PrinterState {
    EmulatedPrinter config;
    sim::AnswerStream stream;
    PrinterState(const EmulatedPrinter& printer, uint32_t rate) : config(printer), stream(rate) {}
};

struct EmulatedSpooler::FaultState {
    Fault fault;
    uint32_t seen = 0;
    uint32_t hits = 0;
};

namespace {

constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRawHeader = pv730::kRawReadHeader;
constexpr uint32_t kOnlineSize = pv730::kOnlineValueSize;

bool IsPv730(const EmulatedPrinter& printer) {
    return printer.hasDriver && pv730::IsPv730Driver(printer.driver);
}

uint64_t FileSize(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file.is_open()) return 0;
    std::streamoff size = file.tellg();
    return size < 0 ? 0 : static_cast<uint64_t>(size);
}

// Stray bytes, then another source.
class PrefixedSource : public sim::ByteSource {
  public:
    PrefixedSource(std::vector<uint8_t> prefix, std::unique_ptr<sim::ByteSource> rest)
        : m_prefix(std::move(prefix)), m_rest(std::move(rest)) {}
    size_t Read(uint8_t* out, size_t max) override {
        size_t n = m_prefix.Read(out, max);
        return n + m_rest->Read(out + n, max - n);
    }
    size_t StagedBytes() const override { return m_prefix.StagedBytes() + m_rest->StagedBytes(); }

  private:
    sim::MemorySource m_prefix;
    std::unique_ptr<sim::ByteSource> m_rest;
};

bool TargetMatches(const Fault& fault, DeviceCommand command, uint32_t blockId) {
    if (!fault.hasTarget || fault.command != command) return false;
    return command != DeviceCommand::kEeprom || fault.blockId == 0 || fault.blockId == blockId;
}

uint64_t PickPacket(const Fault& fault, uint64_t packetCount) {
    switch (fault.packetPick) {
        case PacketPick::kFirst:
            return 0;
        case PacketPick::kMiddle:
            return packetCount / 2;
        case PacketPick::kLast:
            return packetCount - 1;
        case PacketPick::kIndex:
            break;
    }
    return fault.packetIndex;
}

// What one answer fault does to the answer (or packet) it hits.
void ApplyFault(const Fault& fault, AnswerEdits* edits) {
    switch (fault.kind) {
        case FaultKind::kNoAnswer:
            edits->noAnswer = true;
            break;
        case FaultKind::kTruncate:
            edits->hasTruncate = true;
            edits->truncateAfter = fault.value;
            break;
        case FaultKind::kStrayBytes:
            edits->stray.insert(edits->stray.end(), fault.bytes.begin(), fault.bytes.end());
            break;
        case FaultKind::kWrongCode:
            edits->hasCode = true;
            edits->code = static_cast<uint8_t>(fault.value);
            break;
        case FaultKind::kWrongLength:
            edits->hasLength = fault.hasLength;
            edits->length = fault.value;
            edits->hasSize = fault.hasSize;
            edits->size = fault.size;
            break;
        case FaultKind::kWrongBlockId:
            edits->hasBlockId = true;
            edits->blockId = fault.value;
            break;
        case FaultKind::kBadChecksum:
            edits->checksumDelta += fault.value;
            break;
        case FaultKind::kOversizeValidCount:
            edits->hasValidCount = true;
            edits->validCount = fault.value;
            break;
        case FaultKind::kBusy:
            edits->busyReads += fault.count;
            break;
        case FaultKind::kQueryFails:
            edits->failingQueries = fault.count;
            edits->queryError = fault.error;
            break;
        case FaultKind::kCorrupt:
        case FaultKind::kDrop:
        case FaultKind::kInsert: {
            sim::ByteEdit edit;
            edit.kind = fault.kind == FaultKind::kCorrupt ? sim::ByteEdit::kCorrupt
                        : fault.kind == FaultKind::kDrop  ? sim::ByteEdit::kDrop
                                                          : sim::ByteEdit::kInsert;
            edit.offset = fault.offset;
            edit.value = static_cast<uint8_t>(fault.value);
            edit.count = fault.count;
            edit.bytes = fault.bytes;
            edits->byteEdits.push_back(edit);
            break;
        }
        default:
            break;
    }
}

bool IsAnswerFault(FaultKind kind) {
    return sim::InfoOf(kind).editsAnswer;
}

void AddEvent(const AnswerEdits& edits, uint64_t offset, sim::Emission* emission) {
    if (edits.busyReads == 0 && edits.failingQueries == 0) return;
    sim::ReadEvent event;
    event.offset = offset;
    event.busyReads = edits.busyReads;
    event.failingQueries = edits.failingQueries;
    event.error = edits.queryError;
    emission->events.push_back(event);
}

}  // namespace

EmulatedSpooler::EmulatedSpooler(DeviceDescription device, Host& host)
    : m_device(std::move(device)), m_host(host) {
    for (const EmulatedPrinter& printer : m_device.printers) {
        m_printers.push_back(
            std::make_unique<PrinterState>(printer, m_device.pacing.bytesPerSecond));
    }
    for (const Fault& fault : m_device.faults) {
        auto state = std::make_unique<FaultState>();
        state->fault = fault;
        m_faults.push_back(std::move(state));
    }
    // What a printer still held from an earlier conversation is waiting before any command.
    if (m_device.stale) {
        for (auto& printer : m_printers) {
            if (!IsPv730(printer->config)) continue;
            sim::Emission emission;
            ReplayEmission(*m_device.stale, AnswerEdits(), &emission);
            printer->stream.Push(std::move(emission));
        }
    }
}

EmulatedSpooler::~EmulatedSpooler() = default;

bool EmulatedSpooler::Fail(uint32_t code) {
    m_lastError = code;
    return false;
}

bool EmulatedSpooler::FaultFires(FaultState& state, const std::string& printer) {
    if (!state.fault.printer.empty() && !SpoolerNamesEqual(state.fault.printer, printer))
        return false;
    ++state.seen;
    if (state.seen <= state.fault.skip) return false;
    if (state.fault.times != kFaultForever && state.hits >= state.fault.times) return false;
    ++state.hits;
    return true;
}

const Fault* EmulatedSpooler::FirstFiring(FaultKind kind, const std::string& printer) {
    const Fault* fired = nullptr;
    for (auto& state : m_faults) {
        // A query-fails with a command belongs to its answer, not to every read.
        if (state->fault.kind != kind || (kind == FaultKind::kQueryFails && state->fault.hasTarget))
            continue;
        // Each fault counts the event, even when one before it has already fired.
        if (FaultFires(*state, printer) && !fired) fired = &state->fault;
    }
    return fired;
}

EmulatedSpooler::PrinterState* EmulatedSpooler::FindPrinter(const std::string& name,
                                                            size_t* index) {
    for (size_t i = 0; i < m_printers.size(); ++i) {
        const EmulatedPrinter& config = m_printers[i]->config;
        if (config.hasName && SpoolerNamesEqual(config.name, name)) {
            if (FirstFiring(FaultKind::kPrinterMissing, config.name)) return nullptr;
            if (index) *index = i;
            return m_printers[i].get();
        }
    }
    return nullptr;
}

EmulatedSpooler::OpenHandle* EmulatedSpooler::FindHandle(PrinterHandle handle) {
    auto found = m_handles.find(reinterpret_cast<uintptr_t>(handle));
    return found == m_handles.end() ? nullptr : &found->second;
}

bool EmulatedSpooler::EnumerateLocal(std::vector<PrinterRecord>* records) {
    ++m_stats.enumerations;
    records->clear();
    for (auto& printer : m_printers) {
        const EmulatedPrinter& config = printer->config;
        if (config.hasName && !FindPrinter(config.name, nullptr)) continue;
        PrinterRecord record;
        record.hasName = config.hasName;
        record.name = config.name;
        record.hasDriver = config.hasDriver;
        record.driver = config.driver;
        records->push_back(record);
    }
    m_lastError = kErrorSuccess;
    return true;
}

bool MayOpen(PcUser user, uint32_t access) {
    // A standard user holds the right to print and to read the printer's settings.
    constexpr uint32_t kStandardUserRights = kPrinterAccessUse | kReadControl;
    return user == PcUser::kAdministrator || (access & ~kStandardUserRights) == 0;
}

bool EmulatedSpooler::OpenPrinterHandle(const std::string& name, uint32_t access,
                                        PrinterHandle* handle) {
    *handle = nullptr;
    size_t index = 0;
    PrinterState* printer = FindPrinter(name, &index);
    if (!printer) {
        ++m_stats.openFailures;
        return Fail(kErrorInvalidPrinterName);
    }
    if (const Fault* refused = FirstFiring(FaultKind::kOpenRefused, name)) {
        ++m_stats.openFailures;
        return Fail(refused->error);
    }
    if (!MayOpen(m_device.user, access)) {
        ++m_stats.openFailures;
        return Fail(kErrorAccessDenied);
    }
    uintptr_t id = m_nextHandle;
    m_nextHandle += 8;
    m_handles[id].printer = index;
    *handle = reinterpret_cast<PrinterHandle>(id);
    ++m_stats.opens;
    m_lastError = kErrorSuccess;
    return true;
}

bool EmulatedSpooler::ClosePrinterHandle(PrinterHandle handle) {
    auto found = m_handles.find(reinterpret_cast<uintptr_t>(handle));
    if (found == m_handles.end()) return Fail(kErrorInvalidHandle);
    // A job still open when its handle goes is dropped unprinted, as the spooler does.
    m_handles.erase(found);
    ++m_stats.closes;
    m_lastError = kErrorSuccess;
    return true;
}

bool EmulatedSpooler::StartDocument(PrinterHandle handle, const std::string& docName,
                                    const std::string& dataType) {
    OpenHandle* open = FindHandle(handle);
    if (!open) return Fail(kErrorInvalidHandle);
    if (open->docOpen) return Fail(kErrorInvalidParameter);
    const std::string& name = m_printers[open->printer]->config.name;
    if (const Fault* fails = FirstFiring(FaultKind::kJobStartFails, name)) {
        ++m_stats.jobStartFailures;
        return Fail(fails->error);
    }
    CapturedJob job;
    job.printer = name;
    job.docName = docName;
    job.dataType = dataType;
    m_jobs.push_back(std::move(job));
    open->docOpen = true;
    open->job = m_jobs.size() - 1;
    m_lastError = kErrorSuccess;
    return true;
}

bool EmulatedSpooler::StartPrinterPage(PrinterHandle handle) {
    OpenHandle* open = FindHandle(handle);
    if (!open) return Fail(kErrorInvalidHandle);
    if (!open->docOpen) return Fail(kErrorInvalidParameter);
    ++m_jobs[open->job].pages;
    return true;
}

bool EmulatedSpooler::WriteToPrinter(PrinterHandle handle, const uint8_t* data, uint32_t length,
                                     uint32_t* written) {
    *written = 0;
    OpenHandle* open = FindHandle(handle);
    if (!open) return Fail(kErrorInvalidHandle);
    if (!open->docOpen) return Fail(kErrorInvalidParameter);
    const std::string& name = m_printers[open->printer]->config.name;
    uint32_t taken = length;
    std::vector<pv730::ParsedCommand> commands;
    bool parsed = false;
    for (auto& state : m_faults) {
        const Fault& fault = state->fault;
        if (fault.kind != FaultKind::kShortWrite) continue;
        if (fault.hasTarget) {
            if (!parsed) commands = pv730::ParseCommandFrames(data, length);
            parsed = true;
            bool matches = false;
            for (const auto& c : commands) matches |= TargetMatches(fault, c.command, c.blockId);
            if (!matches) continue;
        }
        if (!FaultFires(*state, name)) continue;
        uint32_t keep = fault.value == kFaultForever ? (length == 0 ? 0 : length - 1) : fault.value;
        taken = std::min(taken, keep);
    }
    CapturedJob& job = m_jobs[open->job];
    job.bytes.insert(job.bytes.end(), data, data + taken);
    *written = taken;
    m_lastError = kErrorSuccess;
    return true;
}

bool EmulatedSpooler::EndPrinterPage(PrinterHandle handle) {
    OpenHandle* open = FindHandle(handle);
    if (!open) return Fail(kErrorInvalidHandle);
    if (!open->docOpen) return Fail(kErrorInvalidParameter);
    return true;
}

bool EmulatedSpooler::EndDocument(PrinterHandle handle) {
    OpenHandle* open = FindHandle(handle);
    if (!open) return Fail(kErrorInvalidHandle);
    if (!open->docOpen) return Fail(kErrorInvalidParameter);
    open->docOpen = false;
    size_t jobIndex = open->job;
    size_t printer = open->printer;
    CapturedJob& job = m_jobs[jobIndex];
    job.ended = true;
    // Only RAW jobs reach the printer unchanged; anything else would be rendered first.
    if (SpoolerNamesEqual(job.dataType, pv730::kJobDataType) &&
        IsPv730(m_printers[printer]->config)) {
        std::vector<pv730::ParsedCommand> commands =
            pv730::ParseCommandFrames(job.bytes.data(), job.bytes.size());
        for (const auto& c : commands) TakeCommand(printer, c.command, c.blockId, jobIndex);
    }
    m_lastError = kErrorSuccess;
    return true;
}

const EepromBlock* EmulatedSpooler::FindBlock(DeviceCommand command, uint32_t blockId) const {
    const EepromBlock* block = nullptr;
    if (command == DeviceCommand::kEeprom) {
        for (const EepromBlock& b : m_device.eeprom) {
            if (b.id == blockId) block = &b;
        }
    }
    return block;
}

const ReplayedAnswer* EmulatedSpooler::FindReplay(DeviceCommand command, uint32_t blockId) const {
    const ReplayedAnswer* replay = nullptr;
    for (const ReplayedAnswer& r : m_device.replays) {
        if (r.command == command && (command != DeviceCommand::kEeprom || r.blockId == blockId)) {
            replay = &r;
        }
    }
    return replay;
}

void EmulatedSpooler::CollectEdits(const std::string& printer, DeviceCommand command,
                                   uint32_t blockId, bool perPacket, AnswerEdits* edits,
                                   std::map<uint64_t, AnswerEdits>* packetEdits) {
    uint64_t packetCount = sim::LogPacketCount(m_device.log.size);
    for (auto& state : m_faults) {
        const Fault& fault = state->fault;
        if (!IsAnswerFault(fault.kind) || !TargetMatches(fault, command, blockId)) continue;
        if (!FaultFires(*state, printer)) continue;
        if (perPacket) {
            uint64_t packet = PickPacket(fault, packetCount);
            if (packet < packetCount) ApplyFault(fault, &(*packetEdits)[packet]);
        } else {
            ApplyFault(fault, edits);
        }
    }
    // A log that stops being sent at packet k: the packets before it still go out.
    auto silent = std::find_if(packetEdits->begin(), packetEdits->end(),
                               [](const auto& p) { return p.second.noAnswer; });
    if (silent != packetEdits->end() && silent->first == 0) edits->noAnswer = true;
}

void EmulatedSpooler::ReplayEmission(const ReplayedAnswer& replay, const AnswerEdits& edits,
                                     sim::Emission* emission) {
    std::unique_ptr<sim::ByteSource> source;
    uint64_t length = edits.stray.size();
    if (replay.fromFile) {
        source = std::make_unique<sim::FileSource>(replay.path);
        length += FileSize(replay.path);
    } else {
        source = std::make_unique<sim::MemorySource>(replay.bytes);
        length += replay.bytes.size();
    }
    emission->source = std::make_unique<PrefixedSource>(edits.stray, std::move(source));
    emission->length = length;
    emission->script = replay.reads;
    AddEvent(edits, 0, emission);
}

bool EmulatedSpooler::LogEmission(const std::map<uint64_t, AnswerEdits>& packetEdits,
                                  sim::Emission* emission) {
    std::unique_ptr<sim::ByteSource> content = sim::OpenLog(m_device.log);
    if (!content) return false;
    auto source =
        std::make_unique<sim::LogAnswerSource>(std::move(content), m_device.log.size, packetEdits);
    emission->length = source->Length();
    for (const auto& [packet, packetEdit] : packetEdits) {
        uint64_t offset = source->PacketOffset(packet);
        AddEvent(packetEdit, offset, emission);
        if (packetEdit.noAnswer) emission->length = std::min(emission->length, offset);
        if (packetEdit.hasTruncate) {
            emission->length = std::min(emission->length, offset + packetEdit.truncateAfter);
        }
    }
    emission->source = std::move(source);
    return true;
}

void EmulatedSpooler::FixedEmission(DeviceCommand command, const EepromBlock* block,
                                    const AnswerEdits& edits, sim::Emission* emission) {
    std::vector<uint8_t> bytes;
    switch (command) {
        case DeviceCommand::kClock:
            bytes = sim::ClockAnswer(m_device.clock, edits);
            break;
        case DeviceCommand::kVersion:
            bytes = sim::VersionAnswer(m_device.version, edits);
            break;
        case DeviceCommand::kEeprom:
            bytes = sim::EepromAnswer(*block, edits);
            break;
        default:
            bytes = sim::LogInfoAnswer(m_device.logInfo, edits);
            break;
    }
    emission->length = bytes.size();
    emission->source = std::make_unique<sim::MemorySource>(std::move(bytes));
    AddEvent(edits, 0, emission);
}

void EmulatedSpooler::TakeCommand(size_t printerIndex, DeviceCommand command, uint32_t blockId,
                                  size_t job) {
    PrinterState& printer = *m_printers[printerIndex];
    ReceivedCommand received;
    received.printer = printer.config.name;
    received.command = command;
    received.blockId = blockId;
    received.job = job;
    const EepromBlock* block = FindBlock(command, blockId);
    const ReplayedAnswer* replay = FindReplay(command, blockId);
    // The firmware does not answer for a block it does not hold.
    if (command == DeviceCommand::kEeprom && !block && !replay) {
        m_commands.push_back(received);
        return;
    }
    AnswerEdits edits;
    std::map<uint64_t, AnswerEdits> packetEdits;
    const bool perPacket = command == DeviceCommand::kLogData && !replay;
    CollectEdits(printer.config.name, command, blockId, perPacket, &edits, &packetEdits);
    sim::Emission emission;
    emission.readyAt = m_host.MonotonicMillis() + m_device.pacing.answerDelayMillis;
    bool answered = !edits.noAnswer;
    if (answered && replay) {
        ReplayEmission(*replay, edits, &emission);
    } else if (answered && perPacket) {
        answered = LogEmission(packetEdits, &emission);
    } else if (answered) {
        FixedEmission(command, block, edits, &emission);
    }
    if (!answered) {
        m_commands.push_back(received);
        return;
    }
    if (edits.hasTruncate) emission.length = std::min(emission.length, edits.truncateAfter);
    received.answered = true;
    m_commands.push_back(received);
    printer.stream.Push(std::move(emission));
    NoteStaged();
}

void EmulatedSpooler::NoteStaged() {
    size_t staged = 0;
    for (const auto& printer : m_printers) staged += printer->stream.StagedBytes();
    m_stats.peakStagedBytes = std::max(m_stats.peakStagedBytes, staged);
}

uint32_t EmulatedSpooler::Check(PrinterState& printer, uint8_t* buffer, uint32_t size,
                                uint32_t* needed) {
    ++m_stats.checks;
    *needed = kOnlineSize;
    if (size < kOnlineSize || !buffer) {
        m_lastError = kErrorMoreData;
        return kErrorMoreData;
    }
    bool online = printer.config.online;
    bool queryFails = printer.config.offlineQueryFails;
    uint32_t error = kErrorGenFailure;
    for (auto& state : m_faults) {
        if (state->fault.kind == FaultKind::kOffline && FaultFires(*state, printer.config.name)) {
            online = false;
            queryFails = state->fault.queryFails;
            error = state->fault.error;
        }
    }
    if (!online && queryFails) {
        ++m_stats.failedQueries;
        *needed = 0;
        m_lastError = error;
        return error;
    }
    std::memset(buffer, 0, kOnlineSize);
    buffer[0] = online ? 0 : kOfflineStatus;
    m_lastError = kErrorSuccess;
    return kErrorSuccess;
}

uint32_t EmulatedSpooler::RawRead(PrinterState& printer, uint8_t* buffer, uint32_t size,
                                  uint32_t* needed) {
    ++m_stats.rawReads;
    if (size < kRawHeader || !buffer) {
        *needed = kRawHeader;
        m_lastError = kErrorMoreData;
        return kErrorMoreData;
    }
    if (const Fault* fails = FirstFiring(FaultKind::kQueryFails, printer.config.name)) {
        ++m_stats.failedQueries;
        *needed = 0;
        m_lastError = fails->error;
        return fails->error;
    }
    size_t room = std::min<size_t>(size - kRawHeader, m_device.pacing.bytesPerRead);
    sim::RawReadResult result =
        printer.stream.Read(m_host.MonotonicMillis(), buffer + kRawHeader, room);
    NoteStaged();
    if (result.outcome == sim::RawReadResult::kFailed) {
        ++m_stats.failedQueries;
        *needed = 0;
        m_lastError = result.error;
        return result.error;
    }
    std::memset(buffer, 0, kRawHeader);
    *needed = kRawHeader;
    if (result.outcome == sim::RawReadResult::kBusy) {
        buffer[0] = kBusyStatus;
        ++m_stats.busyReads;
    } else if (result.outcome == sim::RawReadResult::kEmpty) {
        ++m_stats.emptyReads;
    } else {
        *needed = static_cast<uint32_t>(kRawHeader + result.count);
        m_stats.answerBytesServed += result.count;
    }
    m_lastError = kErrorSuccess;
    return kErrorSuccess;
}

uint32_t EmulatedSpooler::QueryPrinterData(PrinterHandle handle, const std::string& valueName,
                                           uint32_t* type, uint8_t* buffer, uint32_t size,
                                           uint32_t* needed) {
    OpenHandle* open = FindHandle(handle);
    if (!open) {
        m_lastError = kErrorInvalidHandle;
        return kErrorInvalidHandle;
    }
    PrinterState& printer = *m_printers[open->printer];
    *type = kRegBinary;
    // The private values belong to the PV-730 driver; other drivers have never heard of them.
    if (IsPv730(printer.config) && valueName == pv730::kValueOnlineCheck) {
        return Check(printer, buffer, size, needed);
    }
    if (IsPv730(printer.config) && valueName == pv730::kValueRawRead) {
        return RawRead(printer, buffer, size, needed);
    }
    ++m_stats.otherQueries;
    m_lastError = kErrorFileNotFound;
    return kErrorFileNotFound;
}

std::string EmulatedSpooler::ErrorText(uint32_t code) {
    // A recording brings the texts of the system it was made on.
    auto recorded = m_device.errorTexts.find(code);
    if (recorded != m_device.errorTexts.end()) return recorded->second;
    switch (code) {
        case kErrorSuccess:
            return "The operation completed successfully.";
        case kErrorFileNotFound:
            return "The system cannot find the file specified.";
        case kErrorAccessDenied:
            return "Access is denied.";
        case kErrorInvalidHandle:
            return "The handle is invalid.";
        case kErrorGenFailure:
            return "A device attached to the system is not functioning.";
        case kErrorNotSupported:
            return "The request is not supported.";
        case kErrorInvalidParameter:
            return "The parameter is incorrect.";
        case kErrorInsufficientBuffer:
            return "The data area passed to a system call is too small.";
        case kErrorMoreData:
            return "More data is available.";
        case kErrorInvalidPrinterName:
            return "The printer name is invalid.";
        case kErrorPrinterNotFound:
            return "The printer was not found.";
        default:
            return std::string();
    }
}

size_t EmulatedSpooler::PendingAnswers(const std::string& printer) const {
    for (const auto& p : m_printers) {
        if (p->config.hasName && SpoolerNamesEqual(p->config.name, printer)) {
            return p->stream.PendingAnswers();
        }
    }
    return 0;
}

uint64_t EmulatedSpooler::PendingAnswerBytes(const std::string& printer) const {
    for (const auto& p : m_printers) {
        if (p->config.hasName && SpoolerNamesEqual(p->config.name, printer)) {
            return p->stream.PendingBytes();
        }
    }
    return 0;
}

void EmulatedSpooler::SetOnline(const std::string& printer, bool online) {
    for (auto& p : m_printers) {
        if (p->config.hasName && SpoolerNamesEqual(p->config.name, printer))
            p->config.online = online;
    }
}

}  // namespace trawler
