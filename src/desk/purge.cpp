// Retention. A package leaves in three steps, each durable before the next:
//   1. its row moves from packages into purges (the purges under way), in one transaction;
//   2. its file is deleted from the store;
//   3. its row in purges is deleted.
// After step 1 no query shows the package; a purge cut short after it leaves a purges row with
// or without its file, which the next purge or start finishes (a file already gone counts as
// deleted). So there is never a catalogued package without its file, nor a file that no row
// names. The other orders fail that: deleting the file first leaves a catalogued package whose
// original is gone; deleting the row first leaves a file that nothing names or ever finds.
#include "desk/purge.h"

#include <algorithm>
#include <vector>

namespace trawler::desk {

namespace {

// Packages marked per transaction: the writers' lock is held while marking, and intakes wait.
constexpr size_t kMarkBatch = 500;

}  // namespace

int64_t Purge(Catalogue& catalogue, Store& store, const PurgeOptions& options, std::FILE* log,
              std::string* error, const PurgeInterrupt& interrupt) {
    std::vector<std::string> candidates;
    if (!catalogue.PurgeCandidates(options.before, options.keepLast, &candidates)) {
        *error = "cannot choose the packages to purge: " + catalogue.Error();
        return -1;
    }
    for (size_t first = 0; first < candidates.size(); first += kMarkBatch) {
        WriteTransaction transaction(catalogue);
        bool ok = transaction.Begun();
        for (size_t i = first; ok && i < std::min(candidates.size(), first + kMarkBatch); ++i) {
            ok = catalogue.MarkPurging(candidates[i]);
        }
        if (!ok || !transaction.Commit()) {
            *error = "cannot mark packages for purging: " + catalogue.Error();
            return -1;
        }
    }
    if (interrupt && interrupt(PurgeStep::kMarked)) return 0;
    return FinishPurges(catalogue, store, log, error, interrupt);
}

int64_t FinishPurges(Catalogue& catalogue, Store& store, std::FILE* log, std::string* error,
                     const PurgeInterrupt& interrupt) {
    std::vector<PurgeEntry> entries;
    if (!catalogue.Purging(&entries)) {
        *error = "cannot read the purges under way: " + catalogue.Error();
        return -1;
    }
    int64_t deleted = 0;
    for (const PurgeEntry& e : entries) {
        // Under the writers' lock, so no intake moves these same bytes into the store between
        // the check and the deletion.
        WriteTransaction transaction(catalogue);
        if (!transaction.Begun()) {
            *error = "cannot lock the catalogue to purge: " + catalogue.Error();
            return -1;
        }
        PackageRecord again;
        const int found = catalogue.Find(e.sha256, &again);
        if (found < 0) {
            *error = "cannot read the catalogue: " + catalogue.Error();
            return -1;
        }
        // Sent again since it was marked: the file is the new upload's now.
        const bool keepFile = found == 1;
        if (!keepFile) {
            if (!store.Remove(e.sha256, error)) return -1;
            if (interrupt && interrupt(PurgeStep::kFileDeleted)) return deleted;
        }
        if (!catalogue.EndPurging(e.sha256) || !transaction.Commit()) {
            *error = "cannot end the purge of " + e.sha256 + ": " + catalogue.Error();
            return -1;
        }
        if (keepFile) continue;
        ++deleted;
        const std::string unit = e.unit ? "unit " + std::to_string(*e.unit) : "no unit number";
        std::fprintf(log, "trawler-desk: deleted the original %s (%s, received %s) at %s\n",
                     e.sha256.c_str(), unit.c_str(), e.received.c_str(), UtcNow().c_str());
    }
    std::fflush(log);
    return deleted;
}

}  // namespace trawler::desk
