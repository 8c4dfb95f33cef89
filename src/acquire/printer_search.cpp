// The printer search of the printer selection page, over the Spooler seam.
#include "acquire/printer_search.h"
#include "pv730/protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace trawler {

bool ContainsOnCharBoundary(const std::string& text, const std::string& part,
                            LeadBytePredicate isLeadByte) {
    if (part.empty()) return true;
    for (size_t i = 0; i + part.size() <= text.size(); ++i) {
        if (text.compare(i, part.size(), part) == 0) return true;
        if (isLeadByte && isLeadByte(static_cast<unsigned char>(text[i]))) ++i;
    }
    return false;
}

bool IsPrinterOnline(Spooler& spooler, const std::string& printerName) {
    PrinterHandle handle = nullptr;
    if (!spooler.OpenPrinterHandle(printerName, kPrinterAccessUse, &handle) || !handle)
        return false;
    uint32_t type = 3;
    uint32_t needed = 0;
    uint8_t buffer[pv730::kOnlineValueSize] = {0xFF, 0xFF, 0xFF, 0xFF};
    uint32_t status = spooler.QueryPrinterData(handle, pv730::kValueOnlineCheck, &type, buffer,
                                               sizeof buffer, &needed);
    bool online = status == 0 && pv730::IsOnlineStatus(buffer, sizeof buffer);
    spooler.ClosePrinterHandle(handle);
    return online;
}

bool IsPv730Candidate(const PrinterRecord& record, LeadBytePredicate isLeadByte) {
    return record.hasName && record.hasDriver && pv730::IsPv730Driver(record.driver) &&
           !ContainsOnCharBoundary(record.name, kFileOutputMark, isLeadByte);
}

std::vector<std::string> FindOnlinePv730Printers(Spooler& spooler, LeadBytePredicate isLeadByte) {
    std::vector<std::string> names;
    std::vector<PrinterRecord> records;
    if (!spooler.EnumerateLocal(&records)) return names;
    for (const PrinterRecord& record : records) {
        if (IsPv730Candidate(record, isLeadByte) && IsPrinterOnline(spooler, record.name)) {
            names.push_back(record.name);
        }
    }
    return names;
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

}  // namespace trawler
