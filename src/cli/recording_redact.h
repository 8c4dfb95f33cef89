// A recording (collect --record) with the names of the customer's printers replaced by
// placeholders, and the texts that carry those names with them.
#pragma once

#include <string>

#include "output/package_redact.h"
#include "output/redaction.h"

namespace trawler {

// "printer-RANK-…" for a printer name, digested case-folded as the spooler compares names, with
// " FileOutput" kept at its end when the name holds it (the wizard never offers such a printer,
// so the replay must not either). RANK is the name's place in the printer list's order among the
// recording's printers, zero-padded: the wizard and collect take the first printer of a sorted
// list, and digests alone would sort the printers anew, so that the replay could talk to
// another printer than the run did. Driver names stay: they are the model's, not the customer's.
bool RedactPrinterName(PlaceholderBook& book, const std::string& name, const std::string& rank,
                       std::string* redacted, std::string* error);

// Checks the recording at `in` as collect --device loads it, then stages in `staged` its
// redacted form at `out` and a copy of each side file beside it, named after out's stem as the
// recorder names them (out.log_data.bin). Printer names are replaced in the printer list, the
// faults, the error texts and the recording's notes. Nothing is moved into place here.
RedactOutcome RedactRecording(const std::string& in, const std::string& out, StagedFiles& staged,
                              PlaceholderBook& book, std::string* error);

}  // namespace trawler
