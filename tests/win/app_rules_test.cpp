// The wizard's text-only decisions and its printer search: start-up switches, file and folder
// names, profile values, and which printers the selection page may list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquire/session.h"
#include "app/framework/win_app.h"
#include "acquire/printer_search.h"
#include "app/wizard_rules.h"
#include "sim/emulated_spooler.h"
#include "support/recording_host.h"

namespace trawler {
namespace {

bool Cp932Lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// "表" in code page 932: a lead byte and a 0x5C trail byte that looks like a backslash.
const std::string kHyou = "\x95\x5C";

struct StartupCase {
    const char* name;
    uint16_t lang;
    const char* arguments;
    const char* path;
    bool japanese;
    bool demo;
};

TEST(StartupRules, LanguageAndDemonstrationMode) {
    const uint16_t ja = 1041, en = 1033;
    const StartupCase cases[] = {
        {"japanese system", ja, "", "C:\\Tools\\Trawler.exe", true, false},
        {"-eng on japanese", ja, "-eng", "C:\\Tools\\Trawler.exe", false, false},
        {"-ENG upper case", ja, "-ENG", "C:\\Tools\\Trawler.exe", false, false},
        {"-Eng mixed case", ja, "-Eng", "C:\\Tools\\Trawler.exe", false, false},
        {"-english contains -eng", ja, "-english", "C:\\Tools\\Trawler.exe", false, false},
        {"-eng among others", ja, "/x -demo -eng", "C:\\Tools\\Trawler.exe", false, true},
        {"english system", en, "", "C:\\Tools\\Trawler.exe", false, false},
        {"english system -eng", en, "-eng", "C:\\Tools\\Trawler.exe", false, false},
        {"chinese system", 2052, "", "C:\\Tools\\Trawler.exe", false, false},
        {"-DEMO", en, "-DEMO", "C:\\Tools\\Trawler.exe", false, true},
        {"eng without dash", ja, "english", "C:\\Tools\\Trawler.exe", true, false},
        {"demo without dash", en, "demo", "C:\\Tools\\Trawler.exe", false, false},
        {"TrawlerDemo.exe", en, "", "C:\\Tools\\TrawlerDemo.exe", false, true},
        {"DEMO in upper case", en, "", "C:\\Tools\\TRAWLER-DEMO.EXE", false, true},
        {"folder called demo", en, "", "C:\\demo\\Trawler.exe", false, false},
        {"demo folder deep", en, "", "D:\\x\\Demo\\y\\Trawler.exe", false, false},
        {"path without backslash", en, "", "trawlerdemo.exe", false, true},
        {"only backslash first", en, "", "\\demo.exe", false, true},
        {"demo before the last backslash only", en, "", "demo\\x.exe", false, false},
    };
    for (const StartupCase& c : cases) {
        SCOPED_TRACE(c.name);
        StartupChoice choice = DecideStartup(c.lang, c.arguments, c.path);
        EXPECT_EQ(c.japanese, choice.japanese);
        EXPECT_EQ(c.demo, choice.demo);
    }
}

// Only the arguments ask for recording; the executable's name never does, unlike "demo".
TEST(StartupRules, RecordSwitch) {
    const struct {
        const char* arguments;
        const char* path;
        bool record;
    } cases[] = {
        {"-record", "C:\\Tools\\Trawler.exe", true},
        {"-eng -RECORD", "C:\\Tools\\Trawler.exe", true},
        {"record", "C:\\Tools\\Trawler.exe", false},
        {"", "C:\\Tools\\TrawlerRecord-record.exe", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(c.record, DecideStartup(1033, c.arguments, c.path).record);
    }
}

TEST(StartupRules, TrailByteThatLooksLikeBackslashDoesNotCutTheFileName) {
    // C:\x\demo表.exe: the last real backslash is before "demo".
    const std::string path = "C:\\x\\demo" + kHyou + ".exe";
    EXPECT_EQ("\\demo" + kHyou + ".exe", ExecutableFileName(path, &Cp932Lead));
    EXPECT_TRUE(DecideStartup(1041, "", path, &Cp932Lead).demo);
    // C:\表demo\Trawler.exe: the folder's name holds "demo", the file's does not.
    const std::string folder = "C:\\" + kHyou + "demo\\Trawler.exe";
    EXPECT_FALSE(DecideStartup(1041, "", folder, &Cp932Lead).demo);
    // A lead byte followed by 'D' is one character: lower-casing must not touch the 'D'.
    EXPECT_EQ(
        "\x83"
        "D-eng",
        LowerAsciiMbcs("\x83"
                       "D-ENG",
                       &Cp932Lead));
}

TEST(StartupRules, CommandLineArgumentsDropTheProgramName) {
    const struct {
        const char* line;
        const char* arguments;
    } cases[] = {
        {"trawler.exe -eng", "-eng"},
        {"\"C:\\Program Files\\Trawler\\trawler.exe\" -demo -eng", "-demo -eng"},
        {"\"C:\\a b\\Trawler.exe\"", ""},
        {"  trawler.exe   \t-x", "-x"},
        {"trawler.exe", ""},
        {"\"unterminated -demo", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(c.arguments, CommandLineArguments(c.line));
    }
}

TEST(StartupRules, ApplicationNameIsTheFileNameWithoutExtension) {
    EXPECT_EQ("Trawler", ApplicationName("C:\\Tools\\Trawler.exe"));
    EXPECT_EQ("TrawlerDemo", ApplicationName("Z:\\tmp\\TrawlerDemo.exe"));
    EXPECT_EQ("my.trawler", ApplicationName("C:\\x.y\\my.trawler.exe"));
    EXPECT_EQ("trawler", ApplicationName("trawler"));
}

// Back and Next through the page history as the wizard's handlers use it.
TEST(PageHistory, BackFromTheSecondPageFallsOnAZeroEntry) {
    PageHistory history;
    history.Reset();
    ASSERT_EQ(64u, history.Entries().size());
    EXPECT_EQ(130, history.Push(130));  // intro -> printer selection
    EXPECT_EQ(132, history.Push(132));  // -> log details
    EXPECT_EQ(-1, history.Push(-1));    // a failed run stays and records nothing
    EXPECT_EQ(136, history.Push(136));  // -> finish
    EXPECT_EQ(132, history.Pop());      // finish -> log details
    EXPECT_EQ(130, history.Pop());      // -> printer selection
    EXPECT_EQ(0, history.Pop());        // -> the sheet's previous page: the intro
    EXPECT_EQ(64u, history.Entries().size());
    // 63 more pops reach the last entry; below that Back stays.
    for (int i = 0; i < 63; ++i) EXPECT_EQ(0, history.Pop());
    EXPECT_EQ(-1, history.Pop());
    EXPECT_EQ(1u, history.Entries().size());
}

TEST(FinishPage, FolderOfThePackage) {
    EXPECT_EQ("D:\\logs\\", FolderOfPath("D:\\logs\\No1234_20061130_1745.zlg"));
    EXPECT_EQ("C:\\", FolderOfPath("C:\\a.zlg"));
    EXPECT_EQ("", FolderOfPath("a.zlg"));
    EXPECT_EQ("C:\\" + kHyou + "\\", FolderOfPath("C:\\" + kHyou + "\\a.zlg", &Cp932Lead));
}

TEST(Profile, OnlyFourByteDwordsAreTakenAndTakenAsRead) {
    const struct {
        const char* name;
        LONG status;
        DWORD type;
        DWORD size;
        DWORD value;
        int expected;
    } cases[] = {
        {"dword", ERROR_SUCCESS, REG_DWORD, 4, 1024, 1024},
        {"zero", ERROR_SUCCESS, REG_DWORD, 4, 0, 0},
        {"negative", ERROR_SUCCESS, REG_DWORD, 4, 0xFFFFFFFFu, -1},
        {"absent", ERROR_FILE_NOT_FOUND, 0, 0, 0, 516},
        {"string", ERROR_SUCCESS, REG_SZ, 4, 0x00323135, 516},
        {"binary", ERROR_SUCCESS, REG_BINARY, 4, 7, 516},
        {"too long", ERROR_MORE_DATA, REG_QWORD, 8, 7, 516},
        {"short dword", ERROR_SUCCESS, REG_DWORD, 2, 7, 516},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, ProfileValueOrDefault(c.status, c.type, c.size, c.value, 516));
    }
    EXPECT_EQ("Software\\Halden Industries,Ltd.\\Trawler\\Trawler\\PV730Service",
              ProfileSectionKey("Halden Industries,Ltd.\\Trawler", "Trawler", "PV730Service"));
}

TEST(Profile, OnlyStringsAreTakenAsTextUpToTheirEnd) {
    const struct {
        const char* name;
        LONG status;
        DWORD type;
        std::string data;
        std::string expected;
    } cases[] = {
        {"with its NUL", ERROR_SUCCESS, REG_SZ, std::string("http://desk\0", 12), "http://desk"},
        {"without", ERROR_SUCCESS, REG_SZ, "http://desk", "http://desk"},
        {"empty", ERROR_SUCCESS, REG_SZ, std::string(1, '\0'), ""},
        {"absent", ERROR_FILE_NOT_FOUND, 0, "", "-"},
        {"too long", ERROR_MORE_DATA, REG_SZ, "", "-"},
        {"expandable", ERROR_SUCCESS, REG_EXPAND_SZ, "%DESK%", "-"},
        {"binary", ERROR_SUCCESS, REG_BINARY, "http://desk", "-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, ProfileTextOrDefault(c.status, c.type, c.data, "-"));
    }
}

TEST(PrinterSearch, NameTests) {
    EXPECT_TRUE(IsPv730Driver("Halden PV-730"));
    EXPECT_TRUE(IsPv730Driver("halden pv-730"));
    EXPECT_TRUE(IsPv730Driver("HALDEN PV-730"));
    EXPECT_FALSE(IsPv730Driver("Halden PV-730 Series"));
    EXPECT_FALSE(IsPv730Driver("Halden PV-73"));
    EXPECT_FALSE(IsPv730Driver(""));
    EXPECT_TRUE(ContainsOnCharBoundary("PV-730 FileOutput", "FileOutput", nullptr));
    EXPECT_FALSE(ContainsOnCharBoundary("PV-730 fileoutput", "FileOutput", nullptr));
    // 0x83 0x46 is one double-byte character: its trail 'F' cannot start "FileOutput".
    EXPECT_FALSE(
        ContainsOnCharBoundary("\x83"
                               "FileOutput",
                               "FileOutput", &Cp932Lead));
    EXPECT_TRUE(
        ContainsOnCharBoundary("\x83\x41"
                               "FileOutput",
                               "FileOutput", &Cp932Lead));
}

EmulatedPrinter Printer(const std::string& name, const std::string& driver, bool online = true) {
    EmulatedPrinter p;
    p.name = name;
    p.driver = driver;
    p.online = online;
    return p;
}

TEST(PrinterSearch, ListsOnlineSelectablePrintersInSpoolerOrder) {
    testing::RecordingHost host;
    DeviceDescription device = DefaultDevice();
    device.printers = {
        Printer("PV-730 B", "Halden PV-730"),
        Printer("PV-730 A", "Halden PV-730"),
        Printer("Lower driver", "halden pv-730"),
        Printer("Series driver", "Halden PV-730 Series"),
        Printer("PV-730 FileOutput", "Halden PV-730"),
        Printer("PV-730 fileoutput", "Halden PV-730"),
        Printer("PV-730 Off", "Halden PV-730", false),
        Printer("PV-730 Refusing", "Halden PV-730", false),
    };
    device.printers[7].offlineQueryFails = true;
    EmulatedPrinter nameless = Printer("", "Halden PV-730");
    nameless.hasName = false;
    device.printers.push_back(nameless);
    EmulatedSpooler spooler(device, host);

    std::vector<std::string> listed = FindOnlinePv730Printers(spooler, nullptr);
    EXPECT_EQ(
        (std::vector<std::string>{"PV-730 B", "PV-730 A", "Lower driver", "PV-730 fileoutput"}),
        listed);
    // The "FileOutput" printer and the wrong driver are never asked; each handle is closed.
    EXPECT_EQ(6u, spooler.Stats().checks);
    EXPECT_EQ(0u, spooler.OpenHandleCount());
    EXPECT_TRUE(host.messages.empty());
}

TEST(PrinterSearch, NothingListedWhenNoPrinterOrAllOffline) {
    testing::RecordingHost host;
    DeviceDescription device = DefaultDevice();
    device.printers = {Printer("PV-730", "Halden PV-730", false)};
    EmulatedSpooler spooler(device, host);
    EXPECT_TRUE(FindOnlinePv730Printers(spooler, nullptr).empty());
    spooler.SetOnline("PV-730", true);
    EXPECT_EQ(std::vector<std::string>{"PV-730"}, FindOnlinePv730Printers(spooler, nullptr));
}

// A driver that answers "HlPvCheck" with success but writes nothing.
class SilentCheckSpooler : public Spooler {
  public:
    bool EnumerateLocal(std::vector<PrinterRecord>*) override { return false; }
    bool OpenPrinterHandle(const std::string&, uint32_t access, PrinterHandle* handle) override {
        *handle = this;
        ++opens;
        return true;
    }
    bool ClosePrinterHandle(PrinterHandle) override {
        ++closes;
        return true;
    }
    bool StartDocument(PrinterHandle, const std::string&, const std::string&) override {
        return false;
    }
    bool StartPrinterPage(PrinterHandle) override { return false; }
    bool WriteToPrinter(PrinterHandle, const uint8_t*, uint32_t, uint32_t*) override {
        return false;
    }
    bool EndPrinterPage(PrinterHandle) override { return false; }
    bool EndDocument(PrinterHandle) override { return false; }
    uint32_t QueryPrinterData(PrinterHandle, const std::string& name, uint32_t* type, uint8_t*,
                              uint32_t size, uint32_t* needed) override {
        askedType = *type;
        askedSize = size;
        askedName = name;
        return status;
    }
    uint32_t LastError() override { return 0; }
    std::string ErrorText(uint32_t) override { return std::string(); }

    uint32_t status = 0;
    int opens = 0, closes = 0;
    uint32_t askedType = 0, askedSize = 0;
    std::string askedName;
};

TEST(PrinterSearch, OnlineCheckNeedsTheDriverToAnswerZero) {
    SilentCheckSpooler spooler;
    EXPECT_FALSE(IsPrinterOnline(spooler, "PV-730"));
    EXPECT_EQ("HlPvCheck", spooler.askedName);
    EXPECT_EQ(3u, spooler.askedType);
    EXPECT_EQ(4u, spooler.askedSize);
    EXPECT_EQ(1, spooler.opens);
    EXPECT_EQ(1, spooler.closes);
    // Enumeration failure: nothing listed, nothing opened.
    EXPECT_TRUE(FindOnlinePv730Printers(spooler, nullptr).empty());
    EXPECT_EQ(1, spooler.opens);
}

}  // namespace
}  // namespace trawler
