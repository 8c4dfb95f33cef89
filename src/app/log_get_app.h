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
#include "sim/run_recorder.h"
#include "app/framework/scoped_win.h"
#include "app/desk_courier.h"

namespace trawler {

inline constexpr char kMutexName[] = "TRAWLER";
inline constexpr char kAlreadyStartedText[] = "Trawler.exe has already started.";
inline constexpr char kRegistryKey[] = "Halden Industries,Ltd.\\Trawler";
inline constexpr char kSettingsSection[] = "PV730Service";
// A DWORD beside the link settings: not 0 records every run, as "-record" does.
inline constexpr char kSettingRecord[] = "Record";
// Two texts beside them, both set by IT or neither: the support desk the finish page sends each
// saved package to, and a token of the desk's upload role.
inline constexpr char kSettingDeskAddress[] = "DeskAddress";
inline constexpr char kSettingDeskToken[] = "DeskToken";

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
    // Null unless "-record" or the registry asked for each run to be recorded.
    RunRecorder* GetRunRecorder() { return m_recorder.get(); }
    const LinkSettings& GetLinkSettings() const { return m_linkSettings; }
    // Whether both desk values are set: only then does the finish page send, or say why not.
    bool IsDeskConfigured() const { return m_desk.Configured(); }
    // Null when no desk is configured or its settings cannot be used (GetDeskError says why).
    DeskCourier* GetDeskCourier() { return m_courier.get(); }
    const std::string& GetDeskError() const { return m_strDeskError; }

    // Shorthands for the pages.
    void PumpMessages() { m_host.PumpMessages(); }

    // The page history behind Back: a page's Next returns what PushPage returns.
    int32_t PushPage(int32_t pageId) { return m_pageHistory.Push(pageId); }
    int32_t PopPage() { return m_pageHistory.Pop(); }

  private:
    // Reads the desk's two values and, when both are set and usable, starts sending what the
    // outboxes hold.
    void StartDeskCourier();

    SpoolerFactory m_makeSpooler;
    Win32Host m_host;
    std::unique_ptr<Spooler> m_spooler;
    std::unique_ptr<RunRecorder> m_recorder;  // in front of m_spooler when recording
    LinkSettings m_linkSettings;
    std::unique_ptr<Session> m_session;
    PageHistory m_pageHistory;
    HANDLE m_hMutex = nullptr;  // held, never released, until the process ends
    ScopedComInit m_com;
    bool m_bJapanese = false;
    DeskSettings m_desk;
    std::string m_strDeskError;
    // Last, so that it goes first: its worker stops before anything else is taken down.
    std::unique_ptr<DeskCourier> m_courier;
};

// The application object (the only one of the process).
CLogGetApp& TheApp();

// Runs the whole program: the entry points of both executables call this.
int RunTrawler(HINSTANCE instance, SpoolerFactory makeSpooler);

}  // namespace trawler
