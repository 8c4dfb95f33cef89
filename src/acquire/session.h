// What the application object shares with the pages and the acquisition run, without windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/printer_link.h"
#include "platform/host.h"
#include "platform/spooler.h"

namespace trawler {

class Session {
  public:
    Session(Spooler& spooler, Host& host);

    Host& GetHost() { return m_host; }
    Spooler& GetSpooler() { return m_spooler; }

    void SetPrinterName(const char* name);
    bool IsDemoMode() const { return m_bDemo; }

    // Opens m_strPrinterName on the link and checks that it is online: 1, or 0 after a message.
    int OpenAndCheck();
    int CloseLink();
    void PumpMessages() { m_host.PumpMessages(); }

    std::string m_strPrinterName;
    PrinterLink m_link;
    std::string m_strSavedPath;
    bool m_bDemo = false;

  private:
    Spooler& m_spooler;
    Host& m_host;
};

}  // namespace trawler
