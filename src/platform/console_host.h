// The Host of the command-line tools: messages on a stream, real time, a status line.
#pragma once

#include <cstdio>
#include <string>

#include "platform/host.h"

namespace trawler {

class ConsoleHost : public Host {
  public:
    // statusOut: where the status line is drawn (a terminal), or null for none; messageOut:
    // where the boxes' texts go.
    explicit ConsoleHost(std::FILE* statusOut = nullptr, std::FILE* messageOut = stderr);

    void ShowMessage(const std::string& text) override;
    void Sleep(uint32_t milliseconds) override;
    uint64_t MonotonicMillis() override;
    void PumpMessages() override {}
    // The dialog's bar of nine 400000-byte steps is full after 3.6 MB, long before a large log
    // ends; the command line says what the run is doing on its status line instead.
    void ProgressSetRange(int, int) override {}
    void ProgressSetPos(int) override {}
    void ProgressStep(int) override {}
    bool GetVersionRecord(VersionRecord* record) override;
    std::tm LocalNow() override;
    uint32_t LastError() override;
    std::string ErrorText(uint32_t code) override;

    // Redraws the status line in place with this text (nothing without a status stream).
    void ShowStatus(const std::string& text);
    // Ends the status line so that later output starts on a fresh line.
    void FinishStatus();

  private:
    std::FILE* m_statusOut;
    std::FILE* m_messageOut;
    // Characters of the text on the status line now, which a shorter one must blank out.
    size_t m_statusWidth = 0;
};

}  // namespace trawler
