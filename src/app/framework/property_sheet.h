// Property sheet and pages, as the wizard uses them (PSH_WIZARD, page handlers by notification).
#pragma once

#include <windows.h>
#include <prsht.h>

#include <string>
#include <vector>

#include "app/framework/window.h"

namespace trawler {

class CPropertySheet;

class CPropertyPage : public CDialog {
  public:
    explicit CPropertyPage(UINT templateId);

    // True lets the page become active. The default transfers members to controls on every
    // activation after the first (the first one had OnInitDialog's transfer).
    virtual BOOL OnSetActive();
    // True lets the page be left; the default transfers controls to members.
    virtual BOOL OnKillActive();
    // Page template ID to go to, 0 for the neighbour in the sheet's order, -1 to stay.
    virtual LRESULT OnWizardNext() { return 0; }
    virtual LRESULT OnWizardBack() { return 0; }
    // True lets the sheet close by Finish or Cancel.
    virtual BOOL OnWizardFinish() { return TRUE; }
    virtual BOOL OnQueryCancel() { return TRUE; }

    // Pages live inside the sheet: the sheet's buttons end them, not IDOK/IDCANCEL of theirs.
    void OnOK() override {}
    void OnCancel() override {}

    CPropertySheet* GetSheet() const { return m_pSheet; }
    // The sheet's IsBusy: handlers that browse or start work of their own check it.
    bool IsSheetBusy() const;
    HWND GetSheetHwnd() const { return GetParentHwnd(); }
    // PSM_SETWIZBUTTONS posted to the sheet, so it takes effect after the current handler.
    void PostWizardButtons(DWORD buttons) const;
    // Puts the keyboard focus on the sheet's default button once the buttons posted before
    // have taken effect. A box shown while a page changes, or a button disabled under the
    // focus during a run, leaves the focus nowhere, and Enter would then press nothing.
    void PostFocusDefaultButton() const;

    PROPSHEETPAGEA m_psp;

  protected:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) override;
    // A wizard notification whose handler threw keeps the wizard where it is: Next and Back
    // stay, Finish, Cancel and leaving the page are refused.
    INT_PTR ResultAfterException(UINT message, LPARAM lParam) noexcept override;

  private:
    friend class CPropertySheet;
    void FocusDefaultButton() const;
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnNotify(const NMHDR* header);

    CPropertySheet* m_pSheet = nullptr;
    bool m_bFirstSetActive = true;
};

class CPropertySheet : public CWnd {
  public:
    // `captionId` names a string resource; `selectPage` is the index of the first page shown.
    CPropertySheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);
    ~CPropertySheet() override = default;

    void AddPage(CPropertyPage* page);
    // True while a page handler is running work that pumps messages (a run, a modal dialog of
    // the shell): the sheet's navigation (Next, Back, Finish, leaving the page) then does
    // nothing, whatever the buttons show, since a press can be posted or already be queued.
    virtual bool IsBusy() const { return false; }
    void SetWizardMode() { m_psh.dwFlags |= PSH_WIZARD; }
    // Runs the sheet modally; PropertySheetA's result.
    INT_PTR DoModal();
    // The sheet's own loop runs only between page handlers; a handler that pumps messages (a
    // run) gives the sheet its keyboard here, or Tab, Enter and Esc would do nothing.
    BOOL PreTranslateMessage(MSG* msg) override;

    PROPSHEETHEADERA m_psh;

  private:
    friend class CPropertyPage;
    // The system sizes the sheet from the pages' dialog units in its own font; pages drawn in a
    // larger font would be cut off. Once a page exists, grow the sheet so that the largest page
    // template fits in the pages' font, and give every page that size when it is shown.
    void FitPages(HWND page);

    bool m_bFitted = false;
    SIZE m_pageSize{0, 0};
    std::vector<CPropertyPage*> m_pages;
    std::vector<PROPSHEETPAGEA> m_records;
    std::string m_strCaption;
    CWnd* m_pParentWnd;
};

}  // namespace trawler
