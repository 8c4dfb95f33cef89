// Owners of the Win32 resources the wizard takes for a while: each releases what it holds when
// it goes, on every path.
#pragma once

#include <windows.h>

#include <objbase.h>

namespace trawler {

// A registry key opened or created for reading.
class ScopedRegKey {
  public:
    ScopedRegKey() = default;
    ~ScopedRegKey() {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;
    HKEY Get() const { return m_key; }
    HKEY* Out() { return &m_key; }

  private:
    HKEY m_key = nullptr;
};

// COM on this thread (the folder dialog needs it) from Initialize to the owner's end.
class ScopedComInit {
  public:
    ScopedComInit() = default;
    ~ScopedComInit() {
        if (m_initialized) CoUninitialize();
    }
    ScopedComInit(const ScopedComInit&) = delete;
    ScopedComInit& operator=(const ScopedComInit&) = delete;
    void Initialize() {
        if (!m_initialized) m_initialized = SUCCEEDED(CoInitialize(nullptr));
    }

  private:
    bool m_initialized = false;
};

// A window's device context.
class ScopedWindowDC {
  public:
    explicit ScopedWindowDC(HWND window) : m_window(window), m_dc(GetDC(window)) {}
    ~ScopedWindowDC() {
        if (m_dc != nullptr) ReleaseDC(m_window, m_dc);
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;
    HDC Get() const { return m_dc; }

  private:
    HWND m_window;
    HDC m_dc;
};

}  // namespace trawler
