// The printer's answers taken apart one byte at a time (layouts in pv730/protocol.h). Each
// parser is a push state machine with its own state: no I/O, no messages; what a byte means
// comes back as a ParseResult, and the request that feeds it decides what to say.
#pragma once

#include <cstdint>

#include "pv730/protocol.h"

namespace trawler::pv730 {

// Where a parser stands: the header states every answer shares, then the payload, whose byte i
// is taken in state kPayload + i.
enum ParserState : int32_t {
    kSeekStart = 0,   // looking for the start byte
    kExpectCode = 1,  // the start byte was seen: the answer code must follow
    kLengthHigh = 2,
    kLengthLow = 3,
    kPayload = 4,
};

// What a byte fed to a parser means.
enum ParseResult : int {
    kParseNothing = 0,     // the byte is not kept
    kParseData = 1,        // EEPROM: record and data; log data: a log byte
    kParseDone = 2,        // the answer is complete (log data: with a log byte)
    kParseRecordOnly = 3,  // EEPROM: record only; log data: filler that ends the packet
    kParseStart = 4,       // a start byte: an answer begins, or begins again after a stray one
    kParseResync = 5,      // the byte after a start byte is not the answer's code: seeking again
    kParseBadLength = -1,  // log information or log data of the wrong length: stop
    // Clock or version of the wrong length, EEPROM whose N is not L - 16: the answer is dropped
    // and the parser looks for a new start byte.
    kParseWrongSize = -2,
};

// Every parser answers a header byte with kParseStart, kParseResync or kParseNothing.

// Clock and version: kParseWrongSize, or kParseDone on the last payload byte.
struct FixedAnswerParser {
    int32_t state = kSeekStart;
    uint32_t length = 0;
};
int ParseClockAnswer(FixedAnswerParser* parser, uint8_t byte, uint8_t out[kClockLength]);
int ParseVersionAnswer(FixedAnswerParser* parser, uint8_t byte, uint32_t out[4]);

// EEPROM block: kParseRecordOnly, kParseData, kParseWrongSize or kParseDone.
struct EepromParser {
    int32_t state = kSeekStart;
    uint32_t length = 0;
    uint32_t blockId = 0;
    uint32_t secondField = 0;
    uint32_t dataSize = 0;
    uint32_t dataCount = 0;
    uint32_t checksum = 0;
};
int ParseEepromAnswer(EepromParser* parser, uint8_t byte);

// Log information: kParseBadLength, or kParseDone with the payload complete.
struct LogInfoParser {
    int32_t state = kSeekStart;
    uint32_t length = 0;
    uint8_t payload[kLogInfoLength] = {};
};
int ParseLogInfoAnswer(LogInfoParser* parser, uint8_t byte);

// One log data packet (a fresh parser for each): kParseData, kParseDone, kParseRecordOnly
// (filler that ends the packet), kParseNothing or kParseBadLength. The header fields are
// filled as they arrive. The packet always ends at its data area's last byte, whatever V says.
struct LogDataParser {
    int32_t state = kSeekStart;
    uint32_t length = 0;
    uint32_t firstField = 0;
    uint32_t validCount = 0;
    uint8_t lastFlag = 0;
};
int ParseLogDataAnswer(LogDataParser* parser, uint8_t byte);

}  // namespace trawler::pv730
