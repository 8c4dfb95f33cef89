// The framework's application object.
#include "app/framework/win_app.h"

#include "app/framework/window.h"
#include "app/framework/scoped_win.h"
#include "app/framework/string_table.h"

namespace trawler {

namespace {
CWinApp* g_app = nullptr;
}

int ProfileValueOrDefault(LONG status, DWORD type, DWORD size, DWORD value, int defaultValue) {
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(DWORD)) return defaultValue;
    return static_cast<int>(value);
}

std::string ProfileTextOrDefault(LONG status, DWORD type, const std::string& data,
                                 const std::string& defaultValue) {
    if (status != ERROR_SUCCESS || type != REG_SZ) return defaultValue;
    // The terminating NUL is stored by most writers, not by all.
    return data.substr(0, data.find('\0'));
}

std::string ProfileSectionKey(const std::string& registryKey, const std::string& appName,
                              const std::string& section) {
    return "Software\\" + registryKey + "\\" + appName + "\\" + section;
}

std::string CommandLineArguments(const std::string& commandLine) {
    size_t pos = 0;
    const size_t n = commandLine.size();
    while (pos < n && (commandLine[pos] == ' ' || commandLine[pos] == '\t')) ++pos;
    if (pos < n && commandLine[pos] == '"') {
        size_t close = commandLine.find('"', pos + 1);
        pos = close == std::string::npos ? n : close + 1;
    } else {
        while (pos < n && commandLine[pos] != ' ' && commandLine[pos] != '\t') ++pos;
    }
    while (pos < n && (commandLine[pos] == ' ' || commandLine[pos] == '\t')) ++pos;
    return commandLine.substr(pos);
}

std::string ApplicationName(const std::string& modulePath) {
    // A 0x5C trail byte of a double-byte character is not a folder separator.
    size_t start = 0;
    for (size_t i = 0; i < modulePath.size(); ++i) {
        BYTE c = static_cast<BYTE>(modulePath[i]);
        if (IsDBCSLeadByte(c))
            ++i;
        else if (c == '\\' || c == '/')
            start = i + 1;
    }
    std::string name = modulePath.substr(start < modulePath.size() ? start : modulePath.size());
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

CWinApp::CWinApp() {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() {
    return g_app;
}

BOOL CWinApp::PumpMessage() {
    MSG msg;
    BOOL got = GetThreadMessage(&msg);
    m_bPumpFailed = got == -1;
    if (got == 0) return FALSE;
    if (m_bPumpFailed || PreTranslateMessage(&msg)) return TRUE;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return TRUE;
}

BOOL CWinApp::PreTranslateMessage(MSG* msg) {
    return m_pMainWnd && m_pMainWnd->m_hWnd && m_pMainWnd->PreTranslateMessage(msg);
}

// Nothing of the framework needs idle time: there are no temporary objects to collect and no
// command-state updates, so there is never a second round.
BOOL CWinApp::OnIdle(LONG) {
    return FALSE;
}

int CWinApp::Run(HINSTANCE instance) {
    m_hInstance = instance;
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    m_strModulePath.assign(path, n);
    m_strCmdLine = CommandLineArguments(GetCommandLineA());
    m_strAppName = ApplicationName(m_strModulePath);
    if (!InitInstance()) return ExitInstance();
    MSG msg{};
    BOOL got;
    while ((got = GetThreadMessage(&msg)) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // Only a WM_QUIT carries an exit code; a failed get (-1) leaves a loop that cannot go on.
    m_nExitCode = got == 0 ? static_cast<int>(msg.wParam) : 1;
    return ExitInstance();
}

void CWinApp::SetRegistryKey(const char* key) {
    m_strRegistryKey = key ? key : "";
}

int CWinApp::GetProfileInt(const char* section, const char* entry, int defaultValue) {
    std::string path = ProfileSectionKey(m_strRegistryKey, m_strAppName, section);
    ScopedRegKey key;
    // KEY_READ only: creating a missing key on the way is allowed, writing a value never is.
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ, nullptr, key.Out(), nullptr) != ERROR_SUCCESS) {
        return defaultValue;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG status =
        RegQueryValueExA(key.Get(), entry, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    return ProfileValueOrDefault(status, type, size, value, defaultValue);
}

std::string CWinApp::GetProfileString(const char* section, const char* entry,
                                      const std::string& defaultValue) {
    std::string path = ProfileSectionKey(m_strRegistryKey, m_strAppName, section);
    ScopedRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
        return defaultValue;
    DWORD type = 0;
    std::string data(kProfileTextLimit, '\0');
    DWORD size = kProfileTextLimit;
    LONG status = RegQueryValueExA(key.Get(), entry, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&data[0]), &size);
    data.resize(status == ERROR_SUCCESS ? size : 0);
    return ProfileTextOrDefault(status, type, data, defaultValue);
}

void CWinApp::BeginWaitCursor() {
    ++m_nWaitCursorCount;
    SetCursor(LoadCursor(nullptr, IDC_WAIT));
}

void CWinApp::EndWaitCursor() {
    if (m_nWaitCursorCount > 0) --m_nWaitCursorCount;
    if (m_nWaitCursorCount == 0) SetCursor(LoadCursor(nullptr, IDC_ARROW));
}

namespace {

HWND MessageBoxOwner(const CWinApp* app) {
    if (app && app->m_pMainWnd && IsWindow(app->m_pMainWnd->m_hWnd)) return app->m_pMainWnd->m_hWnd;
    return nullptr;
}

UINT WithIcon(UINT type) {
    return (type & MB_ICONMASK) == 0 ? type | MB_ICONEXCLAMATION : type;
}

}  // namespace

int AfxMessageBox(const char* text, UINT type, UINT) {
    CWinApp* app = AfxGetApp();
    std::string caption = app ? app->m_strAppName : std::string();
    return MessageBoxA(MessageBoxOwner(app), text ? text : "", caption.c_str(), WithIcon(type));
}

int AfxMessageBox(const std::wstring& text, UINT type, UINT) {
    CWinApp* app = AfxGetApp();
    std::wstring caption = app ? AnsiToWide(app->m_strAppName) : std::wstring();
    return MessageBoxW(MessageBoxOwner(app), text.c_str(), caption.c_str(), WithIcon(type));
}

int AfxMessageBox(const std::string& text, UINT type, UINT helpId) {
    return AfxMessageBox(text.c_str(), type, helpId);
}

}  // namespace trawler
