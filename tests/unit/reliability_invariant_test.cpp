// The collection's promise under random devices and random faults, seeded and repeatable:
// a failed run leaves nothing, a saved package holds exactly what the printer holds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "support/answer_faults.h"
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
    return 50000;
#endif
}

TEST(Invariant, EveryCollectionFailsCleanlyOrSavesExactlyWhatThePrinterHolds) {
    const std::string folder = testing::InvariantScratchFolder();
    ASSERT_FALSE(folder.empty());
    const uint32_t cases = CaseCount();
    uint32_t held = 0, strong = 0, saved = 0, savedStrong = 0, mustSave = 0;
    for (uint32_t key = 1; key <= cases; ++key) {
        testing::Choices choices(key);
        testing::InvariantCase k = testing::MakeInvariantCase(choices);
        testing::InvariantOutcome out = testing::RunInvariantCase(k, folder);
        EXPECT_TRUE(out.held) << "key " << key << ": " << out.problem;
        held += out.held;
        strong += out.strong;
        saved += out.saved;
        savedStrong += out.saved && out.strong;
        mustSave += out.mustSave;
        if (!out.held) {
            std::filesystem::remove_all(folder);
            std::filesystem::create_directory(folder);
        }
    }
    std::filesystem::remove_all(folder);
    std::cout << "invariant: " << cases << " cases, " << held << " held (" << strong
              << " with the exact-content check, " << cases - strong
              << " where the protocol is blind; " << saved << " saved a package, " << savedStrong
              << " of them checked byte for byte; " << mustSave
              << " with only tolerated faults, which had to save)\n";
    // The sweep proves something only if both outcomes happen often under the full check.
    EXPECT_GT(savedStrong, cases / 10);
    EXPECT_GT(strong - savedStrong, cases / 4);
    EXPECT_GT(mustSave, cases / 20);
}

// The same promise, every single byte fault at every header offset of every answer and of each
// packet of a four-packet log: where random cases are thin, this grid is complete.
TEST(Invariant, EverySingleByteFaultInEveryHeaderHoldsThePromise) {
    const std::string folder = testing::InvariantScratchFolder();
    ASSERT_FALSE(folder.empty());
    testing::Choices choices(20061130);
    testing::InvariantCase base = testing::MakeInvariantCase(choices);
    base.device.faults.clear();
    base.device.pacing = Pacing{};
    base.settings = DefaultLinkSettings();
    base.device.log.bytes.resize(3 * 1008 + 1);  // four packets, the last holding one byte
    for (size_t i = 0; i < base.device.log.bytes.size(); ++i) {
        base.device.log.bytes[i] = testing::BenignLogByte(i);
    }
    base.device.log.size = base.device.log.bytes.size();
    std::vector<Fault> targets;
    for (DeviceCommand command :
         {DeviceCommand::kClock, DeviceCommand::kVersion, DeviceCommand::kLogInfo}) {
        targets.push_back(testing::AnswerFault(FaultKind::kCorrupt, command));
    }
    for (uint32_t id : testing::kInvariantBlockIds) {
        targets.push_back(testing::AnswerFault(FaultKind::kCorrupt, DeviceCommand::kEeprom, id));
    }
    for (uint32_t packet = 0; packet < 4; ++packet) {
        Fault f = testing::AnswerFault(FaultKind::kCorrupt, DeviceCommand::kLogData);
        f.packetPick = PacketPick::kIndex;
        f.packetIndex = packet;
        targets.push_back(f);
    }
    uint32_t cases = 0, held = 0, saved = 0;
    for (const Fault& target : targets) {
        for (uint32_t offset = 0; offset < 24; ++offset) {
            for (int variant = 0; variant < 4; ++variant) {
                testing::InvariantCase k = base;
                Fault f = target;
                f.offset = offset;
                f.kind = variant < 2    ? FaultKind::kCorrupt
                         : variant == 2 ? FaultKind::kDrop
                                        : FaultKind::kInsert;
                f.value = variant == 0 ? 0x40 ^ 0x01 : 0x00;
                f.count = 1;
                f.bytes = {0x00};
                k.device.faults = {f};
                testing::InvariantOutcome out = testing::RunInvariantCase(k, folder);
                ++cases;
                held += out.held;
                saved += out.saved;
                EXPECT_TRUE(out.held) << out.problem;
                if (!out.held) {
                    std::filesystem::remove_all(folder);
                    std::filesystem::create_directory(folder);
                }
            }
        }
    }
    std::filesystem::remove_all(folder);
    std::cout << "invariant (header grid): " << cases << " cases, " << held << " held, " << saved
              << " saved a package\n";
}

}  // namespace
}  // namespace trawler
