// PrinterLink: the byte reader over raw-read blocks, and open, close, the online check and
// commands passed to its channel.
//
// Raw-read block, as the channel hands it out into a buffer of OneReadByte bytes, with its
// length (header included):
//   offset 0, width 1:          driver status; 0 = block valid, anything else = busy/error
//   offset 1, width 3:          not examined
//   offset 4, width length - 4: the next answer bytes, in order (length <= 4: none waiting)
#include "link/printer_link.h"

#include <new>

#include "pv730/protocol.h"

namespace trawler {

namespace {
// The settings are signed registry values; a negative wait must not become a 49-day sleep.
void SleepMillis(Host& host, int32_t millis) {
    host.Sleep(millis > 0 ? static_cast<uint32_t>(millis) : 0u);
}
}  // namespace

PrinterLink::PrinterLink(Spooler& spooler, Host& host)
    : PrinterLink(std::make_unique<SpoolerChannel>(spooler, host), host) {}

PrinterLink::PrinterLink(std::unique_ptr<PrinterChannel> channel, Host& host)
    : m_channel(std::move(channel)), m_host(host) {}

PrinterLink::~PrinterLink() {
    Close();
}

bool PrinterLink::Open(const std::string& printerName) {
    m_strPrinterName = printerName;
    return m_channel->Open(printerName);
}

void PrinterLink::Close() {
    m_channel->Close();
}

bool PrinterLink::IsOpen() const {
    return m_channel->IsOpen();
}

int32_t PrinterLink::QueryValue(const char* name, uint8_t* buffer, uint32_t size) {
    return m_channel->QueryValue(name, buffer, size);
}

bool PrinterLink::IsOnline() {
    uint8_t status[pv730::kOnlineValueSize] = {0xFF, 0xFF, 0xFF, 0xFF};
    return QueryValue(pv730::kValueOnlineCheck, status, sizeof status) >= 0 &&
           pv730::IsOnlineStatus(status, sizeof status);
}

bool PrinterLink::Send(const uint8_t* data, uint32_t length, const char* docName) {
    return m_channel->Send(data, length, docName);
}

int32_t PrinterLink::ReadByte(uint8_t* byte) {
    if (!m_channel->IsOpen()) return kReadNoPrinter;
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
            uint32_t needed = 0;
            const bool read = m_channel->ReadRawBlock(m_readBuffer.get(), size, &needed);
            if (read && !pv730::IsRawReadValid(m_readBuffer.get())) {
                ++busy;
                if (busy >= 2) return kReadBusy;
                SleepMillis(m_host, ReadWaitMillisec);
                continue;
            }
            if (read && needed > kRawReadHeader) {
                // A driver must not claim more than the buffer holds; never read past it.
                m_fillCount =
                    needed > size ? static_cast<int32_t>(size) : static_cast<int32_t>(needed);
                m_readCursor = static_cast<int32_t>(kRawReadHeader);
                if (m_fillCount > m_readCursor) break;
            }
            if (!read && !failureShown) {
                failureShown = true;
                m_channel->ShowLastFailure();
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
