// Win32Spooler against printers registered in Wine's spooler: enumeration, open, the online
// value and the bytes of a RAW job.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "platform/win32/win32_spooler.h"
#include "support/recording_host.h"

namespace trawler {
namespace {

const char kPrintersKey[] = "System\\CurrentControlSet\\Control\\Print\\Printers\\";

struct TestPrinter {
    std::string name;
    std::string driver;
    std::string portFile;
};

void SetString(HKEY key, const char* name, const std::string& value) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
}

// Registers a printer the way the spooler stores it, with an optional driver value.
void RegisterPrinter(const TestPrinter& p, const std::vector<BYTE>* checkValue) {
    HKEY key = nullptr;
    std::string path = std::string(kPrintersKey) + p.name;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    SetString(key, "Name", p.name);
    SetString(key, "Printer Driver", p.driver);
    SetString(key, "Port", p.portFile);
    SetString(key, "Datatype", "RAW");
    SetString(key, "Print Processor", "WinPrint");
    DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
    RegSetValueExA(key, "Attributes", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&attributes),
                   sizeof attributes);
    RegCloseKey(key);
    if (checkValue) {
        HKEY data = nullptr;
        std::string dataPath = path + "\\PrinterDriverData";
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, dataPath.c_str(), 0, nullptr,
                                                 0, KEY_ALL_ACCESS, nullptr, &data, nullptr));
        RegSetValueExA(data, "HlPvCheck", 0, REG_BINARY, checkValue->data(),
                       static_cast<DWORD>(checkValue->size()));
        RegCloseKey(data);
    }
}

void UnregisterPrinter(const std::string& name) {
    std::string path = std::string(kPrintersKey) + name;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (path + "\\PrinterDriverData").c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

std::string TempFolder() {
    char buffer[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, buffer);
    return std::string(buffer, n);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class Win32SpoolerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string temp = TempFolder();
        m_printers = {
            {"Trawler Test Online", "Halden PV-730", temp + "trawler_online.prn"},
            {"Trawler Test Offline", "Halden PV-730", temp + "trawler_offline.prn"},
            {"Trawler Test Other", "Some Other Driver", temp + "trawler_other.prn"},
        };
        std::vector<BYTE> online{0, 0, 0, 0};
        std::vector<BYTE> offline{1, 0, 0, 0};
        RegisterPrinter(m_printers[0], &online);
        RegisterPrinter(m_printers[1], &offline);
        RegisterPrinter(m_printers[2], nullptr);
        for (const auto& p : m_printers) std::remove(p.portFile.c_str());
    }
    void TearDown() override {
        for (const auto& p : m_printers) {
            UnregisterPrinter(p.name);
            std::remove(p.portFile.c_str());
        }
    }

    std::vector<TestPrinter> m_printers;
    Win32Spooler m_spooler;
};

TEST_F(Win32SpoolerTest, EnumeratesLocalPrintersWithTheirDriverNames) {
    std::vector<PrinterRecord> records;
    ASSERT_TRUE(m_spooler.EnumerateLocal(&records));
    for (const auto& expected : m_printers) {
        SCOPED_TRACE(expected.name);
        auto it = std::find_if(records.begin(), records.end(),
                               [&](const PrinterRecord& r) { return r.name == expected.name; });
        ASSERT_NE(it, records.end());
        EXPECT_TRUE(it->hasDriver);
        EXPECT_EQ(expected.driver, it->driver);
    }
}

TEST_F(Win32SpoolerTest, ReadsTheStoredOnlineValueOfEachPrinter) {
    struct Case {
        const char* name;
        uint8_t firstByte;
    } cases[] = {{"Trawler Test Online", 0}, {"Trawler Test Offline", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrinterHandle handle = nullptr;
        ASSERT_TRUE(m_spooler.OpenPrinterHandle(c.name, kPrinterAccessUse, &handle));
        uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        uint32_t type = 3, needed = 0;
        EXPECT_EQ(0u, m_spooler.QueryPrinterData(handle, "HlPvCheck", &type, buffer, 4, &needed));
        EXPECT_EQ(c.firstByte, buffer[0]);
        EXPECT_EQ(4u, needed);
        EXPECT_TRUE(m_spooler.ClosePrinterHandle(handle));
    }
}

TEST_F(Win32SpoolerTest, AMissingValueIsAFailureWithTheSystemText) {
    PrinterHandle handle = nullptr;
    ASSERT_TRUE(m_spooler.OpenPrinterHandle("Trawler Test Other", kPrinterAccessUse, &handle));
    uint8_t buffer[4] = {};
    uint32_t type = 3, needed = 0;
    uint32_t status = m_spooler.QueryPrinterData(handle, "HlPvCheck", &type, buffer, 4, &needed);
    EXPECT_NE(0u, status);
    // The status becomes the thread's last error, so the message shown is about this failure.
    EXPECT_EQ(status, m_spooler.LastError());
    EXPECT_FALSE(m_spooler.ErrorText(status).empty());
    m_spooler.ClosePrinterHandle(handle);
}

TEST_F(Win32SpoolerTest, OpeningAnUnknownPrinterFailsWithAnErrorText) {
    PrinterHandle handle = reinterpret_cast<PrinterHandle>(1);
    EXPECT_FALSE(m_spooler.OpenPrinterHandle("Trawler Test Nowhere", kPrinterAccessUse, &handle));
    EXPECT_EQ(nullptr, handle);
    uint32_t code = m_spooler.LastError();
    EXPECT_NE(0u, code);
    EXPECT_FALSE(m_spooler.ErrorText(code).empty());
}

// A printer added between the size query and the enumeration (a driver installing as the
// printer is plugged in) outgrows the buffer: the enumeration asks again with the new size.
TEST(EnumerateIntoBuffer, AsksAgainWhileWindowsSaysTheBufferIsTooSmall) {
    struct Case {
        const char* what;
        std::vector<DWORD> needed;  // bytes the printers take at each call; the last repeats
        DWORD failure;              // error of a call whose buffer is big enough; 0: success
        bool ok;
        size_t calls;
    };
    std::vector<DWORD> growing;
    for (DWORD n = 1; n <= kEnumerateRetries + 2; ++n) growing.push_back(100 * n);
    const Case cases[] = {
        {"no printers", {0}, 0, true, 1},
        {"steady", {400}, 0, true, 2},
        {"printers added twice in between", {400, 800, 1200}, 0, true, 4},
        {"never settles", growing, 0, false, kEnumerateRetries + 1},
        {"spooler stopped", {400}, RPC_S_SERVER_UNAVAILABLE, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        size_t calls = 0;
        auto enumerate = [&](BYTE* data, DWORD size, DWORD* needed, DWORD* count) {
            *needed = c.needed[std::min(calls, c.needed.size() - 1)];
            ++calls;
            *count = 0;
            if (size < *needed || (*needed > 0 && !data)) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return false;
            }
            if (c.failure) {
                SetLastError(c.failure);
                return false;
            }
            *count = *needed / 100;
            return true;
        };
        std::vector<BYTE> buffer;
        DWORD count = 99;
        EXPECT_EQ(c.ok, EnumerateIntoBuffer(enumerate, &buffer, &count));
        EXPECT_EQ(c.calls, calls);
        if (c.ok) {
            EXPECT_EQ(c.needed.back() / 100, count);
        }
    }
}

TEST(SystemErrorText, TextsWithInsertsAreShownAsTheyStand) {
    // A driver's failure code may name a system text with an insert ("%1"); with no arguments
    // to fill it, the text must come back as it stands, not fail and fall back to the number.
    for (uint32_t code : {193u /* ERROR_BAD_EXE_FORMAT */, 182u /* ERROR_INVALID_ORDINAL */}) {
        SCOPED_TRACE(code);
        Win32Spooler spooler;
        std::string text = spooler.ErrorText(code);
        EXPECT_NE(std::string::npos, text.find("%1")) << text;
        testing::RecordingHost host;
        ShowLastError(host, code, text);
        EXPECT_EQ(std::vector<std::string>{text}, host.messages);
    }
}

TEST_F(Win32SpoolerTest, ARawJobArrivesByteForByteInThePortFile) {
    const std::vector<uint8_t> frame = {0x1B, 0x7C, 0x31, 0x30, 0x40, 0x01, 0x44, 0x00,
                                        0x40, 0x1B, 0x00, 0x01, 0x04, 0x00, 0x00, 0x00,
                                        0x1B, 0x7C, 0x31, 0x30, 0x24, 0x00, 0x00, 0x00};
    PrinterHandle handle = nullptr;
    ASSERT_TRUE(m_spooler.OpenPrinterHandle("Trawler Test Online", kPrinterAccessUse, &handle));
    ASSERT_TRUE(m_spooler.StartDocument(handle, "PV-730 Data", "RAW"));
    ASSERT_TRUE(m_spooler.StartPrinterPage(handle));
    uint32_t written = 0;
    ASSERT_TRUE(m_spooler.WriteToPrinter(handle, frame.data(), static_cast<uint32_t>(frame.size()),
                                         &written));
    EXPECT_EQ(frame.size(), written);
    EXPECT_TRUE(m_spooler.EndPrinterPage(handle));
    EXPECT_TRUE(m_spooler.EndDocument(handle));
    EXPECT_TRUE(m_spooler.ClosePrinterHandle(handle));
    EXPECT_EQ(frame, ReadFileBytes(m_printers[0].portFile));
}

}  // namespace
}  // namespace trawler
