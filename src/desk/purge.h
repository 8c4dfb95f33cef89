// Retention: packages and their catalogue rows removed together, in an order that a purge cut
// short at any point leaves for the next purge or start to finish.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "desk/catalogue.h"
#include "desk/store.h"

namespace trawler::desk {

struct PurgeOptions {
    std::string before;    // packages received before this UTC time (ISO 8601) go...
    int64_t keepLast = 0;  // ...but each unit's newest visits, this many, stay whatever their age
};

// The points between a purge's steps, where the tests cut it short.
enum class PurgeStep { kMarked, kFileDeleted };
// Called at each point; true ends the purge there as a killed process would end it.
using PurgeInterrupt = std::function<bool(PurgeStep)>;

// Purges what the options name, then every purge under way; one line on the log per original
// deleted. The number of originals deleted, or -1 with *error.
int64_t Purge(Catalogue& catalogue, Store& store, const PurgeOptions& options, std::FILE* log,
              std::string* error, const PurgeInterrupt& interrupt = {});

// Ends the purges under way, as one cut short left them (serve does this at start).
int64_t FinishPurges(Catalogue& catalogue, Store& store, std::FILE* log, std::string* error,
                     const PurgeInterrupt& interrupt = {});

}  // namespace trawler::desk
