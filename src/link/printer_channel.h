// PrinterChannel: the way to the printer below the byte reader. The reader above it counts
// units, waits and times out; a channel only opens the printer, sends a command as one whole,
// and hands out raw-read blocks and the driver's values. SpoolerChannel is the one the PV-730
// driver offers (RAW jobs out, private printer-data values back); another transport (the USB
// device itself, a network bridge) would be a channel of its own, and nothing above changes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host.h"
#include "platform/spooler.h"

namespace trawler {

class PrinterChannel {
  public:
    virtual ~PrinterChannel() = default;
    // Closes any printer that is open, then opens this one; false after showing why.
    virtual bool Open(const std::string& printerName) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // One command as one job; true only when every byte went out.
    virtual bool Send(const uint8_t* data, uint32_t length, const char* docName) = 0;
    // One of the driver's values into buffer: its needed count, or -1 after showing why.
    virtual int32_t QueryValue(const char* name, uint8_t* buffer, uint32_t size) = 0;
    // One raw-read block into buffer (status byte, three bytes, the next answer bytes); false
    // when the query failed, silently: the reader decides how often that is shown.
    virtual bool ReadRawBlock(uint8_t* buffer, uint32_t size, uint32_t* length) = 0;
    // Shows the system's text for the last failed query.
    virtual void ShowLastFailure() = 0;
};

// The channel through the print spooler and the PV-730 driver.
class SpoolerChannel final : public PrinterChannel {
  public:
    SpoolerChannel(Spooler& spooler, Host& host) : m_spooler(spooler), m_host(host) {}
    ~SpoolerChannel() override { ReleasePrinter(); }
    SpoolerChannel(const SpoolerChannel&) = delete;
    SpoolerChannel& operator=(const SpoolerChannel&) = delete;

    bool Open(const std::string& printerName) override;
    void Close() override;
    bool IsOpen() const override { return m_printer != nullptr; }
    bool Send(const uint8_t* data, uint32_t length, const char* docName) override;
    int32_t QueryValue(const char* name, uint8_t* buffer, uint32_t size) override;
    bool ReadRawBlock(uint8_t* buffer, uint32_t size, uint32_t* length) override;
    void ShowLastFailure() override;

  private:
    void ReleasePrinter();

    Spooler& m_spooler;
    Host& m_host;
    PrinterHandle m_printer = nullptr;
};

}  // namespace trawler
