// The Spooler seam over winspool: the real print spooler of the PC.
#pragma once

#include <windows.h>

#include <functional>

#include "platform/spooler.h"

namespace trawler {

// One EnumPrintersA(PRINTER_ENUM_LOCAL, no name, level 2) call into the given buffer.
using EnumerateCall = std::function<bool(BYTE* buffer, DWORD size, DWORD* needed, DWORD* count)>;

// Calls `enumerate` until the records fit: first without a buffer, then with the size it
// asked for, again while it answers ERROR_INSUFFICIENT_BUFFER (at most kEnumerateRetries
// times). False when a call fails for another reason or memory runs out.
constexpr int kEnumerateRetries = 8;
bool EnumerateIntoBuffer(const EnumerateCall& enumerate, std::vector<BYTE>* buffer, DWORD* count);

class Win32Spooler : public Spooler {
  public:
    bool EnumerateLocal(std::vector<PrinterRecord>* records) override;
    bool OpenPrinterHandle(const std::string& name, uint32_t access,
                           PrinterHandle* handle) override;
    bool ClosePrinterHandle(PrinterHandle handle) override;
    bool StartDocument(PrinterHandle handle, const std::string& docName,
                       const std::string& dataType) override;
    bool StartPrinterPage(PrinterHandle handle) override;
    bool WriteToPrinter(PrinterHandle handle, const uint8_t* data, uint32_t length,
                        uint32_t* written) override;
    bool EndPrinterPage(PrinterHandle handle) override;
    bool EndDocument(PrinterHandle handle) override;
    uint32_t QueryPrinterData(PrinterHandle handle, const std::string& valueName, uint32_t* type,
                              uint8_t* buffer, uint32_t size, uint32_t* needed) override;
    uint32_t LastError() override;
    std::string ErrorText(uint32_t code) override;
};

}  // namespace trawler
