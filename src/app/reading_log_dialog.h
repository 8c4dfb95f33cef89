// ReadingLogDialog: the modeless "Reading Log" progress dialog that cannot be closed by the user.
#pragma once

#include "app/framework/window.h"

namespace trawler {

class ReadingLogDialog : public CDialog {
  public:
    ReadingLogDialog();
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Neither Escape nor the close box ends it; the run destroys it.
    void OnCancel() override {}
    void OnOK() override {}

    CProgressCtrl m_progress;
};

}  // namespace trawler
