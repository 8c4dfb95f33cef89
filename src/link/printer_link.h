// PrinterLink: the one channel to the printer through the Spooler seam (RAW jobs out, raw
// reads back as a byte stream counted in 512-byte units) and the five command senders.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/link_settings.h"
#include "link/printer_channel.h"
#include "platform/host.h"
#include "pv730/protocol.h"
#include "platform/spooler.h"

namespace trawler {

// Every command leaves as one RAW job of this name; the answer stream is counted in units of
// kAnswerUnit bytes, whatever OneReadByte is; each raw-read block starts with its header.
using pv730::kAnswerUnit;
using pv730::kJobDataType;
using pv730::kJobName;
using pv730::kRawReadHeader;

// ReadByte results.
enum ReadCode : int32_t {
    kReadByteOk = 1,
    kReadTimeout = 0,
    kReadBusy = -1,
    kReadNoBuffer = -3,
    kReadNoPrinter = -4,
};

class PrinterLink {
  public:
    // Through the print spooler and the PV-730 driver.
    PrinterLink(Spooler& spooler, Host& host);
    // Through another way to the printer.
    PrinterLink(std::unique_ptr<PrinterChannel> channel, Host& host);
    virtual ~PrinterLink();
    PrinterLink(const PrinterLink&) = delete;
    PrinterLink& operator=(const PrinterLink&) = delete;

    Host& GetHost() { return m_host; }

    // Closes any open printer first, remembers the name, opens it. A failing open shows the
    // system's text. The reader's buffer and contents survive Open and Close.
    bool Open(const std::string& printerName);
    void Close();
    bool IsOpen() const;
    const std::string& PrinterName() const { return m_strPrinterName; }

    // GetPrinterDataA on the open printer: the needed count, or -1 (no printer, or the query
    // failed, which shows the system's text).
    int32_t QueryValue(const char* name, uint8_t* buffer, uint32_t size);

    // The driver's online value was read and its first byte is 0. The buffer starts non-zero, so a
    // driver that writes nothing reads as offline.
    bool IsOnline();

    // One RAW job (named docName, or the PV-730's job name when null) holding the bytes. True only
    // when every byte was written; page and document are ended whenever they were started.
    bool Send(const uint8_t* data, uint32_t length, const char* docName = nullptr);

    // Delivers the next answer byte: kReadByteOk (1), kReadTimeout (0), kReadBusy (-1),
    // kReadNoBuffer (-3) or kReadNoPrinter (-4). Shows at most one box per call.
    int32_t ReadByte(uint8_t* byte);

    // Drops whatever the reader holds and restarts the 512-byte unit count.
    void ResetReader();
    void WaitAfterSend();
    // Reads and throws away the rest of the current 512-byte unit. False when the unit ended
    // short (the reader gave up before its last byte): the printer sends whole units, so
    // bytes of the answer just parsed went missing and its content cannot be trusted.
    bool SkipToBlockEnd();
    // Reads until the stream is silent (or the read fails); always true.
    bool Drain();
    // New raw-read buffer size; the current buffer and its bytes are dropped. Always true.
    bool SetOneReadByte(int32_t size);
    int32_t OneReadByte() const { return m_oneReadByte; }

    // Command senders: false with no printer open (nothing sent) or when the frame could not
    // be assembled; true once the frame went to Send, whatever Send said. The frames are the
    // printer model's: these and SendFrame are defined in pv730/command_frames.cpp.
    bool SendClockRequest();
    bool SendVersionRequest();
    bool SendEepromReadRequest(uint32_t blockId);
    bool SendLogInfoRequest();
    bool SendLogDataRequest();

    // Bytes delivered since the last ResetReader or SkipToBlockEnd.
    uint32_t DeliveredCount() const { return m_deliveredCount; }
    // Answer bytes waiting in the buffer.
    int32_t BufferedCount() const { return m_fillCount - m_readCursor; }

    // Settings (see link_settings.h for their values).
    int32_t EmptyReadCount = kInitialEmptyReadCount;
    int32_t ReadWaitMillisec = kInitialReadWaitMillisec;
    int32_t WaitAfterSendMillisec = kInitialWaitAfterSendMillisec;

  private:
    bool SendFrame(const uint8_t* body, int32_t bodyLength);

    std::unique_ptr<PrinterChannel> m_channel;
    Host& m_host;
    uint32_t m_deliveredCount = 0;
    int32_t m_readCursor = 0;
    int32_t m_oneReadByte = kInitialOneReadByte;
    int32_t m_fillCount = 0;
    std::unique_ptr<uint8_t[]> m_readBuffer;
    std::string m_strPrinterName;
};

}  // namespace trawler
