// Session: the application's shared state, its page history and the printer open/close steps.
#include "acquire/session.h"

#include "acquire/run_messages.h"
#include "platform/messages.h"

namespace trawler {

namespace {
constexpr size_t kPageHistoryFloor = 64;
}

Session::Session(Spooler& spooler, Host& host)
    : m_link(spooler, host), m_spooler(spooler), m_host(host) {}

void Session::SetPrinterName(const char* name) {
    m_strPrinterName = name ? name : "";
}

void Session::ResetPageHistory() {
    m_pageHistory.assign(kPageHistoryFloor, 0);
}

int32_t Session::PushPage(int32_t pageId) {
    if (pageId == kPageStay) return kPageStay;
    m_pageHistory.push_back(pageId);
    return pageId;
}

int32_t Session::PopPage() {
    if (m_pageHistory.size() < 2) return kPageStay;
    m_pageHistory.pop_back();
    return m_pageHistory.back();
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
