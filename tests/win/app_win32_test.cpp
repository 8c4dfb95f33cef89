// The wizard's Windows-side pieces under Wine: profile reads from the real registry, strings
// chosen by language from the executable's own resources, its version text, local time.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/file_version_info.h"
#include "app/framework/string_table.h"
#include "app/framework/win_app.h"
#include "app/log_get_app.h"
#include "app/resource.h"
#include "app/win32_host.h"
#include "link/printer_link.h"
#include "sim/emulated_spooler.h"
#include "support/recording_host.h"

namespace trawler {
namespace {

// A profile under an application name of its own, removed before and after each test.
class ProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_app.m_strAppName = "TrawlerWinTest" + std::to_string(GetCurrentProcessId());
        m_app.SetRegistryKey(kRegistryKey);
        m_appKey = std::string("Software\\") + kRegistryKey + "\\" + m_app.m_strAppName;
        RegDeleteTreeA(HKEY_CURRENT_USER, m_appKey.c_str());
    }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, m_appKey.c_str()); }

    void Store(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        std::string path = m_appKey + "\\" + kSettingsSection;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
        RegCloseKey(key);
    }
    void StoreDword(const char* name, DWORD value) { Store(name, REG_DWORD, &value, sizeof value); }

    CWinApp m_app;
    std::string m_appKey;
};

TEST_F(ProfileTest, EmptyProfileGivesTheDefaultsAndWritesNoValue) {
    LinkSettings settings = ReadLinkSettings(m_app);
    EXPECT_EQ(200, settings.EmptyReadCount);
    EXPECT_EQ(516, settings.OneReadByte);
    EXPECT_EQ(100, settings.ReadWaitMillisec);
    EXPECT_EQ(500, settings.WaitAfterSendMillisec);
    // The section key may be created on the way, but it stays empty.
    HKEY key = nullptr;
    std::string path = m_appKey + "\\" + kSettingsSection;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key));
    DWORD values = 99;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    EXPECT_EQ(0u, values);
}

TEST_F(ProfileTest, StoredValuesReachTheLinkAndOtherTypesFallBack) {
    StoreDword("OneReadByte", 1024);
    StoreDword("EmptyReadCount", 3);
    StoreDword("ReadWaitMillisec", 0xFFFFFFFFu);  // taken as read: no range check
    Store("WaitAfterSendMillisec", REG_SZ, "250", 4);
    LinkSettings settings = ReadLinkSettings(m_app);
    EXPECT_EQ(1024, settings.OneReadByte);
    EXPECT_EQ(3, settings.EmptyReadCount);
    EXPECT_EQ(-1, settings.ReadWaitMillisec);
    EXPECT_EQ(500, settings.WaitAfterSendMillisec);

    testing::RecordingHost host;
    EmulatedSpooler spooler(DefaultDevice(), host);
    PrinterLink link(spooler, host);
    ApplySettings(link, settings);
    LinkSettings held = CurrentSettings(link);
    EXPECT_EQ(1024, held.OneReadByte);
    EXPECT_EQ(3, held.EmptyReadCount);
    EXPECT_EQ(-1, held.ReadWaitMillisec);
    EXPECT_EQ(500, held.WaitAfterSendMillisec);
}

// The desk's two texts come from the same key as the link settings; a text too long for a desk
// address counts as absent, not as its first part.
TEST_F(ProfileTest, DeskTextsAreReadFromTheSameSection) {
    const char address[] = "http://127.0.0.1:8080/";
    Store(kSettingDeskAddress, REG_SZ, address, sizeof address);
    const std::string tooLong(CWinApp::kProfileTextLimit + 10, 't');
    Store(kSettingDeskToken, REG_SZ, tooLong.c_str(), static_cast<DWORD>(tooLong.size() + 1));
    EXPECT_EQ(address, m_app.GetProfileString(kSettingsSection, kSettingDeskAddress, "-"));
    EXPECT_EQ("-", m_app.GetProfileString(kSettingsSection, kSettingDeskToken, "-"));
    EXPECT_EQ("-", m_app.GetProfileString("NoSuchSection", kSettingDeskToken, "-"));
}

TEST_F(ProfileTest, BinaryAndQwordValuesGiveTheDefault) {
    const unsigned char four[4] = {0x00, 0x04, 0x00, 0x00};
    Store("OneReadByte", REG_BINARY, four, sizeof four);
    const unsigned long long eight = 7;
    Store("EmptyReadCount", REG_QWORD, &eight, sizeof eight);
    LinkSettings settings = ReadLinkSettings(m_app);
    EXPECT_EQ(516, settings.OneReadByte);
    EXPECT_EQ(200, settings.EmptyReadCount);
}

TEST_F(ProfileTest, AnotherExecutableNameReadsAnotherKey) {
    StoreDword("OneReadByte", 2048);
    CWinApp other;
    other.m_strAppName = m_app.m_strAppName + "Demo";
    other.SetRegistryKey(kRegistryKey);
    EXPECT_EQ(516, ReadLinkSettings(other).OneReadByte);
    EXPECT_EQ(2048, ReadLinkSettings(m_app).OneReadByte);
    RegDeleteTreeA(HKEY_CURRENT_USER, (m_appKey + "Demo").c_str());
}

std::wstring Load(UINT id, LANGID lang) {
    std::wstring text;
    if (!LoadStringForLanguage(GetModuleHandleW(nullptr), id, lang, &text)) return L"<absent>";
    return text;
}

TEST(ResourceStrings, EachLanguageHasItsOwnInstructions) {
    EXPECT_EQ(0u, Load(IDS_INTRO_TEXT, kLangEnglishUs)
                      .find(L"1. Confirm that PV-730 is ON and connected to your PC with USB.\n"));
    EXPECT_EQ(
        L"1. Select folder.\n2. Input customer name and comment(Optional).\n3. Make sure "
        L"Printer is \"Ready\" or \"Stand By\".\n4. Click \"Next\", and wait a few minute.\n"
        L"   It might take 5 - 10 minutes to complete this step.",
        Load(IDS_DETAILS_TEXT, kLangEnglishUs));
    EXPECT_EQ(
        L"\x30ed\x30b0\x3068\x8a2d\x5b9a\x5024\x3092\x53d6\x5f97\x4e2d\x3067\x3059\x3002\n"
        L"1\xff5e\x0035\x5206\x307b\x3069\x304b\x304b\x308a\x307e\x3059\x3002\x304a\x5f85"
        L"\x3061\x4e0b\x3055\x3044\x3002",
        Load(IDS_READING_TEXT, kLangJapanese));
    for (UINT id : {IDS_INTRO_TEXT, IDS_SELECT_TEXT, IDS_DETAILS_TEXT, IDS_READING_TEXT,
                    IDS_RECORDING_NOT_WRITTEN, IDS_DESK_SENDING, IDS_DESK_SENT,
                    IDS_DESK_UNREACHABLE, IDS_DESK_TOKEN_REFUSED, IDS_DESK_NOT_SENT,
                    IDS_DESK_SENT_LATER, IDS_DESK_SETTINGS_UNUSABLE}) {
        SCOPED_TRACE(id);
        EXPECT_NE(Load(id, kLangEnglishUs), Load(id, kLangJapanese));
        EXPECT_NE(L"<absent>", Load(id, kLangJapanese));
        EXPECT_NE(L"<absent>", Load(id, kLangEnglishUs));
    }
}

TEST(ResourceStrings, SharedStringsAreTheSameInBothLanguages) {
    for (UINT id : {IDS_CAPTION, IDS_LEGAL_NOTICE, IDS_FINISH_TEXT}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(Load(id, kLangEnglishUs), Load(id, kLangJapanese));
    }
    EXPECT_EQ(L"Trawler", Load(IDS_CAPTION, kLangJapanese));
    EXPECT_EQ(
        L"was successfully saved.\n\nPlease send the log file back to "
        L"pv730-support@halden.example.\n\n\n\nThank you for your cooperation.",
        Load(IDS_FINISH_TEXT, kLangEnglishUs));
    EXPECT_EQ(L"<absent>", Load(IDS_DESK_SETTINGS_UNUSABLE + 1, kLangEnglishUs));
    EXPECT_EQ(L"<absent>", Load(IDS_CAPTION, 0x0407));  // no German table: no silent fallback
}

TEST(ResourceStrings, ResourceLanguageDecidesWhatPagesLoad) {
    SetResourceLanguage(kLangJapanese);
    std::wstring ja = LoadResourceString(IDS_SELECT_TEXT);
    SetResourceLanguage(kLangEnglishUs);
    std::wstring en = LoadResourceString(IDS_SELECT_TEXT);
    EXPECT_EQ(0u, en.find(L"1. Select PV-730 Printer Name\n"));
    EXPECT_NE(std::wstring::npos, ja.find(L"\"Re-search\""));
    EXPECT_EQ(std::wstring::npos, ja.find(L"Caution"));
    EXPECT_EQ(L"", LoadResourceString(200));
}

TEST(ResourceStrings, BrokenBlocksFindNothing) {
    // Entry 0 "ab", entry 1 empty, entry 2 claims 5 characters but 1 follows.
    const uint16_t block[] = {2, 'a', 'b', 0, 5, 'x'};
    std::wstring text;
    ASSERT_TRUE(DecodeStringBlock(block, 6, 0, &text));
    EXPECT_EQ(L"ab", text);
    EXPECT_FALSE(DecodeStringBlock(block, 6, 1, &text));
    EXPECT_FALSE(DecodeStringBlock(block, 6, 2, &text));
    EXPECT_FALSE(DecodeStringBlock(block, 6, 3, &text));
    EXPECT_FALSE(DecodeStringBlock(block, 6, 16, &text));
}

TEST(Version, TextComesFromTheExecutablesVersionResource) {
    FileVersionInfo info;
    ASSERT_TRUE(info.Load());
    EXPECT_EQ("1.0.1.1", info.GetVersionText());
    uint32_t second = 9, fourth = 9;
    EXPECT_TRUE(info.GetFileVersion(nullptr, &second, nullptr, &fourth));
    EXPECT_EQ(0u, second);
    EXPECT_EQ(1u, fourth);

    FileVersionInfo missing;
    EXPECT_FALSE(missing.Load("C:\\no-such-folder\\no-such-file.exe"));
    EXPECT_FALSE(missing.GetFileVersion());
    EXPECT_EQ("", missing.GetVersionText());
}

TEST(Version, ReloadingAFileWithoutVersionDropsTheOldBlock) {
    FileVersionInfo info;
    ASSERT_TRUE(info.Load());
    EXPECT_FALSE(info.Load("C:\\no-such-folder\\no-such-file.exe"));
    EXPECT_EQ("", info.GetVersionText());
}

TEST(LocalTime, SystemTimeBecomesBrokenDownTime) {
    const struct {
        WORD year, month, day;
        int yday;
    } cases[] = {{2024, 2, 29, 59},   {2024, 3, 1, 60},    {2023, 3, 1, 59},
                 {2006, 11, 30, 333}, {2000, 12, 31, 365}, {2100, 12, 31, 364}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.year * 10000 + c.month * 100 + c.day);
        SYSTEMTIME st{};
        st.wYear = c.year;
        st.wMonth = c.month;
        st.wDay = c.day;
        st.wHour = 17;
        st.wMinute = 45;
        st.wSecond = 9;
        std::tm t = TmFromSystemTime(st);
        EXPECT_EQ(c.year - 1900, t.tm_year);
        EXPECT_EQ(c.month - 1, t.tm_mon);
        EXPECT_EQ(c.day, t.tm_mday);
        EXPECT_EQ(c.yday, t.tm_yday);
        EXPECT_EQ(17, t.tm_hour);
        EXPECT_EQ(45, t.tm_min);
        EXPECT_EQ(9, t.tm_sec);
    }
}

// An application whose idle processing wants `rounds` calls and records their counts.
class IdleCountingApp : public CWinApp {
  public:
    BOOL OnIdle(LONG count) override {
        counts.push_back(count);
        return count + 1 < rounds;
    }
    LONG rounds = 3;
    std::vector<LONG> counts;
};

void DrainThreadQueue() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST(PumpMessages, DispatchesWaitingMessagesThenIdlesUntilIdleIsDone) {
    DrainThreadQueue();
    IdleCountingApp app;
    Win32Host host(app);
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 1, 0, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 2, 0, 0);
    host.PumpMessages();
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ((std::vector<LONG>{0, 1, 2}), app.counts);
    // With nothing waiting it does not block: only the idle rounds run again.
    host.PumpMessages();
    EXPECT_EQ(6u, app.counts.size());
}

TEST(PumpMessages, QuitRequestStaysPendingForTheMainLoop) {
    DrainThreadQueue();
    IdleCountingApp app;
    app.rounds = 1;
    Win32Host host(app);
    PostQuitMessage(7);
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 0, 0);
    host.PumpMessages();
    // The WM_QUIT taken by the pump is posted again, and the pump stopped right there.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    bool sawQuit = msg.message == WM_QUIT;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        sawQuit = sawQuit || msg.message == WM_QUIT;
    EXPECT_TRUE(sawQuit);
    EXPECT_EQ(std::vector<LONG>{0}, app.counts);
}

// An application whose first `failures` gets from the queue fail (-1), as GetMessageA does
// on an error.
class FailingGetApp : public IdleCountingApp {
  public:
    int failures = 1;

  protected:
    BOOL GetThreadMessage(MSG* msg) override {
        if (failures > 0) {
            --failures;
            return -1;
        }
        return IdleCountingApp::GetThreadMessage(msg);
    }
};

TEST(PumpMessages, AFailedGetIsNoQuit) {
    DrainThreadQueue();
    FailingGetApp app;
    app.rounds = 1;
    Win32Host host(app);
    PostThreadMessageA(GetCurrentThreadId(), WM_USER + 4, 0, 0);
    host.PumpMessages();
    // Nothing was dispatched or posted: the message still waits, and no WM_QUIT behind it.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(static_cast<UINT>(WM_USER + 4), msg.message);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "message " << msg.message;
    EXPECT_EQ(std::vector<LONG>{0}, app.counts);
}

}  // namespace
}  // namespace trawler
