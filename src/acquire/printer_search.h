// Which printers may be chosen: PV-730 driver, no "FileOutput" in the name, online. The wizard's
// printer selection page and the command line use the same search.
#pragma once

#include <string>
#include <vector>

#include "platform/spooler.h"
#include "pv730/protocol.h"

namespace trawler {

// A printer whose name contains it is never listed.
inline constexpr char kFileOutputMark[] = "FileOutput";
inline constexpr char kDemoPrinterEntry[] = "Demonstration mode";
// The message when nothing could be listed.
inline constexpr char kPrinterNotFoundText[] =
    "PV-730 Printer not found. \nCheck USB connection, power and PV-730 Printer Driver "
    "installed.";

using LeadBytePredicate = bool (*)(unsigned char);

// Whether `part` occurs in `text` starting on a character boundary (a double-byte character's
// trail byte never starts a match). Case as written.
bool ContainsOnCharBoundary(const std::string& text, const std::string& part,
                            LeadBytePredicate isLeadByte);

// Whole-name comparison of a driver name with the PV-730 driver's, ignoring ASCII case.
using pv730::IsPv730Driver;

// The driver's online check on a handle of its own: the online value answered with success and a
// first byte of 0. The buffer starts non-zero, so a driver that writes nothing is offline.
bool IsPrinterOnline(Spooler& spooler, const std::string& printerName);

// Whether an enumerated printer may be listed before its online check: both names, the PV-730
// driver and no "FileOutput" in its name.
bool IsPv730Candidate(const PrinterRecord& record, LeadBytePredicate isLeadByte);

// The printers to list, in the spooler's order. Empty when the enumeration failed or nothing
// qualifies.
std::vector<std::string> FindOnlinePv730Printers(Spooler& spooler, LeadBytePredicate isLeadByte);

// The order of a sorted list control, for lists shown without one: case-insensitive, then by
// bytes.
bool ListOrderLess(const std::string& a, const std::string& b);

}  // namespace trawler
