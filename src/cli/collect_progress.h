// How trawler-cli collect follows its run: a status line on a terminal, or a line protocol.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "acquire/log_run.h"
#include "platform/console_host.h"

namespace trawler {

enum class ProgressMode {
    kAuto,   // the status line when the messages go to a terminal, else nothing
    kBar,    // the status line on the messages' stream, terminal or not
    kLines,  // the line protocol on the output stream (docs/SUPPORT.md)
    kNone,
};

// "auto", "bar", "lines" or "none"; false for anything else.
bool ParseProgressMode(const std::string& text, ProgressMode* mode);

// At most one LOG line per this many log bytes, and one more after the last packet.
inline constexpr uint32_t kLogLineBytes = 262144;
// The status line is redrawn for the log at most this often, so a fast capture is not slowed.
inline constexpr uint64_t kStatusRedrawMillis = 250;

// "812 B", "300.0 kB", "12.3 MB", "1.07 GB": decimal units, as a disk's size is given.
std::string FormatBytes(uint64_t bytes);

// The phase on the host's status line; while the log streams, its bytes and rate.
class StatusLineView : public ReadingView {
  public:
    explicit StatusLineView(ConsoleHost& host) : m_host(host) {}
    void PhaseBegins(RunPhase phase, uint32_t blockId) override;
    void LogBytesRead(uint32_t total) override;

  private:
    ConsoleHost& m_host;
    uint64_t m_logStart = 0;
    uint64_t m_lastDraw = 0;
    uint32_t m_logBytes = 0;
};

// One line per phase and LOG lines on out, flushed each so a reader of a pipe sees them at once.
class ProgressLinesView : public ReadingView {
  public:
    explicit ProgressLinesView(std::FILE* out) : m_out(out) {}
    void PhaseBegins(RunPhase phase, uint32_t blockId) override;
    void LogBytesRead(uint32_t total) override;
    // The closing lines: the collection saved its package at path, or it did not.
    void Saved(const std::string& path);
    void Failed();

  private:
    void WriteLine(const std::string& line);
    // The LOG line of bytes read since the last one was written, if any.
    void WritePendingLog();

    std::FILE* m_out;
    uint32_t m_logBytes = 0;
    uint32_t m_logShown = 0;
    bool m_logPending = false;
};

}  // namespace trawler
