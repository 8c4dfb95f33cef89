// trawler-cli collect and printers: arguments, exit codes and the package they leave.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/collect_command.h"
#include "support/package_contents.h"
#include "unit/output_test_support.h"

namespace trawler {
namespace {

using testing::ScratchFolder;

std::vector<std::string> PackagesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// The emulated printer with no waits, so a whole run takes no real time.
std::vector<std::string> Quick(std::vector<std::string> args) {
    for (const char* s :
         {"--setting", "ReadWaitMillisec=0", "--setting", "WaitAfterSendMillisec=0"}) {
        args.push_back(s);
    }
    return args;
}

TEST(CliCollect, BadArgumentsAreAUsageErrorAndWriteNothing) {
    ScratchFolder folder;
    struct Case {
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"no folder", {"--simulate"}},
        {"unknown option", {"--folder", folder.Folder(), "--simulate", "--fast"}},
        {"option without its value", {"--simulate", "--folder"}},
        {"unknown setting", {"--folder", folder.Folder(), "--simulate", "--setting", "Speed=1"}},
        {"setting that is not a number",
         {"--folder", folder.Folder(), "--simulate", "--setting", "OneReadByte=lots"}},
        {"device file that does not exist",
         {"--folder", folder.Folder(), "--device", folder.Path("none.json")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(2, RunCollect(c.args));
        EXPECT_TRUE(PackagesIn(folder.Folder()).empty());
    }
}

TEST(CliCollect, ACollectionFromTheEmulatedPrinterSavesOneValidPackage) {
    ScratchFolder folder;
    ASSERT_EQ(0, RunCollect(Quick({"--folder", folder.Folder(), "--simulate", "--customer", "ACME",
                                   "--comment", "fuser noise"})));
    std::vector<std::string> names = PackagesIn(folder.Folder());
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(0u, names[0].find("No1234_"));
    testing::PackageContents p = testing::ReadPackage(folder.Path(names[0]));
    ASSERT_EQ("", p.error);
    EXPECT_EQ("ACME", std::string(p.Find("Comm")->data.begin(), p.Find("Comm")->data.end()));
    EXPECT_NE(nullptr, p.Find("LOGD"));
}

TEST(CliCollect, DemonstrationModeNeedsNoPrinterAndAFailedRunExitsOne) {
    ScratchFolder folder;
    EXPECT_EQ(0, RunCollect({"--folder", folder.Folder(), "--demo"}));
    ASSERT_EQ(1u, PackagesIn(folder.Folder()).size());
    testing::PackageContents p = testing::ReadPackage(folder.Path(PackagesIn(folder.Folder())[0]));
    EXPECT_EQ((std::vector<std::string>{"PCDT", "ENDF"}), p.Tags());

    // A printer that is not there: the run fails and leaves nothing new.
    EXPECT_EQ(1, RunCollect(Quick(
                     {"--folder", folder.Folder(), "--simulate", "--printer", "No Such Printer"})));
    EXPECT_EQ(1u, PackagesIn(folder.Folder()).size());
}

TEST(CliPrinters, ListsTheEmulatedPrinterAndRejectsUnknownArguments) {
    EXPECT_EQ(0, RunPrinters({"--simulate"}));
    EXPECT_EQ(2, RunPrinters({"--everything"}));
}

}  // namespace
}  // namespace trawler
