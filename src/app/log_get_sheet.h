// CLogGetSheet and its four pages: intro, printer selection, log details and finish.
#pragma once

#include <memory>
#include <string>

#include "acquire/log_run.h"
#include "app/framework/property_sheet.h"
#include "app/reading_log_dialog.h"
#include "output/desk_upload.h"
#include "sim/run_recorder.h"

namespace trawler {

// Back on every page but the intro: the page history's pop.
LRESULT PopPageForBack();

class CLogGetFirst : public CPropertyPage {
  public:
    CLogGetFirst();
    BOOL OnSetActive() override;
    LRESULT OnWizardNext() override;
    void DoDataExchange(CDataExchange* pDX) override;

    std::string m_strVersion;
    std::string m_strNotice;
};

class CLogGetPSel : public CPropertyPage {
  public:
    CLogGetPSel();
    BOOL OnSetActive() override;
    LRESULT OnWizardNext() override;
    LRESULT OnWizardBack() override { return PopPageForBack(); }
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnCommand(WORD id, WORD code, HWND control) override;

    // Empties and refills the list; false (after the not-found message) when nothing was added.
    bool SearchPrinters();

    std::string m_strPrinter;
    CComboBox m_combo;

  private:
    // Steps 1 to 3 of activation, also run by the re-search button.
    void SearchAndSetButtons();
};

class CLogGetInfo1 : public CPropertyPage, public ReadingView {
  public:
    CLogGetInfo1();
    ~CLogGetInfo1() override;
    BOOL OnSetActive() override;
    BOOL OnQueryCancel() override;
    LRESULT OnWizardBack() override { return PopPageForBack(); }
    LRESULT OnWizardNext() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    void OnBrowse();

    // ReadingView: the windows around a run.
    void BeginReading() override;
    void ShowProgressDialog() override;
    void CloseProgressDialog() override;
    void EndReading() override;
    void EnableBrowse() override;

    // The run state (folder, texts, container, flags) and the run itself.
    LogRun m_run;

  private:
    void SetCancelEnabled(bool enable) const;
    void RecordRun(RunRecorder& recorder, const RunResult& result);
    std::unique_ptr<ReadingLogDialog> m_pReadingDialog;
};

class CLogGetInfo2 : public CPropertyPage {
  public:
    CLogGetInfo2();
    ~CLogGetInfo2() override;
    BOOL OnSetActive() override;
    LRESULT OnWizardBack() override { return PopPageForBack(); }
    // Never waits for a send under way: the package is in its outbox already.
    BOOL OnWizardFinish() override;

  private:
    // With a desk configured, sends the package just saved (once, however often the page is
    // shown) and shows the line that says how it goes.
    void SendToDesk(const std::string& saved);
    void OnDeskResult(const std::string& path, const DeskSendResult& result);
    void ShowDeskLine(UINT textId, const std::string& detail = "") const;

    std::string m_strSentPath;  // the package whose send the line is about
    bool m_bSending = false;
};

class CLogGetSheet : public CPropertySheet {
  public:
    CLogGetSheet(UINT captionId, CWnd* parent, UINT selectPage);

    // A run or the folder dialog on the log details page: both pump messages.
    bool IsBusy() const override;

    // Constructed in this order, destroyed in the reverse.
    CLogGetFirst m_first;
    CLogGetPSel m_printerSelection;
    CLogGetInfo1 m_logDetails;
    CLogGetInfo2 m_finish;

  private:
    HICON m_hIcon = nullptr;
};

}  // namespace trawler
