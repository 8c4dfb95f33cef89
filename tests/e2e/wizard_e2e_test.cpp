// The real wizard under Wine, driven from outside through window messages: every page, both
// languages, the emulated printer and Wine's own spooler, failures, demonstration mode, the
// single instance and the registry settings. Run by tests/e2e/run-e2e (Xvfb, own prefix).
#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver.h"
#include "layout_check.h"
#include "package_check.h"
#include "app/resource.h"

namespace e2e {
namespace {

const char kSettingsKey[] = "Software\\Halden Industries,Ltd.\\Trawler\\";
const char kPrintersKey[] = "System\\CurrentControlSet\\Control\\Print\\Printers\\";

const wchar_t kEnglishIntro[] =
    L"1. Confirm that PV-730 is ON and connected to your PC with USB.\n2. If Printer Driver "
    L"starts installing, complete the installation first.\n\n  Caution: Make sure Printer Driver "
    L"Utility page is closed.\n\n3. Click \"Next\"";
const wchar_t kJapaneseIntroStart[] = L"1. PV-730のプリンタを直接USBで接続してください。\n";
const wchar_t kEnglishDetailsStart[] = L"1. Select folder.\n";
const wchar_t kJapaneseDetailsStart[] = L"1. ログを保存するフォルダを選択してください。\n";
const wchar_t kEnglishReading[] =
    L"Reading the printer Log.\nIt may take 1 to 5 minutes, Please wait.";
const wchar_t kJapaneseReading[] =
    L"ログと設定値を取得中です。\n1～5分ほどかかります。お待ち下さい。";
const wchar_t kNotFound[] =
    L"PV-730 Printer not found. \nCheck USB connection, power and PV-730 Printer Driver "
    L"installed.";
const wchar_t kNotOnline[] = L"Error: Printer is not Online.\nCheck Connection and Get Log Again.";
const wchar_t kFinishTail[] =
    L"\nwas successfully saved.\n\nPlease send the log file back to "
    L"pv730-support@halden.example.\n\n\n\nThank you for your cooperation.";

std::string DriverFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\'));
}

// The build lays the driver out in tests\e2e and the wizard in src\app.
std::string AppExe(const char* name) {
    return DriverFolder() + "\\..\\..\\src\\app\\" + name;
}

std::string WorkRoot() {
    const char* work = std::getenv("TRAWLER_E2E_WORK");
    return work && *work ? work : DriverFolder() + "\\e2e-work";
}

void WriteFile(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, file) << path;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

void SetDword(HKEY root, const std::string& path, const char* name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

// The screen's logical pixels per inch for programs started from now on (Wine reads it when a
// program starts); 144 is Windows' 150 % scaling.
void SetScreenDpi(DWORD dpi) {
    SetDword(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", dpi);
}

// The link's four registry values for one executable name.
void SetLinkSettings(const std::string& appName, DWORD emptyReads, DWORD readWait,
                     DWORD waitAfterSend) {
    std::string path = std::string(kSettingsKey) + appName + "\\PV730Service";
    SetDword(HKEY_CURRENT_USER, path, "EmptyReadCount", emptyReads);
    SetDword(HKEY_CURRENT_USER, path, "ReadWaitMillisec", readWait);
    SetDword(HKEY_CURRENT_USER, path, "WaitAfterSendMillisec", waitAfterSend);
}

class Wizard : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info->name();
        for (char& ch : name)
            if (ch == '/') ch = '-';  // parameterised tests: "Name/param"
        m_work = WorkRoot() + "\\" + name;
        CreateDirectoryA(WorkRoot().c_str(), nullptr);
        CreateDirectoryA(m_work.c_str(), nullptr);
        // A silent printer is given up after EmptyReadCount x ReadWaitMillisec: keep the
        // drain at the start of every run short.
        SetLinkSettings("trawler-sim", 5, 10, 20);
        SetLinkSettings("trawler", 5, 10, 20);
        SetLinkSettings("TrawlerDemo", 5, 10, 20);
        SetScreenDpi(96);
    }

    // A new empty folder under this test's work folder.
    std::string Folder(const std::string& name) {
        std::string folder = m_work + "\\" + name;
        CreateDirectoryA(folder.c_str(), nullptr);
        for (const char* suffix : {".zlg", ".tmp"})
            for (const std::string& file : FilesEndingWith(folder, suffix))
                DeleteFileA(file.c_str());
        return folder;
    }

    std::string Device(const std::string& json) {
        std::string path = m_work + "\\device.json";
        WriteFile(path, json);
        return "TRAWLER_SIM_DEVICE=" + path;
    }

    std::string m_work;
};

// Waits until the sheet shows page `id` with exactly `buttons` usable.
::testing::AssertionResult OnPage(HWND sheet, int id, const std::string& buttons,
                                  DWORD timeoutMs = 5000) {
    if (WaitUntil([&] { return CurrentPageId(sheet) == id && Buttons(sheet) == buttons; },
                  timeoutMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "expected page " << id << " with buttons \"" << buttons << "\", have page "
           << CurrentPageId(sheet) << " with \"" << Buttons(sheet) << "\"";
}

::testing::AssertionResult Browse(const App& app, HWND sheet, const std::string& folder) {
    HWND page = CurrentPage(sheet);
    Click(GetDlgItem(page, IDC_BROWSE));
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = app.FolderDialog()) != nullptr; }))
        return ::testing::AssertionFailure() << "no folder dialog";
    // While the dialog is open the wizard cannot be left or cancelled.
    if (!WaitUntil([&] { return Buttons(sheet).empty(); }))
        return ::testing::AssertionFailure() << "buttons while browsing: " << Buttons(sheet);
    Press(sheet, kCancel);
    std::string why;
    if (!ChooseFolder(app, dialog, folder, &why)) {
        Click(GetDlgItem(dialog, IDCANCEL));
        return ::testing::AssertionFailure() << why;
    }
    if (!WaitUntil([&] { return Narrow(ItemText(page, IDC_FOLDER)) == folder; }))
        return ::testing::AssertionFailure()
               << "folder edit shows " << Narrow(ItemText(page, IDC_FOLDER));
    if (!app.Sheet()) return ::testing::AssertionFailure() << "Cancel closed the wizard";
    return ::testing::AssertionSuccess();
}

// Every control lies inside the page, and the page above the sheet's buttons: the sheet has
// grown to the pages' font.
// From the intro page with Next twice, to the log details page with no folder chosen yet.
::testing::AssertionResult NextToLogDetails(HWND sheet) {
    ::testing::AssertionResult on = OnPage(sheet, IDD_INTRO, "NC");
    if (!on) return on;
    Press(sheet, kNext);
    on = OnPage(sheet, IDD_PRINTER_SELECTION, "BNC");
    if (!on) return on;
    Press(sheet, kNext);
    return OnPage(sheet, IDD_LOG_DETAILS, "BC");
}

::testing::AssertionResult ControlsFitOnPage(HWND sheet, HWND page, std::vector<int> ids) {
    RECT pageRect{}, back{};
    GetWindowRect(page, &pageRect);
    GetWindowRect(GetDlgItem(sheet, kBack), &back);
    if (pageRect.bottom > back.top)
        return ::testing::AssertionFailure() << "page overlaps the buttons";
    for (int id : ids) {
        RECT r{};
        GetWindowRect(GetDlgItem(page, id), &r);
        if (r.left < pageRect.left || r.top < pageRect.top || r.right > pageRect.right ||
            r.bottom > pageRect.bottom)
            return ::testing::AssertionFailure() << "control " << id << " is cut off";
    }
    return ::testing::AssertionSuccess();
}

// Waits for the file browser showing `folderName` that the finish page opens, and closes it.
bool CloseFolderWindow(const std::wstring& folderName, DWORD appPid) {
    HWND window = nullptr;
    if (!WaitUntil([&] { return (window = FindWindowTitled(folderName, appPid)) != nullptr; },
                   15000))
        return false;
    PostMessageW(window, WM_CLOSE, 0, 0);
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); });
}

std::vector<std::string> Ascii(const std::vector<std::wstring>& texts) {
    std::vector<std::string> out;
    for (const std::wstring& t : texts) out.push_back(Narrow(t));
    return out;
}

const char kTwoPrinters[] = R"({
  "printers": [
    {"name": "PV-730 B"},
    {"name": "PV-730 A"},
    {"name": "PV-730 FileOutput"},
    {"name": "Office Laser", "driver": "Generic Laser"}
  ],
  "log": {"size": 900000},
  "pacing": {"bytes_per_second": 600000}
})";

struct Language {
    const char* name;
    bool japanese;
    DWORD dpi;
};

void PrintTo(const Language& language, std::ostream* out) {
    *out << language.name;
}

// Cases run in each interface language; Wine takes the system language from the locale the
// whole run was started with, so each pass runs the cases of its own language.
class InLanguage : public Wizard, public ::testing::WithParamInterface<Language> {
  protected:
    void SetUp() override {
        Wizard::SetUp();
        ASSERT_EQ(GetParam().japanese, GetSystemDefaultLangID() == 1041)
            << "run the Japanese cases (filter */ja*) with LANG=ja_JP.UTF-8, the others "
               "without it";
        SetScreenDpi(GetParam().dpi);
    }
    void TearDown() override { SetScreenDpi(96); }
    // "en-3-log-details", "ja-144dpi-3-log-details": the picture's file name.
    std::string ShotName(const std::string& what) const {
        std::string name = std::string(GetParam().name) + "-" + what;
        std::replace(name.begin(), name.end(), '_', '-');
        return name;
    }
};

// The folder a technician keeps the packages in, as the screenshots show it; emptied of
// packages first. Wine spells the profiles' folder "users", and the folder dialog hands back
// the spelling on disk.
std::string TechnicianFolder() {
    std::string folder = "C:\\users\\Technician";
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const char* part : {"\\Documents", "\\PV-730 logs"}) {
        folder += part;
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    for (const char* suffix : {".zlg", ".tmp"})
        for (const std::string& file : FilesEndingWith(folder, suffix)) DeleteFileA(file.c_str());
    return folder;
}
const wchar_t kTechnicianFolderName[] = L"PV-730 logs";

class FullRun : public InLanguage {};

// Intro, printer selection, log details with a run, finish, Back and a second run, Finish.
TEST_P(FullRun, EveryPageTwoRunsAndThePackages) {
    const Language lang = GetParam();
    App app(AppExe("trawler-sim.exe"), "", {Device(kTwoPrinters)});
    ASSERT_TRUE(app.Started());
    HWND sheet = app.WaitSheet();
    ASSERT_NE(nullptr, sheet);
    EXPECT_EQ(L"Trawler", WindowText(sheet));

    // Intro: only Next (and Cancel); the instructions in the interface language.
    ASSERT_TRUE(OnPage(sheet, IDD_INTRO, "NC"));
    HWND page = CurrentPage(sheet);
    if (lang.japanese)
        EXPECT_EQ(0u, ItemText(page, IDC_INTRO_TEXT).find(kJapaneseIntroStart));
    else
        EXPECT_EQ(kEnglishIntro, ItemText(page, IDC_INTRO_TEXT));
    EXPECT_EQ(L"Trawler: Version 1.0.1.1", ItemText(page, IDC_VERSION));
    EXPECT_EQ(L"Copyright (C) Halden Industries,Ltd. All rights reserved.",
              ItemText(page, IDC_NOTICE));
    EXPECT_TRUE(LayoutIsClean(app, sheet));
    Screenshot(sheet, ShotName("1-intro"));

    // Printer selection: the two PV-730 queues, sorted; FileOutput and the laser left out.
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_PRINTER_SELECTION, "BNC"));
    page = CurrentPage(sheet);
    HWND combo = GetDlgItem(page, IDC_PRINTER_LIST);
    EXPECT_EQ((std::vector<std::string>{"PV-730 A", "PV-730 B"}), Ascii(ComboEntries(combo)));
    EXPECT_EQ(0, ComboSelection(combo));
    EXPECT_EQ(lang.japanese,
              ItemText(page, IDC_SELECT_TEXT).find(L"Caution") == std::wstring::npos);
    EXPECT_TRUE(LayoutIsClean(app, sheet));
    Screenshot(sheet, ShotName("2-printer-selection"));
    SelectComboEntry(page, IDC_PRINTER_LIST, 1);

    // Log details: no folder yet, so no Next.
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BC"));
    page = CurrentPage(sheet);
    EXPECT_EQ(0u, ItemText(page, IDC_DETAILS_TEXT)
                      .find(lang.japanese ? kJapaneseDetailsStart : kEnglishDetailsStart));
    Press(sheet, kNext);  // disabled: nothing happens
    // The customer's name in the interface's script; it is stored in the ANSI code page.
    const std::wstring customer = lang.japanese ? L"ACME印刷株式会社" : L"ACME Printing";
    SetText(GetDlgItem(page, IDC_CUSTOMER), customer);
    SetText(GetDlgItem(page, IDC_COMMENT), L"paper jam after 300 sheets");
    const std::string first = TechnicianFolder();
    ASSERT_TRUE(Browse(app, sheet, first));
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));
    EXPECT_EQ(customer, ItemText(page, IDC_CUSTOMER));  // typed text survives the dialog
    EXPECT_TRUE(ControlsFitOnPage(
        sheet, page, {IDC_DETAILS_TEXT, IDC_FOLDER, IDC_BROWSE, IDC_CUSTOMER, IDC_COMMENT}));
    EXPECT_TRUE(LayoutIsClean(app, sheet));
    Screenshot(sheet, ShotName("3-log-details"));

    // The run: progress dialog, no way out while it reads.
    Press(sheet, kNext);
    HWND progress = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (progress = app.TopLevel(L"Reading Log")) != nullptr; }));
    EXPECT_EQ(lang.japanese ? kJapaneseReading : kEnglishReading,
              ItemText(progress, IDC_READING_TEXT));
    ASSERT_TRUE(WaitUntil([&] { return Buttons(sheet) == "C"; }));
    // Not centred: its client area starts at the upper-left corner of the page.
    POINT dialogOrigin{0, 0}, pageOrigin{0, 0};
    ClientToScreen(progress, &dialogOrigin);
    ClientToScreen(page, &pageOrigin);
    EXPECT_EQ(pageOrigin.x, dialogOrigin.x);
    EXPECT_EQ(pageOrigin.y, dialogOrigin.y);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, IDC_BROWSE)));
    EXPECT_TRUE(LayoutIsClean(app, progress));
    Screenshot(sheet, ShotName("4-reading-log"));     // the dialog sits on the page
    Press(sheet, kCancel);                            // refused while reading
    PostMessageW(progress, WM_CLOSE, 0, 0);           // the dialog's close box does nothing
    PostMessageW(progress, WM_COMMAND, IDCANCEL, 0);  // nor does Escape
    // The bar runs from 0 to 9 and steps once per 400000 log bytes: 900000 bytes make 2.
    HWND bar = GetDlgItem(progress, IDC_PROGRESS);
    // The limits come back as results: a PBRANGE pointer would not cross the process boundary.
    EXPECT_EQ(0, SendMessageW(bar, PBM_GETRANGE, TRUE, 0));
    EXPECT_EQ(9, SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    int highest = 0;
    WaitUntil(
        [&] {
            if (IsWindow(bar)) {
                DWORD_PTR pos = 0;
                if (SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &pos))
                    highest = std::max(highest, static_cast<int>(pos));
            }
            return CurrentPageId(sheet) == IDD_FINISH;
        },
        30000);
    EXPECT_GE(highest, 1);
    EXPECT_LE(highest, 2);
    ASSERT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 30000)) << "run did not finish";
    EXPECT_TRUE(app.Running());
    EXPECT_FALSE(ButtonVisible(sheet, kNext));
    EXPECT_FALSE(app.MessageBoxWindow());

    // Finish: the package's path, then string 108; Cancel disabled.
    std::vector<std::string> packages = FilesEndingWith(first, ".zlg");
    ASSERT_EQ(1u, packages.size());
    EXPECT_TRUE(FilesEndingWith(first, ".tmp").empty());
    page = CurrentPage(sheet);
    EXPECT_EQ(Widen(packages[0]) + kFinishTail, ItemText(page, IDC_FINISH_TEXT));
    EXPECT_NE(std::string::npos, packages[0].find("\\No1234_"));
    EXPECT_TRUE(CloseFolderWindow(kTechnicianFolderName, app.Pid()))
        << "the finish page opened no folder";
    EXPECT_TRUE(LayoutIsClean(app, sheet));
    Screenshot(sheet, ShotName("5-finish"));

    PackageContents contents = ReadPackage(packages[0]);
    ASSERT_EQ("", contents.error);
    EXPECT_EQ("PV730LZ1", contents.magic);
    EXPECT_EQ("PV730LO1", contents.containerMagic);
    EXPECT_EQ((std::vector<std::string>{"Cust", "Comm", "PCDT", "Date", "Vers", "B001", "B002",
                                        "B003", "B004", "B005", "B006", "B010", "B011", "B012",
                                        "B013", "LOGV", "LOGD", "ENDF"}),
              contents.Tags());
    ASSERT_TRUE(contents.Find("Comm") && contents.Find("Cust"));
    EXPECT_EQ(lang.japanese ? std::string("ACME\x88\xf3\x8d\xfc\x8a\x94\x8e\xae\x89\xef\x8e\xd0")
                            : std::string("ACME Printing"),
              contents.Find("Comm")->content);  // code page 932 under Japanese
    EXPECT_EQ("paper jam after 300 sheets", contents.Find("Cust")->content);
    ASSERT_TRUE(contents.Find("LOGD"));
    EXPECT_EQ(900000u, contents.Find("LOGD")->content.size());

    // Back: the log details come back as they were; a second run into another folder.
    Press(sheet, kBack);
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));
    page = CurrentPage(sheet);
    EXPECT_EQ(first, Narrow(ItemText(page, IDC_FOLDER)));
    EXPECT_EQ(L"paper jam after 300 sheets", ItemText(page, IDC_COMMENT));
    const std::string second = Folder("second");
    ASSERT_TRUE(Browse(app, sheet, second));
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 30000));
    std::vector<std::string> again = FilesEndingWith(second, ".zlg");
    ASSERT_EQ(1u, again.size());
    EXPECT_EQ(Widen(again[0]) + kFinishTail, ItemText(CurrentPage(sheet), IDC_FINISH_TEXT));
    EXPECT_TRUE(CloseFolderWindow(L"second", app.Pid())) << "the second arrival opened no folder";
    EXPECT_EQ("", ReadPackage(again[0]).error);

    Press(sheet, kFinish);
    DWORD code = 1;
    ASSERT_TRUE(app.WaitExit(10000, &code));
    EXPECT_EQ(0u, code);
}

std::string LanguageName(const ::testing::TestParamInfo<Language>& info) {
    return info.param.name;
}

// Also at 144 dpi (150 %), where the dialogs and their fonts scale with the screen.
INSTANTIATE_TEST_SUITE_P(Languages, FullRun,
                         ::testing::Values(Language{"en", false, 96}, Language{"ja", true, 96},
                                           Language{"en_144dpi", false, 144},
                                           Language{"ja_144dpi", true, 144}),
                         LanguageName);

TEST_F(Wizard, BackFromPrinterSelectionShowsTheIntroAgain) {
    App app(AppExe("trawler-sim.exe"), "", {Device(kTwoPrinters)});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(OnPage(sheet, IDD_INTRO, "NC"));
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_PRINTER_SELECTION, "BNC"));
    Press(sheet, kBack);
    ASSERT_TRUE(OnPage(sheet, IDD_INTRO, "NC"));
    Press(sheet, kCancel);
    EXPECT_TRUE(app.WaitExit(10000));
}

// The message boxes, with their pictures; the box's caption is the program's file name, so
// the emulated wizard runs under the name the technician's copy has.
class Boxes : public InLanguage {
  protected:
    std::string TechniciansExe() {
        const std::string copy = m_work + "\\trawler.exe";
        CopyFileA(AppExe("trawler-sim.exe").c_str(), copy.c_str(), FALSE);
        return copy;
    }
};

TEST_P(Boxes, FailedRunStaysOnThePageAndLeavesNoFiles) {
    // Online for the printer search, offline when the run checks again.
    App app(TechniciansExe(), "", {Device(R"({"printers": [{"name": "PV-730"}],
                        "faults": [{"kind": "offline", "skip": 1}]})")});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(NextToLogDetails(sheet));
    const std::string folder = Folder("out");
    ASSERT_TRUE(Browse(app, sheet, folder));
    Press(sheet, kNext);
    Screenshot(app.WaitMessageBox(), ShotName("printer-not-online"));
    std::wstring caption;
    EXPECT_EQ(kNotOnline, app.AnswerMessageBox(10000, &caption));
    EXPECT_EQ(L"trawler", caption);
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));
    EXPECT_FALSE(app.MessageBoxWindow());
    EXPECT_FALSE(app.TopLevel(L"Reading Log"));
    EXPECT_TRUE(FilesEndingWith(folder, ".zlg").empty());
    EXPECT_TRUE(FilesEndingWith(folder, ".tmp").empty());

    // The keyboard still reaches the wizard: Enter presses Next, the default, and runs again.
    PressKey(sheet, VK_RETURN);
    EXPECT_EQ(kNotOnline, app.AnswerMessageBox(10000));
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));

    // Browse, then cancel the folder dialog: the folder stays, Back and Next come back.
    HWND page = CurrentPage(sheet);
    Click(GetDlgItem(page, IDC_BROWSE));
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = app.FolderDialog()) != nullptr; }));
    Click(GetDlgItem(dialog, IDCANCEL));
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));
    EXPECT_EQ(folder, Narrow(ItemText(page, IDC_FOLDER)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_BROWSE)));
    Press(sheet, kCancel);
    EXPECT_TRUE(app.WaitExit(10000));
}

TEST_P(Boxes, NothingFoundShowsTheMessageAndOnlyBack) {
    App app(TechniciansExe(), "", {Device(R"({"printers": [{"name": "PV-730", "online": false},
                                     {"name": "PV-730 FileOutput"}]})")});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(OnPage(sheet, IDD_INTRO, "NC"));
    Press(sheet, kNext);
    HWND box = app.WaitMessageBox();
    ASSERT_NE(nullptr, box);
    Screenshot(box, ShotName("printer-not-found"));
    EXPECT_EQ(kNotFound, app.AnswerMessageBox());
    ASSERT_TRUE(OnPage(sheet, IDD_PRINTER_SELECTION, "BC"));
    EXPECT_TRUE(ComboEntries(GetDlgItem(CurrentPage(sheet), IDC_PRINTER_LIST)).empty());
    // The box came while the page was being shown; Enter still presses Back, the default.
    PressKey(sheet, VK_RETURN);
    ASSERT_TRUE(OnPage(sheet, IDD_INTRO, "NC"));
    Press(sheet, kNext);
    EXPECT_EQ(kNotFound, app.AnswerMessageBox());
    ASSERT_TRUE(OnPage(sheet, IDD_PRINTER_SELECTION, "BC"));
    // Re-search finds nothing again: the message again.
    Click(GetDlgItem(CurrentPage(sheet), IDC_RESEARCH));
    EXPECT_EQ(kNotFound, app.AnswerMessageBox());
    ASSERT_TRUE(OnPage(sheet, IDD_PRINTER_SELECTION, "BC"));
    Press(sheet, kCancel);
    EXPECT_TRUE(app.WaitExit(10000));
}

// Paths are written in the PC's ANSI code page. A folder whose name it cannot hold is refused by
// name before anything is written (the ANSI folder dialog would hand back a look-alike or '?');
// one it can hold is taken as it is, and the package lands in it.
TEST_P(Boxes, AFolderNameTheCodePageCannotHoldIsRefused) {
    // "ログ" has no place in code page 1252; "Café" none in 932, whose best fit is "Cafe".
    const std::string japaneseName = u8"\u30ED\u30B0", westernName = u8"Caf\u00E9";
    const bool japanese = GetParam().japanese;
    const std::string foreign = m_work + "\\" + (japanese ? westernName : japaneseName);
    const std::string native = m_work + "\\" + (japanese ? japaneseName : westernName);
    for (const std::string& folder : {foreign, native})
        CreateDirectoryW(Widen(folder).c_str(), nullptr);
    App app(TechniciansExe(), "",
            {Device(R"({"printers": [{"name": "PV-730"}], "log": {"size": 2000}})")});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(NextToLogDetails(sheet));
    HWND page = CurrentPage(sheet);
    Click(GetDlgItem(page, IDC_BROWSE));
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = app.FolderDialog()) != nullptr; }));
    std::string why;
    ASSERT_TRUE(ChooseFolder(app, dialog, foreign, &why)) << why;
    std::wstring text = app.AnswerMessageBox();
    EXPECT_NE(std::wstring::npos, text.find(L":\n" + Widen(foreign) + L"\n")) << Narrow(text);
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BC"));
    EXPECT_EQ(L"", ItemText(page, IDC_FOLDER));

    ASSERT_TRUE(Browse(app, sheet, native));
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 30000));
    std::wstring saved = ItemText(CurrentPage(sheet), IDC_FINISH_TEXT);
    EXPECT_EQ(0u, saved.find(Widen(native) + L"\\No1234_")) << Narrow(saved);
    CloseFolderWindow(Widen(native.substr(m_work.size() + 1)), app.Pid());
    Press(sheet, kFinish);
    EXPECT_TRUE(app.WaitExit(10000));
}

INSTANTIATE_TEST_SUITE_P(Languages, Boxes,
                         ::testing::Values(Language{"en", false, 96}, Language{"ja", true, 96}),
                         LanguageName);

// Printers registered in Wine's own spooler; "HlPvCheck" is a stored value there.
class RealSpooler : public Wizard {
  protected:
    void Register(const std::string& name, const std::string& driver, int check) {
        std::string path = std::string(kPrintersKey) + name;
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        std::string port = m_work + "\\port.prn";
        const std::pair<const char*, std::string> values[] = {
            {"Name", name},      {"Printer Driver", driver},      {"Port", port},
            {"Datatype", "RAW"}, {"Print Processor", "WinPrint"},
        };
        for (const auto& v : values)
            RegSetValueExA(key, v.first, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.second.c_str()),
                           static_cast<DWORD>(v.second.size() + 1));
        DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
        RegSetValueExA(key, "Attributes", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&attributes),
                       sizeof attributes);
        RegCloseKey(key);
        m_registered.push_back(name);
        if (check >= 0) SetCheck(name, static_cast<BYTE>(check));
    }
    void SetCheck(const std::string& name, BYTE status) {
        std::string path = std::string(kPrintersKey) + name + "\\PrinterDriverData";
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        const BYTE value[4] = {status, 0, 0, 0};
        RegSetValueExA(key, "HlPvCheck", 0, REG_BINARY, value, sizeof value);
        RegCloseKey(key);
    }
    void TearDown() override {
        for (const std::string& name : m_registered)
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kPrintersKey) + name).c_str());
    }
    std::vector<std::string> m_registered;
};

TEST_F(RealSpooler, PrinterSelectionOnTheRealExecutable) {
    Register("PV-730 Desk", "Halden PV-730", 0);
    Register("PV-730 Bench", "halden pv-730", 1);  // offline
    Register("PV-730 FileOutput", "Halden PV-730", 0);
    Register("Office Laser", "Generic Laser", 0);
    Register("PV-730 Series Queue", "Halden PV-730 Series", 0);
    Register("PV-730 Silent", "Halden PV-730", -1);  // the driver does not answer
    App app(AppExe("trawler.exe"), "");
    HWND sheet = app.WaitSheet();
    ASSERT_NE(nullptr, sheet);
    ASSERT_TRUE(OnPage(sheet, IDD_INTRO, "NC"));
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_PRINTER_SELECTION, "BNC"));
    HWND combo = GetDlgItem(CurrentPage(sheet), IDC_PRINTER_LIST);
    EXPECT_EQ(std::vector<std::string>{"PV-730 Desk"}, Ascii(ComboEntries(combo)));

    // The bench printer comes online: Re-search lists it first (sorted) and selects it.
    SetCheck("PV-730 Bench", 0);
    Click(GetDlgItem(CurrentPage(sheet), IDC_RESEARCH));
    ASSERT_TRUE(WaitUntil([&] { return ComboEntries(combo).size() == 2; }));
    EXPECT_EQ((std::vector<std::string>{"PV-730 Bench", "PV-730 Desk"}),
              Ascii(ComboEntries(combo)));
    EXPECT_EQ(0, ComboSelection(combo));

    // Everything offline: the message, and only Back.
    SetCheck("PV-730 Bench", 1);
    SetCheck("PV-730 Desk", 1);
    Click(GetDlgItem(CurrentPage(sheet), IDC_RESEARCH));
    EXPECT_EQ(kNotFound, app.AnswerMessageBox());
    ASSERT_TRUE(OnPage(sheet, IDD_PRINTER_SELECTION, "BC"));
    Press(sheet, kCancel);
    EXPECT_TRUE(app.WaitExit(10000));
}

::testing::AssertionResult ListsOnlyTheDemoEntry(App& app) {
    HWND sheet = app.WaitSheet();
    if (!sheet) return ::testing::AssertionFailure() << "no wizard";
    ::testing::AssertionResult intro = OnPage(sheet, IDD_INTRO, "NC");
    if (!intro) return intro;
    Press(sheet, kNext);
    ::testing::AssertionResult selection = OnPage(sheet, IDD_PRINTER_SELECTION, "BNC");
    if (!selection) return selection;
    std::vector<std::wstring> entries =
        ComboEntries(GetDlgItem(CurrentPage(sheet), IDC_PRINTER_LIST));
    if (entries != std::vector<std::wstring>{L"Demonstration mode"})
        return ::testing::AssertionFailure() << "entries: " << entries.size();
    return ::testing::AssertionSuccess();
}

// The name part of a path, without its folder.
std::string FileName(const std::string& path) {
    return path.substr(path.find_last_of('\\') + 1);
}

// Beside each recording, what the run showed, one line per message box: run-e2e replays the
// recording with the native trawler-cli and expects exactly these lines from it.
void WriteReplayExpectation(const std::string& recording, const std::vector<std::wstring>& boxes) {
    std::string lines;
    for (const std::wstring& box : boxes) lines += Narrow(box) + "\n";
    WriteFile(recording.substr(0, recording.size() - 4) + ".messages", lines);
}

TEST_F(Wizard, RecordSwitchLeavesOneRecordingOfAFailedRun) {
    App app(AppExe("trawler-sim.exe"), "-record",
            {Device(R"({"printers": [{"name": "PV-730"}], "log": {"size": 20000},
                        "faults": [{"kind": "no-answer", "command": "log_data", "packet": 2}]})")});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(NextToLogDetails(sheet));
    const std::string folder = Folder("out");
    ASSERT_TRUE(Browse(app, sheet, folder));
    Press(sheet, kNext);
    // The run's own boxes, unchanged by the recording, and nothing after them.
    std::vector<std::wstring> boxes;
    boxes.push_back(app.AnswerMessageBox());
    boxes.push_back(app.AnswerMessageBox());
    EXPECT_EQ((std::vector<std::wstring>{L"Error: Log Data read timeout",
                                         L"Error: LogRead: Log Data read failed.\n"
                                         L"Check Connection and Get Log Again."}),
              boxes);
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));
    EXPECT_FALSE(app.MessageBoxWindow());
    EXPECT_TRUE(FilesEndingWith(folder, ".zlg").empty());
    const std::vector<std::string> recordings = FilesEndingWith(folder, ".ztr");
    ASSERT_EQ(1u, recordings.size());
    // Failed_No<unit>_YYYYMMDD_HHMM.ztr: the unit number was read before the log failed.
    const std::string name = FileName(recordings[0]);
    EXPECT_EQ(0u, name.rfind("Failed_No1234_", 0)) << name;
    EXPECT_EQ(std::string("Failed_No1234_YYYYMMDD_HHMM.ztr").size(), name.size()) << name;
    EXPECT_TRUE(FilesEndingWith(folder, ".part").empty());
    WriteReplayExpectation(recordings[0], boxes);
    Press(sheet, kCancel);
    EXPECT_TRUE(app.WaitExit(10000));
}

TEST_F(Wizard, RecordSwitchPutsTheRecordingBesideThePackage) {
    App app(AppExe("trawler-sim.exe"), "-record",
            {Device(R"({"printers": [{"name": "PV-730"}], "log": {"size": 20000}})")});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(NextToLogDetails(sheet));
    const std::string folder = Folder("out");
    ASSERT_TRUE(Browse(app, sheet, folder));
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 10000));
    EXPECT_FALSE(app.MessageBoxWindow());
    const std::vector<std::string> packages = FilesEndingWith(folder, ".zlg");
    const std::vector<std::string> recordings = FilesEndingWith(folder, ".ztr");
    ASSERT_EQ(1u, packages.size());
    ASSERT_EQ(1u, recordings.size());
    EXPECT_EQ(packages[0].substr(0, packages[0].size() - 4),
              recordings[0].substr(0, recordings[0].size() - 4));
    WriteReplayExpectation(recordings[0], {});
    CloseFolderWindow(L"out", app.Pid());
    Press(sheet, kFinish);
    EXPECT_TRUE(app.WaitExit(10000));
}

TEST_F(Wizard, DemoSwitchRunsWithoutAPrinter) {
    App app(AppExe("trawler.exe"), "-DEMO");
    ASSERT_TRUE(ListsOnlyTheDemoEntry(app));
    HWND sheet = app.Sheet();
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BC"));
    SetText(GetDlgItem(CurrentPage(sheet), IDC_CUSTOMER), L"Demo Customer");
    const std::string folder = Folder("out");
    ASSERT_TRUE(Browse(app, sheet, folder));
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 10000));
    std::vector<std::string> packages = FilesEndingWith(folder, ".zlg");
    ASSERT_EQ(1u, packages.size());
    PackageContents contents = ReadPackage(packages[0]);
    ASSERT_EQ("", contents.error);
    EXPECT_EQ("PV730LZ1", contents.magic);
    EXPECT_EQ((std::vector<std::string>{"Comm", "PCDT", "ENDF"}), contents.Tags());
    Press(sheet, kFinish);
    EXPECT_TRUE(app.WaitExit(10000));
}

TEST_F(Wizard, ExecutableNamedDemoRunsInDemonstrationMode) {
    const std::string copy = m_work + "\\TrawlerDemo.exe";
    ASSERT_TRUE(CopyFileA(AppExe("trawler.exe").c_str(), copy.c_str(), FALSE));
    App app(copy, "");
    ASSERT_TRUE(ListsOnlyTheDemoEntry(app));
    Press(app.Sheet(), kCancel);
    EXPECT_TRUE(app.WaitExit(10000));
}

TEST_F(Wizard, FolderCalledDemoDoesNotSelectDemonstrationMode) {
    const std::string folder = Folder("demo");
    const std::string copy = folder + "\\Trawler.exe";
    ASSERT_TRUE(CopyFileA(AppExe("trawler.exe").c_str(), copy.c_str(), FALSE));
    App app(copy, "");
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(OnPage(sheet, IDD_INTRO, "NC"));
    Press(sheet, kNext);
    // Wine's spooler lists no PV-730 here: a real search, so the not-found message.
    EXPECT_EQ(kNotFound, app.AnswerMessageBox());
    Press(sheet, kCancel);
    EXPECT_TRUE(app.WaitExit(10000));
}

TEST_F(Wizard, SecondInstanceIsRefused) {
    App first(AppExe("trawler-sim.exe"), "", {Device(kTwoPrinters)});
    ASSERT_NE(nullptr, first.WaitSheet());
    App second(AppExe("trawler.exe"), "");
    std::wstring caption;
    EXPECT_EQ(L"Trawler.exe has already started.", second.AnswerMessageBox(10000, &caption));
    EXPECT_EQ(L"trawler", caption);
    EXPECT_TRUE(second.WaitExit(10000));
    EXPECT_FALSE(second.Sheet());
    ASSERT_TRUE(first.Running());
    HWND sheet = first.Sheet();
    ASSERT_TRUE(OnPage(sheet, IDD_INTRO, "NC"));
    Press(sheet, kCancel);
    EXPECT_TRUE(first.WaitExit(10000));
}

// The mutex of a first instance that runs elevated cannot be opened by a second one that does
// not: no handle, "access denied". An empty access list stands in for the elevated owner.
TEST_F(Wizard, AMutexThatCannotBeOpenedMeansAlreadyStarted) {
    SECURITY_DESCRIPTOR descriptor;
    ACL nobody;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(InitializeAcl(&nobody, sizeof nobody, ACL_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &nobody, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    HANDLE mutex = CreateMutexA(&attributes, TRUE, "TRAWLER");
    ASSERT_NE(nullptr, mutex);
    ASSERT_EQ(nullptr, OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "TRAWLER"))
        << "this Wine grants what the access list refuses";
    App second(AppExe("trawler.exe"), "");
    EXPECT_EQ(L"Trawler.exe has already started.", second.AnswerMessageBox(10000));
    EXPECT_TRUE(second.WaitExit(10000));
    CloseHandle(mutex);
}

// Windows calls a window hung that has not read its messages for five seconds, and offers to
// end the program. With the registry's defaults a run waits about 20 s in its drain alone and
// half a second after each of its commands: the wizard must answer within a second all along,
// and its progress dialog repaint.
TEST_F(Wizard, KeepsAnsweringThroughARunWithTheDefaultSettings) {
    SetLinkSettings("trawler-sim", 200, 100, 500);
    App app(AppExe("trawler-sim.exe"), "",
            {Device(R"({"printers": [{"name": "PV-730"}], "log": {"size": 200000},
                        "pacing": {"answer_delay_ms": 700, "bytes_per_second": 100000}})")});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(NextToLogDetails(sheet));
    const std::string folder = Folder("out");
    ASSERT_TRUE(Browse(app, sheet, folder));
    Press(sheet, kNext);
    HWND progress = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (progress = app.TopLevel(L"Reading Log")) != nullptr; }));
    // The sheet's keyboard works inside the run too: Tab moves the focus on.
    auto focus = [&] {
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        GetGUIThreadInfo(GetWindowThreadProcessId(sheet, nullptr), &gui);
        return gui.hwndFocus;
    };
    SetForegroundWindow(sheet);
    Sleep(200);
    const HWND focusBefore = focus();
    PressKey(sheet, VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return focus() != focusBefore && IsChild(sheet, focus()); }))
        << "Tab did not move the focus from control " << GetDlgCtrlID(focusBefore);
    int probes = 0, unanswered = 0, unpainted = 0;
    while (IsWindow(progress) && IsWindowVisible(progress)) {
        ++probes;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(sheet, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result)) ++unanswered;
        RedrawWindow(progress, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        if (!WaitUntil([&] { return !IsWindow(progress) || !GetUpdateRect(progress, nullptr, 0); },
                       1000))
            ++unpainted;
        Sleep(250);
    }
    EXPECT_GE(probes, 30) << "the run was shorter than the waits it should have made";
    EXPECT_EQ(0, unanswered) << "of " << probes;
    EXPECT_EQ(0, unpainted) << "of " << probes;
    ASSERT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 10000));
    EXPECT_EQ(1u, FilesEndingWith(folder, ".zlg").size());
    CloseFolderWindow(L"out", app.Pid());
    Press(sheet, kFinish);
    EXPECT_TRUE(app.WaitExit(10000));
}

TEST_F(Wizard, EnglishSwitchOnAJapaneseSystem) {
    ASSERT_EQ(1041, GetSystemDefaultLangID()) << "run this case with LANG=ja_JP.UTF-8";
    App app(AppExe("trawler-sim.exe"), "-English", {Device(kTwoPrinters)});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(OnPage(sheet, IDD_INTRO, "NC"));
    EXPECT_EQ(kEnglishIntro, ItemText(CurrentPage(sheet), IDC_INTRO_TEXT));
    EXPECT_TRUE(LayoutIsClean(app, sheet));  // English texts in the Japanese system's fonts
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_PRINTER_SELECTION, "BNC"));
    EXPECT_EQ(
        0u, ItemText(CurrentPage(sheet), IDC_SELECT_TEXT).find(L"1. Select PV-730 Printer Name\n"));
    EXPECT_TRUE(LayoutIsClean(app, sheet));
    Press(sheet, kCancel);
    EXPECT_TRUE(app.WaitExit(10000));
}

TEST_F(Wizard, RegistrySettingsReachTheLink) {
    // The printer answers 300 ms after each command. With 5 reads 10 ms apart the link gives
    // up before that; with 100 reads it waits long enough.
    const std::string device = Device(R"({"printers": [{"name": "PV-730"}],
                                          "log": {"size": 2000},
                                          "pacing": {"answer_delay_ms": 300}})");
    const std::string folder = Folder("out");
    for (DWORD emptyReads : {5u, 100u}) {
        SCOPED_TRACE(emptyReads);
        SetLinkSettings("trawler-sim", emptyReads, 10, 20);
        App app(AppExe("trawler-sim.exe"), "", {device});
        HWND sheet = app.WaitSheet();
        ASSERT_TRUE(NextToLogDetails(sheet));
        ASSERT_TRUE(Browse(app, sheet, folder));
        Press(sheet, kNext);
        if (emptyReads == 5) {
            std::wstring text = app.AnswerMessageBox(20000);
            EXPECT_EQ(0u, text.find(L"Communication Error.")) << Narrow(text);
            ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC", 20000));
            EXPECT_TRUE(FilesEndingWith(folder, ".zlg").empty());
        } else {
            ASSERT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 30000));
            EXPECT_EQ(1u, FilesEndingWith(folder, ".zlg").size());
        }
        Press(sheet, kCancel);
        if (emptyReads == 100) Press(sheet, kFinish);
        EXPECT_TRUE(app.WaitExit(10000));
    }
    SetLinkSettings("trawler-sim", 5, 10, 20);
}

// The spooler calls trawler-sim.exe notes in the file named by TRAWLER_SIM_JOURNAL:
// "enumerate" and "open NAME", one line each.
std::vector<std::string> JournalLines(const std::string& path) {
    std::vector<std::string> lines;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return lines;
    std::string line;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    std::fclose(file);
    return lines;
}

// Presses everything that navigates, browses or searches, as automation tools send them:
// posted to the sheet and straight to the pages, whatever the buttons' states.
void PressEverything(HWND sheet) {
    for (int button : {kBack, kNext, kFinish, kCancel}) Press(sheet, button);
    HWND details = PageAt(sheet, 2);
    PostMessageW(details, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(details, IDC_BROWSE)));
    HWND selection = PageAt(sheet, 1);
    PostMessageW(selection, WM_COMMAND, MAKEWPARAM(IDC_RESEARCH, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(selection, IDC_RESEARCH)));
    SelectComboEntry(selection, IDC_PRINTER_LIST, 0);
}

// Holds for `ms`: the state must not change while the posted presses are handled.
::testing::AssertionResult StaysOnPage(const App& app, HWND sheet, int id,
                                       const std::string& buttons, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    do {
        // Page 0: the program did not answer in time (a folder dialog filling its tree).
        int page = CurrentPageId(sheet);
        std::string state = Buttons(sheet);
        if ((page != 0 && page != id) || state != buttons)
            return ::testing::AssertionFailure()
                   << "left: page " << page << " with \"" << state << "\"";
        if (app.MessageBoxWindow())
            return ::testing::AssertionFailure()
                   << "message box: " << Narrow(ItemText(app.MessageBoxWindow(), 0xFFFF));
        Sleep(20);
    } while (GetTickCount64() < end);
    return ::testing::AssertionSuccess();
}

TEST_F(Wizard, PressesDuringARunOrTheFolderDialogChangeNothing) {
    // About four seconds of log transfer: long enough for the presses to land inside the run.
    const std::string journal = m_work + "\\journal.txt";
    DeleteFileA(journal.c_str());
    App app(AppExe("trawler-sim.exe"), "",
            {Device(R"({"printers": [{"name": "PV-730"}], "log": {"size": 2000000},
                        "pacing": {"bytes_per_second": 500000}})"),
             "TRAWLER_SIM_JOURNAL=" + journal});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(NextToLogDetails(sheet));
    HWND page = CurrentPage(sheet);
    SetText(GetDlgItem(page, IDC_CUSTOMER), L"ACME Printing");
    const std::string folder = Folder("out");

    // The folder dialog is open: nothing leaves the page, cancels or opens a second dialog.
    Click(GetDlgItem(page, IDC_BROWSE));
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = app.FolderDialog()) != nullptr; }));
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, ""));
    PressEverything(sheet);
    EXPECT_TRUE(StaysOnPage(app, sheet, IDD_LOG_DETAILS, "", 1000));
    EXPECT_TRUE(app.Sheet());
    std::string why;
    ASSERT_TRUE(ChooseFolder(app, dialog, folder, &why)) << why;
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));
    EXPECT_EQ(folder, Narrow(ItemText(page, IDC_FOLDER)));
    EXPECT_EQ(L"ACME Printing", ItemText(page, IDC_CUSTOMER));
    EXPECT_FALSE(app.FolderDialog()) << "a second folder dialog was opened";

    // A run is under way (the bar has moved, so the log is streaming and messages are pumped).
    Press(sheet, kNext);
    HWND progress = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (progress = app.TopLevel(L"Reading Log")) != nullptr; }));
    HWND bar = GetDlgItem(progress, IDC_PROGRESS);
    ASSERT_TRUE(WaitUntil(
        [&] {
            DWORD_PTR pos = 0;
            SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &pos);
            return pos >= 1;
        },
        20000));
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "C"));
    PressEverything(sheet);
    EXPECT_TRUE(StaysOnPage(app, sheet, IDD_LOG_DETAILS, "C", 1000));
    EXPECT_TRUE(IsWindow(progress)) << "the run ended before the presses were checked";
    EXPECT_FALSE(app.FolderDialog());

    // The run ends normally: one package, no container, the wizard still there.
    ASSERT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 30000));
    EXPECT_FALSE(app.MessageBoxWindow());
    EXPECT_EQ(1u, FilesEndingWith(folder, ".zlg").size());
    EXPECT_TRUE(FilesEndingWith(folder, ".tmp").empty());
    CloseFolderWindow(L"out", app.Pid());
    Sleep(300);
    EXPECT_TRUE(app.Running()) << "a Finish press was taken during the run";
    // One search, then the run's three opens: no re-search, no second run.
    EXPECT_EQ((std::vector<std::string>{"enumerate", "open PV-730", "open PV-730", "open PV-730",
                                        "open PV-730"}),
              JournalLines(journal));
    Press(sheet, kFinish);
    EXPECT_TRUE(app.WaitExit(10000));
}

TEST_F(Wizard, ExceptionInARunEndsItAsAFailure) {
    // The 500th raw read is well inside the log data; the emulated spooler throws there once.
    App app(AppExe("trawler-sim.exe"), "",
            {Device(R"({"printers": [{"name": "PV-730"}], "log": {"size": 900000}})"),
             "TRAWLER_SIM_THROW=read:500"});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(NextToLogDetails(sheet));
    const std::string folder = Folder("out");
    ASSERT_TRUE(Browse(app, sheet, folder));
    Press(sheet, kNext);
    EXPECT_EQ(L"Internal error: emulated spooler: read 500", app.AnswerMessageBox(20000));
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));
    EXPECT_FALSE(app.MessageBoxWindow()) << Narrow(app.AnswerMessageBox(100));
    EXPECT_FALSE(app.TopLevel(L"Reading Log"));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(CurrentPage(sheet), IDC_BROWSE)));
    EXPECT_TRUE(FilesEndingWith(folder, ".zlg").empty());
    EXPECT_TRUE(FilesEndingWith(folder, ".tmp").empty());

    // The run is over: Next runs again (the spooler throws only once), and Cancel is taken.
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 30000));
    EXPECT_EQ(1u, FilesEndingWith(folder, ".zlg").size());
    EXPECT_TRUE(FilesEndingWith(folder, ".tmp").empty());
    CloseFolderWindow(L"out", app.Pid());
    Press(sheet, kBack);
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));
    Press(sheet, kCancel);
    EXPECT_TRUE(app.WaitExit(10000));
}

TEST_F(Wizard, LogDetailsKeepTheirTextsAndTheRunOpensTheChosenPrinter) {
    const std::string journal = m_work + "\\journal.txt";
    DeleteFileA(journal.c_str());
    App app(AppExe("trawler-sim.exe"), "",
            {Device(kTwoPrinters), "TRAWLER_SIM_JOURNAL=" + journal});
    HWND sheet = app.WaitSheet();
    ASSERT_TRUE(NextToLogDetails(sheet));
    HWND page = CurrentPage(sheet);
    const size_t searchCalls = JournalLines(journal).size();

    // A press on the disabled Next: no box, no file, no printer opened.
    Press(sheet, kNext);
    EXPECT_TRUE(StaysOnPage(app, sheet, IDD_LOG_DETAILS, "BC", 500));
    EXPECT_TRUE(FilesEndingWith(m_work, ".tmp").empty());
    EXPECT_TRUE(FilesEndingWith(m_work, ".zlg").empty());
    EXPECT_EQ(searchCalls, JournalLines(journal).size());

    // Browse, then Cancel with no folder chosen: still only Back.
    Click(GetDlgItem(page, IDC_BROWSE));
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = app.FolderDialog()) != nullptr; }));
    Click(GetDlgItem(dialog, IDCANCEL));
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BC"));
    EXPECT_EQ(L"", ItemText(page, IDC_FOLDER));

    SetText(GetDlgItem(page, IDC_CUSTOMER), L"ACME Printing");
    SetText(GetDlgItem(page, IDC_COMMENT), L"paper jam");
    const std::string folder = Folder("out");
    ASSERT_TRUE(Browse(app, sheet, folder));

    // Browse again: the dialog, titled "Select Folder", opens at the folder chosen before.
    Click(GetDlgItem(page, IDC_BROWSE));
    ASSERT_TRUE(WaitUntil([&] { return (dialog = app.FolderDialog()) != nullptr; }));
    EXPECT_TRUE(FindWindowExW(dialog, nullptr, L"Static", L"Select Folder"))
        << "no \"Select Folder\" title in the folder dialog";
    EXPECT_TRUE(WaitUntil([&] { return SelectedFolderName(app, dialog) == L"out"; }))
        << "selected: " << Narrow(SelectedFolderName(app, dialog));
    Click(GetDlgItem(dialog, IDCANCEL));
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));
    EXPECT_EQ(folder, Narrow(ItemText(page, IDC_FOLDER)));

    // Back to the printers, choose the second one, Next: the texts are all still there.
    Press(sheet, kBack);
    ASSERT_TRUE(OnPage(sheet, IDD_PRINTER_SELECTION, "BNC"));
    HWND combo = GetDlgItem(CurrentPage(sheet), IDC_PRINTER_LIST);
    ASSERT_EQ((std::vector<std::string>{"PV-730 A", "PV-730 B"}), Ascii(ComboEntries(combo)));
    SelectComboEntry(CurrentPage(sheet), IDC_PRINTER_LIST, 1);
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_LOG_DETAILS, "BNC"));
    EXPECT_EQ(folder, Narrow(ItemText(page, IDC_FOLDER)));
    EXPECT_EQ(L"ACME Printing", ItemText(page, IDC_CUSTOMER));
    EXPECT_EQ(L"paper jam", ItemText(page, IDC_COMMENT));

    // The run opens the printer chosen, and only that one, for its three phases.
    const size_t beforeRun = JournalLines(journal).size();
    Press(sheet, kNext);
    ASSERT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 30000));
    CloseFolderWindow(L"out", app.Pid());
    std::vector<std::string> lines = JournalLines(journal);
    ASSERT_GE(lines.size(), beforeRun);
    EXPECT_EQ((std::vector<std::string>{"open PV-730 B", "open PV-730 B", "open PV-730 B"}),
              std::vector<std::string>(lines.begin() + static_cast<long>(beforeRun), lines.end()));
    Press(sheet, kFinish);
    EXPECT_TRUE(app.WaitExit(10000));
}

// ---- the support desk ----------------------------------------------------------------------
// run-e2e starts a native desk on loopback behind a relay that counts the requests it forwards
// (tests/e2e/desk-relay) and names both here.

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string FileBytes(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return bytes;
    char block[65536];
    for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) bytes.append(block, n);
    std::fclose(file);
    return bytes;
}

// The name of the file below `folder` (at any depth) whose bytes are `bytes`, or empty: the
// desk stores a package under its SHA-256.
std::string FileHolding(const std::string& folder, const std::string& bytes) {
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return "";
    std::string name;
    do {
        const std::string entry = found.cFileName;
        if (entry == "." || entry == "..") continue;
        const std::string path = folder + "\\" + entry;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            name = FileHolding(path, bytes);
        else if (FileBytes(path) == bytes)
            name = entry;
    } while (name.empty() && FindNextFileA(search, &found));
    FindClose(search);
    return name;
}

bool PathExistsA(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> FileLines(const std::string& path) {
    std::vector<std::string> lines;
    const std::string text = FileBytes(path);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

const wchar_t kDeskSending[] = L"Sending to the support desk...";
const wchar_t kDeskSent[] = L"Sent to the support desk.";
const wchar_t kDeskUnreachable[] =
    L"Not sent: the support desk cannot be reached. The log file will be sent the next time "
    L"Trawler starts.";
const wchar_t kDeskTokenRefused[] =
    L"Not sent: the support desk refused this PC's upload token. Ask your IT department to "
    L"correct it; the log file will be sent the next time Trawler starts.";
const wchar_t kJapaneseDeskSending[] = L"サポートデスクへ送信しています...";
const wchar_t kJapaneseDeskSent[] = L"サポートデスクへ送信しました。";
const wchar_t kJapaneseDeskTokenRefused[] =
    L"未送信：サポートデスクがこのPCのアップロード用トークンを拒否しました。IT担当者に修正を依頼"
    L"してください。ログファイルは次回Trawlerの起動時に送信します。";

// What the desk cases share: the desk's settings for trawler-sim, removed again afterwards so
// that every other case runs without a desk; a fresh list of outbox folders.
class DeskCase {
  protected:
    bool StartDesk() {
        m_desk = Env("TRAWLER_E2E_DESK");
        m_relay = Env("TRAWLER_E2E_DESK_FOLDER");
        if (m_desk.empty()) return false;
        char appData[MAX_PATH] = {};
        SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
        m_folderList = std::string(appData) + "\\Trawler\\outbox-folders";
        DeleteFileA(m_folderList.c_str());
        Hold(false);
        return true;
    }
    void StopDesk() {
        if (m_desk.empty()) return;
        Hold(false);
        HKEY key = nullptr;
        const std::string path = std::string(kSettingsKey) + "trawler-sim\\PV730Service";
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) == 0) {
            RegDeleteValueA(key, "DeskAddress");
            RegDeleteValueA(key, "DeskToken");
            RegCloseKey(key);
        }
        DeleteFileA(m_folderList.c_str());
    }
    static void SetDesk(const std::string& address, const std::string& token) {
        HKEY key = nullptr;
        const std::string path = std::string(kSettingsKey) + "trawler-sim\\PV730Service";
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        for (const auto& v :
             {std::make_pair("DeskAddress", &address), std::make_pair("DeskToken", &token)}) {
            RegSetValueExA(key, v.first, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(v.second->c_str()),
                           static_cast<DWORD>(v.second->size() + 1));
        }
        RegCloseKey(key);
    }
    // While held, the relay keeps each package before it reaches the desk.
    void Hold(bool hold) const {
        const std::string path = m_relay + "\\hold";
        if (hold)
            WriteFile(path, "");
        else
            DeleteFileA(path.c_str());
    }
    // How many times the package stored under this name was PUT to the desk.
    int PutCount(const std::string& sha256) const {
        int count = 0;
        for (const std::string& line : FileLines(m_relay + "\\requests"))
            if (line.rfind("PUT /api/v1/packages/" + sha256 + " ", 0) == 0) ++count;
        return count;
    }
    std::string Stored(const std::string& package) const {
        return FileHolding(m_relay + "\\data\\store", FileBytes(package));
    }

    std::string m_desk, m_relay, m_folderList;
};

::testing::AssertionResult ShowsDeskLine(HWND sheet, const std::wstring& text,
                                         DWORD timeoutMs = 15000) {
    HWND line = nullptr;
    if (WaitUntil(
            [&] {
                line = GetDlgItem(CurrentPage(sheet), IDC_DESK_STATUS);
                return line && IsWindowVisible(line) && WindowText(line) == text;
            },
            timeoutMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the desk line shows \"" << Narrow(line ? WindowText(line) : L"(none)") << "\"";
}

// From the intro to the finish page with one run into `folder`; the package's path. The
// customer's name makes the package's bytes, and so its name at the desk, differ from those of
// the other cases (the emulated printer's are the same in each).
std::string RunToFinish(const App& app, HWND sheet, const std::string& folder) {
    EXPECT_TRUE(NextToLogDetails(sheet));
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    SetText(GetDlgItem(CurrentPage(sheet), IDC_CUSTOMER),
            Widen(std::string(test->test_suite_name()) + "." + test->name()));
    EXPECT_TRUE(Browse(app, sheet, folder));
    Press(sheet, kNext);
    EXPECT_TRUE(OnPage(sheet, IDD_FINISH, "BF", 30000));
    std::vector<std::string> packages = FilesEndingWith(folder, ".zlg");
    return packages.size() == 1 ? packages[0] : "";
}

const char kOnePrinter[] = R"({"printers": [{"name": "PV-730"}], "log": {"size": 20000}})";

class DeskInLanguage : public InLanguage, protected DeskCase {
  protected:
    void SetUp() override {
        InLanguage::SetUp();
        if (!StartDesk()) GTEST_SKIP() << "no desk: run-e2e starts one from a native build";
    }
    void TearDown() override {
        StopDesk();
        InLanguage::TearDown();
    }
};

// The page says it is sending while the desk holds the package, stays responsive, then says
// it was sent; the desk has the package's very bytes, and the page's own texts are unchanged.
TEST_P(DeskInLanguage, FinishPageSendsThePackage) {
    const bool japanese = GetParam().japanese;
    SetDesk(m_desk, Env("TRAWLER_E2E_DESK_TOKEN"));
    Hold(true);
    App app(AppExe("trawler-sim.exe"), "", {Device(kOnePrinter)});
    HWND sheet = app.WaitSheet();
    ASSERT_NE(nullptr, sheet);
    // The folder the other pictures show.
    const std::string folder = TechnicianFolder();
    DeleteFileA((folder + "\\.trawler-outbox").c_str());
    const std::string package = RunToFinish(app, sheet, folder);
    ASSERT_NE("", package);
    const std::string before = FileBytes(package);
    EXPECT_TRUE(ShowsDeskLine(sheet, japanese ? kJapaneseDeskSending : kDeskSending));
    EXPECT_EQ(Widen(package) + kFinishTail, ItemText(CurrentPage(sheet), IDC_FINISH_TEXT));
    DWORD_PTR answer = 0;
    EXPECT_NE(0, SendMessageTimeoutW(sheet, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer))
        << "the window does not answer while it sends";
    CloseFolderWindow(kTechnicianFolderName, app.Pid());
    EXPECT_TRUE(LayoutIsClean(app, sheet));
    Screenshot(sheet, ShotName("6-finish-sending"));
    // Queued before it was sent.
    EXPECT_EQ(std::vector<std::string>{package.substr(folder.size() + 1)},
              FileLines(folder + "\\.trawler-outbox"));

    Hold(false);
    EXPECT_TRUE(ShowsDeskLine(sheet, japanese ? kJapaneseDeskSent : kDeskSent));
    EXPECT_TRUE(LayoutIsClean(app, sheet));
    Screenshot(sheet, ShotName("7-finish-sent"));
    const std::string sha256 = Stored(package);
    EXPECT_EQ(64u, sha256.size()) << "the desk holds no file with the package's bytes";
    EXPECT_EQ(1, PutCount(sha256));
    EXPECT_EQ(before, FileBytes(package)) << "the send changed the package";
    EXPECT_TRUE(WaitUntil([&] { return !PathExistsA(folder + "\\.trawler-outbox"); }))
        << "a package the desk acknowledged is still queued";
    Press(sheet, kFinish);
    EXPECT_TRUE(app.WaitExit(10000));
}

// A token the desk does not know: the page says so, and the package stays, on disk and queued.
TEST_P(DeskInLanguage, RefusedTokenIsSaidAndThePackageStays) {
    SetDesk(m_desk, "not-a-token");
    App app(AppExe("trawler-sim.exe"), "", {Device(kOnePrinter)});
    HWND sheet = app.WaitSheet();
    ASSERT_NE(nullptr, sheet);
    const std::string folder = Folder("out");
    const std::string package = RunToFinish(app, sheet, folder);
    ASSERT_NE("", package);
    EXPECT_TRUE(
        ShowsDeskLine(sheet, GetParam().japanese ? kJapaneseDeskTokenRefused : kDeskTokenRefused));
    EXPECT_TRUE(LayoutIsClean(app, sheet));
    EXPECT_EQ("", ReadPackage(package).error);
    EXPECT_EQ(std::vector<std::string>{package.substr(folder.size() + 1)},
              FileLines(folder + "\\.trawler-outbox"));
    EXPECT_EQ("", Stored(package));
    CloseFolderWindow(L"out", app.Pid());
    Press(sheet, kFinish);
    EXPECT_TRUE(app.WaitExit(10000));
}

INSTANTIATE_TEST_SUITE_P(Languages, DeskInLanguage,
                         ::testing::Values(Language{"en", false, 96}, Language{"ja", true, 96}),
                         LanguageName);

class Desk : public Wizard, protected DeskCase {
  protected:
    void SetUp() override {
        Wizard::SetUp();
        if (!StartDesk()) GTEST_SKIP() << "no desk: run-e2e starts one from a native build";
    }
    void TearDown() override { StopDesk(); }
};

// Down at Finish: the page says the package goes later and it waits in the outbox. At the next
// start, with the desk up, it is sent in the background, once, and leaves the outbox.
TEST_F(Desk, DownAtFinishThenSentOnceAtTheNextStart) {
    SetDesk(Env("TRAWLER_E2E_DESK_DOWN"), Env("TRAWLER_E2E_DESK_TOKEN"));
    const std::string folder = Folder("out");
    std::string package;
    {
        App app(AppExe("trawler-sim.exe"), "", {Device(kOnePrinter)});
        HWND sheet = app.WaitSheet();
        ASSERT_NE(nullptr, sheet);
        package = RunToFinish(app, sheet, folder);
        ASSERT_NE("", package);
        EXPECT_TRUE(ShowsDeskLine(sheet, kDeskUnreachable));
        EXPECT_TRUE(LayoutIsClean(app, sheet));
        CloseFolderWindow(L"out", app.Pid());
        Press(sheet, kFinish);
        EXPECT_TRUE(app.WaitExit(10000));
    }
    EXPECT_EQ(std::vector<std::string>{package.substr(folder.size() + 1)},
              FileLines(folder + "\\.trawler-outbox"));
    EXPECT_EQ("", Stored(package));

    SetDesk(m_desk, Env("TRAWLER_E2E_DESK_TOKEN"));
    App again(AppExe("trawler-sim.exe"), "", {Device(kOnePrinter)});
    HWND sheet = again.WaitSheet();
    ASSERT_NE(nullptr, sheet);
    EXPECT_TRUE(WaitUntil([&] { return !PathExistsA(folder + "\\.trawler-outbox"); }, 20000))
        << "the queued package was not sent at the start";
    EXPECT_TRUE(OnPage(sheet, IDD_INTRO, "NC"));  // in the background: the wizard is as ever
    const std::string sha256 = Stored(package);
    EXPECT_EQ(64u, sha256.size()) << "the desk holds no file with the package's bytes";
    EXPECT_EQ(1, PutCount(sha256));
    EXPECT_FALSE(PathExistsA(m_folderList));
    Press(sheet, kCancel);
    EXPECT_TRUE(again.WaitExit(10000));
}

// Finish while the desk has not answered: the wizard closes at once, the package still queued.
TEST_F(Desk, FinishDuringASendDoesNotWait) {
    SetDesk(m_desk, Env("TRAWLER_E2E_DESK_TOKEN"));
    Hold(true);
    App app(AppExe("trawler-sim.exe"), "", {Device(kOnePrinter)});
    HWND sheet = app.WaitSheet();
    ASSERT_NE(nullptr, sheet);
    const std::string folder = Folder("out");
    const std::string package = RunToFinish(app, sheet, folder);
    ASSERT_NE("", package);
    EXPECT_TRUE(ShowsDeskLine(sheet, kDeskSending));
    CloseFolderWindow(L"out", app.Pid());
    Press(sheet, kFinish);
    EXPECT_TRUE(app.WaitExit(3000)) << "Finish waited for the send";
    EXPECT_EQ(std::vector<std::string>{package.substr(folder.size() + 1)},
              FileLines(folder + "\\.trawler-outbox"));
}

}  // namespace
}  // namespace e2e
