// The requests built on the answer parsers: clock, version and log information, and the EEPROM
// block reader. They read the link, feed the parsers and say what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pv730/answer_parsers.h"
#include "link/memory_sink.h"
#include "link/printer_link.h"
#include "pv730/protocol.h"

namespace trawler::pv730 {

inline constexpr char kMsgCommandSizeIllegal[] = "Error: ReadVersion command size illegal";
inline constexpr char kMsgEepromSizeMismatch[] =
    "Error: EEPROM Read: command size and data size mismatched";
inline constexpr char kMsgLogInfoWriteError[] = "Error: Log info request command write error";
inline constexpr char kMsgLogInfoReadFailed[] = "Error: Log info read failed";

// Requests: send, wait, reset the reader, parse, skip the rest of the unit. False on any
// reader code but 1, a last unit that ends short, or a command that could not be sent. An
// answer of the wrong length shows "Error: ReadVersion command size illegal" and is dropped;
// the request reads on for a well-formed one.
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

}  // namespace trawler::pv730
