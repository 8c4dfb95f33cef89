// A Host for tests: records every box, wait, pump and progress call, and never really sleeps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host.h"

namespace trawler::testing {

class RecordingHost : public Host {
  public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void Sleep(uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        clockMillis += milliseconds;
    }
    uint64_t MonotonicMillis() override { return clockMillis; }
    void PumpMessages() override { ++pumps; }
    void ProgressSetRange(int low, int high) override {
        progressLow = low;
        progressHigh = high;
    }
    void ProgressSetPos(int position) override { progressPos = position; }
    void ProgressStep(int delta) override {
        ++progressSteps;
        progressPos += delta;
        if (progressPos > progressHigh) progressPos = progressHigh;
    }
    bool GetVersionRecord(VersionRecord* record) override {
        if (!versionAvailable) return false;
        *record = version;
        return true;
    }
    std::tm LocalNow() override { return now; }
    uint32_t LastError() override { return lastError; }
    std::string ErrorText(uint32_t code) override {
        return code == lastError ? lastErrorText : std::string();
    }

    uint64_t TotalSleepMillis() const {
        uint64_t total = 0;
        for (uint32_t ms : sleeps) total += ms;
        return total;
    }

    std::vector<std::string> messages;
    std::vector<uint32_t> sleeps;
    uint64_t clockMillis = 0;
    int pumps = 0;
    int progressLow = 0;
    int progressHigh = 0;
    int progressPos = 0;
    int progressSteps = 0;
    bool versionAvailable = true;
    VersionRecord version{5, 1, 2600, 2, "Service Pack 2"};
    std::tm now = MakeTime(2006, 11, 30, 17, 45);
    uint32_t lastError = 0;
    std::string lastErrorText;

    static std::tm MakeTime(int year, int month, int day, int hour, int minute) {
        std::tm t{};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_isdst = -1;
        return t;
    }
};

}  // namespace trawler::testing
