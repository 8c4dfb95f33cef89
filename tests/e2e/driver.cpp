// The outside driver of the wizard: window search, texts, presses and the folder dialog.
#include "driver.h"

#include <commctrl.h>

#include "app/text_probe.h"
#include "app/resource.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace e2e {

namespace {

constexpr DWORD kSendTimeoutMs = 5000;

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct Search {
    DWORD pid;
    std::function<bool(HWND)> match;
    HWND found;
};

BOOL CALLBACK SearchTopLevel(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !IsWindowVisible(window)) return TRUE;
    if (!search->match(window)) return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindTopLevel(DWORD pid, const std::function<bool(HWND)>& match) {
    Search search{pid, match, nullptr};
    EnumWindows(&SearchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool IsDialog(HWND window) {
    return ClassName(window) == L"#32770";
}

HWND FindChildOfClass(HWND parent, const wchar_t* className) {
    return FindWindowExW(parent, nullptr, className, nullptr);
}

LRESULT SendTimed(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    return static_cast<LRESULT>(result);
}

std::string BuildEnvironment(const std::vector<std::string>& extra) {
    std::map<std::string, std::string> vars;  // upper-cased name -> "Name=value"
    auto upper = [](std::string s) {
        for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        return s;
    };
    char* block = GetEnvironmentStringsA();
    for (const char* p = block; p && *p; p += strlen(p) + 1) {
        std::string entry = p;
        size_t eq = entry.find('=', 1);
        if (eq != std::string::npos) vars[upper(entry.substr(0, eq))] = entry;
    }
    if (block) FreeEnvironmentStringsA(block);
    for (const std::string& entry : extra) {
        size_t eq = entry.find('=', 1);
        vars[upper(entry.substr(0, eq))] = entry;
    }
    std::string result;
    for (const auto& var : vars) {
        result += var.second;
        result.push_back('\0');
    }
    result.push_back('\0');
    return result;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() >= end) return done();
        Sleep(20);
    }
}

std::wstring WindowText(HWND window) {
    if (!window) return L"";
    // WM_GETTEXT is marshalled across processes; the W form keeps Japanese intact whatever
    // the driver's own code page is.
    LRESULT length = SendTimed(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT n = SendTimed(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(n));
    return text;
}

std::wstring ItemText(HWND parent, int id) {
    return WindowText(GetDlgItem(parent, id));
}

std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n,
                        nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& utf8) {
    int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

App::App(const std::string& exe, const std::string& arguments,
         const std::vector<std::string>& environment) {
    std::string commandLine = "\"" + exe + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;
    std::string env = BuildEnvironment(environment);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, &env[0], nullptr,
                       &startup, &info)) {
        CloseHandle(info.hThread);
        m_process = info.hProcess;
        m_pid = info.dwProcessId;
    }
}

App::~App() {
    if (!m_process) return;
    if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process, 99);
        WaitForSingleObject(m_process, 5000);
    }
    CloseHandle(m_process);
}

bool App::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!m_process || WaitForSingleObject(m_process, timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(m_process, exitCode);
    return true;
}

bool App::Running() const {
    return m_process && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

HWND App::Sheet() const {
    return FindTopLevel(m_pid, [](HWND w) { return IsDialog(w) && GetDlgItem(w, kNext); });
}

HWND App::WaitSheet(DWORD timeoutMs) const {
    HWND sheet = nullptr;
    WaitUntil([&] { return (sheet = Sheet()) != nullptr; }, timeoutMs);
    return sheet;
}

HWND App::MessageBoxWindow() const {
    return FindTopLevel(m_pid, [](HWND w) {
        return IsDialog(w) && !GetDlgItem(w, kNext) && GetDlgItem(w, 0xFFFF) && GetDlgItem(w, IDOK);
    });
}

HWND App::WaitMessageBox(DWORD timeoutMs) const {
    HWND box = nullptr;
    WaitUntil([&] { return (box = MessageBoxWindow()) != nullptr; }, timeoutMs);
    return box;
}

std::wstring App::AnswerMessageBox(DWORD timeoutMs, std::wstring* caption) const {
    HWND box = WaitMessageBox(timeoutMs);
    if (!box) return L"<no message box>";
    std::wstring text = ItemText(box, 0xFFFF);
    if (caption) *caption = WindowText(box);
    Click(GetDlgItem(box, IDOK));
    WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
    return text;
}

HWND App::TopLevel(const std::wstring& caption) const {
    return FindTopLevel(m_pid, [&](HWND w) { return WindowText(w) == caption; });
}

HWND App::FolderDialog() const {
    return FindTopLevel(m_pid, [](HWND w) {
        return IsDialog(w) && !GetDlgItem(w, kNext) && FindChildOfClass(w, L"SysTreeView32");
    });
}

HWND CurrentPage(HWND sheet) {
    return reinterpret_cast<HWND>(SendTimed(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

HWND PageAt(HWND sheet, int index) {
    return reinterpret_cast<HWND>(SendTimed(sheet, PSM_INDEXTOHWND, static_cast<WPARAM>(index), 0));
}

int CurrentPageId(HWND sheet) {
    HWND page = CurrentPage(sheet);
    if (!page) return 0;
    if (GetDlgItem(page, IDC_VERSION)) return IDD_INTRO;
    if (GetDlgItem(page, IDC_PRINTER_LIST)) return IDD_PRINTER_SELECTION;
    if (GetDlgItem(page, IDC_FOLDER)) return IDD_LOG_DETAILS;
    if (GetDlgItem(page, IDC_FINISH_TEXT)) return IDD_FINISH;
    return 0;
}

bool ButtonVisible(HWND sheet, int id) {
    HWND button = GetDlgItem(sheet, id);
    return button && IsWindowVisible(button);
}

bool ButtonEnabled(HWND sheet, int id) {
    HWND button = GetDlgItem(sheet, id);
    return button && IsWindowVisible(button) && IsWindowEnabled(button);
}

std::string Buttons(HWND sheet) {
    std::string state;
    if (ButtonEnabled(sheet, kBack)) state += "B";
    if (ButtonEnabled(sheet, kNext)) state += "N";
    if (ButtonEnabled(sheet, kFinish)) state += "F";
    if (ButtonEnabled(sheet, kCancel)) state += "C";
    return state;
}

void Press(HWND sheet, int button) {
    int which = button == kBack     ? PSBTN_BACK
                : button == kNext   ? PSBTN_NEXT
                : button == kFinish ? PSBTN_FINISH
                                    : PSBTN_CANCEL;
    PostMessageW(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(which), 0);
}

void PressKey(HWND window, WORD virtualKey) {
    SetForegroundWindow(window);
    WaitUntil([&] { return GetForegroundWindow() == window; }, 2000);
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wVk = virtualKey;
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof keys[0]);
}

void Click(HWND button) {
    if (button) PostMessageW(button, BM_CLICK, 0, 0);
}

void SetText(HWND edit, const std::wstring& text) {
    SendTimed(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::vector<std::wstring> ComboEntries(HWND combo) {
    std::vector<std::wstring> entries;
    LRESULT count = SendTimed(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendTimed(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        LRESULT n = SendTimed(combo, CB_GETLBTEXT, static_cast<WPARAM>(i),
                              reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<size_t>(n > 0 ? n : 0));
        entries.push_back(text);
    }
    return entries;
}

int ComboSelection(HWND combo) {
    return static_cast<int>(SendTimed(combo, CB_GETCURSEL, 0, 0));
}

void SelectComboEntry(HWND page, int comboId, int index) {
    HWND combo = GetDlgItem(page, comboId);
    SendTimed(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // A selection made by message sends no notification: tell the page as a click would.
    PostMessageW(page, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

namespace {

// Reads tree items through memory in the program's address space: tree view messages carry
// pointers, which are not carried across processes.
class RemoteTree {
  public:
    RemoteTree(DWORD pid, HWND tree) : m_tree(tree) {
        m_process =
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (m_process)
            m_memory =
                VirtualAllocEx(m_process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteTree() {
        if (m_memory) VirtualFreeEx(m_process, m_memory, 0, MEM_RELEASE);
        if (m_process) CloseHandle(m_process);
    }
    bool Ok() const { return m_memory != nullptr; }

    HTREEITEM Next(HTREEITEM item, UINT how) const {
        return reinterpret_cast<HTREEITEM>(
            SendTimed(m_tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
    }
    void Expand(HTREEITEM item) const {
        SendTimed(m_tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    }
    bool Select(HTREEITEM item) const {
        SendTimed(m_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        return Next(nullptr, TVGN_CARET) == item;
    }
    std::wstring Text(HTREEITEM item) const {
        auto* base = static_cast<char*>(m_memory);
        wchar_t* remoteText = reinterpret_cast<wchar_t*>(base + 512);
        TVITEMW record{};
        record.mask = TVIF_TEXT | TVIF_HANDLE;
        record.hItem = item;
        record.pszText = remoteText;
        record.cchTextMax = 1024;
        SIZE_T done = 0;
        WriteProcessMemory(m_process, base, &record, sizeof record, &done);
        if (!SendTimed(m_tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(base))) return L"";
        wchar_t text[1024] = {};
        ReadProcessMemory(m_process, remoteText, text, sizeof text - sizeof(wchar_t), &done);
        return text;
    }
    std::vector<HTREEITEM> Children(HTREEITEM item) const {
        Expand(item);
        std::vector<HTREEITEM> children;
        for (HTREEITEM c = Next(item, TVGN_CHILD); c; c = Next(c, TVGN_NEXT)) children.push_back(c);
        return children;
    }

  private:
    HWND m_tree;
    HANDLE m_process = nullptr;
    void* m_memory = nullptr;
};

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

bool ChooseFolder(const App& app, HWND dialog, const std::string& windowsPath, std::string* why) {
    HWND tree = FindChildOfClass(dialog, L"SysTreeView32");
    RemoteTree remote(app.Pid(), tree);
    if (!tree || !remote.Ok()) {
        *why = "no tree view or no access to the program's memory";
        return false;
    }
    // The drive is listed as "... (Z:)" somewhere below the desktop; its name is localised.
    std::wstring path = Widen(windowsPath);
    std::wstring driveMark = L"(" + path.substr(0, 2) + L")";
    HTREEITEM root = remote.Next(nullptr, TVGN_ROOT);
    HTREEITEM current = nullptr;
    std::vector<HTREEITEM> level = remote.Children(root);
    for (int depth = 0; depth < 2 && !current; ++depth) {
        std::vector<HTREEITEM> deeper;
        for (HTREEITEM item : level) {
            if (remote.Text(item).find(driveMark) != std::wstring::npos) {
                current = item;
                break;
            }
            if (depth == 0) {
                std::vector<HTREEITEM> children = remote.Children(item);
                deeper.insert(deeper.end(), children.begin(), children.end());
            }
        }
        level = deeper;
    }
    if (!current) {
        *why = "drive " + Narrow(driveMark) + " not in the tree";
        return false;
    }
    size_t start = 3;  // after "Z:\"
    while (start < path.size()) {
        size_t end = path.find(L'\\', start);
        std::wstring part = path.substr(start, end == std::wstring::npos ? end : end - start);
        start = end == std::wstring::npos ? path.size() : end + 1;
        if (part.empty()) continue;
        HTREEITEM found = nullptr;
        for (HTREEITEM child : remote.Children(current)) {
            if (SameName(remote.Text(child), part)) found = child;
        }
        if (!found) {
            *why = "folder \"" + Narrow(part) + "\" not found under \"" +
                   Narrow(remote.Text(current)) + "\"";
            return false;
        }
        current = found;
    }
    if (!remote.Select(current)) {
        *why = "the folder could not be selected";
        return false;
    }
    Click(GetDlgItem(dialog, IDOK));
    return true;
}

std::wstring SelectedFolderName(const App& app, HWND dialog) {
    HWND tree = FindChildOfClass(dialog, L"SysTreeView32");
    RemoteTree remote(app.Pid(), tree);
    if (!tree || !remote.Ok()) return L"";
    HTREEITEM selected = remote.Next(nullptr, TVGN_CARET);
    return selected ? remote.Text(selected) : L"";
}

bool MeasureTexts(const App& app, HWND window, std::vector<TextExtent>* texts, int* dpi) {
    texts->clear();
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, app.Pid());
    if (!process) return false;
    trawler::TextProbeRecord record{};
    void* remote =
        VirtualAllocEx(process, nullptr, sizeof record, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool answered = false;
    SIZE_T done = 0;
    if (remote && WriteProcessMemory(process, remote, &record, sizeof record, &done)) {
        // Sent, not posted: the program measures before the call returns. A run that reads the
        // printer pumps messages only between answers, so the wait may be long.
        DWORD_PTR result = 0;
        UINT message = RegisterWindowMessageW(trawler::kTextProbeMessage);
        answered = SendMessageTimeoutW(window, message, 0, reinterpret_cast<LPARAM>(remote),
                                       SMTO_ABORTIFHUNG, 20000, &result) &&
                   ReadProcessMemory(process, remote, &record, sizeof record, &done) &&
                   record.dpi > 0;
    }
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    if (!answered) return false;
    for (uint32_t i = 0; i < record.count && i < sizeof record.texts / sizeof record.texts[0];
         ++i) {
        const trawler::MeasuredText& m = record.texts[i];
        texts->push_back({reinterpret_cast<HWND>(m.window),
                          {m.lineWidth, m.lineHeight},
                          {m.wrappedWidth, m.wrappedHeight}});
    }
    *dpi = record.dpi;
    return true;
}

void Screenshot(HWND window, const std::string& name) {
    const char* folder = std::getenv("TRAWLER_E2E_SHOTS");
    if (!folder || !*folder || !window) return;
    // Let posted button states and repaints land before the picture is taken.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    RECT r{};
    GetWindowRect(window, &r);
    char geometry[64];
    snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld", r.right - r.left, r.bottom - r.top,
             r.left, r.top);
    // ImageMagick is a Linux program; Wine starts it like any executable given by its path.
    // Wine does not wait for a Linux child, so the picture is written under a temporary name
    // and renamed when complete, and the driver waits for the final name.
    std::string target = std::string(folder) + "/" + name + ".png";
    std::string script = std::string("import -window root -crop ") + geometry + " +repage '" +
                         target + ".part.png' && mv '" + target + ".part.png' '" + target + "'";
    std::string windowsTarget = "Z:" + target;
    for (char& c : windowsTarget)
        if (c == '/') c = '\\';
    DeleteFileA(windowsTarget.c_str());
    std::string commandLine = "sh -c \"" + script + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA("Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        fprintf(stderr, "screenshot %s: cannot start import (error %lu)\n", name.c_str(),
                GetLastError());
        return;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    if (!WaitUntil(
            [&] { return GetFileAttributesA(windowsTarget.c_str()) != INVALID_FILE_ATTRIBUTES; },
            15000))
        fprintf(stderr, "screenshot %s: no picture after 15 s\n", name.c_str());
}

HWND FindWindowTitled(const std::wstring& title, DWORD exceptPid) {
    struct Data {
        const std::wstring* title;
        DWORD exceptPid;
        HWND found;
    } data{&title, exceptPid, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* d = reinterpret_cast<Data*>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == d->exceptPid || !IsWindowVisible(w) || WindowText(w) != *d->title)
                return TRUE;
            d->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&data));
    return data.found;
}

}  // namespace e2e
