// The Host of the command-line tools: messages on stderr, real time, a text progress bar.
#pragma once

#include <cstdio>

#include "platform/host.h"

namespace trawler {

class ConsoleHost : public Host {
public:
    // progressOut: where the progress bar is drawn (a terminal), or null for none.
    explicit ConsoleHost(std::FILE* progressOut = nullptr);

    void ShowMessage(const std::string& text) override;
    void Sleep(uint32_t milliseconds) override;
    uint64_t MonotonicMillis() override;
    void PumpMessages() override {}
    void ProgressSetRange(int low, int high) override;
    void ProgressSetPos(int position) override;
    void ProgressStep(int delta) override;
    bool GetVersionRecord(VersionRecord* record) override;
    std::tm LocalNow() override;
    uint32_t LastError() override;
    std::string ErrorText(uint32_t code) override;

    // Ends the progress line so that later output starts on a fresh line.
    void FinishProgress();

private:
    void DrawProgress();

    std::FILE* m_progressOut;
    int m_low = 0;
    int m_high = 0;
    int m_pos = 0;
    bool m_drawn = false;
};

}  // namespace trawler
