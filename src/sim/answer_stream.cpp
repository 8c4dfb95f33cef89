// The answer stream: queues answers, releases their bytes at the paced rate, fires read events.
#include "sim/answer_stream.h"

#include <algorithm>
#include <limits>

namespace trawler::sim {

void AnswerStream::Push(Emission emission) {
    // Events past the last byte can never be reached.
    auto& events = emission.events;
    events.erase(std::remove_if(events.begin(), events.end(),
                                [&](const ReadEvent& e) { return e.offset >= emission.length; }),
                 events.end());
    // Recorded reads of an answer without bytes (failed or busy queries) still happen.
    if (emission.length == 0 && emission.script.empty()) return;
    m_queue.push_back(std::move(emission));
}

void AnswerStream::FailForever(uint32_t error) {
    m_failForever = true;
    m_foreverError = error;
}

uint64_t AnswerStream::PendingBytes() const {
    uint64_t total = 0;
    for (const Emission& e : m_queue) total += e.length - e.served;
    return total;
}

size_t AnswerStream::StagedBytes() const {
    size_t total = 0;
    for (const Emission& e : m_queue) total += e.source ? e.source->StagedBytes() : 0;
    return total;
}

uint64_t AnswerStream::Available(const Emission& head, uint64_t now) const {
    if (now < head.transferStart) return 0;
    if (m_bytesPerSecond == 0) return head.length;
    uint64_t elapsed = now - head.transferStart;
    if (elapsed >= std::numeric_limits<uint64_t>::max() / m_bytesPerSecond) return head.length;
    return std::min(head.length, elapsed * m_bytesPerSecond / 1000);
}

void AnswerStream::FinishHead() {
    const Emission& head = m_queue.front();
    uint64_t duration = 0;
    if (m_bytesPerSecond != 0) {
        duration = (head.length * 1000 + m_bytesPerSecond - 1) / m_bytesPerSecond;
    }
    m_lastTransferEnd = head.transferStart + duration;
    m_queue.pop_front();
}

// A bytes step larger than the reader's room is handed out over several reads, so the bytes
// keep their order when the replaying link reads in smaller blocks than the recorded one.
RawReadResult AnswerStream::ScriptedRead(Emission& head, uint8_t* out, size_t max) {
    RawReadResult result;
    const ReadStep& step = head.script[head.step];
    bool stepDone = true;
    switch (step.kind) {
        case ReadStep::kBytes: {
            uint64_t want = std::min<uint64_t>(step.bytes - head.stepServed, max);
            want = std::min(want, head.length - head.served);
            size_t got = want == 0 ? 0 : head.source->Read(out, static_cast<size_t>(want));
            // A source that gives out early (a replay file that shrank) ends its answer there.
            if (got < want) head.length = head.served + got;
            head.served += got;
            head.stepServed += static_cast<uint32_t>(got);
            stepDone = head.stepServed == step.bytes || head.served == head.length;
            if (got != 0) {
                result.outcome = RawReadResult::kBytes;
                result.count = got;
            }
            break;
        }
        case ReadStep::kEmpty:
            break;
        case ReadStep::kBusy:
            result.outcome = RawReadResult::kBusy;
            break;
        case ReadStep::kFails:
            result.outcome = RawReadResult::kFailed;
            result.error = step.error;
            break;
    }
    if (stepDone) {
        head.stepServed = 0;
        if (++head.stepRepeat == step.count) {
            head.stepRepeat = 0;
            ++head.step;
        }
    }
    if (head.step == head.script.size() && head.served == head.length) FinishHead();
    return result;
}

RawReadResult AnswerStream::Read(uint64_t now, uint8_t* out, size_t max) {
    RawReadResult result;
    if (m_failForever) {
        result.outcome = RawReadResult::kFailed;
        result.error = m_foreverError;
        return result;
    }
    if (m_queue.empty()) return result;
    Emission& head = m_queue.front();
    if (!head.started) {
        head.started = true;
        head.transferStart = std::max(head.readyAt, m_lastTransferEnd);
    }
    if (head.step < head.script.size()) return ScriptedRead(head, out, max);
    if (max == 0) return result;
    uint64_t available = Available(head, now);
    if (available <= head.served) return result;

    uint64_t limit = head.length;
    for (ReadEvent& event : head.events) {
        if (event.failingQueries == 0 && event.busyReads == 0) continue;
        if (event.offset > head.served) {
            limit = std::min(limit, event.offset);
        } else if (event.offset == head.served) {
            result.error = event.error;
            if (event.failingQueries == kFaultForever) {
                FailForever(event.error);
                result.outcome = RawReadResult::kFailed;
            } else if (event.failingQueries != 0) {
                --event.failingQueries;
                result.outcome = RawReadResult::kFailed;
            } else {
                --event.busyReads;
                result.outcome = RawReadResult::kBusy;
            }
            return result;
        }
    }

    uint64_t n = std::min<uint64_t>(std::min(limit, available) - head.served, max);
    size_t got = head.source->Read(out, static_cast<size_t>(n));
    // A source that gives out early (a replay file that shrank) ends its answer there.
    if (got < n) head.length = head.served + got;
    head.served += got;
    if (head.served == head.length) FinishHead();
    if (got == 0) return Read(now, out, max);
    result.outcome = RawReadResult::kBytes;
    result.count = got;
    return result;
}

}  // namespace trawler::sim
