// ConsoleHost: boxes become paragraphs on a stream, the status is redrawn on one terminal line.
#include "platform/console_host.h"

#include <chrono>
#include <thread>

#include "platform/system.h"

namespace trawler {

ConsoleHost::ConsoleHost(std::FILE* statusOut, std::FILE* messageOut)
    : m_statusOut(statusOut), m_messageOut(messageOut) {}

void ConsoleHost::ShowMessage(const std::string& text) {
    FinishStatus();
    std::fprintf(m_messageOut, "%s\n", text.c_str());
    std::fflush(m_messageOut);
}

void ConsoleHost::Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

uint64_t ConsoleHost::MonotonicMillis() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void ConsoleHost::ShowStatus(const std::string& text) {
    if (!m_statusOut) return;
    // A carriage return and blanks rather than an erase sequence: a Windows console without
    // virtual terminal processing would print the sequence.
    std::string blanks(m_statusWidth > text.size() ? m_statusWidth - text.size() : 0, ' ');
    std::fprintf(m_statusOut, "\r%s%s", text.c_str(), blanks.c_str());
    std::fflush(m_statusOut);
    m_statusWidth = text.size();
}

void ConsoleHost::FinishStatus() {
    if (m_statusOut && m_statusWidth > 0) {
        std::fprintf(m_statusOut, "\n");
        std::fflush(m_statusOut);
    }
    m_statusWidth = 0;
}

bool ConsoleHost::GetVersionRecord(VersionRecord* record) {
    return SystemVersionRecord(record);
}

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

uint32_t ConsoleHost::LastError() {
    return SystemLastError();
}

std::string ConsoleHost::ErrorText(uint32_t code) {
    return SystemErrorText(code);
}

}  // namespace trawler
