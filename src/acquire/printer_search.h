// Which printers the technician may choose: online PV-730 printers found through the spooler.
#pragma once

#include <string>
#include <vector>

#include "platform/spooler.h"

namespace trawler {

inline constexpr char kListedDriverName[] = "Halden PV-730";
inline constexpr char kFileOutputMarker[] = "FileOutput";
inline constexpr char kDemoPrinterName[] = "Demonstration mode";

// The driver's online check on a handle of its own; failures just mean "not online".
bool IsPrinterOnline(Spooler& spooler, const std::string& printerName);

// Whether an enumerated printer may be offered at all (before its online check): it has both
// names, the PV-730 driver (any case) and no "FileOutput" in its name (case as written).
bool IsPv730Candidate(const PrinterRecord& record);

// The online PV-730 printers in the order a sorted list shows them. False when the spooler
// could not enumerate its printers.
bool FindOnlinePrinters(Spooler& spooler, std::vector<std::string>* names);

// The order of a sorted list control: case-insensitive, then by bytes.
bool ListOrderLess(const std::string& a, const std::string& b);

}  // namespace trawler
