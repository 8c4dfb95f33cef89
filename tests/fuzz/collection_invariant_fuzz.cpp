// Whole collections from the emulated PV-730: the input chooses the device, the link's settings
// and the faults; a run must fail leaving nothing, or save exactly what the printer holds
// wherever the protocol can see the damage (tests/support/collection_invariant.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/collection_invariant.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = trawler::testing::InvariantScratchFolder();
    if (folder.empty()) std::abort();
    trawler::testing::Choices choices(data, size);
    trawler::testing::InvariantCase k = trawler::testing::MakeInvariantCase(choices);
    trawler::testing::InvariantOutcome out = trawler::testing::RunInvariantCase(k, folder);
    if (!out.held) {
        std::fprintf(stderr, "invariant broken: %s\n", out.problem.c_str());
        std::abort();
    }
    return 0;
}
