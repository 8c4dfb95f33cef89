// The built-in PV-730 and the JSON device description reader (fields in docs/DEVICE.md).
#include "sim/device_description.h"

#include <cctype>
#include <charconv>
#include <system_error>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "platform/spooler.h"
#include "platform/big_endian.h"
#include "sim/fault_table.h"

namespace trawler {

namespace {

constexpr DeviceCommand kDeviceCommands[] = {DeviceCommand::kClock, DeviceCommand::kVersion,
                                             DeviceCommand::kEeprom, DeviceCommand::kLogInfo,
                                             DeviceCommand::kLogData};

using Json = nlohmann::json;

// Data sizes of the built-in device's blocks, in table order.
constexpr uint32_t kDefaultBlockSizes[10] = {128, 256, 64, 512, 128, 32, 96, 96, 96, 64};
constexpr uint64_t kEepromPatternKey = 0x730;
constexpr uint32_t kDefaultUnitNumber = 1234;
constexpr uint32_t kMaxBlockSize = 0xFFFF - 16;  // L = N + 16 must fit its 16-bit field
constexpr uint64_t kMaxLogSize = 0xFFFFFFFFull;  // the system counts log bytes in 32 bits

uint64_t SplitMix(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

enum class NumberText { kNumber, kTooLarge, kNotANumber };

// The whole text as an unsigned number in `base`: digits only, no sign, no blanks.
NumberText WholeNumber(const std::string& text, int base, uint64_t* out) {
    const char* end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, *out, base);
    if (r.ec == std::errc::result_out_of_range) return NumberText::kTooLarge;
    if (r.ec != std::errc() || r.ptr != end) return NumberText::kNotANumber;
    return NumberText::kNumber;
}

// Collects the first error with the path of the field it is about.

struct Reader {
    std::string error;
    std::string baseDir;

    bool Fail(const std::string& field, const std::string& problem) {
        if (error.empty()) error = field + ": " + problem;
        return false;
    }

    bool CheckKeys(const Json& object, const std::string& field,
                   const std::set<std::string>& allowed) {
        if (!object.is_object())
            return Fail(field.empty() ? "(top level)" : field, "expected an object");
        for (const auto& item : object.items()) {
            if (allowed.count(item.key()) == 0) {
                std::string where = field.empty() ? item.key() : field + "." + item.key();
                return Fail(where, "unknown field");
            }
        }
        return true;
    }

    // A number, or a string in decimal or 0x hexadecimal.
    bool Unsigned(const Json& value, const std::string& field, uint64_t max, uint64_t* out) {
        if (value.is_number_unsigned()) {
            *out = value.get<uint64_t>();
        } else if (value.is_number_integer()) {
            return Fail(field, "must not be negative");
        } else if (value.is_string()) {
            const std::string text = value.get<std::string>();
            bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
            size_t start = hex ? 2 : 0;
            if (text.size() == start) return Fail(field, "expected a number");
            switch (WholeNumber(text.substr(start), hex ? 16 : 10, out)) {
                case NumberText::kNumber:
                    break;
                case NumberText::kTooLarge:
                    return Fail(field, "number too large");
                case NumberText::kNotANumber:
                    return Fail(field, "expected a number, not \"" + text + "\"");
            }
        } else {
            return Fail(field, "expected a number");
        }
        if (*out > max) return Fail(field, "must be at most " + std::to_string(max));
        return true;
    }

    bool U32(const Json& value, const std::string& field, uint32_t max, uint32_t* out) {
        uint64_t v = 0;
        if (!Unsigned(value, field, max, &v)) return false;
        *out = static_cast<uint32_t>(v);
        return true;
    }

    bool Text(const Json& value, const std::string& field, std::string* out) {
        if (!value.is_string()) return Fail(field, "expected a string");
        *out = value.get<std::string>();
        return true;
    }

    bool Bool(const Json& value, const std::string& field, bool* out) {
        if (!value.is_boolean()) return Fail(field, "expected true or false");
        *out = value.get<bool>();
        return true;
    }

    // Hexadecimal bytes; blanks, colons and dashes between them are allowed.
    bool Hex(const Json& value, const std::string& field, std::vector<uint8_t>* out) {
        if (!value.is_string()) return Fail(field, "expected a string of hexadecimal bytes");
        out->clear();
        int high = -1;
        for (char ch : value.get<std::string>()) {
            int c = static_cast<unsigned char>(ch);
            if (c == ' ' || c == ':' || c == '-' || c == '\t' || c == '\n') {
                if (high >= 0) return Fail(field, "odd number of hexadecimal digits in a byte");
                continue;
            }
            uint64_t digit = 0;
            if (WholeNumber(std::string(1, ch), 16, &digit) != NumberText::kNumber) {
                return Fail(field, std::string("not a hexadecimal digit: '") + ch + "'");
            }
            if (high < 0) {
                high = static_cast<int>(digit);
            } else {
                out->push_back(static_cast<uint8_t>(high * 16 + static_cast<int>(digit)));
                high = -1;
            }
        }
        if (high >= 0) return Fail(field, "odd number of hexadecimal digits");
        return true;
    }

    template <size_t N>
    bool FixedHex(const Json& value, const std::string& field, std::array<uint8_t, N>* out) {
        std::vector<uint8_t> bytes;
        if (!Hex(value, field, &bytes)) return false;
        if (bytes.size() != N) {
            return Fail(field, "expected " + std::to_string(N) + " bytes, got " +
                                   std::to_string(bytes.size()));
        }
        std::copy(bytes.begin(), bytes.end(), out->begin());
        return true;
    }

    std::string Resolve(const std::string& path) const {
        bool absolute = !path.empty() &&
                        (path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':'));
        if (absolute || baseDir.empty()) return path;
        return baseDir + "/" + path;
    }

    bool ExistingFile(const Json& value, const std::string& field, std::string* path,
                      uint64_t* size) {
        std::string given;
        if (!Text(value, field, &given)) return false;
        *path = Resolve(given);
        std::ifstream file(*path, std::ios::binary | std::ios::ate);
        if (!file.is_open()) return Fail(field, "cannot open \"" + *path + "\"");
        std::streamoff end = file.tellg();
        *size = end < 0 ? 0 : static_cast<uint64_t>(end);
        return true;
    }

    bool Command(const Json& value, const std::string& field, DeviceCommand* out) {
        std::string name;
        if (!Text(value, field, &name)) return false;
        for (DeviceCommand command : kDeviceCommands) {
            if (name == DeviceCommandName(command)) {
                *out = command;
                return true;
            }
        }
        return Fail(field, "unknown command \"" + name +
                               "\" (clock, version, eeprom, log_info or log_data)");
    }

    bool Printers(const Json& value, std::vector<EmulatedPrinter>* out);
    bool Eeprom(const Json& value, DeviceDescription* device, bool* unitBlockGiven);
    bool Log(const Json& value, LogSource* log);
    bool Pacing(const Json& value, trawler::Pacing* pacing);
    bool Replays(const Json& value, DeviceDescription* device);
    bool Replay(const Json& value, const std::string& field, ReplayedAnswer* replay);
    bool Reads(const Json& value, const std::string& field, ReplayedAnswer* replay);
    bool Settings(const Json& value, LinkSettings* settings);
    bool ErrorTexts(const Json& value, std::map<uint32_t, std::string>* out);
    bool User(const Json& value, PcUser* user);
    bool Recording(const Json& value);
    bool Faults(const Json& value, const DeviceDescription& device, std::vector<Fault>* out);
    bool ByteFault(const Json& value, const std::string& field, Fault* fault);
    bool FaultTarget(const Json& value, const std::string& field, const sim::FaultKindInfo& info,
                     Fault* fault);
    bool FaultFits(const Json& value, const std::string& field, const DeviceDescription& device,
                   const sim::FaultKindInfo& info, Fault* fault);
    bool FaultError(const Json& value, const std::string& field, Fault* fault);
    bool FaultValues(const Json& value, const std::string& field, Fault* fault);
    bool AnswerFaultValues(const Json& value, const std::string& field, Fault* fault);
    bool CountFaultValues(const Json& value, const std::string& field, Fault* fault);
    bool OneFault(const Json& value, const std::string& field, const DeviceDescription& device,
                  Fault* fault);
};

bool Reader::Printers(const Json& value, std::vector<EmulatedPrinter>* out) {
    if (!value.is_array()) return Fail("printers", "expected an array");
    out->clear();
    std::set<std::string> names;
    for (size_t i = 0; i < value.size(); ++i) {
        const Json& item = value[i];
        std::string field = "printers[" + std::to_string(i) + "]";
        if (!CheckKeys(item, field, {"name", "driver", "online", "offline"})) return false;
        EmulatedPrinter printer;
        if (!item.contains("name")) return Fail(field + ".name", "missing");
        if (item["name"].is_null()) {
            printer.hasName = false;
        } else if (!Text(item["name"], field + ".name", &printer.name)) {
            return false;
        } else {
            std::string key;
            for (char c : printer.name) key += static_cast<char>(std::tolower(c));
            if (!names.insert(key).second) return Fail(field + ".name", "printer listed twice");
        }
        if (item.contains("driver")) {
            if (item["driver"].is_null()) {
                printer.hasDriver = false;
                printer.driver.clear();
            } else if (!Text(item["driver"], field + ".driver", &printer.driver)) {
                return false;
            }
        }
        if (item.contains("online") && !Bool(item["online"], field + ".online", &printer.online)) {
            return false;
        }
        if (item.contains("offline")) {
            std::string mode;
            if (!Text(item["offline"], field + ".offline", &mode)) return false;
            if (mode == "query-fails") {
                printer.offlineQueryFails = true;
            } else if (mode != "status") {
                return Fail(field + ".offline", "expected \"status\" or \"query-fails\"");
            }
        }
        out->push_back(printer);
    }
    return true;
}

bool Reader::Eeprom(const Json& value, DeviceDescription* device, bool* unitBlockGiven) {
    if (!value.is_object()) return Fail("eeprom", "expected an object keyed by block ID");
    for (const auto& item : value.items()) {
        std::string field = "eeprom." + item.key();
        uint32_t id = 0;
        if (!U32(Json(item.key()), field, 0xFFFFFFFFu, &id)) return false;
        if (!CheckKeys(item.value(), field, {"size", "data", "second"})) return false;
        const Json& block = item.value();
        EepromBlock* target = nullptr;
        for (EepromBlock& b : device->eeprom) {
            if (b.id == id) target = &b;
        }
        if (!target) {
            device->eeprom.push_back(EepromBlock{id, 0, {}});
            target = &device->eeprom.back();
            target->data = GeneratedEepromData(id, 64, kEepromPatternKey);
        }
        if (block.contains("size") && block.contains("data")) {
            return Fail(field, "give \"size\" or \"data\", not both");
        }
        if (block.contains("size")) {
            uint32_t size = 0;
            if (!U32(block["size"], field + ".size", kMaxBlockSize, &size)) return false;
            target->data = GeneratedEepromData(id, size, kEepromPatternKey);
        }
        if (block.contains("data")) {
            if (!Hex(block["data"], field + ".data", &target->data)) return false;
            if (target->data.size() > kMaxBlockSize) {
                return Fail(field + ".data", "more than " + std::to_string(kMaxBlockSize) +
                                                 " bytes do not fit an answer");
            }
            if (id == kUnitNumberBlock) *unitBlockGiven = true;
        }
        if (block.contains("second") &&
            !U32(block["second"], field + ".second", 0xFFFFFFFFu, &target->second)) {
            return false;
        }
    }
    return true;
}

bool Reader::Log(const Json& value, LogSource* log) {
    if (!CheckKeys(value, "log", {"size", "pattern_key", "file", "hex"})) return false;
    log->fromBytes = false;
    log->bytes.clear();
    if (value.contains("hex")) {
        if (value.size() != 1) return Fail("log", "a \"hex\" log takes no other field");
        log->fromFile = false;
        log->fromBytes = true;
        if (!Hex(value["hex"], "log.hex", &log->bytes)) return false;
        log->size = log->bytes.size();
        return true;
    }
    if (value.contains("file")) {
        if (value.contains("size") || value.contains("pattern_key")) {
            return Fail("log", "a \"file\" log takes neither \"size\" nor \"pattern_key\"");
        }
        log->fromFile = true;
        if (!ExistingFile(value["file"], "log.file", &log->path, &log->size)) return false;
        if (log->size > kMaxLogSize) return Fail("log.file", "larger than 4 GiB - 1");
        return true;
    }
    log->fromFile = false;
    log->path.clear();
    if (value.contains("size") && !Unsigned(value["size"], "log.size", kMaxLogSize, &log->size)) {
        return false;
    }
    if (value.contains("pattern_key") &&
        !Unsigned(value["pattern_key"], "log.pattern_key", UINT64_MAX, &log->patternKey)) {
        return false;
    }
    return true;
}

bool Reader::Pacing(const Json& value, trawler::Pacing* pacing) {
    if (!CheckKeys(value, "pacing", {"answer_delay_ms", "bytes_per_read", "bytes_per_second"})) {
        return false;
    }
    if (value.contains("answer_delay_ms") &&
        !U32(value["answer_delay_ms"], "pacing.answer_delay_ms", 0xFFFFFFFFu,
             &pacing->answerDelayMillis)) {
        return false;
    }
    if (value.contains("bytes_per_read")) {
        if (!U32(value["bytes_per_read"], "pacing.bytes_per_read", 0xFFFFFFFFu,
                 &pacing->bytesPerRead)) {
            return false;
        }
        if (pacing->bytesPerRead == 0) return Fail("pacing.bytes_per_read", "must be at least 1");
    }
    if (value.contains("bytes_per_second") &&
        !U32(value["bytes_per_second"], "pacing.bytes_per_second", 0xFFFFFFFFu,
             &pacing->bytesPerSecond)) {
        return false;
    }
    return true;
}

bool Reader::Replay(const Json& value, const std::string& field, ReplayedAnswer* replay) {
    if (value.is_string()) {
        if (!Hex(value, field, &replay->bytes)) return false;
        replay->length = replay->bytes.size();
        return true;
    }
    if (!CheckKeys(value, field, {"hex", "file", "reads"})) return false;
    if (value.contains("hex") == value.contains("file")) {
        return Fail(field, "give \"hex\" or \"file\"");
    }
    if (value.contains("hex")) {
        if (!Hex(value["hex"], field + ".hex", &replay->bytes)) return false;
        replay->length = replay->bytes.size();
    } else {
        replay->fromFile = true;
        if (!ExistingFile(value["file"], field + ".file", &replay->path, &replay->length)) {
            return false;
        }
    }
    return !value.contains("reads") || Reads(value["reads"], field + ".reads", replay);
}

// The recorded reads must hand out exactly the answer's bytes: a step list that disagrees
// with its bytes (or a side file that changed) would replay another conversation.
bool Reader::Reads(const Json& value, const std::string& field, ReplayedAnswer* replay) {
    if (!value.is_string()) return Fail(field, "expected a string of read steps");
    std::string problem;
    if (!ParseReadSteps(value.get<std::string>(), &replay->reads, &problem)) {
        return Fail(field, problem);
    }
    uint64_t total = 0;
    for (const ReadStep& step : replay->reads) {
        if (step.kind == ReadStep::kBytes) total += uint64_t{step.bytes} * step.count;
    }
    if (total != replay->length) {
        return Fail(field, "the reads hand out " + std::to_string(total) +
                               " bytes, the answer has " + std::to_string(replay->length));
    }
    return true;
}

bool Reader::Replays(const Json& value, DeviceDescription* device) {
    if (!CheckKeys(value, "replay",
                   {"clock", "version", "eeprom", "log_info", "log_data", "stale"})) {
        return false;
    }
    std::vector<ReplayedAnswer>* out = &device->replays;
    out->clear();
    for (const auto& item : value.items()) {
        std::string field = "replay." + item.key();
        ReplayedAnswer replay;
        if (item.key() == "stale") {
            if (!Replay(item.value(), field, &replay)) return false;
            device->stale = replay;
            continue;
        }
        if (!Command(Json(item.key()), field, &replay.command)) return false;
        if (replay.command != DeviceCommand::kEeprom) {
            if (!Replay(item.value(), field, &replay)) return false;
            out->push_back(replay);
            continue;
        }
        if (!item.value().is_object()) return Fail(field, "expected an object keyed by block ID");
        for (const auto& block : item.value().items()) {
            std::string blockField = field + "." + block.key();
            ReplayedAnswer blockReplay;
            blockReplay.command = DeviceCommand::kEeprom;
            if (!U32(Json(block.key()), blockField, 0xFFFFFFFFu, &blockReplay.blockId)) {
                return false;
            }
            if (!Replay(block.value(), blockField, &blockReplay)) return false;
            out->push_back(blockReplay);
        }
    }
    return true;
}

// The link settings by their registry names, the same names `--setting` takes.
bool Reader::Settings(const Json& value, LinkSettings* settings) {
    if (!value.is_object()) return Fail("settings", "expected an object");
    for (const auto& item : value.items()) {
        std::string field = "settings." + item.key();
        const Json& number = item.value();
        if (!number.is_number_integer()) return Fail(field, "expected a whole number");
        std::string problem;
        std::string text = item.key() + "=" +
                           (number.is_number_unsigned() ? std::to_string(number.get<uint64_t>())
                                                        : std::to_string(number.get<int64_t>()));
        if (!ParseLinkSetting(text, settings, &problem)) return Fail(field, problem);
    }
    return true;
}

bool Reader::ErrorTexts(const Json& value, std::map<uint32_t, std::string>* out) {
    if (!value.is_object()) return Fail("error_texts", "expected an object keyed by error code");
    for (const auto& item : value.items()) {
        std::string field = "error_texts." + item.key();
        uint32_t code = 0;
        if (!U32(Json(item.key()), field, 0xFFFFFFFFu, &code)) return false;
        if (!Text(item.value(), field, &(*out)[code])) return false;
    }
    return true;
}

// Notes for the reader of a recording; the emulator has no use for them.
bool Reader::User(const Json& value, PcUser* user) {
    std::string name;
    if (!Text(value, "user", &name)) return false;
    if (name == "standard") {
        *user = PcUser::kStandard;
    } else if (name == "administrator") {
        *user = PcUser::kAdministrator;
    } else {
        return Fail("user", "expected \"standard\" or \"administrator\"");
    }
    return true;
}

bool Reader::Recording(const Json& value) {
    if (!CheckKeys(value, "recording", {"outcome", "not_replayed"})) return false;
    std::string text;
    if (value.contains("outcome") && !Text(value["outcome"], "recording.outcome", &text)) {
        return false;
    }
    if (!value.contains("not_replayed")) return true;
    const Json& notes = value["not_replayed"];
    if (!notes.is_array()) return Fail("recording.not_replayed", "expected an array of texts");
    for (size_t i = 0; i < notes.size(); ++i) {
        if (!Text(notes[i], "recording.not_replayed[" + std::to_string(i) + "]", &text)) {
            return false;
        }
    }
    return true;
}

bool Reader::OneFault(const Json& value, const std::string& field, const DeviceDescription& device,
                      Fault* fault) {
    if (!value.is_object()) return Fail(field, "expected an object");
    if (!value.contains("kind")) return Fail(field + ".kind", "missing");
    std::string kindName;
    if (!Text(value["kind"], field + ".kind", &kindName)) return false;
    const sim::FaultKindInfo* info = sim::FindFaultKind(kindName);
    if (!info) return Fail(field + ".kind", "unknown fault kind \"" + kindName + "\"");
    fault->kind = info->kind;
    std::set<std::string> keys = {"kind", "printer", "skip", "times"};
    if (info->needsTarget || info->mayTarget) keys.insert({"command", "block", "packet"});
    keys.insert(info->fields.begin(), info->fields.end());
    if (!CheckKeys(value, field, keys)) return false;

    if (value.contains("printer") && !Text(value["printer"], field + ".printer", &fault->printer)) {
        return false;
    }
    if (value.contains("skip") && !U32(value["skip"], field + ".skip", 0xFFFFFFFEu, &fault->skip)) {
        return false;
    }
    if (value.contains("times") &&
        !U32(value["times"], field + ".times", 0xFFFFFFFEu, &fault->times)) {
        return false;
    }

    return FaultTarget(value, field, *info, fault) &&
           FaultFits(value, field, device, *info, fault) && FaultError(value, field, fault) &&
           FaultValues(value, field, fault);
}

// The answer a fault hits: its command, block and packet.
bool Reader::FaultTarget(const Json& value, const std::string& field,
                         const sim::FaultKindInfo& info, Fault* fault) {
    // The answer it hits.
    if (value.contains("command")) {
        fault->hasTarget = true;
        if (!Command(value["command"], field + ".command", &fault->command)) return false;
    } else if (info.needsTarget) {
        return Fail(field + ".command", "missing: which answer does the fault hit?");
    } else if (value.contains("block") || value.contains("packet")) {
        return Fail(field + ".command", "missing");
    }
    if (value.contains("block")) {
        if (fault->command != DeviceCommand::kEeprom) {
            return Fail(field + ".block", "only for the eeprom command");
        }
        if (!U32(value["block"], field + ".block", 0xFFFFFFFFu, &fault->blockId)) return false;
    }
    if (value.contains("packet")) {
        if (fault->command != DeviceCommand::kLogData) {
            return Fail(field + ".packet", "only for the log_data command");
        }
        const Json& packet = value["packet"];
        std::string pick = packet.is_string() ? packet.get<std::string>() : std::string();
        if (pick == "first") {
            fault->packetPick = PacketPick::kFirst;
        } else if (pick == "middle") {
            fault->packetPick = PacketPick::kMiddle;
        } else if (pick == "last") {
            fault->packetPick = PacketPick::kLast;
        } else {
            fault->packetPick = PacketPick::kIndex;
            if (!U32(packet, field + ".packet", 0xFFFFFFFEu, &fault->packetIndex)) {
                error.clear();
                return Fail(field + ".packet",
                            "expected a packet number, \"first\", "
                            "\"middle\" or \"last\"");
            }
        }
    }
    return true;
}

// Kinds that only make sense for one command, and faults that would change a replayed answer.
bool Reader::FaultFits(const Json& value, const std::string& field, const DeviceDescription& device,
                       const sim::FaultKindInfo& info, Fault* fault) {
    if (info.onlyFor && fault->command != *info.onlyFor) {
        return Fail(field + ".command", std::string(info.name) + " is for the " +
                                            DeviceCommandName(*info.onlyFor) + " command");
    }
    if (!fault->hasTarget) return true;
    for (const ReplayedAnswer& r : device.replays) {
        bool sameBlock = fault->command != DeviceCommand::kEeprom || fault->blockId == 0 ||
                         fault->blockId == r.blockId;
        if (r.command != fault->command || !sameBlock) continue;
        if (info.changesBytes || value.contains("packet")) {
            return Fail(field, "the answer it hits is replayed, so its bytes are fixed");
        }
        if (!r.reads.empty()) {
            return Fail(field, "the answer it hits is replayed with its reads, which are fixed");
        }
    }

    return true;
}

// The Win32 code of a failing call, with the default of its kind.
bool Reader::FaultError(const Json& value, const std::string& field, Fault* fault) {
    switch (fault->kind) {
        case FaultKind::kOpenRefused:
            fault->error = kErrorAccessDenied;
            break;
        default:
            fault->error = kErrorGenFailure;
            break;
    }
    if (value.contains("error") &&
        !U32(value["error"], field + ".error", 0xFFFFFFFFu, &fault->error)) {
        return false;
    }
    if (fault->error == 0 && value.contains("error")) {
        return Fail(field + ".error", "a failing call needs a non-zero code");
    }
    return true;
}

// The values of its own kind.
// The values of its own kind: the spooler's and the stream's faults here, the rest below.
bool Reader::FaultValues(const Json& value, const std::string& field, Fault* fault) {
    switch (fault->kind) {
        case FaultKind::kOffline: {
            std::string mode = "status";
            if (value.contains("mode") && !Text(value["mode"], field + ".mode", &mode)) {
                return false;
            }
            if (mode != "status" && mode != "query-fails") {
                return Fail(field + ".mode", "expected \"status\" or \"query-fails\"");
            }
            fault->queryFails = mode == "query-fails";
            break;
        }
        case FaultKind::kShortWrite:
            fault->value = kFaultForever;
            if (value.contains("written") &&
                !U32(value["written"], field + ".written", 0xFFFFFFFEu, &fault->value)) {
                return false;
            }
            break;
        case FaultKind::kTruncate:
            if (!value.contains("after")) return Fail(field + ".after", "missing");
            if (!U32(value["after"], field + ".after", 0xFFFFFFFEu, &fault->value)) return false;
            break;
        case FaultKind::kStrayBytes:
            if (!value.contains("bytes")) return Fail(field + ".bytes", "missing");
            if (!Hex(value["bytes"], field + ".bytes", &fault->bytes)) return false;
            if (fault->bytes.empty()) return Fail(field + ".bytes", "no bytes");
            break;
        case FaultKind::kWrongCode:
        case FaultKind::kWrongLength:
        case FaultKind::kWrongBlockId:
        case FaultKind::kBadChecksum:
        case FaultKind::kOversizeValidCount:
            return AnswerFaultValues(value, field, fault);
        case FaultKind::kCorrupt:
        case FaultKind::kDrop:
        case FaultKind::kInsert:
            if (!ByteFault(value, field, fault)) return false;
            break;
        case FaultKind::kBusy:
        case FaultKind::kQueryFails:
            return CountFaultValues(value, field, fault);
        default:
            break;
    }
    return true;
}

// A busy driver or failing queries: how many, and for a query-fails without a command, where.
bool Reader::CountFaultValues(const Json& value, const std::string& field, Fault* fault) {
    fault->count = 1;
    if (value.contains("count")) {
        const Json& count = value["count"];
        if (fault->kind == FaultKind::kQueryFails && count.is_string() &&
            count.get<std::string>() == "forever") {
            fault->count = kFaultForever;
        } else if (!U32(count, field + ".count", 0xFFFFFFFEu, &fault->count)) {
            return false;
        }
        if (fault->count == 0) return Fail(field + ".count", "must be at least 1");
    }
    // Without a target the count is how many raw reads fail, whichever answer is due.
    if (fault->kind == FaultKind::kQueryFails && !fault->hasTarget) {
        if (value.contains("times")) {
            return Fail(field + ".times",
                        "use \"count\" for a query-fails without "
                        "a command");
        }
        fault->times = fault->count;
    }
    return true;
}

// Faults that change a field of the answer they hit.
bool Reader::AnswerFaultValues(const Json& value, const std::string& field, Fault* fault) {
    switch (fault->kind) {
        case FaultKind::kWrongCode:
            if (!value.contains("code")) return Fail(field + ".code", "missing");
            if (!U32(value["code"], field + ".code", 0xFF, &fault->value)) return false;
            break;
        case FaultKind::kWrongLength:
            if (!value.contains("length") && !value.contains("size")) {
                return Fail(field + ".length", "missing (give \"length\", or \"size\" for N)");
            }
            if (value.contains("length")) {
                fault->hasLength = true;
                if (!U32(value["length"], field + ".length", 0xFFFF, &fault->value)) return false;
            }
            if (value.contains("size")) {
                if (fault->command != DeviceCommand::kEeprom) {
                    return Fail(field + ".size", "only for the eeprom command");
                }
                fault->hasSize = true;
                if (!U32(value["size"], field + ".size", 0xFFFFFFFFu, &fault->size)) {
                    return false;
                }
            }
            break;
        case FaultKind::kWrongBlockId:
            if (!value.contains("id")) return Fail(field + ".id", "missing");
            if (!U32(value["id"], field + ".id", 0xFFFFFFFFu, &fault->value)) return false;
            break;
        case FaultKind::kBadChecksum:
            fault->value = 1;
            if (value.contains("delta") &&
                !U32(value["delta"], field + ".delta", 0xFFFFFFFFu, &fault->value)) {
                return false;
            }
            if (fault->value == 0) return Fail(field + ".delta", "0 leaves the checksum right");
            break;
        case FaultKind::kOversizeValidCount:
            fault->value = 1009;
            if (value.contains("valid") &&
                !U32(value["valid"], field + ".valid", 0xFFFFFFFFu, &fault->value)) {
                return false;
            }
            if (fault->value <= pv730::kLogDataArea) {
                return Fail(field + ".valid",
                            "must be more than " + std::to_string(pv730::kLogDataArea));
            }
            break;
        default:
            break;
    }
    return true;
}

bool Reader::ByteFault(const Json& value, const std::string& field, Fault* fault) {
    if (!value.contains("offset")) return Fail(field + ".offset", "missing");
    if (!U32(value["offset"], field + ".offset", 0xFFFFFFu, &fault->offset)) return false;
    switch (fault->kind) {
        case FaultKind::kCorrupt:
            if (!value.contains("value")) return Fail(field + ".value", "missing");
            return U32(value["value"], field + ".value", 0xFF, &fault->value);
        case FaultKind::kDrop:
            fault->count = 1;
            if (value.contains("count") &&
                !U32(value["count"], field + ".count", 0xFFFFFFu, &fault->count)) {
                return false;
            }
            if (fault->count == 0) return Fail(field + ".count", "must be at least 1");
            return true;
        default:
            if (!value.contains("bytes")) return Fail(field + ".bytes", "missing");
            if (!Hex(value["bytes"], field + ".bytes", &fault->bytes)) return false;
            if (fault->bytes.empty()) return Fail(field + ".bytes", "no bytes");
            return true;
    }
}

bool Reader::Faults(const Json& value, const DeviceDescription& device, std::vector<Fault>* out) {
    if (!value.is_array()) return Fail("faults", "expected an array");
    out->clear();
    for (size_t i = 0; i < value.size(); ++i) {
        Fault fault;
        if (!OneFault(value[i], "faults[" + std::to_string(i) + "]", device, &fault)) {
            return false;
        }
        out->push_back(fault);
    }
    return true;
}

DeviceDescription Failed(std::string* error, const std::string& text) {
    if (error) *error = text;
    DeviceDescription none = DefaultDevice();
    none.printers.clear();
    return none;
}

}  // namespace

std::vector<uint8_t> GeneratedEepromData(uint32_t blockId, uint32_t size, uint64_t patternKey) {
    uint64_t state = patternKey ^ (uint64_t{blockId} << 32);
    std::vector<uint8_t> data(size);
    uint64_t r = 0;
    for (uint32_t i = 0; i < size; ++i) {
        if (i % 8 == 0) r = SplitMix(&state);
        data[i] = static_cast<uint8_t>(r >> (8 * (i % 8)));
    }
    return data;
}

namespace {

// A decimal number of at least `min`, nothing around it.
bool StepNumber(const std::string& text, uint32_t min, uint32_t* out) {
    uint64_t value = 0;
    if (WholeNumber(text, 10, &value) != NumberText::kNumber) return false;
    if (value < min || value > 0xFFFFFFFFu) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseReadStep(const std::string& token, ReadStep* step) {
    size_t star = token.find('*');
    std::string item = token.substr(0, star);
    if (star != std::string::npos && !StepNumber(token.substr(star + 1), 1, &step->count)) {
        return false;
    }
    if (item == "empty") {
        step->kind = ReadStep::kEmpty;
    } else if (item == "busy") {
        step->kind = ReadStep::kBusy;
    } else if (item.rfind("fail:", 0) == 0) {
        step->kind = ReadStep::kFails;
        return StepNumber(item.substr(5), 1, &step->error);
    } else {
        step->kind = ReadStep::kBytes;
        return StepNumber(item, 1, &step->bytes);
    }
    return true;
}

}  // namespace

bool ParseReadSteps(const std::string& text, std::vector<ReadStep>* steps, std::string* problem) {
    steps->clear();
    std::istringstream tokens(text);
    std::string token;
    while (tokens >> token) {
        ReadStep step;
        if (!ParseReadStep(token, &step)) {
            *problem = "not a read step: \"" + token +
                       "\" (N bytes, empty, busy or fail:CODE, each optionally *COUNT)";
            return false;
        }
        steps->push_back(step);
    }
    return true;
}

std::string FormatReadSteps(const std::vector<ReadStep>& steps) {
    std::string text;
    for (const ReadStep& step : steps) {
        if (!text.empty()) text += ' ';
        switch (step.kind) {
            case ReadStep::kBytes:
                text += std::to_string(step.bytes);
                break;
            case ReadStep::kEmpty:
                text += "empty";
                break;
            case ReadStep::kBusy:
                text += "busy";
                break;
            case ReadStep::kFails:
                text += "fail:" + std::to_string(step.error);
                break;
        }
        if (step.count != 1) text += "*" + std::to_string(step.count);
    }
    return text;
}

bool SetUnitNumber(DeviceDescription* device, uint32_t unitNumber) {
    for (EepromBlock& block : device->eeprom) {
        if (block.id != kUnitNumberBlock) continue;
        if (block.data.size() < kUnitNumberOffset + 4) return false;
        PutBig32(&block.data[kUnitNumberOffset], unitNumber);
        return true;
    }
    return false;
}

DeviceDescription DefaultDevice() {
    DeviceDescription device;
    EmulatedPrinter printer;
    printer.name = "PV-730";
    device.printers.push_back(printer);
    // 2006-11-30 17:45:12 as the printer keeps it (BCD); the system does not look inside.
    device.clock = {0x20, 0x06, 0x11, 0x30, 0x17, 0x45, 0x12, 0x00};
    device.version = {2, 1, 0, 37};
    for (size_t i = 0; i < pv730::kEepromBlockCount; ++i) {
        uint32_t id = kEepromBlocks[i].id;
        device.eeprom.push_back(
            EepromBlock{id, 0, GeneratedEepromData(id, kDefaultBlockSizes[i], kEepromPatternKey)});
    }
    SetUnitNumber(&device, kDefaultUnitNumber);
    device.logInfo = {0x01, 0x00, 0x00, 0x07};
    device.log.size = 300000;
    device.log.patternKey = 1;
    return device;
}

DeviceDescription ParseDeviceDescription(const std::string& jsonText, const std::string& baseDir,
                                         std::string* error) {
    Json root;
    try {
        root = Json::parse(jsonText);
    } catch (const Json::parse_error& e) {
        return Failed(error, std::string("not valid JSON: ") + e.what());
    }
    Reader reader;
    reader.baseDir = baseDir;
    DeviceDescription device = DefaultDevice();
    bool unitBlockGiven = false;
    bool ok = reader.CheckKeys(
        root, "",
        {"printers", "clock", "version", "unit_number", "eeprom", "log_info", "log", "pacing",
         "replay", "faults", "settings", "error_texts", "recording", "user"});
    if (ok && root.contains("printers")) ok = reader.Printers(root["printers"], &device.printers);
    if (ok && root.contains("user")) ok = reader.User(root["user"], &device.user);
    if (ok && root.contains("clock")) ok = reader.FixedHex(root["clock"], "clock", &device.clock);
    if (ok && root.contains("version")) {
        const Json& version = root["version"];
        if (!version.is_array() || version.size() != 4) {
            ok = reader.Fail("version", "expected an array of four numbers");
        }
        for (size_t i = 0; ok && i < 4; ++i) {
            ok = reader.U32(version[i], "version[" + std::to_string(i) + "]", 0xFFFFFFFFu,
                            &device.version[i]);
        }
    }
    if (ok && root.contains("eeprom")) ok = reader.Eeprom(root["eeprom"], &device, &unitBlockGiven);
    if (ok) {
        uint32_t unit = kDefaultUnitNumber;
        bool given = root.contains("unit_number");
        if (given) ok = reader.U32(root["unit_number"], "unit_number", 0xFFFFFFFFu, &unit);
        // A block given byte for byte keeps its bytes unless a unit number is asked for.
        if (ok && (given || !unitBlockGiven) && !SetUnitNumber(&device, unit)) {
            ok = reader.Fail(given ? "unit_number" : "eeprom.0x8013",
                             "block 0x8013 needs at least 32 data bytes to hold the unit number");
        }
    }
    if (ok && root.contains("log_info")) {
        ok = reader.FixedHex(root["log_info"], "log_info", &device.logInfo);
    }
    if (ok && root.contains("log")) ok = reader.Log(root["log"], &device.log);
    if (ok && root.contains("pacing")) ok = reader.Pacing(root["pacing"], &device.pacing);
    if (ok && root.contains("replay")) ok = reader.Replays(root["replay"], &device);
    if (ok && root.contains("faults")) ok = reader.Faults(root["faults"], device, &device.faults);
    if (ok && root.contains("settings")) {
        LinkSettings settings = DefaultLinkSettings();
        ok = reader.Settings(root["settings"], &settings);
        device.linkSettings = settings;
    }
    if (ok && root.contains("error_texts")) {
        ok = reader.ErrorTexts(root["error_texts"], &device.errorTexts);
    }
    if (ok && root.contains("recording")) ok = reader.Recording(root["recording"]);
    if (!ok) return Failed(error, reader.error);
    if (error) error->clear();
    return device;
}

DeviceDescription LoadDeviceDescription(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) return Failed(error, "cannot open the file");
    std::ostringstream text;
    text << file.rdbuf();
    size_t slash = path.find_last_of("/\\");
    std::string baseDir = slash == std::string::npos ? std::string() : path.substr(0, slash);
    return ParseDeviceDescription(text.str(), baseDir, error);
}

const char* DeviceCommandName(DeviceCommand command) {
    switch (command) {
        case DeviceCommand::kClock:
            return "clock";
        case DeviceCommand::kVersion:
            return "version";
        case DeviceCommand::kEeprom:
            return "eeprom";
        case DeviceCommand::kLogInfo:
            return "log_info";
        case DeviceCommand::kLogData:
            break;
    }
    return "log_data";
}

}  // namespace trawler
