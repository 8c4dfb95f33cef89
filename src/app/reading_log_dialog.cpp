// The "Reading Log" progress dialog.
#include "app/reading_log_dialog.h"

#include "app/framework/string_table.h"
#include "app/resource.h"

namespace trawler {

ReadingLogDialog::ReadingLogDialog() : CDialog(IDD_READING_LOG) {}

void ReadingLogDialog::DoDataExchange(CDataExchange* pDX) {
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
}

BOOL ReadingLogDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetDlgItemTextW(IDC_READING_TEXT, LoadResourceString(IDS_READING_TEXT));
    return TRUE;
}

}  // namespace trawler
