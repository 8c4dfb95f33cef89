// trawler-sim.exe: the same wizard wired to the emulated PV-730 (tests only, never shipped).
// The device comes from the description file named by TRAWLER_SIM_DEVICE, else the built-in
// default device. An environment variable, not an argument: the arguments are searched for
// "-eng" and "-demo" anywhere, and a file path could contain either.
// Two more variables serve the end-to-end tests and exist only in this program:
//   TRAWLER_SIM_JOURNAL=FILE  appends "enumerate" and "open NAME" (successful opens) to FILE,
//                             one line per spooler call, so a test sees which printer a run used;
//   TRAWLER_SIM_THROW=CALL:N  makes the Nth "open" or "read" (raw-read query) throw once, so a
//                             test sees what the wizard does with an exception inside a run.
// It also answers the driver's text probe (app/text_probe.h): a font handle means nothing in
// another process, so whether a text fits its control is measured here.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/log_get_app.h"
#include "app/text_probe.h"
#include "sim/device_description.h"
#include "sim/emulated_spooler.h"
#include "pv730/protocol.h"
#include "app/framework/scoped_win.h"

namespace {

constexpr char kDeviceVariable[] = "TRAWLER_SIM_DEVICE";
constexpr char kJournalVariable[] = "TRAWLER_SIM_JOURNAL";
constexpr char kThrowVariable[] = "TRAWLER_SIM_THROW";

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The emulated spooler with the tests' journal and thrown exception around it.
class ObservedSpooler : public trawler::EmulatedSpooler {
  public:
    ObservedSpooler(trawler::DeviceDescription device, trawler::Host& host)
        : EmulatedSpooler(std::move(device), host), m_journal(Variable(kJournalVariable)) {
        std::string request = Variable(kThrowVariable);
        size_t colon = request.find(':');
        if (colon != std::string::npos) {
            m_throwCall = request.substr(0, colon);
            m_throwAt = std::strtoul(request.c_str() + colon + 1, nullptr, 10);
        }
    }

    bool EnumerateLocal(std::vector<trawler::PrinterRecord>* records) override {
        Note("enumerate");
        return EmulatedSpooler::EnumerateLocal(records);
    }
    bool OpenPrinterHandle(const std::string& name, uint32_t access,
                           trawler::PrinterHandle* handle) override {
        MaybeThrow("open", &m_opens);
        bool opened = EmulatedSpooler::OpenPrinterHandle(name, access, handle);
        if (opened) Note("open " + name);
        return opened;
    }
    uint32_t QueryPrinterData(trawler::PrinterHandle handle, const std::string& valueName,
                              uint32_t* type, uint8_t* buffer, uint32_t size,
                              uint32_t* needed) override {
        if (valueName == trawler::pv730::kValueRawRead) MaybeThrow("read", &m_reads);
        return EmulatedSpooler::QueryPrinterData(handle, valueName, type, buffer, size, needed);
    }

  private:
    void Note(const std::string& line) {
        if (m_journal.empty()) return;
        // Opened and closed per line, so a test reads it while the wizard runs.
        std::FILE* file = std::fopen(m_journal.c_str(), "ab");
        if (!file) return;
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
    void MaybeThrow(const char* call, unsigned long* count) {
        if (m_throwCall != call || ++*count != m_throwAt) return;
        throw std::runtime_error(std::string("emulated spooler: ") + call + " " +
                                 std::to_string(m_throwAt));
    }

    std::string m_journal;
    std::string m_throwCall;
    unsigned long m_throwAt = 0;
    unsigned long m_opens = 0;
    unsigned long m_reads = 0;
};

std::unique_ptr<trawler::Spooler> MakeEmulatedSpooler(trawler::Host& host, std::string* error) {
    std::string path = Variable(kDeviceVariable);
    if (path.empty()) return std::make_unique<ObservedSpooler>(trawler::DefaultDevice(), host);
    std::string loadError;
    trawler::DeviceDescription device = trawler::LoadDeviceDescription(path, &loadError);
    if (!loadError.empty()) {
        *error = "Cannot read the device description " + path + ":\n" + loadError;
        return nullptr;
    }
    return std::make_unique<ObservedSpooler>(std::move(device), host);
}

UINT g_textProbeMessage = 0;

// Measures one control's text as the control draws it: in its own font, on its own DC.
void Measure(HWND control, bool isStatic, trawler::TextProbeRecord* record) {
    int length = GetWindowTextLengthW(control);
    if (length <= 0 || record->count >= sizeof record->texts / sizeof record->texts[0]) return;
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
    length = GetWindowTextW(control, text.data(), length + 1);
    trawler::ScopedWindowDC windowDc(control);
    HDC dc = windowDc.Get();
    if (!dc) return;
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    UINT prefix = isStatic && (GetWindowLongW(control, GWL_STYLE) & SS_NOPREFIX) ? DT_NOPREFIX : 0;
    RECT client{};
    GetClientRect(control, &client);
    RECT line{0, 0, 0, 0};
    DrawTextW(dc, text.data(), length, &line, DT_CALCRECT | DT_SINGLELINE | prefix);
    RECT wrapped{0, 0, client.right, 0};
    DrawTextW(dc, text.data(), length, &wrapped,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | prefix);
    if (old) SelectObject(dc, old);
    record->texts[record->count++] = {reinterpret_cast<uint64_t>(control), line.right, line.bottom,
                                      wrapped.right, wrapped.bottom};
}

// A callback of the system's: nothing may escape from it.
BOOL CALLBACK MeasureChild(HWND control, LPARAM record) {
    wchar_t name[16] = {};
    GetClassNameW(control, name, 16);
    bool isStatic = lstrcmpiW(name, L"Static") == 0;
    if (!IsWindowVisible(control) || (!isStatic && lstrcmpiW(name, L"Button") != 0)) return TRUE;
    try {
        Measure(control, isStatic, reinterpret_cast<trawler::TextProbeRecord*>(record));
    } catch (...) {
    }
    return TRUE;
}

// Runs inside every message sent to the wizard's thread, so the probe is answered before the
// driver's SendMessage returns.
LRESULT CALLBACK TextProbeHook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call && call->message == g_textProbeMessage && call->lParam) {
        auto* record = reinterpret_cast<trawler::TextProbeRecord*>(call->lParam);
        record->count = 0;
        trawler::ScopedWindowDC dc(call->hwnd);
        if (dc.Get()) record->dpi = GetDeviceCaps(dc.Get(), LOGPIXELSY);
        EnumChildWindows(call->hwnd, &MeasureChild, call->lParam);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    g_textProbeMessage = RegisterWindowMessageW(trawler::kTextProbeMessage);
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, &TextProbeHook, nullptr, GetCurrentThreadId());
    int result = trawler::RunTrawler(instance, &MakeEmulatedSpooler);
    if (hook) UnhookWindowsHookEx(hook);
    return result;
}
