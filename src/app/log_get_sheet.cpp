// The wizard sheet and its four pages.
#include "app/log_get_sheet.h"

#include <shellapi.h>

#include "app/file_version_info.h"
#include "app/folder_browser.h"
#include "app/framework/string_table.h"
#include "app/log_get_app.h"
#include "acquire/printer_search.h"
#include "app/resource.h"
#include "app/wizard_rules.h"
#include "platform/system.h"

namespace trawler {

namespace {

constexpr char kVersionPrefix[] = "Trawler: Version ";
constexpr char kSelectFolderTitle[] = "Select Folder";

std::wstring FolderRefusedText(const std::wstring& folder) {
    return L"This folder cannot be used:\n" + folder +
           L"\nIts name has characters that this PC's language settings cannot write in a "
           L"file name.\nChoose or create a folder with another name.";
}

Session& AppSession() {
    return TheApp().GetSession();
}

// The sheet's Cancel button is a child of the sheet with ID IDCANCEL.
void EnableSheetCancel(HWND sheet, bool enable) {
    HWND cancel = sheet ? ::GetDlgItem(sheet, IDCANCEL) : nullptr;
    if (cancel) ::EnableWindow(cancel, enable ? TRUE : FALSE);
}

}  // namespace

LRESULT PopPageForBack() {
    return TheApp().PopPage();
}

// ---- intro -------------------------------------------------------------------------------

CLogGetFirst::CLogGetFirst() : CPropertyPage(IDD_INTRO) {}

void CLogGetFirst::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_VERSION, m_strVersion);
    DDX_Text(pDX, IDC_NOTICE, m_strNotice);
}

BOOL CLogGetFirst::OnSetActive() {
    PostWizardButtons(PSWIZB_NEXT);
    SetDlgItemTextW(IDC_INTRO_TEXT, LoadResourceString(IDS_INTRO_TEXT));
    FileVersionInfo version;
    version.Load();
    m_strVersion = std::string(kVersionPrefix) + version.GetVersionText();
    m_strNotice = WideToAnsi(LoadResourceString(IDS_LEGAL_NOTICE));
    UpdateData(FALSE);
    return CPropertyPage::OnSetActive();
}

LRESULT CLogGetFirst::OnWizardNext() {
    return TheApp().PushPage(IDD_PRINTER_SELECTION);
}

// ---- printer selection ---------------------------------------------------------------------

CLogGetPSel::CLogGetPSel() : CPropertyPage(IDD_PRINTER_SELECTION) {}

void CLogGetPSel::DoDataExchange(CDataExchange* pDX) {
    DDX_Control(pDX, IDC_PRINTER_LIST, m_combo);
}

bool CLogGetPSel::SearchPrinters() {
    m_combo.ResetContent();
    if (AppSession().IsDemoMode()) {
        m_combo.AddString(kDemoPrinterEntry);
        m_combo.SetCurSel(0);
        return true;
    }
    std::vector<std::string> names =
        FindOnlinePv730Printers(AppSession().GetSpooler(), &IsAnsiLeadByte);
    for (const std::string& name : names) m_combo.AddString(name);
    if (!names.empty()) {
        m_combo.SetCurSel(0);
        return true;
    }
    AfxMessageBox(kPrinterNotFoundText, MB_OK);
    return false;
}

void CLogGetPSel::SearchAndSetButtons() {
    DWORD buttons = PSWIZB_BACK;
    const bool found = SearchPrinters();
    if (found) {
        int selected = m_combo.GetCurSel();
        if (selected != CB_ERR) m_combo.GetLBText(selected, m_strPrinter);
        buttons = PSWIZB_BACK | PSWIZB_NEXT;
    }
    PostWizardButtons(buttons);
    // After the not-found box, and only once the buttons it leaves have taken effect.
    if (!found) PostFocusDefaultButton();
}

BOOL CLogGetPSel::OnSetActive() {
    SearchAndSetButtons();
    SetDlgItemTextW(IDC_SELECT_TEXT, LoadResourceString(IDS_SELECT_TEXT));
    return CPropertyPage::OnSetActive();
}

bool CLogGetPSel::OnCommand(WORD id, WORD code, HWND) {
    // Searching opens printers, and a selection changes the printer a run opens: neither may
    // happen under a run that pumps messages.
    if (IsSheetBusy() && (id == IDC_RESEARCH || id == IDC_PRINTER_LIST)) return true;
    if (id == IDC_RESEARCH && code == BN_CLICKED) {
        SearchAndSetButtons();
        return true;
    }
    if (id == IDC_PRINTER_LIST && code == CBN_SELCHANGE) {
        int selected = m_combo.GetCurSel();
        if (selected != CB_ERR) m_combo.GetLBText(selected, m_strPrinter);
        return true;
    }
    return false;
}

LRESULT CLogGetPSel::OnWizardNext() {
    AppSession().SetPrinterName(m_strPrinter.c_str());
    return TheApp().PushPage(IDD_LOG_DETAILS);
}

// ---- log details ---------------------------------------------------------------------------

CLogGetInfo1::CLogGetInfo1() : CPropertyPage(IDD_LOG_DETAILS), m_run(AppSession()) {}

CLogGetInfo1::~CLogGetInfo1() {
    TheApp().GetHost().SetProgressControl(nullptr);
}

void CLogGetInfo1::DoDataExchange(CDataExchange* pDX) {
    DDX_Text(pDX, IDC_FOLDER, m_run.m_strFolder);
    DDX_Text(pDX, IDC_CUSTOMER, m_run.m_strCustomer);
    DDX_Text(pDX, IDC_COMMENT, m_run.m_strComment);
}

void CLogGetInfo1::SetCancelEnabled(bool enable) const {
    EnableSheetCancel(GetSheetHwnd(), enable);
}

BOOL CLogGetInfo1::OnSetActive() {
    SetCancelEnabled(true);
    PostWizardButtons(m_run.m_strFolder.empty() ? PSWIZB_BACK : PSWIZB_BACK | PSWIZB_NEXT);
    SetDlgItemTextW(IDC_DETAILS_TEXT, LoadResourceString(IDS_DETAILS_TEXT));
    UpdateData(FALSE);
    m_run.m_bReading = false;
    m_run.m_bBrowsing = false;
    return CPropertyPage::OnSetActive();
}

BOOL CLogGetInfo1::OnQueryCancel() {
    return !m_run.m_bReading && !m_run.m_bBrowsing;
}

LRESULT CLogGetInfo1::OnWizardNext() {
    // A second Next during a run or the folder dialog never gets here: the sheet is busy.
    UpdateData(TRUE);
    RunRecorder* recorder = TheApp().GetRunRecorder();
    if (recorder) recorder->BeginRun(TheApp().GetLinkSettings());
    const RunResult result = m_run.Run(*this);
    if (recorder) RecordRun(*recorder, result);
    return TheApp().PushPage(result.Saved() ? IDD_FINISH : kPageStay);
}

// After the run's own messages: the recording never changes how the run ended, it can only add
// a box that says it was not written.
void CLogGetInfo1::RecordRun(RunRecorder& recorder, const RunResult& result) {
    // A refused run reached no printer: a recording of it would replay nothing.
    if (result.outcome == RunResult::kRefused) {
        recorder.DropRun();
        return;
    }
    const std::string path = FreeRecordingPath(
        RunRecordingPath(m_run.m_strFolder, result.packagePath, m_run.m_unitNumber,
                         TheApp().GetHost().LocalNow(), m_run.m_separator));
    std::string error;
    const std::string outcome = result.Saved() ? "saved " + result.packagePath : "failed";
    if (recorder.EndRun(outcome, path, &error)) return;
    AfxMessageBox(LoadResourceString(IDS_RECORDING_NOT_WRITTEN) + L"\n" + AnsiToWide(path) + L"\n" +
                      AnsiToWide(error),
                  MB_OK);
}

bool CLogGetInfo1::OnCommand(WORD id, WORD code, HWND) {
    if (id == IDC_BROWSE && code == BN_CLICKED) {
        OnBrowse();
        return true;
    }
    return false;
}

void CLogGetInfo1::OnBrowse() {
    if (IsSheetBusy()) return;
    UpdateData(TRUE);
    PostWizardButtons(0);
    EnableDlgItem(IDC_BROWSE, false);
    SetCancelEnabled(false);
    m_run.m_bBrowsing = true;
    {
        FolderBrowser browser(m_run.m_strFolder);
        browser.SetTitle(kSelectFolderTitle);
        if (browser.Run() == 1) {
            m_run.m_strFolder = browser.GetPath();
            PostWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
            UpdateData(FALSE);
        } else if (!browser.RefusedFolder().empty()) {
            AfxMessageBox(FolderRefusedText(browser.RefusedFolder()), MB_OK);
        }
    }
    EnableDlgItem(IDC_BROWSE, true);
    SetCancelEnabled(true);
    PostWizardButtons(m_run.m_strFolder.empty() ? PSWIZB_BACK : PSWIZB_BACK | PSWIZB_NEXT);
    PostFocusDefaultButton();
    m_run.m_bBrowsing = false;
}

void CLogGetInfo1::BeginReading() {
    TheApp().BeginWaitCursor();
    PostWizardButtons(0);
    EnableDlgItem(IDC_BROWSE, false);
}

void CLogGetInfo1::ShowProgressDialog() {
    m_pReadingDialog = std::make_unique<ReadingLogDialog>();
    if (m_pReadingDialog->Create(IDD_READING_LOG, this))
        TheApp().GetHost().SetProgressControl(&m_pReadingDialog->m_progress);
}

void CLogGetInfo1::CloseProgressDialog() {
    TheApp().GetHost().SetProgressControl(nullptr);
    if (m_pReadingDialog) m_pReadingDialog->DestroyWindow();
}

void CLogGetInfo1::EndReading() {
    TheApp().EndWaitCursor();
    PostWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
    PostFocusDefaultButton();
    m_pReadingDialog.reset();
}

void CLogGetInfo1::EnableBrowse() {
    EnableDlgItem(IDC_BROWSE, true);
}

// ---- finish --------------------------------------------------------------------------------

CLogGetInfo2::CLogGetInfo2() : CPropertyPage(IDD_FINISH) {}

CLogGetInfo2::~CLogGetInfo2() {
    DeskCourier* courier = TheApp().GetDeskCourier();
    if (courier) courier->SetListener(nullptr);
}

BOOL CLogGetInfo2::OnSetActive() {
    PostWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);
    // Next, which had the focus after the run, is hidden now.
    PostFocusDefaultButton();
    EnableSheetCancel(GetSheetHwnd(), false);
    const std::string& saved = AppSession().m_strSavedPath;
    SetDlgItemTextW(IDC_FINISH_TEXT,
                    AnsiToWide(saved) + L"\n" + LoadResourceString(IDS_FINISH_TEXT));
    // An empty folder would make the shell open its idea of a default folder instead.
    std::string folder = FolderOfPath(saved, &IsAnsiLeadByte);
    if (!folder.empty())
        ShellExecuteA(m_hWnd, "open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    SendToDesk(saved);
    return CPropertyPage::OnSetActive();
}

BOOL CLogGetInfo2::OnWizardFinish() {
    if (m_bSending) ShowDeskLine(IDS_DESK_SENT_LATER);
    return TRUE;
}

void CLogGetInfo2::SendToDesk(const std::string& saved) {
    CLogGetApp& app = TheApp();
    // A demonstration's package holds no printer's data: the desk has no use for it.
    if (!app.IsDeskConfigured() || AppSession().IsDemoMode() || saved == m_strSentPath) return;
    m_strSentPath = saved;
    DeskCourier* courier = app.GetDeskCourier();
    if (!courier) {
        ShowDeskLine(IDS_DESK_SETTINGS_UNUSABLE, app.GetDeskError());
        return;
    }
    courier->SetListener([this](const std::string& path, const DeskSendResult& result) {
        OnDeskResult(path, result);
    });
    ShowDeskLine(IDS_DESK_SENDING);
    std::string error;
    m_bSending = courier->Send(saved, &error);
    if (!m_bSending) ShowDeskLine(IDS_DESK_NOT_SENT, error);
}

void CLogGetInfo2::OnDeskResult(const std::string& path, const DeskSendResult& result) {
    // Packages an earlier start left waiting go by without a word.
    if (path != m_strSentPath) return;
    m_bSending = false;
    switch (result.verdict) {
        case DeskVerdict::kAdded:
        case DeskVerdict::kAlready:
            ShowDeskLine(IDS_DESK_SENT);
            break;
        case DeskVerdict::kTokenRefused:
            ShowDeskLine(IDS_DESK_TOKEN_REFUSED);
            break;
        case DeskVerdict::kUnreachable:
            ShowDeskLine(IDS_DESK_UNREACHABLE);
            break;
        case DeskVerdict::kRefused:
        case DeskVerdict::kUnreadable:
            ShowDeskLine(IDS_DESK_NOT_SENT, result.detail);
            break;
    }
}

void CLogGetInfo2::ShowDeskLine(UINT textId, const std::string& detail) const {
    std::wstring text = LoadResourceString(textId);
    if (!detail.empty()) text += L" " + AnsiToWide(detail);
    SetDlgItemTextW(IDC_DESK_STATUS, text);
    HWND line = GetDlgItem(IDC_DESK_STATUS);
    if (line) ShowWindow(line, SW_SHOW);
}

// ---- sheet ---------------------------------------------------------------------------------

bool CLogGetSheet::IsBusy() const {
    return m_logDetails.m_run.m_bReading || m_logDetails.m_run.m_bBrowsing;
}

CLogGetSheet::CLogGetSheet(UINT captionId, CWnd* parent, UINT selectPage)
    : CPropertySheet(captionId, parent, selectPage) {
    CPropertyPage* pages[] = {&m_first, &m_printerSelection, &m_logDetails, &m_finish};
    for (CPropertyPage* page : pages) {
        page->m_psp.dwFlags &= ~PSP_HASHELP;
        AddPage(page);
    }
    m_psh.dwFlags &= ~PSH_HASHELP;
    m_psh.dwFlags |= PSH_USEHICON;
    m_hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TRAWLER));
    m_psh.hIcon = m_hIcon;
}

}  // namespace trawler
