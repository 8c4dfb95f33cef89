// The inspect report of a package: a short text for people and a stable JSON form for scripts.
#pragma once

#include <string>

#include "output/ansi_text.h"
#include "output/package_reader.h"

namespace trawler {

// Version of the JSON layout (docs/PACKAGE.md); raised only when a field changes meaning.
constexpr int kInspectJsonFormat = 1;

// The code page the package's texts are taken to be in (see GuessCodePage).
TextCodePage PackageCodePage(const PackageReport& report);

// A text made safe for a terminal: control characters (C0, DEL, C1) as escapes like \n, \x1B.
std::string EscapeForTerminal(const std::string& utf8);

// The human report of a valid package (several lines, each ending in '\n').
std::string FormatReportText(const PackageReport& report, const std::string& path);

// The JSON report, valid or not, as one line ending in '\n'.
std::string FormatReportJson(const PackageReport& report, const std::string& path);

}  // namespace trawler
