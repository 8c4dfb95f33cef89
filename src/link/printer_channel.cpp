// SpoolerChannel: the printer reached through the print spooler. Commands leave as RAW jobs;
// raw-read blocks and the online check come back as the PV-730 driver's private values
// (pv730/protocol.h).
#include "link/printer_channel.h"

#include "platform/messages.h"
#include "pv730/protocol.h"

namespace trawler {

namespace {
// GetPrinterDataA's type variable starts at REG_BINARY; the returned type is not examined.
constexpr uint32_t kInitialValueType = 3;
}  // namespace

bool SpoolerChannel::Open(const std::string& printerName) {
    Close();
    PrinterHandle handle = nullptr;
    if (!m_spooler.OpenPrinterHandle(printerName, kPrinterAccessUse, &handle)) {
        ShowLastFailure();
        return false;
    }
    m_printer = handle;
    return m_printer != nullptr;
}

void SpoolerChannel::Close() {
    ReleasePrinter();
}

void SpoolerChannel::ReleasePrinter() {
    if (m_printer == nullptr) return;
    m_spooler.ClosePrinterHandle(m_printer);
    m_printer = nullptr;
}

bool SpoolerChannel::Send(const uint8_t* data, uint32_t length, const char* docName) {
    if (m_printer == nullptr) return false;
    if (data == nullptr && length > 0) return false;
    if (!m_spooler.StartDocument(m_printer, docName != nullptr ? docName : pv730::kJobName,
                                 pv730::kJobDataType)) {
        return false;
    }
    bool ok = false;
    if (m_spooler.StartPrinterPage(m_printer)) {
        uint32_t written = 0;
        ok = m_spooler.WriteToPrinter(m_printer, data, length, &written) && written == length;
        m_spooler.EndPrinterPage(m_printer);
    }
    m_spooler.EndDocument(m_printer);
    return ok;
}

int32_t SpoolerChannel::QueryValue(const char* name, uint8_t* buffer, uint32_t size) {
    if (m_printer == nullptr) return -1;
    uint32_t type = kInitialValueType;
    uint32_t needed = 0;
    if (m_spooler.QueryPrinterData(m_printer, name, &type, buffer, size, &needed) != 0) {
        ShowLastFailure();
        return -1;
    }
    return static_cast<int32_t>(needed);
}

bool SpoolerChannel::ReadRawBlock(uint8_t* buffer, uint32_t size, uint32_t* length) {
    uint32_t type = kInitialValueType;
    *length = 0;
    return m_spooler.QueryPrinterData(m_printer, pv730::kValueRawRead, &type, buffer, size,
                                      length) == 0;
}

void SpoolerChannel::ShowLastFailure() {
    uint32_t code = m_spooler.LastError();
    ShowLastError(m_host, code, m_spooler.ErrorText(code));
}

}  // namespace trawler
