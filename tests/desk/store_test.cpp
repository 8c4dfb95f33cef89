// The store's interface, run against the store the tests are given (desk_harness.h): the
// folder, or the bucket of tests/desk/with-s3. Packages committed, read back, listed and
// removed in any mix leave exactly the others, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "desk_harness.h"

namespace trawler::testing {
namespace {

std::string Bytes(const desk::StoredCopy& copy) {
    return BytesText(ReadAll(copy.Path()));
}

TEST(StoreTest, KeepsReadsListsAndRemovesEachPackageAlone) {
    ScratchFolder scratch;
    const std::string data = scratch.Path("data");
    std::string error;
    std::unique_ptr<desk::Store> store = desk::OpenStore(TestBackends::Store(data), data, &error);
    ASSERT_TRUE(store && store->Prepare(&error)) << error;

    std::vector<std::string> packages;
    for (int i = 0; i < 5; ++i) packages.push_back("package " + std::to_string(i) + "\n");
    std::set<std::string> kept;
    auto listed = [&] {
        std::vector<std::string> shas;
        EXPECT_TRUE(store->List(&shas, &error)) << error;
        return std::set<std::string>(shas.begin(), shas.end());
    };
    for (const std::string& p : packages) {
        desk::TempFile file;
        ASSERT_TRUE(store->CreateTemp(&file, &error)) << error;
        ASSERT_TRUE(file.Write(reinterpret_cast<const uint8_t*>(p.data()), p.size()));
        ASSERT_TRUE(file.SyncAndClose());
        ASSERT_TRUE(store->Commit(&file, Sha256Hex(p), &error)) << error;
        kept.insert(Sha256Hex(p));
    }
    EXPECT_EQ(listed(), kept);
    // Removed in an order unlike the one they came in; one removed twice, as a purge run
    // again after an interruption does.
    for (size_t i : {3u, 0u, 3u, 4u}) {
        SCOPED_TRACE("removing package " + std::to_string(i));
        const std::string sha = Sha256Hex(packages[i]);
        ASSERT_TRUE(store->Remove(sha, &error)) << error;
        kept.erase(sha);
        EXPECT_EQ(listed(), kept);
        desk::StoredCopy gone;
        EXPECT_FALSE(store->Fetch(sha, &gone, &error));
        for (size_t j = 0; j < packages.size(); ++j) {
            if (kept.count(Sha256Hex(packages[j])) == 0) continue;
            desk::StoredCopy copy;
            ASSERT_TRUE(store->Fetch(Sha256Hex(packages[j]), &copy, &error)) << error;
            EXPECT_EQ(Bytes(copy), packages[j]);
        }
    }
    // Nothing is left behind in the temporary folder by uploads or by reads.
    EXPECT_EQ(store->SweepTemporaryFiles(), 0);
    EXPECT_TRUE(FilesUnder(data + "/store/tmp").empty());
}

// Two servers on one data folder (which they must share without --store): the one starting
// sweeps the temporary folder while the other receives an upload and reads a stored package.
// Only the file a crash left goes; the other server's upload is kept and its copy stays whole.
TEST(StoreTest, SweepOfASharedFolderLeavesWhatAnotherServerUses) {
    ScratchFolder scratch;
    const std::string data = scratch.Path("data");
    std::string error;
    std::unique_ptr<desk::Store> running = desk::OpenStore(TestBackends::Store(data), data, &error);
    ASSERT_TRUE(running && running->Prepare(&error)) << error;
    std::unique_ptr<desk::Store> starting =
        desk::OpenStore(TestBackends::Store(data), data, &error);
    ASSERT_TRUE(starting) << error;

    const std::string stored = "stored package\n", received = "package under way\n";
    auto keep = [&](desk::TempFile* file, const std::string& bytes) {
        EXPECT_TRUE(file->Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        EXPECT_TRUE(file->SyncAndClose());
        EXPECT_TRUE(running->Commit(file, Sha256Hex(bytes), &error)) << error;
    };
    {
        desk::TempFile file;
        ASSERT_TRUE(running->CreateTemp(&file, &error)) << error;
        keep(&file, stored);
    }
    desk::StoredCopy copy;
    ASSERT_TRUE(running->Fetch(Sha256Hex(stored), &copy, &error)) << error;
    desk::TempFile underWay;
    ASSERT_TRUE(running->CreateTemp(&underWay, &error)) << error;
    WriteAll(data + "/store/tmp/upload-crash1",
             std::vector<uint8_t>{1, 2, 3});  // a killed server's

    EXPECT_EQ(starting->SweepTemporaryFiles(), 1);
    EXPECT_EQ(Bytes(copy), stored);
    keep(&underWay, received);
    desk::StoredCopy back;
    ASSERT_TRUE(starting->Fetch(Sha256Hex(received), &back, &error)) << error;
    EXPECT_EQ(Bytes(back), received);
}

}  // namespace
}  // namespace trawler::testing
