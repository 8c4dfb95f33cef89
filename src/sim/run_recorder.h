// RunRecorder: the wizard's spooler when it records, one ".ztr" per run in the chosen folder.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "link/link_settings.h"
#include "platform/spooler.h"
#include "sim/recording_spooler.h"

namespace trawler {

// The recording's path for a run: beside a saved package as its name with ".ztr", else in the
// folder as Failed_No<unit>_<YYYYMMDD>_<HHMM>.ztr, the package names' date and time.
std::string RunRecordingPath(const std::string& folder, const std::string& packagePath,
                             uint32_t unitNumber, const std::tm& localTime, char separator);

// `path` itself when nothing has that name yet, else the first free of path-2.ztr ... path-99.ztr
// (two failed runs in one minute); `path` again when none is free, which then fails to write.
std::string FreeRecordingPath(const std::string& path);

// Passes every call to the PC's spooler; between BeginRun and EndRun, through a recorder, so
// each run is recorded on its own. The printer search outside runs is not recorded.
class RunRecorder : public Spooler {
  public:
    explicit RunRecorder(Spooler& inner) : m_inner(inner) {}

    void BeginRun(const LinkSettings& settings);
    // Writes the run's recording to `path` (never over an existing file) and takes the recorder
    // away again. False, with *error, when it could not be written whole; nothing is left then.
    bool EndRun(const std::string& outcome, const std::string& path, std::string* error);
    // Takes the recorder away unwritten.
    void DropRun() { m_recorder.reset(); }

    bool EnumerateLocal(std::vector<PrinterRecord>* records) override {
        return Current().EnumerateLocal(records);
    }
    bool OpenPrinterHandle(const std::string& name, uint32_t access,
                           PrinterHandle* handle) override {
        return Current().OpenPrinterHandle(name, access, handle);
    }
    bool ClosePrinterHandle(PrinterHandle handle) override {
        return Current().ClosePrinterHandle(handle);
    }
    bool StartDocument(PrinterHandle handle, const std::string& docName,
                       const std::string& dataType) override {
        return Current().StartDocument(handle, docName, dataType);
    }
    bool StartPrinterPage(PrinterHandle handle) override {
        return Current().StartPrinterPage(handle);
    }
    bool WriteToPrinter(PrinterHandle handle, const uint8_t* data, uint32_t length,
                        uint32_t* written) override {
        return Current().WriteToPrinter(handle, data, length, written);
    }
    bool EndPrinterPage(PrinterHandle handle) override { return Current().EndPrinterPage(handle); }
    bool EndDocument(PrinterHandle handle) override { return Current().EndDocument(handle); }
    uint32_t QueryPrinterData(PrinterHandle handle, const std::string& valueName, uint32_t* type,
                              uint8_t* buffer, uint32_t size, uint32_t* needed) override {
        return Current().QueryPrinterData(handle, valueName, type, buffer, size, needed);
    }
    uint32_t LastError() override { return Current().LastError(); }
    std::string ErrorText(uint32_t code) override { return Current().ErrorText(code); }

  private:
    Spooler& Current() {
        if (m_recorder) return *m_recorder;
        return m_inner;
    }

    Spooler& m_inner;
    std::unique_ptr<RecordingSpooler> m_recorder;
};

}  // namespace trawler
