// What an emulated PV-730 is: its printers, content, pacing, replayed answers and faults.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "platform/spooler.h"
#include "pv730/protocol.h"

namespace trawler {

// The five commands the PV-730 firmware answers.
using DeviceCommand = pv730::Command;

// The command's name in a description ("clock", "version", "eeprom", "log_info", "log_data"):
// what the loader reads and the recorder writes.
const char* DeviceCommandName(DeviceCommand command);

// One print queue the emulated spooler lists.
struct EmulatedPrinter {
    bool hasName = true;  // false: enumerated without a name (and cannot be opened)
    std::string name;
    bool hasDriver = true;  // false: enumerated without a driver name
    std::string driver = pv730::kDriverName;
    bool online = true;
    // How an offline printer shows it: a non-zero first byte, or a failing online query.
    bool offlineQueryFails = false;
};

// One EEPROM block as the firmware holds it.
struct EepromBlock {
    uint32_t id = 0;
    uint32_t second = 0;  // the answer's second field, passed through untouched
    std::vector<uint8_t> data;
};

// The service log: generated from a pattern key, a file streamed as it is, or bytes given.
struct LogSource {
    bool fromFile = false;
    bool fromBytes = false;
    uint64_t size = 0;           // bytes; for a file, its size when the description was loaded
    uint64_t patternKey = 1;     // generated logs only
    std::string path;            // files only, absolute or relative to the working directory
    std::vector<uint8_t> bytes;  // given logs only (size is their count)
};

struct Pacing {
    uint32_t answerDelayMillis = 0;  // from the end of the job to the first answer byte
    uint32_t bytesPerRead = 512;     // most answer bytes one raw read hands out
    uint32_t bytesPerSecond = 0;     // transfer rate of the answer stream; 0 = unlimited
};

// What one raw read hands out while a replayed answer is due, `count` times in a row.
struct ReadStep {
    enum Kind { kBytes, kEmpty, kBusy, kFails };
    Kind kind = kBytes;
    uint32_t bytes = 0;  // kBytes: answer bytes in the block
    uint32_t error = 0;  // kFails: the query's status
    uint32_t count = 1;
};

// Exact answer bytes served instead of the emulator's own: inline, or streamed from a file.
struct ReplayedAnswer {
    DeviceCommand command = DeviceCommand::kClock;
    uint32_t blockId = 0;  // EEPROM only
    bool fromFile = false;
    std::vector<uint8_t> bytes;
    std::string path;
    uint64_t length = 0;  // of the bytes, or of the file when the description was loaded
    // Recorded raw reads: each read takes the next step, whatever the pacing says; empty =
    // paced like any answer.
    std::vector<ReadStep> reads;
};

enum class FaultKind {
    kPrinterMissing,      // the printer is neither listed nor openable
    kOpenRefused,         // OpenPrinterHandle fails with `error`
    kOffline,             // the online value reports offline (status byte, or failing query)
    kJobStartFails,       // StartDocument fails with `error`
    kShortWrite,          // WriteToPrinter reports `value` bytes written (and keeps only those)
    kNoAnswer,            // the command is taken but never answered
    kTruncate,            // the answer stops after `value` bytes
    kStrayBytes,          // `bytes` come before the answer
    kWrongCode,           // the answer code after the start byte is `value`
    kWrongLength,         // the length field L is `value`; for EEPROM also `size` for N
    kWrongBlockId,        // the EEPROM answer carries block `value`
    kBadChecksum,         // the EEPROM checksum is off by `value`
    kOversizeValidCount,  // the log packet's valid count V is `value`
    kBusy,                // `count` raw reads with a busy status byte before the answer
    kQueryFails,          // `count` (or every) raw-read queries fail with `error`
    // Damage in transit, at `offset` counted from the answer's (packet's) start byte:
    kCorrupt,  // the byte there becomes `value`
    kDrop,     // `count` bytes from there are lost
    kInsert,   // `bytes` are added in front of the byte there
};

// Which log data packet an answer fault hits.
enum class PacketPick { kIndex, kFirst, kMiddle, kLast };

constexpr uint32_t kFaultForever = 0xFFFFFFFFu;

struct Fault {
    FaultKind kind = FaultKind::kNoAnswer;
    std::string printer;  // empty: every printer

    // The answer the fault hits (answer faults; kShortWrite and kQueryFails optionally).
    bool hasTarget = false;
    DeviceCommand command = DeviceCommand::kClock;
    uint32_t blockId = 0;  // EEPROM target: 0 = every block
    PacketPick packetPick = PacketPick::kFirst;
    uint32_t packetIndex = 0;

    // The fault lets `skip` matching events pass, then hits `times` of them.
    uint32_t skip = 0;
    uint32_t times = kFaultForever;

    uint32_t value = 0;
    uint32_t offset = 0;   // kCorrupt, kDrop, kInsert
    bool hasSize = false;  // kWrongLength on EEPROM: N as well as / instead of L
    uint32_t size = 0;
    bool hasLength = false;  // kWrongLength: `value` replaces L
    std::vector<uint8_t> bytes;
    uint32_t count = 1;       // kBusy, kQueryFails, kDrop; kFaultForever = for ever
    uint32_t error = 0;       // Win32 code for the failing call
    bool queryFails = false;  // kOffline: the query fails instead of reporting a status
};

// Who runs Trawler on the emulated PC. Windows lets a standard user (and an administrator
// without elevation) open a printer to use it, never to administer it.
enum class PcUser { kStandard, kAdministrator };

struct DeviceDescription {
    std::vector<EmulatedPrinter> printers;
    PcUser user = PcUser::kStandard;
    std::array<uint8_t, 8> clock{};
    std::array<uint32_t, 4> version{};
    std::vector<EepromBlock> eeprom;  // the ten blocks, in the order the system reads them
    std::array<uint8_t, 4> logInfo{};
    LogSource log;
    Pacing pacing;
    std::vector<ReplayedAnswer> replays;
    // Bytes a printer still held from before the first command (a recording's "stale").
    std::optional<ReplayedAnswer> stale;
    std::vector<Fault> faults;
    // The system's texts for error codes, in place of the emulator's own (a recording's).
    std::map<uint32_t, std::string> errorTexts;
    // The link settings of the run a recording was made of, for the program that replays it.
    std::optional<LinkSettings> linkSettings;
};

// The ten EEPROM block IDs, in the order the system reads them.
using pv730::kEepromBlocks;

// Unit number position in the data of block 0x8013 (big-endian).
using pv730::kUnitNumberBlock;
constexpr size_t kUnitNumberOffset = pv730::kUnitNumberDataOffset;

// One online "PV-730" with the real driver name, unit number 1234, a 300000-byte generated log
// and no pacing: what `collect --simulate` talks to when no description is given.
DeviceDescription DefaultDevice();

// Writes the unit number big-endian into data bytes 28..31 of block 0x8013; false when the
// description has no such block or it holds fewer than 32 data bytes.
bool SetUnitNumber(DeviceDescription* device, uint32_t unitNumber);

// Deterministic EEPROM data for a block of `size` bytes (what a description gets by "size").
std::vector<uint8_t> GeneratedEepromData(uint32_t blockId, uint32_t size, uint64_t patternKey);

// Read steps as a description writes them, separated by blanks: "N" (a block of N >= 1 answer
// bytes), "empty", "busy" or "fail:E" (the query fails with code E), each optionally followed by
// "*K" for K reads in a row: "empty*3 512*585 288". False with *problem on a malformed step.
bool ParseReadSteps(const std::string& text, std::vector<ReadStep>* steps, std::string* problem);
std::string FormatReadSteps(const std::vector<ReadStep>& steps);

// A description file (JSON, docs/DEVICE.md). Fields not given keep DefaultDevice()'s values;
// relative paths inside are taken from the file's folder. On failure *error names the field
// ("faults[2].block: ...") and the result lists no printers; on success *error is emptied.
DeviceDescription LoadDeviceDescription(const std::string& path, std::string* error);

// The same from a JSON text; relative paths are taken from baseDir ("" = working directory).
DeviceDescription ParseDeviceDescription(const std::string& jsonText, const std::string& baseDir,
                                         std::string* error);

}  // namespace trawler
