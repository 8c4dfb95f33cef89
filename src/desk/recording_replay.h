// A recording's replay at intake: what the run showed and where it stopped, found by running
// it again against the emulator in a child process bounded in time, memory and file size, so
// that a hostile recording cannot hang or exhaust the server.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace trawler::desk {

// How long a replay may take and how much memory it may use before it is stopped and the
// recording refused; a real run's recording replays in well under a second.
constexpr int kReplaySeconds = 30;
constexpr uint64_t kReplayMemoryBytes = uint64_t{1} << 30;

struct RecordingSummary {
    std::string outcome;                // "saved" or "failed", as the replayed run ended
    std::string phase;                  // the run's phase when it stopped ("eeprom"); "" for none
    std::optional<uint32_t> block;      // the EEPROM block's ID when it stopped in kEeprom
    std::vector<std::string> messages;  // every box the run showed, in order
    std::optional<uint32_t> unit;       // the unit number, when the run read block 0x8013
    std::string clock;                  // the printer's clock as plain hex, when it was read

    // The summary as the catalogue keeps it and the API gives it.
    std::string ToJson() const;
    // False for a text that is not a summary.
    static bool FromJson(const std::string& text, RecordingSummary* summary);
};

// Replays the recording at `path` in this process: false, with *error, when it is not a whole
// recording the emulator can load. Unbounded: call it only in the child (RunReplayChild).
bool ReplayRecordingHere(const std::string& path, RecordingSummary* summary, std::string* error);

// The child's side: `trawler-desk replay-recording FILE` limits itself, replays FILE and
// prints the summary's JSON on `out`; exit status 0, or 1 with the reason on `err`.
int RunReplayChild(const std::string& path, std::FILE* out, std::FILE* err);

// Runs `program replay-recording path` (program: this trawler-desk) with the bounds above and
// a temporary folder of its own, removed afterwards; the child and whatever it started are
// killed at `seconds`. False, with *error, for a recording that does not replay or does not end
// within the bounds.
bool ReplayRecording(const std::string& program, const std::string& path, RecordingSummary* summary,
                     std::string* error, int seconds = kReplaySeconds);

}  // namespace trawler::desk
