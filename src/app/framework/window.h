// Windows, dialogs, data exchange and the two control wrappers the pages use.
#pragma once

#include <windows.h>

#include <string>

namespace trawler {

// A window the framework knows by its handle; it does not own the handle.
class CWnd {
  public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetDlgItem(int id) const { return m_hWnd ? ::GetDlgItem(m_hWnd, id) : nullptr; }
    HWND GetParentHwnd() const { return m_hWnd ? ::GetParent(m_hWnd) : nullptr; }
    // Enables or disables child `id`; nothing when there is no such child.
    void EnableDlgItem(int id, bool enable) const;
    // Sets child `id`'s text from UTF-16 (resource strings) or ANSI (what the user typed).
    void SetDlgItemTextW(int id, const std::wstring& text) const;
    void SetDlgItemTextA(int id, const std::string& text) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    // A message loop of the program's own offers each message here first; true: the window
    // has handled it (a dialog's keyboard navigation) and it is not dispatched.
    virtual BOOL PreTranslateMessage(MSG* msg) { return FALSE; }

    HWND m_hWnd = nullptr;
};

// One transfer between a dialog's members and its controls.
class CDataExchange {
  public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    BOOL m_bSaveAndValidate;  // true: controls to members
    CWnd* m_pDlgWnd;
};

// Text of control `id` to or from `value`, in the ANSI code page, with no validation.
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
// Binds `control` to child `id` the first time; later exchanges leave it bound.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

// A dialog from a template resource, modal (DoModal) or modeless (Create).
class CDialog : public CWnd {
  public:
    explicit CDialog(UINT templateId = 0, CWnd* parent = nullptr);
    ~CDialog() override;

    INT_PTR DoModal();
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    BOOL DestroyWindow();
    void EndDialog(INT_PTR result);

    // Members to controls (false) or controls to members (true).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX) {}
    virtual void OnOK();
    virtual void OnCancel();
    // WM_COMMAND from a control or menu; true when handled. IDOK and IDCANCEL reach OnOK and
    // OnCancel when this returns false.
    virtual bool OnCommand(WORD id, WORD code, HWND control) { return false; }

  protected:
    // Messages the class handles itself; *handled false lets the dialog manager do the rest.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled);
    // The dialog procedure of dialogs made by DoModal and Create: WM_INITDIALOG carries the
    // object. Pages have their own, since theirs carries the page record.
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // What the dialog procedure returns for a message whose handler threw (after the one
    // report); false: as if unhandled.
    virtual INT_PTR ResultAfterException(UINT, LPARAM) noexcept { return FALSE; }
    // Runs HandleMessage for the object bound to `hwnd` (or `bind` at WM_INITDIALOG), keeping
    // every exception inside.
    static INT_PTR Dispatch(CDialog* bind, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    bool m_bModal = false;
};

class CComboBox : public CWnd {
  public:
    void ResetContent() const;
    int AddString(const std::string& text) const;
    int SetCurSel(int index) const;
    int GetCurSel() const;
    int GetCount() const;
    // The text of entry `index` (ANSI); empty when there is no such entry.
    void GetLBText(int index, std::string& text) const;
};

class CProgressCtrl : public CWnd {
  public:
    void SetRange(short lower, short upper) const;
    int SetPos(int position) const;
    int OffsetPos(int delta) const;
    int GetPos() const;
};

// Reports an exception that reached a window procedure in one box owned by the main window;
// nothing may cross into the system. Never throws.
void ReportCallbackException(const char* what) noexcept;

}  // namespace trawler
