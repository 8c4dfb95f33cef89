// What the application object shares with the pages and the acquisition run, without windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/printer_link.h"
#include "platform/host.h"
#include "platform/spooler.h"

namespace trawler {

// Page IDs are the dialog template numbers of the wizard's pages.
enum PageId : int32_t {
    kPageStay = -1,
    kPageIntro = 131,
    kPagePrinterSelection = 130,
    kPageLogDetails = 132,
    kPageFinish = 136,
};

class Session {
  public:
    Session(Spooler& spooler, Host& host);

    Host& GetHost() { return m_host; }
    Spooler& GetSpooler() { return m_spooler; }

    void SetPrinterName(const char* name);
    bool IsDemoMode() const { return m_bDemo; }

    // Page history behind the Back button; start-up fills it with 64 zero entries.
    void ResetPageHistory();
    int32_t PushPage(int32_t pageId);
    int32_t PopPage();

    // Opens m_strPrinterName on the link and checks that it is online: 1, or 0 after a message.
    int OpenAndCheck();
    int CloseLink();
    void PumpMessages() { m_host.PumpMessages(); }

    std::string m_strPrinterName;
    PrinterLink m_link;
    std::string m_strSavedPath;
    bool m_bDemo = false;
    std::vector<int32_t> m_pageHistory;

  private:
    Spooler& m_spooler;
    Host& m_host;
};

}  // namespace trawler
