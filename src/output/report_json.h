// The JSON values that the inspect report and the diff both print, made in one place: a script
// (or the desk) that reads one of them reads the other the same way.
#pragma once

#include <nlohmann/json.hpp>

#include "output/package_reader.h"

namespace trawler {

using ReportJson = nlohmann::ordered_json;

// The package's single-valued fields, each null when the package lacks it, keyed by the names
// of the inspect report: "unit_number" (number), "firmware_version" (four numbers), "clock" and
// "log_info" (plain upper-case hex), "pc", "customer", "comment" (UTF-8 in the package's code
// page).
ReportJson ReportFieldsJson(const PackageReport& report);

// Null for a valid package, else {"kind", "message", "area", "offset"}.
ReportJson ReportErrorJson(const PackageReport& report);

// The file's digest, or null when the file could not be read through.
ReportJson ReportSha256Json(const PackageReport& report);

// Paths and messages hold whatever bytes the caller typed: invalid UTF-8 becomes U+FFFD instead
// of failing the whole report.
std::string DumpReportJson(const ReportJson& json);

}  // namespace trawler
