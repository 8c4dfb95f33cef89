// The inspect report of a package: a short text for people and a stable JSON form for scripts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "output/ansi_text.h"
#include "output/package_reader.h"

namespace trawler {

// Version of the JSON layout (docs/PACKAGE.md); raised only when a field changes meaning.
constexpr int kInspectJsonFormat = 1;

// Bytes as upper-case hex pairs with the separator between them ("20 06 11 30").
std::string HexText(const uint8_t* data, size_t size, const char* separator);

// The four firmware numbers as "2.1.0.37".
std::string FirmwareText(const PackageReport& report);

// The code page the package's texts are taken to be in (see GuessCodePage).
TextCodePage PackageCodePage(const PackageReport& report);

// A text made safe for a terminal: control characters (C0, DEL, C1) as escapes like \n, \x1B.
std::string EscapeForTerminal(const std::string& utf8);

// What a reading found: a file that could not be opened or read says nothing about the package
// in it, so it is told apart from a damaged one (the exit codes do the same).
enum class PackageVerdict { kValid, kDamaged, kUnreadable };
PackageVerdict VerdictOf(const PackageReport& report);

// The human report of a valid package (several lines, each ending in '\n').
std::string FormatReportText(const PackageReport& report, const std::string& path);

// The JSON report, valid or not, as one line ending in '\n'.
std::string FormatReportJson(const PackageReport& report, const std::string& path);

// One package as one line of tab-separated fields, valid or not, ending in '\n': file, verdict,
// unit number, firmware, collected at, customer, comment, log bytes, SHA-256 (docs/PACKAGE.md).
// Every text is escaped, so no package can add a line or a field.
std::string FormatReportLine(const PackageReport& report, const std::string& path);

}  // namespace trawler
