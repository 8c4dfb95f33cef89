// Drives the wizard from outside, as a technician would: finds its windows, reads texts and
// button states, presses buttons, answers message boxes and picks a folder in the folder dialog.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Wizard sheet children (the property sheet's own IDs).
constexpr int kBack = 0x3023;
constexpr int kNext = 0x3024;
constexpr int kFinish = 0x3025;
constexpr int kCancel = IDCANCEL;

// Polls `done` every 20 ms until it holds or `timeoutMs` has passed; returns its last value.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);

std::wstring WindowText(HWND window);
std::wstring ItemText(HWND parent, int id);
std::string Narrow(const std::wstring& text);  // UTF-8, for test messages
std::wstring Widen(const std::string& utf8);

// One started program and its windows.
class App {
  public:
    // Starts `exe` with `arguments`; `environment` entries ("NAME=value") are added to (or
    // replace those of) the driver's own environment.
    App(const std::string& exe, const std::string& arguments,
        const std::vector<std::string>& environment = {});
    ~App();  // ends the program if it still runs
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    bool Started() const { return m_process != nullptr; }
    DWORD Pid() const { return m_pid; }
    // Waits for the end of the program; false on time-out.
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    bool Running() const;

    // The visible wizard sheet (a #32770 with a Next button), or null.
    HWND Sheet() const;
    HWND WaitSheet(DWORD timeoutMs = 10000) const;
    // A visible message box of the program (a #32770 with the text static 0xFFFF), or null.
    HWND MessageBoxWindow() const;
    HWND WaitMessageBox(DWORD timeoutMs = 10000) const;
    // Waits for a message box, returns its text and presses its OK button.
    std::wstring AnswerMessageBox(DWORD timeoutMs = 10000, std::wstring* caption = nullptr) const;
    // A visible top-level window of the program with this caption, or null.
    HWND TopLevel(const std::wstring& caption) const;
    // The folder dialog (a #32770 with a tree view), or null.
    HWND FolderDialog() const;

  private:
    HANDLE m_process = nullptr;
    DWORD m_pid = 0;
};

// The sheet's current page and the template it was made from, found by its controls.
HWND CurrentPage(HWND sheet);
// The page at `index` in the sheet's order (0 intro ... 3 finish), shown or not.
HWND PageAt(HWND sheet, int index);
int CurrentPageId(HWND sheet);  // 131, 130, 132, 136, or 0

bool ButtonEnabled(HWND sheet, int id);  // visible and enabled
bool ButtonVisible(HWND sheet, int id);
// "B" Back, "N" Next, "F" Finish, "C" Cancel for each one visible and enabled, in that order.
std::string Buttons(HWND sheet);

// Posts a press; never sends (a handler that shows a box would block the driver).
void Press(HWND sheet, int button);
void Click(HWND button);

// Brings `window` to the front and types one key, as the keyboard would: it goes to whatever
// has the focus in that window's program.
void PressKey(HWND window, WORD virtualKey);

// Sets an edit's text as typing would leave it.
void SetText(HWND edit, const std::wstring& text);

// The entries of a combo box and its selection's index.
std::vector<std::wstring> ComboEntries(HWND combo);
int ComboSelection(HWND combo);
// Selects entry `index` and tells the page, as a click in the list would.
void SelectComboEntry(HWND page, int comboId, int index);

// Walks the folder dialog's tree to `windowsPath` ("Z:\a\b"), selects it and presses OK.
// False (with *why) when a step could not be taken.
bool ChooseFolder(const App& app, HWND dialog, const std::string& windowsPath, std::string* why);

// The text of the folder dialog's selected tree item (the folder's own name), or empty.
std::wstring SelectedFolderName(const App& app, HWND dialog);

// A visible static or button below a window, with its text's size in the control's own font:
// on one line, and broken at words into the control's width.
struct TextExtent {
    HWND control;
    SIZE line;
    SIZE wrapped;
};

// Asks the program (trawler-sim.exe answers; see app/text_probe.h) to measure the texts of
// every visible static and button below `window`. False when it did not answer.
bool MeasureTexts(const App& app, HWND window, std::vector<TextExtent>* texts, int* dpi);

// Saves a picture of `window` as <TRAWLER_E2E_SHOTS>/<name>.png when that variable is set
// (a Unix folder); the picture is taken by ImageMagick's import from the X screen.
void Screenshot(HWND window, const std::string& name);

// A visible top-level window of another program titled `title` (the file browser that the
// finish page opens shows the folder's name), or null.
HWND FindWindowTitled(const std::wstring& title, DWORD exceptPid);

}  // namespace e2e
