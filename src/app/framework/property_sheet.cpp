// Property sheet and pages over PropertySheetA.
#include "app/framework/property_sheet.h"

#include <commctrl.h>

#include <algorithm>

#include "app/framework/string_table.h"

namespace trawler {

CPropertyPage::CPropertyPage(UINT templateId) : CDialog(templateId) {
    m_psp = PROPSHEETPAGEA{};
    m_psp.dwSize = sizeof m_psp;
    m_psp.dwFlags = PSP_DEFAULT;
    m_psp.hInstance = GetModuleHandleA(nullptr);
    m_psp.pszTemplate = MAKEINTRESOURCEA(templateId);
    m_psp.pfnDlgProc = &CPropertyPage::PageProc;
    m_psp.lParam = reinterpret_cast<LPARAM>(this);
}

BOOL CPropertyPage::OnSetActive() {
    if (m_bFirstSetActive)
        m_bFirstSetActive = false;
    else
        UpdateData(FALSE);
    return TRUE;
}

BOOL CPropertyPage::OnKillActive() {
    return UpdateData(TRUE);
}

bool CPropertyPage::IsSheetBusy() const {
    return m_pSheet && m_pSheet->IsBusy();
}

void CPropertyPage::PostWizardButtons(DWORD buttons) const {
    HWND sheet = GetSheetHwnd();
    if (sheet) ::PostMessageA(sheet, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(buttons));
}

namespace {

// Private to the pages: the posted request to focus the default button.
constexpr UINT kFocusDefaultButtonMessage = WM_APP + 0x31;

// The wizard's buttons, children of the sheet (the property sheet's own control IDs).
constexpr int kSheetBack = 0x3023;
constexpr int kSheetNext = 0x3024;
constexpr int kSheetFinish = 0x3025;

bool TakesPresses(HWND button) {
    return button && IsWindowVisible(button) && IsWindowEnabled(button);
}

}  // namespace

void CPropertyPage::PostFocusDefaultButton() const {
    if (m_hWnd) ::PostMessageA(m_hWnd, kFocusDefaultButtonMessage, 0, 0);
}

void CPropertyPage::FocusDefaultButton() const {
    HWND sheet = GetSheetHwnd();
    if (!sheet) return;
    LRESULT def = ::SendMessageA(sheet, DM_GETDEFID, 0, 0);
    HWND button = HIWORD(def) == DC_HASDEFID ? ::GetDlgItem(sheet, LOWORD(def)) : nullptr;
    for (int id : {kSheetNext, kSheetFinish, kSheetBack}) {
        if (TakesPresses(button)) break;
        button = ::GetDlgItem(sheet, id);
    }
    // WM_NEXTDLGCTL, not SetFocus: the dialog manager also moves the default frame.
    if (TakesPresses(button))
        ::SendMessageA(sheet, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
}

INT_PTR CALLBACK CPropertyPage::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // The sheet hands each page a copy of its record; the copy still carries the object.
    CDialog* bind = nullptr;
    if (message == WM_INITDIALOG && lParam) {
        auto* self = reinterpret_cast<CPropertyPage*>(
            reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
        if (self && self->m_pSheet) self->m_pSheet->m_hWnd = ::GetParent(hwnd);
        bind = self;
    }
    return Dispatch(bind, hwnd, message, wParam, lParam);
}

INT_PTR CPropertyPage::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
    if (message == WM_NOTIFY) {
        *handled = true;
        return OnNotify(reinterpret_cast<const NMHDR*>(lParam));
    }
    if (message == kFocusDefaultButtonMessage) {
        *handled = true;
        FocusDefaultButton();
        return TRUE;
    }
    return CDialog::HandleMessage(message, wParam, lParam, handled);
}

namespace {

// What a refused wizard notification answers: -1 keeps the page for Next and Back, true
// refuses Finish, Cancel and leaving the page. False for every other notification.
bool RefusalFor(UINT code, LRESULT* result) {
    switch (code) {
        case PSN_WIZNEXT:
        case PSN_WIZBACK:
            *result = -1;
            return true;
        case PSN_WIZFINISH:
        case PSN_KILLACTIVE:
        case PSN_QUERYCANCEL:
            *result = TRUE;
            return true;
        default:
            return false;
    }
}

}  // namespace

INT_PTR CPropertyPage::ResultAfterException(UINT message, LPARAM lParam) noexcept {
    LRESULT result = 0;
    if (message != WM_NOTIFY || !lParam || !m_hWnd ||
        !RefusalFor(reinterpret_cast<const NMHDR*>(lParam)->code, &result))
        return FALSE;
    SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CPropertyPage::OnNotify(const NMHDR* header) {
    LRESULT result = 0;
    // Cancel stays the page's own decision (OnQueryCancel).
    if (header->code != PSN_QUERYCANCEL && IsSheetBusy() && RefusalFor(header->code, &result)) {
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    switch (header->code) {
        case PSN_SETACTIVE:
            if (m_pSheet) m_pSheet->FitPages(m_hWnd);
            result = OnSetActive() ? 0 : -1;
            break;
        case PSN_KILLACTIVE:
            result = OnKillActive() ? FALSE : TRUE;
            break;
        case PSN_WIZNEXT:
            result = OnWizardNext();
            break;
        case PSN_WIZBACK:
            result = OnWizardBack();
            break;
        case PSN_WIZFINISH:
            result = OnWizardFinish() ? FALSE : TRUE;
            break;
        case PSN_QUERYCANCEL:
            result = OnQueryCancel() ? FALSE : TRUE;
            break;
        case PSN_APPLY:
            result = PSNRET_NOERROR;
            break;
        default:
            return FALSE;
    }
    SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

CPropertySheet::CPropertySheet(UINT captionId, CWnd* parent, UINT selectPage)
    : m_pParentWnd(parent) {
    m_strCaption = WideToAnsi(LoadResourceString(captionId));
    m_psh = PROPSHEETHEADERA{};
    m_psh.dwSize = sizeof m_psh;
    m_psh.dwFlags = PSH_PROPSHEETPAGE;
    m_psh.hInstance = GetModuleHandleA(nullptr);
    m_psh.nStartPage = selectPage;
}

void CPropertySheet::AddPage(CPropertyPage* page) {
    page->m_pSheet = this;
    m_pages.push_back(page);
}

namespace {

// Width and height of a dialog template, in dialog units (DLGTEMPLATEEX or DLGTEMPLATE).
bool TemplateSize(UINT templateId, SIZE* size) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(templateId), MAKEINTRESOURCEA(5));
    HGLOBAL handle = info ? LoadResource(module, info) : nullptr;
    const auto* bytes = static_cast<const BYTE*>(handle ? LockResource(handle) : nullptr);
    if (!bytes || SizeofResource(module, info) < 26) return false;
    auto word = [bytes](size_t at) { return static_cast<short>(bytes[at] | (bytes[at + 1] << 8)); };
    bool extended = word(0) == 1 && static_cast<WORD>(word(2)) == 0xFFFF;
    size->cx = word(extended ? 22 : 14);
    size->cy = word(extended ? 24 : 16);
    return true;
}

}  // namespace

void CPropertySheet::FitPages(HWND page) {
    HWND sheet = ::GetParent(page);
    if (!sheet) return;
    if (!m_bFitted) {
        m_bFitted = true;
        RECT pageRect;
        GetWindowRect(page, &pageRect);
        LONG width = pageRect.right - pageRect.left;
        LONG height = pageRect.bottom - pageRect.top;
        LONG needWidth = width, needHeight = height;
        for (CPropertyPage* p : m_pages) {
            SIZE units;
            if (!TemplateSize(p->m_nIDTemplate, &units)) continue;
            RECT r{0, 0, units.cx, units.cy};
            MapDialogRect(page, &r);  // in the pages' own font
            needWidth = std::max(needWidth, r.right);
            needHeight = std::max(needHeight, r.bottom);
        }
        LONG dx = needWidth - width, dy = needHeight - height;
        m_pageSize = SIZE{needWidth, needHeight};
        if (dx > 0 || dy > 0) {
            // Everything below the page area (buttons, separator) moves down; the buttons keep
            // their distance to the right edge and the separator widens.
            POINT pageBottom{0, pageRect.bottom};
            ScreenToClient(sheet, &pageBottom);
            for (HWND child = GetWindow(sheet, GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                RECT r;
                GetWindowRect(child, &r);
                MapWindowPoints(nullptr, sheet, reinterpret_cast<POINT*>(&r), 2);
                if (r.top < pageBottom.y) continue;
                wchar_t cls[16] = {};
                GetClassNameW(child, cls, 16);
                bool button = lstrcmpiW(cls, L"Button") == 0;
                SetWindowPos(child, nullptr, r.left + (button ? dx : 0), r.top + dy,
                             r.right - r.left + (button ? 0 : dx), r.bottom - r.top,
                             SWP_NOZORDER | SWP_NOACTIVATE);
            }
            RECT s;
            GetWindowRect(sheet, &s);
            SetWindowPos(sheet, nullptr, 0, 0, s.right - s.left + dx, s.bottom - s.top + dy,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    RECT current;
    GetWindowRect(page, &current);
    if (current.right - current.left != m_pageSize.cx ||
        current.bottom - current.top != m_pageSize.cy) {
        SetWindowPos(page, nullptr, 0, 0, m_pageSize.cx, m_pageSize.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

BOOL CPropertySheet::PreTranslateMessage(MSG* msg) {
    return m_hWnd && ::SendMessageA(m_hWnd, PSM_ISDIALOGMESSAGE, 0, reinterpret_cast<LPARAM>(msg));
}

INT_PTR CPropertySheet::DoModal() {
    m_records.clear();
    for (CPropertyPage* page : m_pages) m_records.push_back(page->m_psp);
    m_psh.hwndParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    m_psh.pszCaption = m_strCaption.c_str();
    m_psh.nPages = static_cast<UINT>(m_records.size());
    m_psh.ppsp = m_records.data();
    INT_PTR result = PropertySheetA(&m_psh);
    m_hWnd = nullptr;
    return result;
}

}  // namespace trawler
