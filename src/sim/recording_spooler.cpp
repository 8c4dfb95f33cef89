// RecordingSpooler: each call passed through, the conversation kept for a device description
// (docs/DEVICE.md, "Recording a collection").
//
// What becomes of each observation in the description:
//   enumeration, opens      printers[] (name, driver); a refused open: an open-refused fault
//   "HlPvCheck"             printers[].online / .offline, or offline faults where it changed
//   job start, short write  job-start-fails and short-write faults, counted per printer
//   RAW job at its end      its command frames, parsed as the firmware parses them: each opens
//                           a new answer; the raw reads after it belong to that answer
//   "HlPvRawReadTest"       the answer bytes (replay), and the reads themselves ("reads") when
//                           the emulator's own pacing would not hand them out the same way
//   ErrorText               error_texts, so a replay shows the system's own words
#include "sim/recording_spooler.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/file_ops.h"
#include "platform/owned_file.h"
#include "pv730/protocol.h"
#include "pv730/firmware_frames.h"
#include "sim/fault_table.h"

namespace trawler {

namespace sim {

// One request's answer: the bytes its raw reads handed out and the reads themselves.
struct RecordedAnswer {
    std::string key;  // "stale", "clock", ..., "eeprom-0x8004": names its side file
    DeviceCommand command = DeviceCommand::kClock;
    uint32_t blockId = 0;
    bool stale = false;
    bool repeated = false;  // asked again: the replay holds one answer per command
    uint64_t length = 0;
    std::vector<uint8_t> bytes;  // while the answer stands inline
    OwnedFile side;
    std::string sideName;  // set once a side file was asked for, even if it failed
    std::vector<ReadStep> reads;
    std::vector<uint32_t> rooms;  // the answer bytes each run of reads had room for
};

// What the online value said once: the query's status, else whether the first byte was 0.
struct CheckResult {
    uint32_t status = 0;
    bool online = true;
    bool operator==(const CheckResult& o) const { return status == o.status && online == o.online; }
};

struct RecordedPrinter {
    PrinterRecord record;
    // Listed or reachable: a printer that only ever answered "invalid name" is not one the
    // replay lists, and the emulator says the same for it.
    bool known = false;
    std::vector<uint32_t> opens;      // 0 opened, else the error
    std::vector<CheckResult> checks;  // every online value query
    std::vector<uint32_t> jobStarts;  // 0 started, else the error
    std::vector<uint32_t> writes;     // bytes kept, kWholeWrite when all of them
};

}  // namespace sim

namespace {

using Json = nlohmann::ordered_json;
using sim::RecordedAnswer;
using sim::RecordedPrinter;

constexpr uint32_t kWholeWrite = 0xFFFFFFFFu;
constexpr uint32_t kRawHeader = pv730::kRawReadHeader;

std::string BlockName(uint32_t blockId) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(blockId));
    return text;
}

bool IsUtf8(const std::string& text) {
    size_t follow = 0;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (follow > 0) {
            if ((byte & 0xC0) != 0x80) return false;
            --follow;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            follow = 1;
        } else if ((byte & 0xF0) == 0xE0) {
            follow = 2;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            follow = 3;
        } else if (byte >= 0x80) {
            return false;
        }
    }
    return follow == 0;
}

// JSON text must be UTF-8; a name or text in the system's ANSI code page is kept byte for byte
// as the Latin-1 characters of its bytes, so no two names become one.
std::string JsonText(const std::string& text) {
    if (IsUtf8(text)) return text;
    std::string utf8;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

// Four bytes to a group, as the answers' big-endian words stand.
std::string HexText(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0 && i % 4 == 0) text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

void AppendRead(RecordedAnswer& answer, const ReadStep& step, uint32_t room) {
    if (!answer.reads.empty()) {
        ReadStep& last = answer.reads.back();
        if (last.kind == step.kind && last.bytes == step.bytes && last.error == step.error &&
            answer.rooms.back() == room && last.count != 0xFFFFFFFFu) {
            ++last.count;
            return;
        }
    }
    answer.reads.push_back(step);
    answer.rooms.push_back(room);
}

// Reads after the last one that did anything are what the emulator does on its own.
size_t ReadsThatMatter(const RecordedAnswer& answer) {
    size_t n = answer.reads.size();
    while (n > 0 && answer.reads[n - 1].kind == ReadStep::kEmpty) --n;
    return n;
}

// Whether the emulator, unpaced, hands the answer out in exactly the recorded reads: each read
// as much as it has room for, up to `bytesPerRead`, and nothing else in between.
bool ServedAsPaced(const RecordedAnswer& answer, uint32_t bytesPerRead) {
    uint64_t left = answer.length;
    for (size_t i = 0; i < ReadsThatMatter(answer); ++i) {
        const ReadStep& step = answer.reads[i];
        if (step.kind != ReadStep::kBytes) return false;
        uint64_t full = std::min(answer.rooms[i], bytesPerRead);
        uint64_t total = uint64_t{step.bytes} * step.count;
        if (step.bytes == full && total <= left) {
            left -= total;
        } else if (step.count == 1 && step.bytes == left) {
            left = 0;
        } else {
            return false;
        }
    }
    return left == 0;
}

// The most answer bytes one read handed out: the pacing under which most answers need no reads.
uint32_t LargestRead(const std::vector<std::unique_ptr<RecordedAnswer>>& answers) {
    uint32_t largest = 0;
    for (const auto& answer : answers) {
        for (const ReadStep& step : answer->reads) {
            if (step.kind == ReadStep::kBytes) largest = std::max(largest, step.bytes);
        }
    }
    return largest == 0 ? Pacing().bytesPerRead : largest;
}

Json AnswerJson(const RecordedAnswer& answer, uint32_t bytesPerRead) {
    const bool paced = ServedAsPaced(answer, bytesPerRead);
    if (answer.sideName.empty() && paced) return HexText(answer.bytes);
    Json entry = Json::object();
    if (answer.sideName.empty()) {
        entry["hex"] = HexText(answer.bytes);
    } else {
        entry["file"] = JsonText(answer.sideName);
    }
    if (!paced) {
        std::vector<ReadStep> reads(
            answer.reads.begin(),
            answer.reads.begin() + static_cast<long>(ReadsThatMatter(answer)));
        entry["reads"] = FormatReadSteps(reads);
    }
    return entry;
}

Json ReplayJson(const std::vector<std::unique_ptr<RecordedAnswer>>& answers,
                uint32_t bytesPerRead) {
    Json replay = Json::object();
    for (const auto& answer : answers) {
        if (answer->repeated) continue;
        if (answer->stale) {
            // Nothing waited: the emulator's stream starts empty anyway.
            if (ReadsThatMatter(*answer) == 0) continue;
            replay["stale"] = AnswerJson(*answer, bytesPerRead);
        } else if (answer->command == DeviceCommand::kEeprom) {
            replay["eeprom"][BlockName(answer->blockId)] = AnswerJson(*answer, bytesPerRead);
        } else {
            replay[DeviceCommandName(answer->command)] = AnswerJson(*answer, bytesPerRead);
        }
    }
    return replay;
}

Json Fault(const char* kind, const std::string& printer, size_t skip, size_t times) {
    Json fault = Json::object();
    fault["kind"] = kind;
    fault["printer"] = JsonText(printer);
    if (skip != 0) fault["skip"] = skip;
    fault["times"] = times;
    return fault;
}

// Each run of equal events that are not `fine` becomes one fault through `make(first, n)`.
// Every fault of a kind counts every event of its printer, so `first` is the event's number.
template <typename T, typename Make>
void FaultRuns(const std::vector<T>& events, const T& fine, Json* faults, Make make) {
    for (size_t i = 0; i < events.size();) {
        size_t end = i + 1;
        while (end < events.size() && events[end] == events[i]) ++end;
        if (!(events[i] == fine)) faults->push_back(make(i, end - i));
        i = end;
    }
}

void PrinterFaults(const RecordedPrinter& p, Json* faults) {
    const std::string& name = p.record.name;
    FaultRuns(p.opens, 0u, faults, [&](size_t first, size_t n) {
        Json f = Fault(sim::FaultKindName(FaultKind::kOpenRefused), name, first, n);
        f["error"] = p.opens[first];
        return f;
    });
    FaultRuns(p.jobStarts, 0u, faults, [&](size_t first, size_t n) {
        Json f = Fault(sim::FaultKindName(FaultKind::kJobStartFails), name, first, n);
        f["error"] = p.jobStarts[first];
        return f;
    });
    FaultRuns(p.writes, kWholeWrite, faults, [&](size_t first, size_t n) {
        Json f = Fault(sim::FaultKindName(FaultKind::kShortWrite), name, first, n);
        f["written"] = p.writes[first];
        return f;
    });
}

// A printer that was offline the same way at every check says so itself; one that changed
// between checks is online, with an offline fault for each check that said otherwise.
void PrinterOnline(const RecordedPrinter& p, Json* entry, Json* faults) {
    const std::vector<sim::CheckResult>& checks = p.checks;
    const bool same = std::all_of(checks.begin(), checks.end(),
                                  [&](const sim::CheckResult& c) { return c == checks.front(); });
    if (!checks.empty() && same && !checks.front().online && checks.front().status == 0) {
        (*entry)["online"] = false;
        return;
    }
    if (!checks.empty() && same && checks.front().status == kErrorGenFailure) {
        (*entry)["online"] = false;
        (*entry)["offline"] = "query-fails";
        return;
    }
    (*entry)["online"] = true;
    FaultRuns(checks, sim::CheckResult{}, faults, [&](size_t first, size_t n) {
        Json f = Fault(sim::FaultKindName(FaultKind::kOffline), p.record.name, first, n);
        if (checks[first].status != 0) {
            f["mode"] = "query-fails";
            f["error"] = checks[first].status;
        }
        return f;
    });
}

Json PrinterJson(const RecordedPrinter& p, Json* faults) {
    Json entry = Json::object();
    entry["name"] = p.record.hasName ? Json(JsonText(p.record.name)) : Json(nullptr);
    entry["driver"] = p.record.hasDriver ? Json(JsonText(p.record.driver)) : Json(nullptr);
    if (!p.record.hasName) return entry;
    PrinterOnline(p, &entry, faults);
    PrinterFaults(p, faults);
    return entry;
}

Json SettingsJson(const LinkSettings& s) {
    Json settings = Json::object();
    settings[kSettingEmptyReadCount] = s.EmptyReadCount;
    settings[kSettingOneReadByte] = s.OneReadByte;
    settings[kSettingReadWaitMillisec] = s.ReadWaitMillisec;
    settings[kSettingWaitAfterSendMillisec] = s.WaitAfterSendMillisec;
    return settings;
}

std::string CodeText(uint32_t code) {
    return "error " + std::to_string(code);
}

}  // namespace

RecordingSpooler::RecordingSpooler(Spooler& inner, std::string descriptionPath)
    : m_inner(inner), m_path(std::move(descriptionPath)) {
    size_t slash = m_path.find_last_of("/\\");
    m_folder = slash == std::string::npos ? std::string() : m_path.substr(0, slash + 1);
    m_stem = m_path.substr(m_folder.size());
    const std::string extension = ".json";
    if (m_stem.size() > extension.size() &&
        SpoolerNamesEqual(m_stem.substr(m_stem.size() - extension.size()), extension)) {
        m_stem.resize(m_stem.size() - extension.size());
    }
    auto stale = std::make_unique<RecordedAnswer>();
    stale->key = "stale";
    stale->stale = true;
    m_answers.push_back(std::move(stale));
}

RecordingSpooler::~RecordingSpooler() = default;

void RecordingSpooler::Note(const std::string& text) {
    if (std::find(m_notes.begin(), m_notes.end(), text) == m_notes.end()) m_notes.push_back(text);
}

uint32_t RecordingSpooler::FailureCode() {
    uint32_t code = m_inner.LastError();
    if (code != kErrorSuccess) return code;
    // A failure without a code cannot be a fault of the description, which needs one.
    Note("a spooler call failed without an error code; the replay fails it with 31");
    return kErrorGenFailure;
}

size_t RecordingSpooler::PrinterNamed(const std::string& name) {
    for (size_t i = 0; i < m_printers.size(); ++i) {
        const PrinterRecord& r = m_printers[i]->record;
        if (r.hasName && SpoolerNamesEqual(r.name, name)) return i;
    }
    // Reached by name only: its driver answered the PV-730's values, or the run found out
    // that it does not.
    auto printer = std::make_unique<RecordedPrinter>();
    printer->record.hasName = true;
    printer->record.name = name;
    printer->record.hasDriver = true;
    printer->record.driver = pv730::kDriverName;
    m_printers.push_back(std::move(printer));
    return m_printers.size() - 1;
}

RecordingSpooler::OpenHandle* RecordingSpooler::FindHandle(PrinterHandle handle) {
    auto found = m_handles.find(reinterpret_cast<uintptr_t>(handle));
    return found == m_handles.end() ? nullptr : &found->second;
}

bool RecordingSpooler::EnumerateLocal(std::vector<PrinterRecord>* records) {
    if (!m_inner.EnumerateLocal(records)) {
        Note("the spooler could not list its printers (" + CodeText(m_inner.LastError()) +
             "); the replay lists the printers the run reached by name");
        return false;
    }
    if (m_written) return true;
    for (const PrinterRecord& record : *records) {
        if (!record.hasName) {
            // Unnamed entries are only listed, never reached: the first listing keeps them.
            if (m_enumerated) continue;
            m_printers.push_back(std::make_unique<RecordedPrinter>());
            m_printers.back()->record = record;
            m_printers.back()->known = true;
            continue;
        }
        RecordedPrinter& printer = *m_printers[PrinterNamed(record.name)];
        printer.record = record;
        printer.known = true;
    }
    m_enumerated = true;
    return true;
}

bool RecordingSpooler::OpenPrinterHandle(const std::string& name, uint32_t access,
                                         PrinterHandle* handle) {
    const bool ok = m_inner.OpenPrinterHandle(name, access, handle);
    if (m_written) return ok;
    const uint32_t code = ok ? kErrorSuccess : FailureCode();
    const size_t index = PrinterNamed(name);
    RecordedPrinter& printer = *m_printers[index];
    printer.opens.push_back(code);
    if (code != kErrorInvalidPrinterName) printer.known = true;
    if (ok && *handle != nullptr) m_handles[reinterpret_cast<uintptr_t>(*handle)].printer = index;
    return ok;
}

bool RecordingSpooler::ClosePrinterHandle(PrinterHandle handle) {
    const bool ok = m_inner.ClosePrinterHandle(handle);
    // A job still open is dropped with its handle, by the spooler and the emulator alike.
    m_handles.erase(reinterpret_cast<uintptr_t>(handle));
    return ok;
}

bool RecordingSpooler::StartDocument(PrinterHandle handle, const std::string& docName,
                                     const std::string& dataType) {
    const bool ok = m_inner.StartDocument(handle, docName, dataType);
    OpenHandle* open = FindHandle(handle);
    if (m_written || open == nullptr) return ok;
    m_printers[open->printer]->jobStarts.push_back(ok ? kErrorSuccess : FailureCode());
    if (ok) {
        open->docOpen = true;
        open->raw = SpoolerNamesEqual(dataType, pv730::kJobDataType);
        open->job.clear();
    }
    return ok;
}

bool RecordingSpooler::StartPrinterPage(PrinterHandle handle) {
    const bool ok = m_inner.StartPrinterPage(handle);
    OpenHandle* open = FindHandle(handle);
    if (!ok && open != nullptr && !m_written) {
        Note("a page could not be started (" + CodeText(m_inner.LastError()) +
             "); the replay starts it");
    }
    return ok;
}

bool RecordingSpooler::WriteToPrinter(PrinterHandle handle, const uint8_t* data, uint32_t length,
                                      uint32_t* written) {
    const bool ok = m_inner.WriteToPrinter(handle, data, length, written);
    OpenHandle* open = FindHandle(handle);
    if (m_written || open == nullptr || !open->docOpen) return ok;
    // A failed write took nothing the printer can answer; the replay keeps none of it.
    const uint32_t kept = ok ? std::min(*written, length) : 0;
    m_printers[open->printer]->writes.push_back(kept == length ? kWholeWrite : kept);
    open->job.insert(open->job.end(), data, data + kept);
    return ok;
}

bool RecordingSpooler::EndPrinterPage(PrinterHandle handle) {
    const bool ok = m_inner.EndPrinterPage(handle);
    if (!ok && FindHandle(handle) != nullptr && !m_written) {
        Note("a page could not be ended (" + CodeText(m_inner.LastError()) +
             "); the replay ends it");
    }
    return ok;
}

bool RecordingSpooler::EndDocument(PrinterHandle handle) {
    const bool ok = m_inner.EndDocument(handle);
    OpenHandle* open = FindHandle(handle);
    if (m_written || open == nullptr || !open->docOpen) return ok;
    open->docOpen = false;
    if (!ok) {
        Note("a job could not be ended (" + CodeText(m_inner.LastError()) +
             "); the replay ends it and its commands are answered");
    }
    if (open->raw) TakeJob(*open);
    return ok;
}

void RecordingSpooler::TakeJob(const OpenHandle& open) {
    const PrinterRecord& printer = m_printers[open.printer]->record;
    // Like the emulator: only the PV-730 driver's queues pass a RAW job to the firmware.
    if (!printer.hasDriver || !pv730::IsPv730Driver(printer.driver)) return;
    for (const pv730::ParsedCommand& c :
         pv730::ParseCommandFrames(open.job.data(), open.job.size())) {
        NoteConversation(open.printer);
        BeginAnswer(c.command, c.blockId);
    }
}

void RecordingSpooler::BeginAnswer(DeviceCommand command, uint32_t blockId) {
    auto answer = std::make_unique<RecordedAnswer>();
    answer->command = command;
    answer->blockId = command == DeviceCommand::kEeprom ? blockId : 0;
    answer->key = DeviceCommandName(command);
    if (command == DeviceCommand::kEeprom) answer->key += "-" + BlockName(blockId);
    for (const auto& earlier : m_answers) {
        if (!earlier->stale && earlier->key == answer->key) answer->repeated = true;
    }
    if (answer->repeated) {
        Note("the " + answer->key +
             " request went out more than once; the replay answers each with the first answer");
    }
    m_answers.push_back(std::move(answer));
}

void RecordingSpooler::NoteConversation(size_t printer) {
    if (!m_conversationPrinter) m_conversationPrinter = printer;
    if (*m_conversationPrinter != printer) {
        Note(
            "answers were read from more than one printer; the replay serves them, in the "
            "order they were read, from every PV-730 printer");
    }
}

uint32_t RecordingSpooler::QueryPrinterData(PrinterHandle handle, const std::string& valueName,
                                            uint32_t* type, uint8_t* buffer, uint32_t size,
                                            uint32_t* needed) {
    const uint32_t status = m_inner.QueryPrinterData(handle, valueName, type, buffer, size, needed);
    OpenHandle* open = FindHandle(handle);
    if (m_written || open == nullptr) return status;
    if (valueName == pv730::kValueRawRead) {
        NoteConversation(open->printer);
        RecordRawRead(status, buffer, size, *needed);
    } else if (valueName == pv730::kValueOnlineCheck) {
        RecordCheck(open->printer, status, buffer, size);
    }
    return status;
}

void RecordingSpooler::RecordCheck(size_t printer, uint32_t status, const uint8_t* buffer,
                                   uint32_t size) {
    sim::CheckResult result;
    result.status = status;
    result.online =
        status == kErrorSuccess && buffer != nullptr && pv730::IsOnlineStatus(buffer, size);
    m_printers[printer]->checks.push_back(result);
}

// The block as the link takes it (pv730/protocol.h): a failed query, a busy status byte, or
// the answer bytes after the header, as many as the needed count says and the buffer holds.
void RecordingSpooler::RecordRawRead(uint32_t status, const uint8_t* buffer, uint32_t size,
                                     uint32_t needed) {
    RecordedAnswer& answer = *m_answers.back();
    ReadStep step;
    step.kind = ReadStep::kEmpty;
    if (status != kErrorSuccess) {
        step.kind = ReadStep::kFails;
        step.error = status;
    } else if (buffer != nullptr && size > 0 && !pv730::IsRawReadValid(buffer)) {
        step.kind = ReadStep::kBusy;
    } else if (buffer != nullptr && std::min(needed, size) > kRawHeader) {
        step.kind = ReadStep::kBytes;
        step.bytes = std::min(needed, size) - kRawHeader;
        AppendAnswerBytes(answer, buffer + kRawHeader, step.bytes);
    }
    AppendRead(answer, step, size > kRawHeader ? size - kRawHeader : 0);
}

void RecordingSpooler::AppendAnswerBytes(RecordedAnswer& answer, const uint8_t* data,
                                         size_t count) {
    answer.length += count;
    if (answer.repeated) return;
    if (answer.sideName.empty() && answer.bytes.size() + count <= kInlineAnswerBytes) {
        answer.bytes.insert(answer.bytes.end(), data, data + count);
        return;
    }
    if (answer.sideName.empty() && !OpenSideFile(answer)) return;
    if (!answer.side) return;
    if (std::fwrite(data, 1, count, answer.side.Get()) != count) {
        if (m_sideError.empty()) m_sideError = "cannot write " + m_folder + answer.sideName;
        answer.side.Close();
    }
}

// The answer's bytes so far move to a file of their own beside the description; the rest
// follow as they are read, so the answer is never held whole.
bool RecordingSpooler::OpenSideFile(RecordedAnswer& answer) {
    for (int n = 1; n < 1000 && !answer.side; ++n) {
        std::string name = m_stem + "." + answer.key + (n == 1 ? "" : "-" + std::to_string(n));
        answer.sideName = name + ".bin";
        if (PathExists(m_folder + answer.sideName)) continue;
        answer.side = OwnedFile(OpenNewFile(m_folder + answer.sideName));
        if (!answer.side) break;
    }
    if (!answer.side) {
        if (m_sideError.empty()) m_sideError = "cannot create " + m_folder + answer.sideName;
        return false;
    }
    const std::vector<uint8_t> held = std::move(answer.bytes);
    answer.bytes.clear();
    answer.bytes.shrink_to_fit();
    if (!held.empty() &&
        std::fwrite(held.data(), 1, held.size(), answer.side.Get()) != held.size()) {
        if (m_sideError.empty()) m_sideError = "cannot write " + m_folder + answer.sideName;
        answer.side.Close();
    }
    return true;
}

std::string RecordingSpooler::ErrorText(uint32_t code) {
    std::string text = m_inner.ErrorText(code);
    if (!m_written) m_errorTexts[code] = text;
    return text;
}

std::vector<std::string> RecordingSpooler::SideFiles() const {
    std::vector<std::string> names;
    for (const auto& answer : m_answers) {
        if (!answer->sideName.empty()) names.push_back(answer->sideName);
    }
    return names;
}

bool RecordingSpooler::CloseSideFiles() {
    bool ok = true;
    for (const auto& answer : m_answers) {
        if (answer->side && !answer->side.Close()) {
            if (m_sideError.empty()) m_sideError = "cannot write " + m_folder + answer->sideName;
            ok = false;
        }
    }
    return ok && m_sideError.empty();
}

bool RecordingSpooler::WriteDescription(const std::string& outcome, std::string* error) {
    if (m_written) {
        *error = "the recording was already written";
        return false;
    }
    m_written = true;
    const bool sidesOk = CloseSideFiles();
    if (!sidesOk) Note("incomplete: " + m_sideError);

    Json root = Json::object();
    root["recording"]["outcome"] = JsonText(outcome);
    if (!m_notes.empty()) root["recording"]["not_replayed"] = m_notes;
    Json faults = Json::array();
    root["printers"] = Json::array();
    for (const auto& printer : m_printers) {
        if (printer->known) root["printers"].push_back(PrinterJson(*printer, &faults));
    }
    if (m_settings) root["settings"] = SettingsJson(*m_settings);
    const uint32_t bytesPerRead = LargestRead(m_answers);
    root["pacing"] = {
        {"answer_delay_ms", 0}, {"bytes_per_read", bytesPerRead}, {"bytes_per_second", 0}};
    root["replay"] = ReplayJson(m_answers, bytesPerRead);
    if (!faults.empty()) root["faults"] = faults;
    for (const auto& [code, text] : m_errorTexts) {
        root["error_texts"][std::to_string(code)] = JsonText(text);
    }

    OwnedFile file(OpenNewFile(m_path));
    if (!file) {
        *error = PathExists(m_path) ? m_path + " already exists" : "cannot create " + m_path;
        return false;
    }
    // Whatever slipped past JsonText is replaced rather than thrown about.
    const std::string text = root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    if (std::fwrite(text.data(), 1, text.size(), file.Get()) != text.size() || !file.Close()) {
        *error = "cannot write " + m_path;
        return false;
    }
    if (!sidesOk) *error = m_sideError;
    return sidesOk;
}

}  // namespace trawler
