// CLogGetApp: start-up, settings and what the wizard's pages share for the whole run.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "acquire/session.h"
#include "app/framework/win_app.h"
#include "app/wizard_rules.h"
#include "app/win32_host.h"
#include "link/link_settings.h"
#include "platform/spooler.h"
#include "app/framework/scoped_win.h"

namespace trawler {

inline constexpr char kMutexName[] = "TRAWLER";
inline constexpr char kAlreadyStartedText[] = "Trawler.exe has already started.";
inline constexpr char kRegistryKey[] = "Halden Industries,Ltd.\\Trawler";
inline constexpr char kSettingsSection[] = "PV730Service";

// The four registry values of section "PV730Service", in the order start-up reads them; each
// absent or non-DWORD value gives its default (200, 516, 100, 500).
LinkSettings ReadLinkSettings(CWinApp& app);

// Makes the Spooler the wizard talks to; null (with *error set) when it cannot be made.
using SpoolerFactory = std::unique_ptr<Spooler> (*)(Host& host, std::string* error);

class CLogGetApp : public CWinApp {
  public:
    explicit CLogGetApp(SpoolerFactory makeSpooler);
    ~CLogGetApp() override;

    // Start-up in full; always false, so the program ends when the wizard sheet has closed.
    BOOL InitInstance() override;

    Session& GetSession() { return *m_session; }
    Win32Host& GetHost() { return m_host; }
    bool IsJapanese() const { return m_bJapanese; }

    // Shorthands for the pages.
    void PumpMessages() { m_host.PumpMessages(); }

    // The page history behind Back: a page's Next returns what PushPage returns.
    int32_t PushPage(int32_t pageId) { return m_pageHistory.Push(pageId); }
    int32_t PopPage() { return m_pageHistory.Pop(); }

  private:
    SpoolerFactory m_makeSpooler;
    Win32Host m_host;
    std::unique_ptr<Spooler> m_spooler;
    std::unique_ptr<Session> m_session;
    PageHistory m_pageHistory;
    HANDLE m_hMutex = nullptr;  // held, never released, until the process ends
    ScopedComInit m_com;
    bool m_bJapanese = false;
};

// The application object (the only one of the process).
CLogGetApp& TheApp();

// Runs the whole program: the entry points of both executables call this.
int RunTrawler(HINSTANCE instance, SpoolerFactory makeSpooler);

}  // namespace trawler
