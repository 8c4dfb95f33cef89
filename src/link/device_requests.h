// The printer's answers: byte-at-a-time parsers, the clock/version/log-information requests,
// the EEPROM block reader and its checksum, and the log data packet parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/memory_sink.h"
#include "link/printer_link.h"
#include "pv730/protocol.h"

namespace trawler {

constexpr const char* kMsgCommandSizeIllegal = "Error: ReadVersion command size illegal";
constexpr const char* kMsgEepromSizeMismatch =
    "Error: EEPROM Read: command size and data size mismatched";
constexpr const char* kMsgLogInfoWriteError = "Error: Log info request command write error";
constexpr const char* kMsgLogInfoReadFailed = "Error: Log info read failed";

// The answers' layout is the printer's (pv730/protocol.h).
using pv730::kAnswerClock;
using pv730::kAnswerEeprom;
using pv730::kAnswerLogData;
using pv730::kAnswerLogInfo;
using pv730::kAnswerStart;
using pv730::kAnswerVersion;
constexpr uint32_t kLogDataPayloadLength = pv730::kLogPacketLength;
constexpr uint32_t kLogDataAreaSize = pv730::kLogDataArea;

// Parser results.
enum ParseResult : int {
    kParseNothing = 0,     // the byte is not kept
    kParseData = 1,        // EEPROM: record and data; log data: a log byte
    kParseDone = 2,        // the answer is complete (log data: with a log byte)
    kParseRecordOnly = 3,  // EEPROM: record only; log data: filler that ends the packet
    kParseBadLength = -1,  // log information / log data of the wrong length
};

// Requests: send, wait, reset the reader, parse, skip the rest of the unit. False on any
// reader code but 1 (or when the command could not be sent).
bool ReadClock(PrinterLink& link, uint8_t out[8]);
bool ReadVersion(PrinterLink& link, uint32_t out[4]);
// Shows "Error: Log info request command write error" or "Error: Log info read failed" on
// failure; on success *out holds exactly the four answer bytes.
bool ReadLogInfo(PrinterLink& link, std::string* out);

// Reads one EEPROM answer (the caller sends, waits, resets before and skips after). On
// success record holds the payload as received and data its N data bytes; both sinks are
// emptied whenever the parser starts over, so they never hold an abandoned answer's bytes.
bool ReadEepromBlock(PrinterLink& link, MemorySink& record, MemorySink& data, uint32_t* blockId,
                     uint32_t* checksum);

using pv730::EepromChecksum;

// One byte of a log data packet; *state is 0 before each packet. Fills the three outputs from
// the packet header. Results: kParseData, kParseDone, kParseRecordOnly (filler ending the
// packet), kParseNothing, kParseBadLength (the caller stops).
int ParseLogDataAnswer(PrinterLink& link, int* state, uint8_t byte, uint8_t* lastFlag,
                       uint32_t* validCount, uint32_t* firstField);

// The inner parsers, one byte at a time; *state and *length belong to the request.
// Clock and version: kParseNothing, or kParseDone on the last payload byte.
int ParseClockAnswer(PrinterLink& link, int* state, uint32_t* length, uint8_t byte, uint8_t out[8]);
int ParseVersionAnswer(PrinterLink& link, int* state, uint32_t* length, uint8_t byte,
                       uint32_t out[4]);
// EEPROM: registers in the link (EepState ...). kParseNothing, kParseRecordOnly, kParseData
// or kParseDone.
int ParseEepromAnswer(PrinterLink& link, uint8_t byte);
// Log information: payload[16] is filled; kParseNothing, kParseDone or kParseBadLength.
int ParseLogInfoAnswer(PrinterLink& link, int* state, uint8_t byte, uint8_t payload[16]);

}  // namespace trawler
