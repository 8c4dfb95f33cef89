// Windows, dialogs, data exchange and control wrappers.
#include "app/framework/window.h"

#include <commctrl.h>

#include <exception>
#include <vector>

#include "app/framework/win_app.h"

namespace trawler {

void CWnd::EnableDlgItem(int id, bool enable) const {
    HWND item = GetDlgItem(id);
    if (item) ::EnableWindow(item, enable ? TRUE : FALSE);
}

void CWnd::SetDlgItemTextW(int id, const std::wstring& text) const {
    if (m_hWnd) ::SetDlgItemTextW(m_hWnd, id, text.c_str());
}

void CWnd::SetDlgItemTextA(int id, const std::string& text) const {
    if (m_hWnd) ::SetDlgItemTextA(m_hWnd, id, text.c_str());
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value) {
    HWND control = pDX->m_pDlgWnd->GetDlgItem(id);
    if (!control) return;
    if (pDX->m_bSaveAndValidate) {
        int length = GetWindowTextLengthA(control);
        std::vector<char> buffer(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
        int n = GetWindowTextA(control, buffer.data(), static_cast<int>(buffer.size()));
        value.assign(buffer.data(), static_cast<size_t>(n > 0 ? n : 0));
    } else {
        SetWindowTextA(control, value.c_str());
    }
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    if (!control.m_hWnd) control.m_hWnd = pDX->m_pDlgWnd->GetDlgItem(id);
}

void ReportCallbackException(const char* what) noexcept {
    try {
        std::string text = "Internal error: ";
        text += what ? what : "unknown exception";
        // Owned by the wizard while it exists, so that none of its buttons can be pressed
        // while the box is open.
        if (AfxGetApp())
            AfxMessageBox(text, MB_OK | MB_ICONERROR);
        else
            MessageBoxA(nullptr, text.c_str(), "Trawler", MB_OK | MB_ICONERROR);
    } catch (...) {
        MessageBoxA(nullptr, "Internal error", "Trawler", MB_OK | MB_ICONERROR);
    }
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
    if (m_hWnd && !m_bModal) ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
    m_bModal = true;
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!parent && AfxGetApp() && AfxGetApp()->m_pMainWnd) parent = AfxGetApp()->m_pMainWnd->m_hWnd;
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_nIDTemplate), parent,
                           &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    m_bModal = false;
    m_nIDTemplate = templateId;
    m_pParentWnd = parent;
    HWND hwnd = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId),
                                   parent ? parent->m_hWnd : nullptr, &CDialog::DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

BOOL CDialog::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    return ::DestroyWindow(m_hWnd);
}

void CDialog::EndDialog(INT_PTR result) {
    if (m_hWnd) ::EndDialog(m_hWnd, result);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    if (!m_hWnd) return FALSE;
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    if (m_bModal)
        EndDialog(IDOK);
    else
        DestroyWindow();
}

void CDialog::OnCancel() {
    if (m_bModal)
        EndDialog(IDCANCEL);
    else
        DestroyWindow();
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
    *handled = true;
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND: {
            WORD id = LOWORD(wParam);
            WORD code = HIWORD(wParam);
            if (OnCommand(id, code, reinterpret_cast<HWND>(lParam))) return TRUE;
            if (id == IDOK && code == BN_CLICKED) {
                OnOK();
                return TRUE;
            }
            if (id == IDCANCEL && code == BN_CLICKED) {
                OnCancel();
                return TRUE;
            }
            break;
        }
        case WM_SETCURSOR:
            if (AfxGetApp() && AfxGetApp()->IsWaitCursorOn()) {
                SetCursor(LoadCursor(nullptr, IDC_WAIT));
                SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            break;
        default:
            break;
    }
    *handled = false;
    return FALSE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* bind = message == WM_INITDIALOG ? reinterpret_cast<CDialog*>(lParam) : nullptr;
    return Dispatch(bind, hwnd, message, wParam, lParam);
}

INT_PTR CDialog::Dispatch(CDialog* bind, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    try {
        if (bind) {
            bind->m_hWnd = hwnd;
            SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(bind));
        }
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
        if (!self) return FALSE;
        if (message == WM_NCDESTROY) {
            SetWindowLongPtrA(hwnd, DWLP_USER, 0);
            self->m_hWnd = nullptr;
            return FALSE;
        }
        bool handled = false;
        INT_PTR result = self->HandleMessage(message, wParam, lParam, &handled);
        return handled ? result : FALSE;
    } catch (const std::exception& e) {
        ReportCallbackException(e.what());
    } catch (...) {
        ReportCallbackException(nullptr);
    }
    // Unhandled would mean "go on" to a property sheet: a page that failed must not be left.
    return self ? self->ResultAfterException(message, lParam) : FALSE;
}

void CComboBox::ResetContent() const {
    SendMessage(CB_RESETCONTENT);
}

int CComboBox::AddString(const std::string& text) const {
    return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int CComboBox::SetCurSel(int index) const {
    return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index)));
}

int CComboBox::GetCurSel() const {
    return static_cast<int>(SendMessage(CB_GETCURSEL));
}

int CComboBox::GetCount() const {
    return static_cast<int>(SendMessage(CB_GETCOUNT));
}

void CComboBox::GetLBText(int index, std::string& text) const {
    text.clear();
    LRESULT length = SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length == CB_ERR || length < 0) return;
    std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
    LRESULT n = SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index),
                            reinterpret_cast<LPARAM>(buffer.data()));
    if (n == CB_ERR || n < 0) return;
    text.assign(buffer.data(), static_cast<size_t>(n));
}

void CProgressCtrl::SetRange(short lower, short upper) const {
    SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
}

int CProgressCtrl::SetPos(int position) const {
    return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(position)));
}

int CProgressCtrl::OffsetPos(int delta) const {
    return static_cast<int>(SendMessage(PBM_DELTAPOS, static_cast<WPARAM>(delta)));
}

int CProgressCtrl::GetPos() const {
    return static_cast<int>(SendMessage(PBM_GETPOS));
}

}  // namespace trawler
