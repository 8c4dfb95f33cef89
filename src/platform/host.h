// The Host seam: what the portable core asks of the program around it (wizard, CLI or test).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace trawler {

// Platform identifier of a version record taken from a system that is not Windows.
constexpr uint32_t kNotWindowsPlatformId = 0xFFFFFFFFu;

// The PC's version record, as GetVersionExA fills OSVERSIONINFOA.
struct VersionRecord {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    uint32_t platformId = 0;
    std::string servicePack;  // szCSDVersion: at most 127 characters
};

class Host {
public:
    virtual ~Host() = default;

    // A modal box with an OK button; returns when the user has closed it.
    virtual void ShowMessage(const std::string& text) = 0;

    // Blocks the thread. Emulated printers pace themselves on MonotonicMillis, which a test
    // host advances here instead of sleeping.
    virtual void Sleep(uint32_t milliseconds) = 0;
    virtual uint64_t MonotonicMillis() = 0;

    // Dispatches every waiting window message, then runs idle processing; never waits.
    virtual void PumpMessages() = 0;

    // The progress bar of the "Reading Log" dialog.
    virtual void ProgressSetRange(int low, int high) = 0;
    virtual void ProgressSetPos(int position) = 0;
    virtual void ProgressStep(int delta) = 0;

    // The PC's version record for "PCDT"; false when the system refused it.
    virtual bool GetVersionRecord(VersionRecord* record) = 0;

    // The current local time, for file names and the container header.
    virtual std::tm LocalNow() = 0;

    // The thread's last system error after a failed file operation, and its system text
    // (empty when the system has none).
    virtual uint32_t LastError() = 0;
    virtual std::string ErrorText(uint32_t code) = 0;
};

}  // namespace trawler
