// trawler-cli redact: a redacted recording replays as the original did, the same key gives the
// same output, and every refusal leaves the folder as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/collect_command.h"
#include "cli/redact_command.h"
#include "output/package_reader.h"
#include "unit/output_test_support.h"
#include "unit/redact_test_support.h"

namespace trawler {
namespace {

using testing::Bytes;
using testing::CommandResult;
using testing::ReadAll;
using testing::RunCommand;
using testing::ScratchFolder;
using testing::ToBytes;
using testing::WriteAll;

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

CommandResult Collect(const std::string& folder, const std::string& device,
                      std::vector<std::string> more = {}) {
    std::filesystem::create_directory(folder);
    std::vector<std::string> args = {"--folder",   folder,
                                     "--device",   device,
                                     "--customer", "Hotel Aurora",
                                     "--comment",  "fuser noise",
                                     "--setting",  "ReadWaitMillisec=0",
                                     "--setting",  "WaitAfterSendMillisec=0"};
    args.insert(args.end(), more.begin(), more.end());
    return RunCommand([](const std::vector<std::string>& a, std::FILE* out,
                         std::FILE* err) { return RunCollect(a, out, err); },
                      args);
}

// Each chunk of the package in the folder, as the package reader hands it over.
std::vector<std::pair<std::string, Bytes>> ChunksOfPackageIn(const std::string& folder) {
    testing::ChunkReader sink;
    std::vector<std::string> files = Entries(folder);
    EXPECT_EQ(files.size(), 1u);
    PackageReport report;
    if (files.size() == 1) {
        EXPECT_TRUE(ReadPackage(files[0], &report, &sink));
    }
    return sink.chunks;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

TEST(CliRedact, ARedactedRecordingReplaysToTheSameMessagesAndPackage) {
    struct Case {
        const char* name;
        std::string device;
        int exitCode;
        // How each name is shown in the messages, and the printer name it stands for.
        std::vector<std::pair<std::string, std::string>> shown;
    };
    // Collect takes the first printer of the list's order that the wizard would offer: here
    // "Hotel Aurora Lobby", after a FileOutput queue and before "Zeta Lab".
    const std::string printers =
        R"("printers": [{"name": "Zeta Lab"}, {"name": "Hotel Aurora FileOutput"},
                        {"name": "Hotel Aurora Lobby"},
                        {"name": "Aurora Office", "driver": "Generic Text"}],
           "log": {"size": 5000})";
    const Case cases[] = {
        {"saved", "{" + printers + "}", 0, {}},
        {"the driver names the printer in its refusal",
         "{" + printers + R"(, "error_texts": {"5": "Access to HOTEL AURORA LOBBY is denied."},
             "faults": [{"kind": "open-refused", "printer": "Hotel Aurora Lobby", "skip": 1}]})",
         1,
         {{"HOTEL AURORA LOBBY", "Hotel Aurora Lobby"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder scratch;
        ASSERT_TRUE(scratch.Ok());
        WriteAll(scratch.Path("device.json"), ToBytes(c.device));
        const std::string recording = scratch.Path("field.json");
        ASSERT_EQ(
            Collect(scratch.Path("run"), scratch.Path("device.json"), {"--record", recording}).code,
            c.exitCode);
        const std::string redacted = scratch.Path("redacted");
        std::filesystem::create_directory(redacted);
        const std::string out = redacted + "/case.json";
        // Under this key the digests alone would sort "Zeta Lab" before the lobby.
        WriteAll(scratch.Path("key"), ToBytes(std::string(64, '1')));
        CommandResult r =
            RunCommand(RunRedact, {recording, "--out", out, "--map", scratch.Path("map"),
                                   "--key-file", scratch.Path("key")});
        ASSERT_EQ(r.code, kRedactWritten) << r.err;
        for (const std::string& file : Entries(redacted)) {
            const Bytes bytes = ReadAll(file);
            const std::string text = Lower(std::string(bytes.begin(), bytes.end()));
            EXPECT_EQ(text.find("aurora"), std::string::npos) << file;
            EXPECT_EQ(text.find("zeta"), std::string::npos) << file;
        }

        CommandResult original = Collect(scratch.Path("a"), recording);
        CommandResult replayed = Collect(scratch.Path("b"), out);
        EXPECT_EQ(replayed.code, c.exitCode);
        EXPECT_EQ(original.code, c.exitCode);
        const Bytes map = ReadAll(scratch.Path("map"));
        // The digest as an independent HMAC-SHA-256 computes it, after the rank in list order.
        EXPECT_NE(std::string(map.begin(), map.end()).find("printer-4-3104fe74aed0\tZeta Lab\t"),
                  std::string::npos);
        std::string expected = original.err;
        for (const auto& [text, name] : c.shown) {
            // The map's line: placeholder, the name as shown, its bytes in hex.
            const std::string mapText(map.begin(), map.end());
            const size_t at = mapText.find("\t" + name + "\t");
            ASSERT_NE(at, std::string::npos) << mapText;
            const std::string placeholder =
                mapText.substr(mapText.rfind('\n', at) + 1, at - mapText.rfind('\n', at) - 1);
            ASSERT_NE(expected.find(text), std::string::npos);
            expected.replace(expected.find(text), text.size(), placeholder);
        }
        EXPECT_EQ(replayed.err, expected);
        if (c.exitCode == 0) {
            EXPECT_EQ(ChunksOfPackageIn(scratch.Path("b")), ChunksOfPackageIn(scratch.Path("a")));
        }
    }
}

TEST(CliRedact, TheSameKeyGivesTheSamePackageAndTheMapNamesEachText) {
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.Ok());
    WriteAll(scratch.Path("device.json"), ToBytes(R"({"log": {"size": 3000}})"));
    ASSERT_EQ(Collect(scratch.Path("run"), scratch.Path("device.json")).code, 0);
    const std::string package = Entries(scratch.Path("run"))[0];
    CommandResult first = RunCommand(RunRedact, {package, "--out", scratch.Path("1.zlg")});
    ASSERT_EQ(first.code, kRedactWritten) << first.err;
    EXPECT_EQ(first.out, scratch.Path("1.zlg") + "\n" + scratch.Path("1.zlg.key") + "\n");
    CommandResult second =
        RunCommand(RunRedact, {package, "--out", scratch.Path("2.zlg"), "--key-file",
                               scratch.Path("1.zlg.key"), "--map", scratch.Path("2.map")});
    ASSERT_EQ(second.code, kRedactWritten) << second.err;
    EXPECT_EQ(ReadAll(scratch.Path("2.zlg")), ReadAll(scratch.Path("1.zlg")));
    EXPECT_NE(ReadAll(scratch.Path("1.zlg")), ReadAll(package));
    Bytes map = ReadAll(scratch.Path("2.map"));
    const std::string text(map.begin(), map.end());
    EXPECT_NE(text.find("\tHotel Aurora\t486f74656c204175726f7261\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\tfuser noise\t"), std::string::npos) << text;
    EXPECT_EQ(text.rfind("comment-", 0), 0u) << text;  // "Cust" comes first in a package
}

TEST(CliRedact, ARefusedInputLeavesTheFolderAsItWas) {
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.Ok());
    WriteAll(scratch.Path("device.json"), ToBytes(R"({"log": {"size": 3000}})"));
    ASSERT_EQ(Collect(scratch.Path("run"), scratch.Path("device.json"),
                      {"--record", scratch.Path("rec.json")})
                  .code,
              0);
    const std::string good = Entries(scratch.Path("run"))[0];
    Bytes bytes = ReadAll(good);
    // The redacted recording's log would go to taken.log_data.bin.
    WriteAll(scratch.Path("taken.log_data.bin"), ToBytes("someone's"));
    WriteAll(scratch.Path("cut.zlg"), Bytes(bytes.begin(), bytes.end() - 9));
    WriteAll(scratch.Path("notes.txt"), ToBytes("customer list"));
    WriteAll(scratch.Path("exists"), ToBytes("mine"));
    WriteAll(scratch.Path("short.key"), ToBytes("0123"));
    WriteAll(scratch.Path("fresh.zlg.key"), ToBytes(std::string(64, '0')));
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err;
    };
    const std::string out = scratch.Path("out.zlg");
    const Case cases[] = {
        {{good, "--out", scratch.Path("exists")}, 2, "exists; redact never replaces a file"},
        {{good, "--out", out, "--map", scratch.Path("exists")}, 2, "exists;"},
        // Without --key-file the new key would go to fresh.zlg.key, which is someone's.
        {{good, "--out", scratch.Path("fresh.zlg")}, 2, "give it as --key-file"},
        {{good, "--out", out, "--key-file", scratch.Path("none.key")}, 2, "cannot read the key"},
        {{good, "--out", out, "--key-file", scratch.Path("short.key")},
         2,
         "is not a redaction key"},
        {{scratch.Path("none.zlg"), "--out", out}, 2, "cannot open"},
        {{scratch.Path("rec.json"), "--out", scratch.Path("taken.json")},
         2,
         "taken.log_data.bin exists"},
        {{scratch.Path("cut.zlg"), "--out", out}, 1, "[truncated-gzip]"},
        {{scratch.Path("notes.txt"), "--out", out}, 1, "neither a package nor a recording"},
        {{good, "--out"}, 2, "usage:"},
        {{good, "--out", out, "--map", out}, 2, "names of their own"},
        {{good, "--out", out, "--keyfile", "k"}, 2, "unknown argument \"--keyfile\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.err);
        const std::vector<std::string> before = Entries(scratch.Folder());
        CommandResult r = RunCommand(RunRedact, c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(Entries(scratch.Folder()), before);
    }
    EXPECT_EQ(ReadAll(scratch.Path("exists")), ToBytes("mine"));
    EXPECT_EQ(ReadAll(good), bytes);
}

}  // namespace
}  // namespace trawler
