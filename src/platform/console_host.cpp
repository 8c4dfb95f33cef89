// ConsoleHost: boxes become stderr paragraphs, the bar is redrawn on one terminal line.
#include "platform/console_host.h"

#include <chrono>
#include <thread>

#include "platform/system.h"

namespace trawler {

ConsoleHost::ConsoleHost(std::FILE* progressOut) : m_progressOut(progressOut) {}

void ConsoleHost::ShowMessage(const std::string& text) {
    if (m_drawn) FinishProgress();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void ConsoleHost::Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint64_t ConsoleHost::MonotonicMillis() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void ConsoleHost::ProgressSetRange(int low, int high) {
    m_low = low;
    m_high = high;
    DrawProgress();
}

void ConsoleHost::ProgressSetPos(int position) {
    m_pos = position;
    DrawProgress();
}

void ConsoleHost::ProgressStep(int delta) {
    // Like a progress control: the position stays inside the range.
    m_pos += delta;
    if (m_pos > m_high) m_pos = m_high;
    if (m_pos < m_low) m_pos = m_low;
    DrawProgress();
}

void ConsoleHost::DrawProgress() {
    if (!m_progressOut || m_high <= m_low) return;
    int width = m_high - m_low;
    std::string bar;
    for (int i = 0; i < width; ++i) bar += (i < m_pos - m_low) ? '#' : '.';
    std::fprintf(m_progressOut, "\rReading the printer log [%s]", bar.c_str());
    std::fflush(m_progressOut);
    m_drawn = true;
}

void ConsoleHost::FinishProgress() {
    if (m_progressOut && m_drawn) {
        std::fprintf(m_progressOut, "\n");
        std::fflush(m_progressOut);
    }
    m_drawn = false;
}

bool ConsoleHost::GetVersionRecord(VersionRecord* record) { return SystemVersionRecord(record); }

std::tm ConsoleHost::LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm result{};
#if defined(_WIN32)
    localtime_s(&result, &now);
#else
    localtime_r(&now, &result);
#endif
    return result;
}

uint32_t ConsoleHost::LastError() { return SystemLastError(); }

std::string ConsoleHost::ErrorText(uint32_t code) { return SystemErrorText(code); }

}  // namespace trawler
