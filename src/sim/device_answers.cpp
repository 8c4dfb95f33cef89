// The emulated printer's answers: the model's layouts (pv730/firmware_answers.h) with a
// description's faults, stray bytes in front and zero filler to the end of the last unit; and
// the log packets streamed one at a time.
#include "sim/device_answers.h"

#include <algorithm>
#include <cstring>

#include "pv730/firmware_answers.h"

namespace trawler::sim {

void ApplyByteEdits(const std::vector<ByteEdit>& edits, size_t start, std::vector<uint8_t>* bytes) {
    for (const ByteEdit& edit : edits) {
        size_t at = std::min(bytes->size(), start + edit.offset);
        switch (edit.kind) {
            case ByteEdit::kCorrupt:
                if (at < bytes->size()) (*bytes)[at] = edit.value;
                break;
            case ByteEdit::kDrop: {
                size_t n = std::min(edit.count, bytes->size() - at);
                bytes->erase(bytes->begin() + at, bytes->begin() + at + n);
                break;
            }
            case ByteEdit::kInsert:
                bytes->insert(bytes->begin() + at, edit.bytes.begin(), edit.bytes.end());
                break;
        }
    }
}

uint64_t EditedLength(const std::vector<ByteEdit>& edits, size_t start, uint64_t length) {
    for (const ByteEdit& edit : edits) {
        uint64_t at = std::min<uint64_t>(length, start + edit.offset);
        if (edit.kind == ByteEdit::kDrop) length -= std::min<uint64_t>(edit.count, length - at);
        if (edit.kind == ByteEdit::kInsert) length += edit.bytes.size();
    }
    return length;
}

namespace {

// Header faults, the stray bytes in front and the filler: the same for every answer.
std::vector<uint8_t> Finish(std::vector<uint8_t> answer, const AnswerEdits& edits) {
    if (edits.hasCode) pv730::SetAnswerCode(answer.data(), edits.code);
    if (edits.hasLength) pv730::SetAnswerLength(answer.data(), edits.length);
    std::vector<uint8_t> out(edits.stray);
    out.insert(out.end(), answer.begin(), answer.end());
    // Stray bytes count toward the units: the printer emits whole units whatever they hold.
    size_t rest = out.size() % kAnswerUnit;
    if (rest != 0) out.resize(out.size() + kAnswerUnit - rest, 0);
    // Damage in transit comes last: the printer sent whole units, the driver did not get them.
    ApplyByteEdits(edits.byteEdits, edits.stray.size(), &out);
    return out;
}

}  // namespace

std::vector<uint8_t> ClockAnswer(const std::array<uint8_t, 8>& clock, const AnswerEdits& edits) {
    return Finish(pv730::ClockAnswer(clock), edits);
}

std::vector<uint8_t> VersionAnswer(const std::array<uint32_t, 4>& version,
                                   const AnswerEdits& edits) {
    return Finish(pv730::VersionAnswer(version), edits);
}

std::vector<uint8_t> EepromAnswer(const EepromBlock& block, const AnswerEdits& edits) {
    const uint32_t n = static_cast<uint32_t>(block.data.size());
    pv730::EepromRecordFields fields;
    fields.blockId = edits.hasBlockId ? edits.blockId : block.id;
    fields.secondField = block.second;
    fields.dataSize = edits.hasSize ? edits.size : n;
    fields.checksum = pv730::EepromChecksum(block.data.data(), n) + edits.checksumDelta;
    return Finish(pv730::EepromAnswer(fields, block.data), edits);
}

std::vector<uint8_t> LogInfoAnswer(const std::array<uint8_t, 4>& info, const AnswerEdits& edits) {
    return Finish(pv730::LogInfoAnswer(info), edits);
}

size_t MemorySource::Read(uint8_t* out, size_t max) {
    size_t n = std::min(max, m_bytes.size() - m_pos);
    if (n != 0) std::memcpy(out, m_bytes.data() + m_pos, n);
    m_pos += n;
    return n;
}

FileSource::FileSource(const std::string& path) : m_file(path, std::ios::binary) {}

size_t FileSource::Read(uint8_t* out, size_t max) {
    if (!m_file.is_open() || max == 0) return 0;
    m_file.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(max));
    return static_cast<size_t>(m_file.gcount());
}

namespace {

uint64_t SplitMix(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Event codes of the generated log, the first ones far more frequent than the rest.
constexpr uint16_t kEventCodes[16] = {0x0101, 0x0102, 0x0201, 0x0202, 0x0201, 0x0202,
                                      0x0301, 0x0302, 0x0201, 0x0202, 0x0401, 0x0501,
                                      0x0601, 0x0E01, 0x0E02, 0x0F00};

}  // namespace

GeneratedLog::GeneratedLog(uint64_t patternKey, uint64_t size)
    : m_state(patternKey), m_remaining(size) {
    uint64_t first = SplitMix(&m_state);
    m_seconds = static_cast<uint32_t>(first % 100000000u);
}

void GeneratedLog::NextRecord() {
    uint64_t r = SplitMix(&m_state);
    m_seconds += 1 + static_cast<uint32_t>(r % 600);
    PutBig32(m_record, m_sequence++);
    PutBig32(m_record + 4, m_seconds);
    PutBig16(m_record + 8, kEventCodes[(r >> 12) & 15]);
    PutBig16(m_record + 10, static_cast<uint32_t>(r >> 16));
    PutBig32(m_record + 12, static_cast<uint32_t>(r >> 32));
    m_recordPos = 0;
}

size_t GeneratedLog::Read(uint8_t* out, size_t max) {
    size_t done = 0;
    while (done < max && m_remaining > 0) {
        if (m_recordPos == sizeof(m_record)) NextRecord();
        size_t n = std::min<uint64_t>({max - done, sizeof(m_record) - m_recordPos, m_remaining});
        std::memcpy(out + done, m_record + m_recordPos, n);
        m_recordPos += n;
        m_remaining -= n;
        done += n;
    }
    return done;
}

std::unique_ptr<ByteSource> OpenLog(const LogSource& log) {
    if (log.fromBytes) return std::make_unique<MemorySource>(log.bytes);
    if (!log.fromFile) return std::make_unique<GeneratedLog>(log.patternKey, log.size);
    auto file = std::make_unique<FileSource>(log.path);
    if (!file->IsOpen()) return nullptr;
    return file;
}

LogAnswerSource::LogAnswerSource(std::unique_ptr<ByteSource> content, uint64_t logSize,
                                 std::map<uint64_t, AnswerEdits> packetEdits)
    : m_content(std::move(content)),
      m_packetCount(LogPacketCount(logSize)),
      m_edits(std::move(packetEdits)),
      m_logLeft(logSize) {}

uint64_t LogAnswerSource::PacketOffset(uint64_t packet) const {
    uint64_t offset = packet * kLogPacketSize;
    for (const auto& [index, edits] : m_edits) {
        if (index > packet || index >= m_packetCount) continue;
        offset += edits.stray.size();
        // Damage in transit changes where every later packet begins.
        if (index < packet) {
            offset = offset - kLogPacketSize +
                     EditedLength(edits.byteEdits, edits.stray.size(), kLogPacketSize);
        }
    }
    return offset;
}

uint64_t LogAnswerSource::FillerLength() const {
    // The printer pads what it sent; bytes lost or added in transit do not change that.
    uint64_t sent = m_packetCount * kLogPacketSize;
    for (const auto& [index, edits] : m_edits) {
        if (index < m_packetCount) sent += edits.stray.size();
    }
    uint64_t rest = sent % kAnswerUnit;
    return rest == 0 ? 0 : kAnswerUnit - rest;
}

uint64_t LogAnswerSource::Length() const {
    return PacketOffset(m_packetCount) + FillerLength();
}

bool LogAnswerSource::NextPiece() {
    m_piecePos = 0;
    if (m_nextPacket == m_packetCount) {
        if (m_padded) return false;
        m_padded = true;
        size_t filler = static_cast<size_t>(FillerLength());
        if (filler == 0) return false;
        m_piece.assign(filler, 0);
        return true;
    }
    uint64_t index = m_nextPacket++;
    auto found = m_edits.find(index);
    const AnswerEdits* edits = found == m_edits.end() ? nullptr : &found->second;
    size_t stray = edits ? edits->stray.size() : 0;
    m_piece.assign(stray + kLogPacketSize, 0);
    if (stray != 0) std::memcpy(m_piece.data(), edits->stray.data(), stray);
    uint8_t* packet = m_piece.data() + stray;
    uint32_t valid = static_cast<uint32_t>(std::min<uint64_t>(m_logLeft, pv730::kLogDataArea));
    pv730::PutLogPacketHeader(packet, index, m_packetCount, valid);
    // A log file that shrank since it was described keeps its packet count; the missing bytes
    // go out as the zeros already in the packet.
    if (valid != 0) m_content->Read(packet + pv730::kLogDataOffset, valid);
    m_logLeft -= valid;
    if (edits) {
        if (edits->hasCode) pv730::SetAnswerCode(packet, edits->code);
        if (edits->hasLength) pv730::SetAnswerLength(packet, edits->length);
        if (edits->hasValidCount) pv730::SetLogValidCount(packet, edits->validCount);
        ApplyByteEdits(edits->byteEdits, stray, &m_piece);
    }
    return true;
}

size_t LogAnswerSource::Read(uint8_t* out, size_t max) {
    size_t done = 0;
    while (done < max) {
        if (m_piecePos == m_piece.size() && !NextPiece()) break;
        size_t n = std::min(max - done, m_piece.size() - m_piecePos);
        std::memcpy(out + done, m_piece.data() + m_piecePos, n);
        m_piecePos += n;
        done += n;
    }
    return done;
}

}  // namespace trawler::sim
