// A recording (collect --record) with the names of the customer's printers replaced by
// placeholders, and the texts that carry those names with them.
#pragma once

#include <string>

#include "output/package_redact.h"
#include "output/redaction.h"

namespace trawler {

// "printer-…" for a printer name, digested case-folded as the spooler compares names, with
// " FileOutput" kept at its end when the name holds it (the wizard never offers such a printer,
// so the replay must not either). Driver names stay: they are the model's, not the customer's.
bool RedactPrinterName(PlaceholderBook& book, const std::string& name, std::string* redacted,
                       std::string* error);

// Checks the recording at `in` as collect --device loads it, then stages in `staged` its
// redacted form at `out` and a copy of each side file beside it, named after out's stem as the
// recorder names them (out.log_data.bin). Printer names are replaced in the printer list, the
// faults, the error texts and the recording's notes. Nothing is moved into place here.
RedactOutcome RedactRecording(const std::string& in, const std::string& out, StagedFiles& staged,
                              PlaceholderBook& book, std::string* error);

}  // namespace trawler
