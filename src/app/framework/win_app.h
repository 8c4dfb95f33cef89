// The framework's application object: start-up hook, read-only profile, message pump and idle.
#pragma once

#include <windows.h>

#include <string>

namespace trawler {

class CWnd;

// What a profile read yields: the stored number when the value exists as a 4-byte REG_DWORD,
// else the default (absent, unreadable or of another type). Taken as read: no range check.
int ProfileValueOrDefault(LONG status, DWORD type, DWORD size, DWORD value, int defaultValue);

// What a text read yields: the stored text up to its first NUL when the value exists as a
// REG_SZ, else the default (absent, too long to read, or of another type).
std::string ProfileTextOrDefault(LONG status, DWORD type, const std::string& data,
                                 const std::string& defaultValue);

// HKEY_CURRENT_USER sub-key of a profile section: Software\<registry key>\<app>\<section>.
std::string ProfileSectionKey(const std::string& registryKey, const std::string& appName,
                              const std::string& section);

// The command line without the program's own name (quoted or not) and the blanks after it.
std::string CommandLineArguments(const std::string& commandLine);

// The executable's file name without folder and extension: the application's name, which
// names its profile key and captions its message boxes.
std::string ApplicationName(const std::string& modulePath);

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start-up. True asks for the framework's own message loop; an application whose main
    // window is a modal sheet returns false and the program ends.
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return m_nExitCode; }

    // Gets, translates and dispatches one message; false once it has taken a WM_QUIT. A get
    // that fails (-1) is no quit: nothing is dispatched, the result is true and
    // LastPumpFailed() tells, so that a caller does not try again at once.
    virtual BOOL PumpMessage();
    // The main window's keyboard handling (Tab, Enter, Esc) before a message is dispatched.
    virtual BOOL PreTranslateMessage(MSG* msg);
    bool LastPumpFailed() const { return m_bPumpFailed; }
    // Idle processing between messages; true asks for another call with the next count.
    virtual BOOL OnIdle(LONG count);

    // Sets the instance, the arguments and the application name, then runs InitInstance and,
    // when it asks for one, the message loop. Returns the process exit code.
    int Run(HINSTANCE instance);

    void SetRegistryKey(const char* key);
    // A 32-bit number from HKCU\Software\<key>\<app>\<section>; the default when absent or
    // not a REG_DWORD. Missing keys on the way are created (empty); no value is ever written.
    int GetProfileInt(const char* section, const char* entry, int defaultValue);
    // A text of at most kProfileTextLimit bytes from the same key, as ProfileTextOrDefault
    // takes it; nothing is written.
    std::string GetProfileString(const char* section, const char* entry,
                                 const std::string& defaultValue);
    static constexpr DWORD kProfileTextLimit = 2048;

    // A wait cursor that survives mouse moves until the matching EndWaitCursor.
    void BeginWaitCursor();
    void EndWaitCursor();
    bool IsWaitCursorOn() const { return m_nWaitCursorCount > 0; }

    HINSTANCE m_hInstance = nullptr;
    std::string m_strModulePath;  // the executable's full path
    std::string m_strCmdLine;     // the command line without the program's own name
    std::string m_strAppName;     // the executable's file name without its extension
    std::string m_strRegistryKey;
    CWnd* m_pMainWnd = nullptr;
    int m_nExitCode = 0;

  protected:
    // GetMessageA for every window of the thread: 0 for WM_QUIT, -1 for an error.
    virtual BOOL GetThreadMessage(MSG* msg) { return GetMessageA(msg, nullptr, 0, 0); }

  private:
    int m_nWaitCursorCount = 0;
    bool m_bPumpFailed = false;
};

CWinApp* AfxGetApp();

// Modal box owned by the main window, captioned with the application name. Without an icon in
// `type` it shows the exclamation icon.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
int AfxMessageBox(const std::string& text, UINT type = MB_OK, UINT helpId = 0);
// The same for a text the ANSI code page cannot hold (a name from a wide API).
int AfxMessageBox(const std::wstring& text, UINT type = MB_OK, UINT helpId = 0);

}  // namespace trawler
