// The PV-730 firmware's answers: their byte layouts, the log they carry and its packets.
#pragma once

#include <array>
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/big_endian.h"
#include "pv730/firmware_answers.h"
#include "pv730/protocol.h"
#include "sim/device_description.h"

namespace trawler::sim {

// The answers' layout is the printer's (pv730/protocol.h).
using pv730::kAnswerStart;
using pv730::kAnswerUnit;
using pv730::kLogPacketLength;
using pv730::kLogPacketSize;

// Damage in transit to one answer or packet; `offset` counts from its start byte.
struct ByteEdit {
    enum Kind { kCorrupt, kDrop, kInsert };
    Kind kind = kCorrupt;
    size_t offset = 0;
    uint8_t value = 0;           // kCorrupt
    size_t count = 0;            // kDrop
    std::vector<uint8_t> bytes;  // kInsert
};

// Applies the edits in order, each to the bytes as the ones before left them; `start` is where
// the start byte stands in `bytes` (after any stray bytes). Offsets past the end clip to it.
void ApplyByteEdits(const std::vector<ByteEdit>& edits, size_t start, std::vector<uint8_t>* bytes);
// The length `ApplyByteEdits` leaves of `length` bytes.
uint64_t EditedLength(const std::vector<ByteEdit>& edits, size_t start, uint64_t length);

// What a fault changes in one answer (or one log data packet) as it is built.
struct AnswerEdits {
    bool noAnswer = false;
    bool hasTruncate = false;
    uint64_t truncateAfter = 0;
    std::vector<uint8_t> stray;
    bool hasCode = false;
    uint8_t code = 0;
    bool hasLength = false;
    uint32_t length = 0;
    bool hasSize = false;
    uint32_t size = 0;
    bool hasBlockId = false;
    uint32_t blockId = 0;
    uint32_t checksumDelta = 0;
    bool hasValidCount = false;
    uint32_t validCount = 0;
    uint32_t busyReads = 0;
    uint32_t failingQueries = 0;  // kFaultForever: every query from there on
    uint32_t queryError = 0;
    std::vector<ByteEdit> byteEdits;
};

// One answer as it leaves the printer: stray bytes, the answer, filler to whole 512-byte units.
std::vector<uint8_t> ClockAnswer(const std::array<uint8_t, 8>& clock, const AnswerEdits& edits);
std::vector<uint8_t> VersionAnswer(const std::array<uint32_t, 4>& version,
                                   const AnswerEdits& edits);
std::vector<uint8_t> EepromAnswer(const EepromBlock& block, const AnswerEdits& edits);
std::vector<uint8_t> LogInfoAnswer(const std::array<uint8_t, 4>& info, const AnswerEdits& edits);

// A forward-only stream of bytes that is never held whole.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to max bytes into out; fewer only at the end (or when a file gives out).
    virtual size_t Read(uint8_t* out, size_t max) = 0;
    // Bytes this source keeps staged in memory right now.
    virtual size_t StagedBytes() const = 0;
};

class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    size_t Read(uint8_t* out, size_t max) override;
    size_t StagedBytes() const override { return m_bytes.size(); }

  private:
    std::vector<uint8_t> m_bytes;
    size_t m_pos = 0;
};

// A file read front to back through the stream's own buffer.
class FileSource : public ByteSource {
  public:
    explicit FileSource(const std::string& path);
    bool IsOpen() const { return m_file.is_open(); }
    size_t Read(uint8_t* out, size_t max) override;
    size_t StagedBytes() const override { return 0; }

  private:
    std::ifstream m_file;
};

// The generated service log: 16-byte event records, big-endian
//   0  4  sequence number, from 0
//   4  4  seconds since the printer's epoch, rising by 1..600 per record
//   8  2  event code (a small set, power and print events most common)
//  10  2  event parameter
//  12  4  event value
// Record i depends only on the pattern key and the records before it; a log whose size is not
// a multiple of 16 ends inside its last record.
class GeneratedLog : public ByteSource {
  public:
    GeneratedLog(uint64_t patternKey, uint64_t size);
    size_t Read(uint8_t* out, size_t max) override;
    size_t StagedBytes() const override { return sizeof(m_record); }

  private:
    void NextRecord();

    uint64_t m_state;
    uint64_t m_remaining;
    uint32_t m_sequence = 0;
    uint32_t m_seconds = 0;
    uint8_t m_record[16] = {};
    size_t m_recordPos = sizeof(m_record);
};

// The log content of a description, opened for one answer; null when the file cannot be read.
std::unique_ptr<ByteSource> OpenLog(const LogSource& log);

using pv730::LogPacketCount;

// The answer to one log data request: its packets (layout in pv730/protocol.h; the first
// field carries the packet number from 0, V fills the data area in all but the last packet,
// the unexamined bytes are zero, the data area holds V log bytes and zero filler), built one
// at a time as the reader reaches them, with any stray bytes of a packet in front of it and
// filler after the last packet up to a whole 512-byte unit.
class LogAnswerSource : public ByteSource {
  public:
    LogAnswerSource(std::unique_ptr<ByteSource> content, uint64_t logSize,
                    std::map<uint64_t, AnswerEdits> packetEdits);
    size_t Read(uint8_t* out, size_t max) override;
    size_t StagedBytes() const override { return m_piece.capacity(); }

    // The whole answer's length and where packet k (its stray bytes first) begins in it.
    uint64_t Length() const;
    uint64_t PacketOffset(uint64_t packet) const;

  private:
    bool NextPiece();
    uint64_t FillerLength() const;

    std::unique_ptr<ByteSource> m_content;
    uint64_t m_packetCount;
    std::map<uint64_t, AnswerEdits> m_edits;
    uint64_t m_nextPacket = 0;
    uint64_t m_logLeft;
    bool m_padded = false;
    std::vector<uint8_t> m_piece;
    size_t m_piecePos = 0;
};

}  // namespace trawler::sim
