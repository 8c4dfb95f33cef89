// trawler-sim.exe: the same wizard wired to the emulated PV-730 (tests only, never shipped).
// The device comes from the description file named by TRAWLER_SIM_DEVICE, else the built-in
// default device. An environment variable, not an argument: the arguments are searched for
// "-eng" and "-demo" anywhere, and a file path could contain either.
// Two more variables serve the end-to-end tests and exist only in this program:
//   TRAWLER_SIM_JOURNAL=FILE  appends "enumerate" and "open NAME" (successful opens) to FILE,
//                             one line per spooler call, so a test sees which printer a run used;
//   TRAWLER_SIM_THROW=CALL:N  makes the Nth "open" or "read" (raw-read query) throw once, so a
//                             test sees what the wizard does with an exception inside a run.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/log_get_app.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"

namespace {

const char kDeviceVariable[] = "TRAWLER_SIM_DEVICE";
const char kJournalVariable[] = "TRAWLER_SIM_JOURNAL";
const char kThrowVariable[] = "TRAWLER_SIM_THROW";

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The emulated spooler with the tests' journal and thrown exception around it.
class ObservedSpooler : public trawler::EmulatedSpooler {
  public:
    ObservedSpooler(trawler::DeviceDescription device, trawler::Host& host)
        : EmulatedSpooler(std::move(device), host), m_journal(Variable(kJournalVariable)) {
        std::string spec = Variable(kThrowVariable);
        size_t colon = spec.find(':');
        if (colon != std::string::npos) {
            m_throwCall = spec.substr(0, colon);
            m_throwAt = std::strtoul(spec.c_str() + colon + 1, nullptr, 10);
        }
    }

    bool EnumerateLocal(std::vector<trawler::PrinterRecord>* records) override {
        Note("enumerate");
        return EmulatedSpooler::EnumerateLocal(records);
    }
    bool OpenPrinterHandle(const std::string& name, trawler::PrinterHandle* handle) override {
        MaybeThrow("open", &m_opens);
        bool opened = EmulatedSpooler::OpenPrinterHandle(name, handle);
        if (opened) Note("open " + name);
        return opened;
    }
    uint32_t QueryPrinterData(trawler::PrinterHandle handle, const std::string& valueName,
                              uint32_t* type, uint8_t* buffer, uint32_t size,
                              uint32_t* needed) override {
        if (valueName == trawler::pv730::kValueRawRead) MaybeThrow("read", &m_reads);
        return EmulatedSpooler::QueryPrinterData(handle, valueName, type, buffer, size, needed);
    }

  private:
    void Note(const std::string& line) {
        if (m_journal.empty()) return;
        // Opened and closed per line, so a test reads it while the wizard runs.
        std::FILE* file = std::fopen(m_journal.c_str(), "ab");
        if (!file) return;
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
    void MaybeThrow(const char* call, unsigned long* count) {
        if (m_throwCall != call || ++*count != m_throwAt) return;
        throw std::runtime_error(std::string("emulated spooler: ") + call + " " +
                                 std::to_string(m_throwAt));
    }

    std::string m_journal;
    std::string m_throwCall;
    unsigned long m_throwAt = 0;
    unsigned long m_opens = 0;
    unsigned long m_reads = 0;
};

std::unique_ptr<trawler::Spooler> MakeEmulatedSpooler(trawler::Host& host, std::string* error) {
    std::string path = Variable(kDeviceVariable);
    if (path.empty()) return std::make_unique<ObservedSpooler>(trawler::DefaultDevice(), host);
    std::string loadError;
    trawler::DeviceDescription device = trawler::LoadDeviceDescription(path, &loadError);
    if (!loadError.empty()) {
        *error = "Cannot read the device description " + path + ":\n" + loadError;
        return nullptr;
    }
    return std::make_unique<ObservedSpooler>(std::move(device), host);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return trawler::RunTrawler(instance, &MakeEmulatedSpooler);
}
