// Win32Spooler: each seam operation is one winspool call, with the arguments the link expects.
#include "platform/win32/win32_spooler.h"

#include <windows.h>
#include <winspool.h>

#include <new>

#include "platform/system.h"

namespace trawler {

static_assert(kPrinterAccessUse == PRINTER_ACCESS_USE && kPrinterAllAccess == PRINTER_ALL_ACCESS &&
                  kPrinterAccessAdminister == PRINTER_ACCESS_ADMINISTER &&
                  kReadControl == READ_CONTROL,
              "the seam's access rights are Win32's");

bool EnumerateIntoBuffer(const EnumerateCall& enumerate, std::vector<BYTE>* buffer, DWORD* count) {
    buffer->clear();
    *count = 0;
    DWORD needed = 0;
    // The first call, without a buffer, only learns the size, unless there is nothing to list.
    // A printer added before the next call (a driver installing as the technician plugs the
    // printer in) outgrows that size: ask again with the new one while Windows says so.
    for (int call = 0; call <= kEnumerateRetries; ++call) {
        if (enumerate(buffer->empty() ? nullptr : buffer->data(),
                      static_cast<DWORD>(buffer->size()), &needed, count)) {
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return false;
        try {
            buffer->assign(needed, 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return false;
}

bool Win32Spooler::EnumerateLocal(std::vector<PrinterRecord>* records) {
    records->clear();
    std::vector<BYTE> buffer;
    DWORD count = 0;
    auto enumerate = [](BYTE* data, DWORD size, DWORD* needed, DWORD* returned) {
        return EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, data, size, needed, returned) != 0;
    };
    if (!EnumerateIntoBuffer(enumerate, &buffer, &count)) return false;
    auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        PrinterRecord record;
        record.hasName = info[i].pPrinterName != nullptr;
        if (record.hasName) record.name = info[i].pPrinterName;
        record.hasDriver = info[i].pDriverName != nullptr;
        if (record.hasDriver) record.driver = info[i].pDriverName;
        records->push_back(record);
    }
    return true;
}

bool Win32Spooler::OpenPrinterHandle(const std::string& name, uint32_t access,
                                     PrinterHandle* handle) {
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, static_cast<ACCESS_MASK>(access)};
    HANDLE h = nullptr;
    BOOL ok = OpenPrinterA(const_cast<char*>(name.c_str()), &h, &defaults);
    *handle = ok ? h : nullptr;
    return ok && h != nullptr;
}

bool Win32Spooler::ClosePrinterHandle(PrinterHandle handle) {
    return ClosePrinter(static_cast<HANDLE>(handle)) != 0;
}

bool Win32Spooler::StartDocument(PrinterHandle handle, const std::string& docName,
                                 const std::string& dataType) {
    DOC_INFO_1A info{const_cast<char*>(docName.c_str()), nullptr,
                     const_cast<char*>(dataType.c_str())};
    return StartDocPrinterA(static_cast<HANDLE>(handle), 1, reinterpret_cast<BYTE*>(&info)) != 0;
}

bool Win32Spooler::StartPrinterPage(PrinterHandle handle) {
    return StartPagePrinter(static_cast<HANDLE>(handle)) != 0;
}

bool Win32Spooler::WriteToPrinter(PrinterHandle handle, const uint8_t* data, uint32_t length,
                                  uint32_t* written) {
    DWORD n = 0;
    BOOL ok = WritePrinter(static_cast<HANDLE>(handle), const_cast<uint8_t*>(data), length, &n);
    *written = n;
    return ok != 0;
}

bool Win32Spooler::EndPrinterPage(PrinterHandle handle) {
    return EndPagePrinter(static_cast<HANDLE>(handle)) != 0;
}

bool Win32Spooler::EndDocument(PrinterHandle handle) {
    return EndDocPrinter(static_cast<HANDLE>(handle)) != 0;
}

uint32_t Win32Spooler::QueryPrinterData(PrinterHandle handle, const std::string& valueName,
                                        uint32_t* type, uint8_t* buffer, uint32_t size,
                                        uint32_t* needed) {
    DWORD t = *type;
    DWORD n = *needed;
    DWORD status = GetPrinterDataA(static_cast<HANDLE>(handle),
                                   const_cast<char*>(valueName.c_str()), &t, buffer, size, &n);
    *type = t;
    *needed = n;
    // GetPrinterData returns its error instead of setting the thread's last error.
    if (status != ERROR_SUCCESS) SetLastError(status);
    return status;
}

uint32_t Win32Spooler::LastError() {
    return SystemLastError();
}

std::string Win32Spooler::ErrorText(uint32_t code) {
    return SystemErrorText(code);
}

}  // namespace trawler
