// Property sheet and pages over PropertySheetA.
#include "app/framework/property_sheet.h"

#include <commctrl.h>

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

void CPropertyPage::PostWizardButtons(DWORD buttons) const {
    HWND sheet = GetSheetHwnd();
    if (sheet) ::PostMessageA(sheet, PSM_SETWIZBUTTONS, 0, static_cast<LPARAM>(buttons));
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
    return CDialog::HandleMessage(message, wParam, lParam, handled);
}

INT_PTR CPropertyPage::OnNotify(const NMHDR* header) {
    LRESULT result = 0;
    switch (header->code) {
        case PSN_SETACTIVE:
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
