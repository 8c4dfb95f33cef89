// Session: the application's shared state and the printer open/close steps.
#include "acquire/session.h"

#include "acquire/run_messages.h"
#include "platform/messages.h"

namespace trawler {

Session::Session(Spooler& spooler, Host& host)
    : m_link(spooler, host), m_spooler(spooler), m_host(host) {}

void Session::SetPrinterName(const char* name) {
    m_strPrinterName = name ? name : "";
}

int Session::OpenAndCheck() {
    if (!m_link.Open(m_strPrinterName)) {
        ShowMessage(m_host, "%s", run_text::kPrinterOpenFailed);
        return 0;
    }
    if (!m_link.IsOnline()) {
        ShowMessage(m_host, "%s", run_text::kPrinterNotOnline);
        return 0;
    }
    return 1;
}

int Session::CloseLink() {
    m_link.Close();
    return 1;
}

}  // namespace trawler
