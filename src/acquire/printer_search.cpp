// Printer search: the same filters and online check for the wizard's list and the command line.
#include "acquire/printer_search.h"

#include <algorithm>
#include <cctype>

namespace trawler {

namespace {

constexpr uint32_t kRegBinaryHint = 3;

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsPrinterOnline(Spooler& spooler, const std::string& printerName) {
    PrinterHandle handle = nullptr;
    if (!spooler.OpenPrinterHandle(printerName, &handle) || handle == nullptr) return false;
    // A driver that writes nothing must not make the printer look online.
    uint8_t buffer[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    uint32_t type = kRegBinaryHint;
    uint32_t needed = 0;
    uint32_t status =
        spooler.QueryPrinterData(handle, "HlPvCheck", &type, buffer, sizeof buffer, &needed);
    bool online = status == 0 && buffer[0] == 0;
    spooler.ClosePrinterHandle(handle);
    return online;
}

bool IsPv730Candidate(const PrinterRecord& record) {
    if (!record.hasName || !record.hasDriver) return false;
    if (!EqualsIgnoringCase(record.driver, kListedDriverName)) return false;
    return record.name.find(kFileOutputMarker) == std::string::npos;
}

bool ListOrderLess(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

bool FindOnlinePrinters(Spooler& spooler, std::vector<std::string>* names) {
    names->clear();
    std::vector<PrinterRecord> records;
    if (!spooler.EnumerateLocal(&records)) return false;
    for (const PrinterRecord& record : records) {
        if (IsPv730Candidate(record) && IsPrinterOnline(spooler, record.name)) {
            names->push_back(record.name);
        }
    }
    std::sort(names->begin(), names->end(), ListOrderLess);
    return true;
}

}  // namespace trawler
