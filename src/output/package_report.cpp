// Renders a PackageReport as the human inspect report and as its JSON form.
#include "output/package_report.h"

#include <cstdio>
#include <vector>

#include "output/report_json.h"

namespace trawler {

namespace {

std::string CreatedText(const std::string& created) {
    for (char c : created) {
        if (c < '0' || c > '9') return created;
    }
    if (created.size() != 12) return created;
    return created.substr(0, 4) + "-" + created.substr(4, 2) + "-" + created.substr(6, 2) + " " +
           created.substr(8, 2) + ":" + created.substr(10, 2);
}

std::string Line(const char* label, const std::string& value) {
    char head[16];
    std::snprintf(head, sizeof head, "%-12s", label);
    return head + value + "\n";
}

std::string QuotedText(const std::string& bytes, TextCodePage codePage) {
    return "\"" + EscapeForTerminal(AnsiToUtf8(bytes, codePage)) + "\"";
}

}  // namespace

std::string HexText(const uint8_t* data, size_t size, const char* separator) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02X", data[i]);
        if (i > 0) text += separator;
        text += two;
    }
    return text;
}

std::string FirmwareText(const PackageReport& r) {
    char buffer[64];
    std::snprintf(
        buffer, sizeof buffer, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(r.version[0]),
        static_cast<unsigned long>(r.version[1]), static_cast<unsigned long>(r.version[2]),
        static_cast<unsigned long>(r.version[3]));
    return buffer;
}

PackageVerdict VerdictOf(const PackageReport& report) {
    if (report.valid) return PackageVerdict::kValid;
    if (report.error.kind == "open-failed" || report.error.kind == "read-failed") {
        return PackageVerdict::kUnreadable;
    }
    return PackageVerdict::kDamaged;
}

TextCodePage PackageCodePage(const PackageReport& report) {
    return GuessCodePage({report.comment, report.customer, report.pcLine});
}

std::string EscapeForTerminal(const std::string& utf8) {
    std::string out;
    char escape[8];
    for (size_t i = 0; i < utf8.size(); ++i) {
        uint8_t c = static_cast<uint8_t>(utf8[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<uint8_t>(utf8[i + 1]) >= 0x80 &&
                   static_cast<uint8_t>(utf8[i + 1]) <= 0x9F) {
            // C1 controls (U+0080..U+009F): some terminals act on them.
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<uint8_t>(utf8[i + 1]));
            out += escape;
            ++i;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string FormatReportText(const PackageReport& r, const std::string& path) {
    TextCodePage codePage = PackageCodePage(r);
    auto text = [codePage](const std::string& bytes) { return QuotedText(bytes, codePage); };
    char buffer[160];
    std::string out = Line("Package", EscapeForTerminal(path));
    std::snprintf(buffer, sizeof buffer,
                  "valid (%llu bytes; container %llu bytes, CRC-32 %08lX, %llu chunks)",
                  static_cast<unsigned long long>(r.packageSize),
                  static_cast<unsigned long long>(r.containerSize),
                  static_cast<unsigned long>(r.crc32),
                  static_cast<unsigned long long>(r.chunks.size()));
    out += Line("Status", buffer);
    out += Line("SHA-256", r.sha256);
    out += Line("Created", CreatedText(r.created));
    out += Line("Customer", r.hasCustomer ? text(r.customer) : "(none)");
    out += Line("Comment", r.hasComment ? text(r.comment) : "(none)");
    out += Line("PC", r.hasPcLine ? text(r.pcLine) : "(none)");
    if (r.hasComment || r.hasCustomer || r.hasPcLine) {
        out += Line("Texts", std::string("shown from ") + CodePageName(codePage) +
                                 (codePage == TextCodePage::kAscii ? "" : " (guessed)"));
    }
    bool device = r.hasClock || r.hasVersion || !r.eeprom.empty() || r.hasLogInfo || r.hasLog;
    if (!device) out += Line("Printer", "no printer data (demonstration package)");
    if (r.hasUnitNumber) out += Line("Unit number", std::to_string(r.unitNumber));
    if (r.hasVersion) out += Line("Firmware", FirmwareText(r));
    if (r.hasClock) out += Line("Clock", HexText(r.clock.data(), r.clock.size(), " "));
    if (!r.eeprom.empty()) {
        std::snprintf(buffer, sizeof buffer, "%llu records, block IDs and checksums correct",
                      static_cast<unsigned long long>(r.eeprom.size()));
        out += Line("EEPROM", buffer);
    }
    if (r.hasLogInfo) out += Line("Log info", HexText(r.logInfo.data(), r.logInfo.size(), " "));
    if (r.hasLog) {
        std::snprintf(buffer, sizeof buffer,
                      "%lu bytes (recorded length; the last 3 may be padding)",
                      static_cast<unsigned long>(r.logLength));
        out += Line("Log", buffer);
    }
    out += "Chunks      offset  tag   length\n";
    for (const ChunkEntry& chunk : r.chunks) {
        std::snprintf(buffer, sizeof buffer, "            %6llu  %s  %6lu\n",
                      static_cast<unsigned long long>(chunk.offset), chunk.tag.c_str(),
                      static_cast<unsigned long>(chunk.length));
        out += buffer;
    }
    for (const std::string& warning : r.warnings) out += Line("Warning", warning);
    return out;
}

ReportJson ReportFieldsJson(const PackageReport& r) {
    using Json = ReportJson;
    TextCodePage codePage = PackageCodePage(r);
    auto text = [codePage](bool has, const std::string& bytes) {
        return has ? Json(AnsiToUtf8(bytes, codePage)) : Json(nullptr);
    };
    return {
        {"unit_number", r.hasUnitNumber ? Json(r.unitNumber) : Json(nullptr)},
        {"firmware_version", r.hasVersion ? Json(r.version) : Json(nullptr)},
        {"clock", r.hasClock ? Json(HexText(r.clock.data(), r.clock.size(), "")) : Json(nullptr)},
        {"log_info",
         r.hasLogInfo ? Json(HexText(r.logInfo.data(), r.logInfo.size(), "")) : Json(nullptr)},
        {"pc", text(r.hasPcLine, r.pcLine)},
        {"customer", text(r.hasCustomer, r.customer)},
        {"comment", text(r.hasComment, r.comment)},
    };
}

ReportJson ReportErrorJson(const PackageReport& r) {
    if (r.valid) return nullptr;
    return {{"kind", r.error.kind},
            {"message", r.error.message},
            {"area", r.error.area},
            {"offset", r.error.offset}};
}

ReportJson ReportSha256Json(const PackageReport& r) {
    return r.sha256.empty() ? ReportJson(nullptr) : ReportJson(r.sha256);
}

std::string DumpReportJson(const ReportJson& json) {
    return json.dump(-1, ' ', false, ReportJson::error_handler_t::replace);
}

std::string FormatReportJson(const PackageReport& r, const std::string& path) {
    using Json = ReportJson;
    Json j;
    j["format"] = kInspectJsonFormat;
    j["file"] = path;
    j["valid"] = r.valid;
    j["error"] = ReportErrorJson(r);
    Json warnings = Json::array();
    for (const std::string& w : r.warnings) warnings.push_back(w);
    j["warnings"] = warnings;
    if (r.valid) {
        j["package_size"] = r.packageSize;
        j["gzip"] = {{"os", r.gzipOs}, {"crc32", r.crc32}, {"container_size", r.containerSize}};
        Json chunks = Json::array();
        for (const ChunkEntry& c : r.chunks) {
            chunks.push_back({{"tag", c.tag}, {"offset", c.offset}, {"length", c.length}});
        }
        j["container"] = {
            {"header_value", r.headerValue}, {"created", r.created}, {"chunks", chunks}};
        Json fields = ReportFieldsJson(r);
        j["texts"] = {{"code_page", CodePageName(PackageCodePage(r))},
                      {"customer", fields["customer"]},
                      {"comment", fields["comment"]},
                      {"pc", fields["pc"]}};
        for (const char* key : {"unit_number", "firmware_version", "clock", "log_info"}) {
            j[key] = fields[key];
        }
        j["log_length"] = r.hasLog ? Json(r.logLength) : Json(nullptr);
        Json eeprom = Json::array();
        for (const EepromEntry& e : r.eeprom) {
            eeprom.push_back({{"tag", e.tag},
                              {"offset", e.offset},
                              {"block_id", e.blockId},
                              {"second_field", e.secondField},
                              {"data_size", e.dataSize},
                              {"checksum", e.checksum}});
        }
        j["eeprom"] = eeprom;
    }
    // Last, and for damaged packages too: the desk quotes a package by it whatever it holds.
    j["sha256"] = ReportSha256Json(r);
    return DumpReportJson(j) + "\n";
}

std::string FormatReportLine(const PackageReport& r, const std::string& path) {
    const std::string none = "-";
    std::string verdict = "valid";
    if (!r.valid) {
        verdict = VerdictOf(r) == PackageVerdict::kUnreadable ? "unreadable: " : "damaged: ";
        verdict += EscapeForTerminal(r.error.message) + " [" + r.error.kind + "]";
    }
    std::vector<std::string> fields = {EscapeForTerminal(path), verdict};
    if (r.valid) {
        // Texts are shown as in the full report; the header's time is the moment the run began.
        TextCodePage codePage = PackageCodePage(r);
        fields.push_back(r.hasUnitNumber ? std::to_string(r.unitNumber) : none);
        fields.push_back(r.hasVersion ? FirmwareText(r) : none);
        fields.push_back(EscapeForTerminal(CreatedText(r.created)));
        fields.push_back(r.hasCustomer ? QuotedText(r.customer, codePage) : none);
        fields.push_back(r.hasComment ? QuotedText(r.comment, codePage) : none);
        fields.push_back(r.hasLog ? std::to_string(r.logLength) : none);
    } else {
        // What a damaged package seems to hold is not to be trusted, so none of it is shown.
        fields.insert(fields.end(), 6, none);
    }
    fields.push_back(r.sha256.empty() ? none : r.sha256);
    std::string line = fields.front();
    for (size_t i = 1; i < fields.size(); ++i) line += "\t" + fields[i];
    return line + "\n";
}

}  // namespace trawler
