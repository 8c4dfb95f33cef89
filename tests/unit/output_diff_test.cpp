// The diff of two collections: packages collected from emulated printers that differ in known
// ways, compared with what the diff reports; and the reader run a step at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/diff_command.h"
#include "cli/inspect_command.h"
#include "output/package_diff.h"
#include "output/package_reader.h"
#include "output_test_support.h"
#include "platform/sha256.h"
#include "sim/device_description.h"
#include "support/reliability_harness.h"

namespace trawler {
namespace {

using testing::Bytes;
using testing::ReadAll;
using testing::ReliabilityDevice;
using testing::ReliabilityRun;
using testing::WriteAll;

// The digest of the file's bytes, taken whole (the reader takes them block by block).
std::string Sha256Of(const std::string& path) {
    Bytes bytes = ReadAll(path);
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.FinishHex();
}

// A device with a given log and the default EEPROM blocks.
DeviceDescription WithLog(const Bytes& log) {
    DeviceDescription d = ReliabilityDevice("", 0);
    d.log.fromBytes = true;
    d.log.bytes = log;
    d.log.size = log.size();
    return d;
}

class DiffTest : public ::testing::Test {
  protected:
    // Collects from the device; the package stays until the test ends.
    std::string Collect(const DeviceDescription& device,
                        const std::function<void(ReliabilityRun<>&)>& prepare = {}) {
        m_runs.push_back(std::make_unique<ReliabilityRun<>>(device, DefaultLinkSettings()));
        ReliabilityRun<>& run = *m_runs.back();
        run.run.m_separator = '/';
        if (prepare) prepare(run);
        EXPECT_TRUE(run.Run().Saved());
        return run.session.m_strSavedPath;
    }

    std::vector<std::unique_ptr<ReliabilityRun<>>> m_runs;
    testing::ScratchFolder m_scratch;
};

int RunDiffCommand(const std::vector<std::string>& args, std::string* out, std::string* err) {
    testing::CommandResult result = testing::RunCommand(RunDiff, args);
    *out = result.out;
    *err = result.err;
    return result.code;
}

// The report a desk user sees for the commonest change: one EEPROM byte.
TEST_F(DiffTest, OneEepromByteIsTheOnlyChange) {
    DeviceDescription device = WithLog(Bytes(5000, 0x11));
    std::string a = Collect(device);
    std::string again = Collect(device);
    device.eeprom[3].data[100] ^= 0x5A;
    std::string b = Collect(device);
    const uint8_t before = device.eeprom[3].data[100] ^ 0x5A, after = device.eeprom[3].data[100];

    std::string out, err;
    EXPECT_EQ(RunDiffCommand({a, again}, &out, &err), kDiffSame) << out << err;
    EXPECT_NE(out.find("Result      the same\n"), std::string::npos) << out;

    ASSERT_EQ(RunDiffCommand({a, b}, &out, &err), kDiffDifferent) << err;
    char range[64];
    std::snprintf(range, sizeof range, "              at 100, 1 byte: %02X -> %02X\n", before,
                  after);
    const std::string expected =
        "Same        unit_number, firmware_version, clock, log_info, pc, "
        "customer, comment\n"
        "EEPROM      B004 (0x8004) 1 byte differs\n" +
        std::string(range) +
        "EEPROM      9 of 10 blocks the same\n"
        "Log         A 5000 bytes, B 5000 bytes; the first 5000 alike; "
        "the same\n"
        "Result      different\n";
    EXPECT_EQ(out.substr(out.find("Same ")), expected);

    ASSERT_EQ(RunDiffCommand({"--json", a, b}, &out, &err), kDiffDifferent);
    nlohmann::json j = nlohmann::json::parse(out);
    EXPECT_EQ(j["same"], false);
    EXPECT_EQ(j["b"]["sha256"], Sha256Of(b));
    for (const auto& field : j["fields"]) EXPECT_EQ(field["changed"], false) << field;
    for (const auto& block : j["eeprom"]) {
        SCOPED_TRACE(block["tag"].get<std::string>());
        bool hit = block["tag"] == "B004";
        EXPECT_EQ(block["changed"], hit);
        if (!hit) continue;
        ASSERT_EQ(block["ranges"].size(), 1u);
        EXPECT_EQ(block["ranges"][0]["offset"], 100);
        EXPECT_EQ(block["ranges"][0]["length"], 1);
        EXPECT_EQ(block["bytes_changed"], 1);
    }
    EXPECT_EQ(j["log"]["same"], true);
}

// Every EEPROM block changed at random (bytes flipped singly and in runs, blocks shortened
// and lengthened): the ranges are exactly the maximal runs of differing bytes, each shown with
// its bytes, and A with the ranges applied gives B.
TEST_F(DiffTest, RangesAreExactlyTheRunsOfDifferingBytes) {
    std::mt19937 random(7);
    for (int pair = 0; pair < 12; ++pair) {
        SCOPED_TRACE(pair);
        DeviceDescription da = WithLog(Bytes(64, 1));
        for (EepromBlock& block : da.eeprom) {
            block.data.resize(32 + random() % 300);
            for (uint8_t& byte : block.data) byte = static_cast<uint8_t>(random());
        }
        DeviceDescription db = da;
        for (EepromBlock& block : db.eeprom) {
            int changes = static_cast<int>(random() % (pair < 6 ? 4 : 40));
            for (int c = 0; c < changes; ++c) {
                size_t at = random() % block.data.size();
                size_t run = 1 + (random() % 3 == 0 ? random() % 50 : 0);
                for (size_t i = at; i < std::min(at + run, block.data.size()); ++i) {
                    block.data[i] = static_cast<uint8_t>(block.data[i] + 1 + random() % 255);
                }
            }
            if (random() % 4 == 0) block.data.resize(32 + random() % 300, 0xEE);
        }
        PackageDiff diff;
        std::string which;
        ASSERT_TRUE(DiffPackages(Collect(da), Collect(db), &diff, &which)) << which;
        ASSERT_EQ(diff.blocks.size(), da.eeprom.size());
        for (size_t k = 0; k < da.eeprom.size(); ++k) {
            const Bytes& a = da.eeprom[k].data;
            const Bytes& b = db.eeprom[k].data;
            const BlockChange& change = diff.blocks[k];
            SCOPED_TRACE(change.tag);
            // The runs by brute force.
            std::vector<std::pair<size_t, size_t>> runs;
            uint64_t differing = 0;
            for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
                bool differs = i >= a.size() || i >= b.size() || a[i] != b[i];
                if (!differs) continue;
                ++differing;
                if (!runs.empty() && runs.back().second == i) {
                    ++runs.back().second;
                } else {
                    runs.push_back({i, i + 1});
                }
            }
            EXPECT_EQ(change.bytesChanged, differing);
            EXPECT_EQ(change.changed, differing > 0 || a.size() != b.size());
            const size_t listed = std::min(runs.size(), kDiffMaxRanges);
            ASSERT_EQ(change.ranges.size(), listed);
            EXPECT_EQ(change.rangesLeftOut, runs.size() - listed);
            Bytes rebuilt = a;
            rebuilt.resize(b.size());
            for (size_t r = 0; r < listed; ++r) {
                const ByteRange& range = change.ranges[r];
                ASSERT_EQ(range.offset, runs[r].first);
                ASSERT_EQ(range.length, runs[r].second - runs[r].first);
                size_t shownA =
                    std::min<size_t>({range.length, kDiffMaxRangeBytes,
                                      a.size() > range.offset ? a.size() - range.offset : 0});
                EXPECT_TRUE(std::equal(range.before.begin(), range.before.end(),
                                       a.begin() + range.offset) &&
                            range.before.size() == shownA);
                for (size_t i = 0; i < range.after.size(); ++i) {
                    rebuilt[range.offset + i] = range.after[i];
                }
            }
            if (runs.size() <= kDiffMaxRanges &&
                std::all_of(runs.begin(), runs.end(), [](const auto& run) {
                    return run.second - run.first <= kDiffMaxRangeBytes;
                })) {
                EXPECT_EQ(rebuilt, b);
            }
        }
    }
}

// Logs cut from one stream at lengths around the reader's 64 KiB steps and the 4-byte padding,
// some with one byte changed: for every ordered pair, the common prefix, "B continues A" and
// "the same" are what the logs themselves say. No byte of the stream is zero, so the padding
// can be told from the log.
TEST_F(DiffTest, LogRelationsHoldForEveryPair) {
    std::mt19937 random(11);
    Bytes stream(200003);
    for (uint8_t& byte : stream) byte = static_cast<uint8_t>(1 + random() % 255);
    struct Log {
        Bytes bytes;
        std::string path;
    };
    std::vector<Log> logs;
    for (size_t length : {size_t{0}, size_t{1}, size_t{1009}, size_t{65535}, size_t{65536},
                          size_t{65537}, size_t{131074}, size_t{200003}}) {
        logs.push_back({Bytes(stream.begin(), stream.begin() + length), ""});
    }
    for (size_t at : {size_t{0}, size_t{65536}, size_t{199999}}) {
        Bytes changed = stream;
        changed[at] = static_cast<uint8_t>(changed[at] % 255 + 1);
        logs.push_back({changed, ""});
    }
    for (Log& log : logs) log.path = Collect(WithLog(log.bytes));
    for (const Log& a : logs) {
        for (const Log& b : logs) {
            SCOPED_TRACE(std::to_string(a.bytes.size()) + " against " +
                         std::to_string(b.bytes.size()));
            PackageDiff diff;
            std::string which;
            ASSERT_TRUE(DiffPackages(a.path, b.path, &diff, &which)) << which;
            Bytes paddedA = a.bytes, paddedB = b.bytes;
            paddedA.resize((a.bytes.size() + 3) / 4 * 4);
            paddedB.resize((b.bytes.size() + 3) / 4 * 4);
            const size_t shorter = std::min(paddedA.size(), paddedB.size());
            const size_t common =
                std::mismatch(paddedA.begin(), paddedA.begin() + shorter, paddedB.begin()).first -
                paddedA.begin();
            const bool continues = b.bytes.size() >= a.bytes.size() &&
                                   std::equal(a.bytes.begin(), a.bytes.end(), b.bytes.begin());
            EXPECT_EQ(diff.log.commonPrefix, common);
            EXPECT_EQ(diff.log.continues, continues);
            EXPECT_EQ(diff.log.same, a.bytes == b.bytes);
            EXPECT_EQ(diff.Same(), a.bytes == b.bytes);
        }
    }
}

TEST_F(DiffTest, ADamagedOrMissingPackageIsAnErrorNamingIt) {
    std::string good = Collect(WithLog(Bytes(3000, 7)));
    Bytes bytes = ReadAll(good);
    bytes.resize(bytes.size() - 1);
    std::string cut = m_scratch.Path("cut.zlg");
    WriteAll(cut, bytes);
    std::string out, err;
    EXPECT_EQ(RunDiffCommand({good, cut}, &out, &err), kDiffError);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err.rfind("trawler-cli diff: " + cut + ": ", 0), 0u) << err;
    EXPECT_NE(err.find("[truncated-gzip]"), std::string::npos) << err;
    EXPECT_EQ(RunDiffCommand({m_scratch.Path("none.zlg"), good}, &out, &err), kDiffError);
    EXPECT_NE(err.find("none.zlg"), std::string::npos) << err;
    EXPECT_EQ(RunDiffCommand({good}, &out, &err), kDiffError);
    EXPECT_EQ(RunDiffCommand({good, good, good}, &out, &err), kDiffError);
}

// Every value diff --json shares with inspect --json is the inspect report's own: each side's
// file, digest, verdict and error, every field, each block's ID, second field and size, the
// log lengths. Over every ordered pair of packages that differ in every field or lack them, are
// damaged or missing; a damaged or missing side still gives one object on stdout, naming it.
TEST_F(DiffTest, SharedValuesAreThoseOfTheInspectReport) {
    const DeviceDescription base = WithLog(Bytes(3000, 7));
    DeviceDescription other = WithLog(Bytes(4000, 9));
    ASSERT_TRUE(SetUnitNumber(&other, 98765));
    other.version = {3, 0, 0, 1};
    other.clock[7] ^= 0x15;
    other.logInfo[0] = 0x4C;
    other.eeprom[1].second = 7;
    other.eeprom[2].data.resize(40);
    const std::string good = Collect(base);
    std::vector<std::string> paths = {
        good,
        Collect(other,
                [](ReliabilityRun<>& run) {
                    run.run.m_strCustomer = "\x93\x8C\x8B\x9E";  // Tokyo in code page 932
                    run.run.m_strComment = "two\nlines";
                }),
        Collect(base, [](ReliabilityRun<>& run) { run.session.m_bDemo = true; }),
        m_scratch.Path("cut.zlg"),
        m_scratch.Path("missing.zlg"),
    };
    Bytes cut = ReadAll(good);
    cut.resize(cut.size() / 2);
    WriteAll(paths[3], cut);

    auto inspect = [](const std::string& path) {
        std::string out = testing::RunCommand(RunInspect, {"--json", path}).out;
        return nlohmann::json::parse(out);
    };
    for (const std::string& pathA : paths) {
        for (const std::string& pathB : paths) {
            SCOPED_TRACE(pathA + " against " + pathB);
            const nlohmann::json reports[2] = {inspect(pathA), inspect(pathB)};
            testing::CommandResult diff = testing::RunCommand(RunDiff, {"--json", pathA, pathB});
            ASSERT_EQ(std::count(diff.out.begin(), diff.out.end(), '\n'), 1) << diff.out;
            const nlohmann::json j = nlohmann::json::parse(diff.out);
            const char* sides[2] = {"a", "b"};
            for (int s = 0; s < 2; ++s) {
                for (const auto& [key, value] : j[sides[s]].items()) {
                    EXPECT_EQ(value, reports[s][key]) << sides[s] << "." << key;
                }
            }
            const bool validA = reports[0]["valid"], validB = reports[1]["valid"];
            if (!validA || !validB) {
                EXPECT_EQ(diff.code, kDiffError);
                EXPECT_EQ(j["failed"], validA ? "b" : "a");
                EXPECT_FALSE(j.contains("fields")) << diff.out;
                continue;
            }
            EXPECT_NE(diff.code, kDiffError);
            for (const auto& field : j["fields"]) {
                const std::string name = field["name"];
                for (int s = 0; s < 2; ++s) {
                    const nlohmann::json& report = reports[s];
                    const nlohmann::json& want =
                        report.contains(name) ? report[name] : report["texts"][name];
                    EXPECT_EQ(field[sides[s]], want) << name << " of " << sides[s];
                }
            }
            for (const auto& block : j["eeprom"]) {
                for (int s = 0; s < 2; ++s) {
                    const std::string side = sides[s];
                    const nlohmann::json* entry = nullptr;
                    for (const auto& e : reports[s]["eeprom"]) {
                        if (e["tag"] == block["tag"]) entry = &e;
                    }
                    ASSERT_EQ(block["in_" + side], entry != nullptr) << block["tag"];
                    if (entry == nullptr) continue;
                    EXPECT_EQ(block["block_id"], (*entry)["block_id"]);
                    EXPECT_EQ(block["second_" + side], (*entry)["second_field"]);
                    EXPECT_EQ(block["size_" + side], (*entry)["data_size"]);
                }
            }
            EXPECT_EQ(j["log"]["length_a"], reports[0]["log_length"]);
            EXPECT_EQ(j["log"]["length_b"], reports[1]["log_length"]);
        }
    }
}

// The report's digest is that of every byte of the file, however early the damage stopped
// the reading.
TEST_F(DiffTest, TheDigestCoversTheWholeFileHoweverDamaged) {
    // Larger than the reader's 64 KiB blocks: the damage is found in the first one.
    Bytes log(200000);
    std::mt19937 random(5);
    for (uint8_t& byte : log) byte = static_cast<uint8_t>(random());
    const Bytes good = ReadAll(Collect(WithLog(log)));
    ASSERT_GT(good.size(), 3u * 65536);
    const std::vector<std::pair<const char*, std::function<void(Bytes*)>>> damage = {
        {"valid", [](Bytes*) {}},
        {"bad-magic", [](Bytes* p) { (*p)[0] = 'X'; }},
        {"bad-compressed-data", [](Bytes* p) { (*p)[18] = 0xFF; }},  // block type 3
        {"truncated-gzip", [](Bytes* p) { p->resize(p->size() / 2); }},
        {"data-after-gzip", [](Bytes* p) { p->insert(p->end(), 100000, 'z'); }},
    };
    for (const auto& [kind, apply] : damage) {
        SCOPED_TRACE(kind);
        Bytes bytes = good;
        apply(&bytes);
        std::string path = m_scratch.Path(std::string(kind) + ".zlg");
        WriteAll(path, bytes);
        PackageReport report;
        ReadPackage(path, &report);
        EXPECT_EQ(report.valid ? "valid" : report.error.kind, std::string(kind));
        EXPECT_EQ(report.sha256, Sha256Of(path));
    }
}

}  // namespace
}  // namespace trawler
