// The Spooler seam: exactly the print-spooler calls Trawler makes, nothing more.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trawler {

// The spooler's names (printers, drivers, data types) compare without regard to ASCII case.
bool SpoolerNamesEqual(const std::string& a, const std::string& b);

// Opaque handle of an open printer; null means "none".
using PrinterHandle = void*;

// One record of a local-printer enumeration (level 2: only the two names are used).
struct PrinterRecord {
    bool hasName = false;  // the spooler may hand out records without a name or driver
    std::string name;
    bool hasDriver = false;
    std::string driver;
};

// Win32 error codes that the emulator and the tests use by name.
enum : uint32_t {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorGenFailure = 31,
    kErrorNotSupported = 50,
    kErrorInvalidParameter = 87,
    kErrorInsufficientBuffer = 122,
    kErrorMoreData = 234,
    kErrorInvalidPrinterName = 1801,
    kErrorPrinterNotFound = 3012,
};

// Access rights asked of OpenPrinterA (the Win32 values).
enum : uint32_t {
    kPrinterAccessAdminister = 0x00000004,
    kPrinterAccessUse = 0x00000008,
    kPrinterAllAccess = 0x000F000C,  // STANDARD_RIGHTS_REQUIRED | administer | use
    kReadControl = 0x00020000,       // READ_CONTROL: read the printer's security settings
};

class Spooler {
  public:
    virtual ~Spooler() = default;

    // EnumPrintersA(PRINTER_ENUM_LOCAL, no name, level 2). False when the enumeration failed.
    virtual bool EnumerateLocal(std::vector<PrinterRecord>* records) = 0;

    // OpenPrinterA with the desired `access`, no data type, no device mode. Trawler always asks
    // kPrinterAccessUse: printing RAW jobs and reading printer data need nothing more, and
    // Windows refuses full access (which includes administering the printer) with "access
    // denied" to a standard user and to an administrator without elevation, the technician on
    // a customer's PC.
    virtual bool OpenPrinterHandle(const std::string& name, uint32_t access,
                                   PrinterHandle* handle) = 0;
    virtual bool ClosePrinterHandle(PrinterHandle handle) = 0;

    // StartDocPrinterA with DOC_INFO_1 {document name, no output file, data type}.
    virtual bool StartDocument(PrinterHandle handle, const std::string& docName,
                               const std::string& dataType) = 0;
    virtual bool StartPrinterPage(PrinterHandle handle) = 0;
    virtual bool WriteToPrinter(PrinterHandle handle, const uint8_t* data, uint32_t length,
                                uint32_t* written) = 0;
    virtual bool EndPrinterPage(PrinterHandle handle) = 0;
    virtual bool EndDocument(PrinterHandle handle) = 0;

    // GetPrinterDataA: returns the call's status (0 = success). *type and *needed are in/out,
    // as the real call treats them.
    virtual uint32_t QueryPrinterData(PrinterHandle handle, const std::string& valueName,
                                      uint32_t* type, uint8_t* buffer, uint32_t size,
                                      uint32_t* needed) = 0;

    // The thread's last error after a failed call, and the system's text for a code
    // (empty when the system has none).
    virtual uint32_t LastError() = 0;
    virtual std::string ErrorText(uint32_t code) = 0;
};

}  // namespace trawler
