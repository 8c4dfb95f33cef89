// The status line and the line protocol that follow a trawler-cli collect run.
#include "cli/collect_progress.h"

namespace trawler {

namespace {

const char* PhaseText(RunPhase phase) {
    switch (phase) {
        case RunPhase::kOpen:
            return "Opening the printer";
        case RunPhase::kClock:
            return "Reading the clock";
        case RunPhase::kVersion:
            return "Reading the version";
        case RunPhase::kEeprom:
            return "Reading EEPROM block";
        case RunPhase::kLogInfo:
            return "Reading the log information";
        case RunPhase::kLog:
            return "Reading the log";
        case RunPhase::kSave:
            return "Saving the package";
    }
    return "";
}

std::string BlockId(uint32_t blockId) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(blockId));
    return text;
}

}  // namespace

bool ParseProgressMode(const std::string& text, ProgressMode* mode) {
    static const struct {
        const char* word;
        ProgressMode mode;
    } kModes[] = {{"auto", ProgressMode::kAuto},
                  {"bar", ProgressMode::kBar},
                  {"lines", ProgressMode::kLines},
                  {"none", ProgressMode::kNone}};
    for (const auto& m : kModes) {
        if (text == m.word) {
            *mode = m.mode;
            return true;
        }
    }
    return false;
}

std::string FormatBytes(uint64_t bytes) {
    char text[32];
    if (bytes < 1000) {
        std::snprintf(text, sizeof text, "%u B", static_cast<unsigned>(bytes));
    } else if (bytes < 1000000) {
        std::snprintf(text, sizeof text, "%.1f kB", bytes / 1e3);
    } else if (bytes < 1000000000) {
        std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.2f GB", bytes / 1e9);
    }
    return text;
}

void StatusLineView::PhaseBegins(RunPhase phase, uint32_t blockId) {
    std::string text = PhaseText(phase);
    if (phase == RunPhase::kEeprom) text += " " + BlockId(blockId);
    // The log's last count stays in view while the package is made.
    if (phase == RunPhase::kSave && m_logBytes > 0)
        text += " (log " + FormatBytes(m_logBytes) + ")";
    m_lastDraw = m_host.MonotonicMillis();
    if (phase == RunPhase::kLog) {
        m_logStart = m_lastDraw;
        m_logBytes = 0;
    }
    m_host.ShowStatus(text);
}

void StatusLineView::LogBytesRead(uint32_t total) {
    m_logBytes = total;
    uint64_t now = m_host.MonotonicMillis();
    if (now - m_lastDraw < kStatusRedrawMillis) return;
    m_lastDraw = now;
    std::string text = std::string(PhaseText(RunPhase::kLog)) + ": " + FormatBytes(total);
    if (now > m_logStart) {
        text += ", " + FormatBytes(uint64_t{total} * 1000 / (now - m_logStart)) + "/s";
    }
    m_host.ShowStatus(text);
}

void ProgressLinesView::PhaseBegins(RunPhase phase, uint32_t blockId) {
    WritePendingLog();
    std::string line = std::string("PHASE ") + RunPhaseWord(phase);
    if (phase == RunPhase::kEeprom) line += " " + BlockId(blockId);
    if (phase == RunPhase::kLog) m_logShown = 0;
    WriteLine(line);
}

void ProgressLinesView::LogBytesRead(uint32_t total) {
    m_logBytes = total;
    m_logPending = true;
    if (total - m_logShown >= kLogLineBytes) WritePendingLog();
}

void ProgressLinesView::Saved(const std::string& path) {
    WritePendingLog();
    WriteLine("OK " + path);
}

void ProgressLinesView::Failed() {
    WritePendingLog();
    WriteLine("FAIL");
}

void ProgressLinesView::WritePendingLog() {
    if (!m_logPending) return;
    m_logPending = false;
    m_logShown = m_logBytes;
    WriteLine("LOG " + std::to_string(m_logBytes));
}

void ProgressLinesView::WriteLine(const std::string& line) {
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
}

}  // namespace trawler
