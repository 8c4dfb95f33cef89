// Whole runs whose every output byte is pinned: the package, the RAW jobs the printer received
// and the boxes shown. The digests were taken from the code before the PV-730's wire code moved
// into its own folder; a change to any of them changes what technicians send or printers see,
// and must be deliberate (a new package format, a new frame) and named in its commit.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sha256.h"
#include "support/reliability_harness.h"

namespace trawler::testing {
namespace {

std::string DigestOf(const std::vector<uint8_t>& bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.FinishHex();
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct GoldenRun {
    uint64_t logSize;
    const char* package;
    const char* jobs;
};

// Every run sends the same frames, whatever the log's size.
constexpr char kJobs[] = "cb9242cdf931fdf7833875ec5badb37ac5ed0bc52cbe74f13cca22de7a2bff28";

class GoldenPackage : public ::testing::TestWithParam<GoldenRun> {};

TEST_P(GoldenPackage, EveryByteSentAndSavedIsAsBefore) {
    const GoldenRun& golden = GetParam();
    ReliabilityRun<> f(ReliabilityDevice("", golden.logSize), DefaultLinkSettings());
    ASSERT_TRUE(f.Run().Saved());
    EXPECT_TRUE(f.host.messages.empty());

    std::vector<std::string> files = FilesIn(f.folder.Folder());
    ASSERT_EQ(1u, files.size());
    EXPECT_EQ("No1234_20061130_1745.zlg", files[0]);
    EXPECT_EQ(golden.package, DigestOf(FileBytes(f.folder.Folder() + "/" + files[0])));

    std::vector<uint8_t> jobs;
    for (const auto& job : f.spooler.Jobs())
        jobs.insert(jobs.end(), job.bytes.begin(), job.bytes.end());
    EXPECT_EQ(golden.jobs, DigestOf(jobs));
}

INSTANTIATE_TEST_SUITE_P(
    Logs, GoldenPackage,
    ::testing::Values(
        GoldenRun{0, "f27b7c87e1938ffec71b866ff16441956799a756b371965bafc8b6feb6b2c94a", kJobs},
        GoldenRun{1009, "bd5046db544221ade96dcb29beffbf0878a0d7ecbbef0f5a6d09feb5f6a973ab", kJobs},
        GoldenRun{300000, "a4d96218f0e582727acfb64279e63ea4a467366150dcea438ea2a46cb9d2d957",
                  kJobs}),
    [](const auto& info) { return "Log" + std::to_string(info.param.logSize); });

}  // namespace
}  // namespace trawler::testing
