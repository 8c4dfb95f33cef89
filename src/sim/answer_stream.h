// The printer's outgoing answer stream: answers in order, paced on the host's clock.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "sim/device_answers.h"

namespace trawler::sim {

// What the driver does instead of handing out bytes once the stream reaches `offset` of an
// answer: report busy a number of times, or fail the query a number of times (or for ever).
struct ReadEvent {
    uint64_t offset = 0;
    uint32_t busyReads = 0;
    uint32_t failingQueries = 0;  // kFaultForever: every later query fails
    uint32_t error = 0;
};

// One answer queued by the firmware.
struct Emission {
    std::unique_ptr<ByteSource> source;
    uint64_t length = 0;
    uint64_t readyAt = 0;  // host milliseconds of the first byte
    std::vector<ReadEvent> events;
    // Recorded reads: while steps are left, each read takes the next one instead of pacing.
    std::vector<ReadStep> script;
    size_t step = 0;
    uint32_t stepRepeat = 0;  // reads of the current step already made
    uint32_t stepServed = 0;  // bytes of the current read step handed out so far
    // Set when the answer reaches the head of the stream.
    bool started = false;
    uint64_t transferStart = 0;
    uint64_t served = 0;
};

struct RawReadResult {
    enum Outcome { kBytes, kEmpty, kBusy, kFailed };
    Outcome outcome = kEmpty;
    size_t count = 0;    // kBytes: answer bytes written
    uint32_t error = 0;  // kFailed: the query's status
};

class AnswerStream {
  public:
    explicit AnswerStream(uint32_t bytesPerSecond) : m_bytesPerSecond(bytesPerSecond) {}

    void Push(Emission emission);

    // One raw read at host time `now`, of at most `max` answer bytes. A read never mixes two
    // answers.
    RawReadResult Read(uint64_t now, uint8_t* out, size_t max);

    // Every later query fails with `error` (a driver that has lost the printer).
    void FailForever(uint32_t error);

    size_t PendingAnswers() const { return m_queue.size(); }
    uint64_t PendingBytes() const;
    size_t StagedBytes() const;

  private:
    uint64_t Available(const Emission& head, uint64_t now) const;
    RawReadResult ScriptedRead(Emission& head, uint8_t* out, size_t max);
    void FinishHead();

    uint32_t m_bytesPerSecond;
    std::deque<Emission> m_queue;
    uint64_t m_lastTransferEnd = 0;
    bool m_failForever = false;
    uint32_t m_foreverError = 0;
};

}  // namespace trawler::sim
