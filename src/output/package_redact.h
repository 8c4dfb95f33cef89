// A package with its customer, comment and PC texts replaced by placeholders, every other
// container byte as it was.
#pragma once

#include <string>

#include "output/redaction.h"
#include "platform/host.h"

namespace trawler {

// kExists: an output's name is taken; kRefused: two texts met in one placeholder.
enum class RedactOutcome { kWritten, kDamaged, kUnreadable, kExists, kWriteFailed, kRefused };

// "customer-…" for "Comm", "comment-…" for "Cust". The PC line keeps its layout and numbers
// (which Windows, which build: what a diagnosis needs) and gets "pc-…" for the text in its
// parentheses, which on some systems carries a name; a line not in that layout becomes "pc-…"
// whole. Every placeholder digests the whole original text. Empty texts stay empty.
bool RedactPcLine(PlaceholderBook& book, const std::string& line, const std::string& shown,
                  std::string* redacted, std::string* error);

// Checks the package at `in` and writes its redacted form into `out`, which must not exist;
// on anything but kWritten nothing is left at `out`. MakeZlg's message of a failed compression
// goes to host. *error names the problem (for kDamaged and kUnreadable, as inspect names it).
RedactOutcome RedactPackage(Host& host, const std::string& in, const std::string& out,
                            PlaceholderBook& book, std::string* error);

}  // namespace trawler
