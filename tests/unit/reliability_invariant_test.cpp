// The collection's promise under random devices and random faults, seeded and repeatable:
// a failed run leaves nothing, a saved package holds exactly what the printer holds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "support/collection_invariant.h"

namespace trawler {
namespace {

// Cases per run: TRAWLER_INVARIANT_CASES, else enough for a minute or so of a CI run.
uint32_t CaseCount() {
    if (const char* n = std::getenv("TRAWLER_INVARIANT_CASES")) return uint32_t(std::atol(n));
#if defined(_WIN32)
    return 300;  // the same code as natively; Wine's file calls make each case slower
#elif defined(TRAWLER_SANITIZED)
    return 4000;
#else
    return 20000;
#endif
}

TEST(Invariant, EveryCollectionFailsCleanlyOrSavesExactlyWhatThePrinterHolds) {
    const std::string folder = testing::InvariantScratchFolder();
    ASSERT_FALSE(folder.empty());
    const uint32_t cases = CaseCount();
    uint32_t held = 0, strong = 0, saved = 0, savedStrong = 0;
    for (uint32_t seed = 1; seed <= cases; ++seed) {
        testing::Choices choices(seed);
        testing::InvariantCase k = testing::MakeInvariantCase(choices);
        testing::InvariantOutcome out = testing::RunInvariantCase(k, folder);
        EXPECT_TRUE(out.held) << "seed " << seed << ": " << out.problem;
        held += out.held;
        strong += out.strong;
        saved += out.saved;
        savedStrong += out.saved && out.strong;
        if (!out.held) {
            std::filesystem::remove_all(folder);
            std::filesystem::create_directory(folder);
        }
    }
    std::filesystem::remove_all(folder);
    std::cout << "invariant: " << cases << " cases, " << held << " held (" << strong
              << " with the exact-content check, " << cases - strong
              << " where the protocol is blind; " << saved << " saved a package, " << savedStrong
              << " of them checked byte for byte)\n";
    // The sweep proves something only if both outcomes happen often under the full check.
    EXPECT_GT(savedStrong, cases / 10);
    EXPECT_GT(strong - savedStrong, cases / 4);
}

}  // namespace
}  // namespace trawler
