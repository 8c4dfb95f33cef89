// The wizard's Host: message boxes, waits that keep the windows answering, message pumping and
// the progress dialog's bar.
#pragma once

#include <windows.h>

#include "app/framework/win_app.h"
#include "app/framework/window.h"
#include "platform/host.h"

namespace trawler {

// The broken-down local time of a SYSTEMTIME, as the run's names and headers need it.
std::tm TmFromSystemTime(const SYSTEMTIME& time);

class Win32Host : public Host {
  public:
    explicit Win32Host(CWinApp& app) : m_app(app) {}

    void ShowMessage(const std::string& text) override;
    // Waits the time out while dispatching the messages that arrive meanwhile.
    void Sleep(uint32_t milliseconds) override;
    uint64_t MonotonicMillis() override;
    // Dispatches every waiting message through the application's PumpMessage; a WM_QUIT taken
    // on the way is posted again for the sheet's loop. Then idle processing. Never waits.
    void PumpMessages() override;
    void ProgressSetRange(int low, int high) override;
    void ProgressSetPos(int position) override;
    void ProgressStep(int delta) override;
    bool GetVersionRecord(VersionRecord* record) override;
    std::tm LocalNow() override;
    uint32_t LastError() override;
    std::string ErrorText(uint32_t code) override;

    // The bar of the "Reading Log" dialog while it exists, else null (progress is then dropped).
    void SetProgressControl(CProgressCtrl* progress) { m_pProgress = progress; }

  private:
    // Dispatches every waiting message; a WM_QUIT taken on the way is posted again and noted.
    void DispatchWaiting();

    CWinApp& m_app;
    bool m_bQuitPending = false;
    CProgressCtrl* m_pProgress = nullptr;
};

}  // namespace trawler
