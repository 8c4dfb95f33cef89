// The wizard's Host over Win32.
#include "app/win32_host.h"

#include "platform/system.h"

namespace trawler {

std::tm TmFromSystemTime(const SYSTEMTIME& time) {
    std::tm t{};
    t.tm_year = time.wYear - 1900;
    t.tm_mon = time.wMonth - 1;
    t.tm_mday = time.wDay;
    t.tm_hour = time.wHour;
    t.tm_min = time.wMinute;
    t.tm_sec = time.wSecond;
    t.tm_wday = time.wDayOfWeek;
    static const int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int year = time.wYear;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int month = time.wMonth >= 1 && time.wMonth <= 12 ? time.wMonth : 1;
    t.tm_yday = kDaysBefore[month - 1] + time.wDay - 1 + (leap && month > 2 ? 1 : 0);
    t.tm_isdst = -1;
    return t;
}

void Win32Host::ShowMessage(const std::string& text) {
    AfxMessageBox(text.c_str(), MB_OK, 0);
}

void Win32Host::Sleep(uint32_t milliseconds) {
    // Windows calls a window that has not read its messages for five seconds hung, greys it out
    // and offers to end the program; a run's waits add up to far more than that (the drain
    // alone gives up only after EmptyReadCount waits). So every wait reads the thread's
    // messages while it lasts, on this one thread, behind the run's re-entry guards.
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        const DWORD left = static_cast<DWORD>(end - now);
        // A re-posted WM_QUIT stays in the queue and would wake every wait at once: the rest of
        // this one is slept without reading messages (the sheet's loop takes the quit later).
        if (m_bQuitPending) {
            ::Sleep(left);
            return;
        }
        DWORD woke =
            MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_FAILED) {
            ::Sleep(left);
            return;
        }
        if (woke == WAIT_OBJECT_0) DispatchWaiting();
    }
}

uint64_t Win32Host::MonotonicMillis() {
    return GetTickCount64();
}

void Win32Host::DispatchWaiting() {
    m_bQuitPending = false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (!m_app.PumpMessage()) {
            PostQuitMessage(0);
            m_bQuitPending = true;
            break;
        }
        // A failed get took nothing off the queue: trying again at once would only spin.
        if (m_app.LastPumpFailed()) break;
    }
}

void Win32Host::PumpMessages() {
    DispatchWaiting();
    for (LONG count = 0; m_app.OnIdle(count); ++count) {
    }
}

void Win32Host::ProgressSetRange(int low, int high) {
    if (m_pProgress && m_pProgress->m_hWnd)
        m_pProgress->SetRange(static_cast<short>(low), static_cast<short>(high));
}

void Win32Host::ProgressSetPos(int position) {
    if (m_pProgress && m_pProgress->m_hWnd) m_pProgress->SetPos(position);
}

void Win32Host::ProgressStep(int delta) {
    if (m_pProgress && m_pProgress->m_hWnd) m_pProgress->OffsetPos(delta);
}

bool Win32Host::GetVersionRecord(VersionRecord* record) {
    return SystemVersionRecord(record);
}

std::tm Win32Host::LocalNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return TmFromSystemTime(now);
}

uint32_t Win32Host::LastError() {
    return SystemLastError();
}

std::string Win32Host::ErrorText(uint32_t code) {
    return SystemErrorText(code);
}

}  // namespace trawler
