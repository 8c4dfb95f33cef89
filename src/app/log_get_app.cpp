// CLogGetApp: the program's start-up and the state its pages share.
#include "app/log_get_app.h"

#include <commctrl.h>

#include <time.h>

#include <exception>

#include "app/framework/string_table.h"
#include "app/framework/window.h"
#include "app/log_get_sheet.h"
#include "app/resource.h"
#include "app/wizard_rules.h"
#include "platform/system.h"

namespace trawler {

namespace {

CLogGetApp* g_logGetApp = nullptr;

}  // namespace

CLogGetApp& TheApp() {
    return *g_logGetApp;
}

CLogGetApp::CLogGetApp(SpoolerFactory makeSpooler) : m_makeSpooler(makeSpooler), m_host(*this) {
    g_logGetApp = this;
}

CLogGetApp::~CLogGetApp() {
    if (g_logGetApp == this) g_logGetApp = nullptr;
}

LinkSettings ReadLinkSettings(CWinApp& app) {
    LinkSettings settings;
    settings.EmptyReadCount =
        app.GetProfileInt(kSettingsSection, kSettingEmptyReadCount, kDefaultEmptyReadCount);
    settings.OneReadByte =
        app.GetProfileInt(kSettingsSection, kSettingOneReadByte, kDefaultOneReadByte);
    settings.ReadWaitMillisec =
        app.GetProfileInt(kSettingsSection, kSettingReadWaitMillisec, kDefaultReadWaitMillisec);
    settings.WaitAfterSendMillisec = app.GetProfileInt(
        kSettingsSection, kSettingWaitAfterSendMillisec, kDefaultWaitAfterSendMillisec);
    return settings;
}

void CLogGetApp::StartDeskCourier() {
    m_desk.address = GetProfileString(kSettingsSection, kSettingDeskAddress, "");
    m_desk.token = GetProfileString(kSettingsSection, kSettingDeskToken, "");
    if (!m_desk.Configured()) return;
    const std::string base = DeskBase(m_desk.address, &m_strDeskError);
    if (base.empty()) return;
    if (!UsableToken(m_desk.token)) {
        m_strDeskError = "the token must be printable ASCII without spaces";
        return;
    }
    const std::string folderList = OutboxFolderListPath();
    if (folderList.empty()) {
        m_strDeskError = "no folder for the list of outboxes";
        return;
    }
    m_courier = std::make_unique<DeskCourier>(base, m_desk.token, folderList);
    // What an earlier start could not send goes first, in the background.
    m_courier->SendWaiting();
}

BOOL CLogGetApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                  ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    // The folder dialog needs COM on this thread.
    m_com.Initialize();

    m_hMutex = CreateMutexA(nullptr, TRUE, kMutexName);
    const DWORD mutexError = GetLastError();
    // The mutex of a first instance that runs elevated cannot be opened by this one: no handle,
    // "access denied". It exists all the same, so this is a second instance.
    if (!m_hMutex && mutexError != ERROR_ACCESS_DENIED) return FALSE;
    if (!m_hMutex || mutexError == ERROR_ALREADY_EXISTS) {
        AfxMessageBox(kAlreadyStartedText, MB_OK);
        return FALSE;
    }

    _tzset();
    SetRegistryKey(kRegistryKey);

    std::string error;
    m_spooler = m_makeSpooler(m_host, &error);
    if (!m_spooler) {
        AfxMessageBox(error, MB_OK);
        return FALSE;
    }
    StartupChoice choice =
        DecideStartup(GetSystemDefaultLangID(), m_strCmdLine, m_strModulePath, &IsAnsiLeadByte);
    // A demonstration reads no printer: there is nothing to record.
    if ((choice.record || GetProfileInt(kSettingsSection, kSettingRecord, 0) != 0) &&
        !choice.demo) {
        m_recorder = std::make_unique<RunRecorder>(*m_spooler);
    }
    m_session = std::make_unique<Session>(
        m_recorder ? static_cast<Spooler&>(*m_recorder) : *m_spooler, m_host);
    m_linkSettings = ReadLinkSettings(*this);
    ApplySettings(m_session->m_link, m_linkSettings);

    StartDeskCourier();

    m_bJapanese = choice.japanese;
    m_session->m_bDemo = choice.demo;
    // The thread locale no longer picks resources on current Windows: every string is loaded
    // in the chosen language explicitly. The locale is still set, for what else follows it.
    if (!m_bJapanese) SetThreadLocale(kLangEnglishUs);
    SetResourceLanguage(m_bJapanese ? kLangJapanese : kLangEnglishUs);

    m_pageHistory.Reset();

    {
        CLogGetSheet sheet(IDS_CAPTION, nullptr, 0);
        sheet.SetWizardMode();
        m_pMainWnd = &sheet;
        sheet.DoModal();
        m_pMainWnd = nullptr;
    }
    return FALSE;
}

int RunTrawler(HINSTANCE instance, SpoolerFactory makeSpooler) {
    // Window procedures keep their exceptions; this catches what start-up itself might throw.
    try {
        CLogGetApp app(makeSpooler);
        return app.Run(instance);
    } catch (const std::exception& e) {
        ReportCallbackException(e.what());
    } catch (...) {
        ReportCallbackException(nullptr);
    }
    return 1;
}

}  // namespace trawler
