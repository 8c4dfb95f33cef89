// PrinterLink: open/close, value queries, RAW jobs and the byte reader over raw-read blocks.
//
// Raw-read block, as the driver writes it for "HlPvRawReadTest" into a buffer of OneReadByte
// bytes; the query's needed count is the block length, header included:
//   offset 0, width 1:          driver status; 0 = block valid, anything else = busy/error
//   offset 1, width 3:          not examined
//   offset 4, width length - 4: the next answer bytes, in order (length <= 4: none waiting)
//
// "HlPvCheck" fills a 4-byte buffer; offset 0, width 1: 0 = printer online.
#include "link/printer_link.h"

#include <new>

#include "platform/messages.h"
#include "pv730/protocol.h"

namespace trawler {

namespace {
// GetPrinterDataA's type variable starts at REG_BINARY; the returned type is not examined.
constexpr uint32_t kInitialValueType = 3;

// The settings are signed registry values; a negative wait must not become a 49-day sleep.
void SleepMillis(Host& host, int32_t millis) {
    host.Sleep(millis > 0 ? static_cast<uint32_t>(millis) : 0u);
}
}  // namespace

PrinterLink::PrinterLink(Spooler& spooler, Host& host) : m_spooler(spooler), m_host(host) {}

PrinterLink::~PrinterLink() {
    Close();
}

bool PrinterLink::Open(const std::string& printerName) {
    Close();
    m_strPrinterName = printerName;
    PrinterHandle handle = nullptr;
    if (!m_spooler.OpenPrinterHandle(printerName, &handle)) {
        uint32_t code = m_spooler.LastError();
        ShowLastError(m_host, code, m_spooler.ErrorText(code));
        return false;
    }
    m_printer = handle;
    return m_printer != nullptr;
}

void PrinterLink::Close() {
    if (m_printer == nullptr) return;
    m_spooler.ClosePrinterHandle(m_printer);
    m_printer = nullptr;
}

int32_t PrinterLink::QueryValue(const char* name, uint8_t* buffer, uint32_t size) {
    if (m_printer == nullptr) return -1;
    uint32_t type = kInitialValueType;
    uint32_t needed = 0;
    uint32_t status = m_spooler.QueryPrinterData(m_printer, name, &type, buffer, size, &needed);
    if (status != 0) {
        uint32_t code = m_spooler.LastError();
        ShowLastError(m_host, code, m_spooler.ErrorText(code));
        return -1;
    }
    return static_cast<int32_t>(needed);
}

bool PrinterLink::IsOnline() {
    uint8_t status[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    return QueryValue(pv730::kValueOnlineCheck, status, sizeof status) >= 0 && status[0] == 0;
}

bool PrinterLink::Send(const uint8_t* data, uint32_t length, const char* docName) {
    if (m_printer == nullptr) return false;
    if (data == nullptr && length > 0) return false;
    if (!m_spooler.StartDocument(m_printer, docName != nullptr ? docName : kJobName,
                                 kJobDataType)) {
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

int32_t PrinterLink::ReadByte(uint8_t* byte) {
    if (m_printer == nullptr) return kReadNoPrinter;
    if (!m_readBuffer) {
        m_fillCount = 0;
        m_readCursor = 0;
        m_deliveredCount = 0;
        if (m_oneReadByte <= 0) return kReadNoBuffer;
        m_readBuffer.reset(new (std::nothrow) uint8_t[static_cast<size_t>(m_oneReadByte)]);
        if (!m_readBuffer) return kReadNoBuffer;
    }
    if (m_fillCount - m_readCursor <= 0) {
        // Empty reads and failed queries share one budget, so a driver that keeps failing
        // ends the read like a silent one; only the first failure of a call gets a box.
        int32_t empty = 0;
        int32_t busy = 0;
        bool failureShown = false;
        const uint32_t size = static_cast<uint32_t>(m_oneReadByte);
        for (;;) {
            uint32_t type = kInitialValueType;
            uint32_t needed = 0;
            uint32_t status = m_spooler.QueryPrinterData(m_printer, pv730::kValueRawRead, &type,
                                                         m_readBuffer.get(), size, &needed);
            if (status == 0 && m_readBuffer[0] != 0) {
                ++busy;
                if (busy >= 2) return kReadBusy;
                SleepMillis(m_host, ReadWaitMillisec);
                continue;
            }
            if (status == 0 && needed > kRawReadHeader) {
                // A driver must not claim more than the buffer holds; never read past it.
                m_fillCount =
                    needed > size ? static_cast<int32_t>(size) : static_cast<int32_t>(needed);
                m_readCursor = static_cast<int32_t>(kRawReadHeader);
                if (m_fillCount > m_readCursor) break;
            }
            if (status != 0 && !failureShown) {
                failureShown = true;
                uint32_t code = m_spooler.LastError();
                ShowLastError(m_host, code, m_spooler.ErrorText(code));
            }
            ++empty;
            if (EmptyReadCount <= empty) return kReadTimeout;
            SleepMillis(m_host, ReadWaitMillisec);
        }
    }
    *byte = m_readBuffer[static_cast<size_t>(m_readCursor)];
    ++m_readCursor;
    ++m_deliveredCount;
    return kReadByteOk;
}

void PrinterLink::ResetReader() {
    m_fillCount = 0;
    m_readCursor = 0;
    m_deliveredCount = 0;
}

void PrinterLink::WaitAfterSend() {
    SleepMillis(m_host, WaitAfterSendMillisec);
}

bool PrinterLink::SkipToBlockEnd() {
    uint32_t r = m_deliveredCount % kAnswerUnit;
    if (r == 0) return true;
    uint8_t byte = 0;
    bool complete = true;
    for (uint32_t i = 0; i < kAnswerUnit - r; ++i) {
        if (ReadByte(&byte) != kReadByteOk) {
            complete = false;
            break;
        }
    }
    m_deliveredCount = 0;
    return complete;
}

bool PrinterLink::Drain() {
    uint8_t byte = 0;
    while (ReadByte(&byte) == kReadByteOk) {
    }
    return true;
}

bool PrinterLink::SetOneReadByte(int32_t size) {
    m_oneReadByte = size;
    m_readBuffer.reset();
    m_fillCount = 0;
    m_readCursor = 0;
    return true;
}

}  // namespace trawler
