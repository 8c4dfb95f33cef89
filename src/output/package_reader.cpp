// The package reader: gzip layer (magic, member header, streamed inflate, trailer) and a push
// checker for the container inside it.
//
// Package: "PV730LZ1", then one gzip member (RFC 1952): 1F 8B 08 flags mtime(4) xfl os,
// optional fields as the flags say, raw deflate data, CRC-32 and length (little-endian).
// Container: 36-byte header ("PV730LO1", value, 12 time digits, 12 zero bytes), then chunks
// (tag, big-endian recorded length L, L bytes), the last one "ENDF" with L = 0.
// EEPROM record ("B001".."B013"): block ID, second field, data size N, N data bytes, checksum,
// all big-endian; L = N + 16, rounded up to a multiple of 4 in the chunk.
#include "output/package_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include <zlib.h>

#include "output/container_format.h"
#include "platform/big_endian.h"
#include "platform/owned_file.h"
#include "platform/sha256.h"
#include "pv730/protocol.h"

namespace trawler {

namespace {

constexpr size_t kBlock = 65536;

uint32_t Le32(const uint8_t* p) {
    return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(buffer);
}

unsigned long long U64(uint64_t value) {
    return static_cast<unsigned long long>(value);
}

bool IsEepromTag(const std::string& tag) {
    return EepromBlockOfTag(tag) != 0;
}

bool IsTextTag(const std::string& tag) {
    return tag == kTagComment || tag == kTagCustomer || tag == kTagPcLine;
}

bool IsAlnum(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Checks the container as its bytes arrive; stops at the first problem.
class ContainerChecker {
  public:
    ContainerChecker(PackageReport* report, PackageSink* sink) : m_report(report), m_sink(sink) {}

    bool Failed() const { return m_failed; }
    const PackageProblem& Problem() const { return m_problem; }

    void Feed(const uint8_t* data, size_t size) {
        while (size > 0 && !m_failed) {
            size_t used = Step(data, size);
            data += used;
            size -= used;
            m_offset += used;
        }
    }

    // The container has ended.
    void Finish() {
        if (m_failed) return;
        switch (m_phase) {
            case Phase::kHeader:
                if (m_have < kMagicSize) {
                    Fail("bad-container-magic", m_offset,
                         Format("the container is only %llu bytes long; it must start with "
                                "\"%s\" and a %u-byte header",
                                U64(m_offset), kContainerMagic, kContainerHeaderSize));
                } else {
                    Fail("truncated-container", m_offset,
                         Format("the container ends at offset %llu inside its %u-byte header",
                                U64(m_offset), kContainerHeaderSize));
                }
                return;
            case Phase::kChunkHeader:
                Fail("missing-endf", m_offset,
                     Format("the container ends at offset %llu without the \"%s\" chunk",
                            U64(m_offset), kTagEnd));
                return;
            case Phase::kChunkData:
                Fail("chunk-past-end", m_current.offset,
                     Format("chunk \"%s\" at container offset %llu records %lu bytes, but the "
                            "container ends %llu bytes into them",
                            m_current.tag.c_str(), U64(m_current.offset),
                            static_cast<unsigned long>(m_current.length),
                            U64(m_offset - m_current.offset - kChunkHeaderSize)));
                return;
            case Phase::kAfterEnd:
                break;
        }
        CheckCompleteness();
    }

  private:
    enum class Phase { kHeader, kChunkHeader, kChunkData, kAfterEnd };

    void Fail(const char* kind, uint64_t offset, const std::string& message) {
        if (m_failed) return;
        m_failed = true;
        m_problem = {kind, message, "container", offset};
    }

    void SinkFailed() {
        Fail("extract-failed", m_offset, m_sink->Failure());
        m_problem.area = "";
    }

    // Takes what the current phase can use from the bytes; returns how many it took.
    size_t Step(const uint8_t* data, size_t size) {
        switch (m_phase) {
            case Phase::kHeader: {
                size_t take = std::min(size, sizeof m_header - m_have);
                std::memcpy(m_header + m_have, data, take);
                m_have += take;
                if (m_have >= kMagicSize && m_have - take < kMagicSize &&
                    std::memcmp(m_header, kContainerMagic, kMagicSize) != 0) {
                    Fail("bad-container-magic", 0,
                         Format("the container does not start with \"%s\" (container offset 0)",
                                kContainerMagic));
                } else if (m_have == sizeof m_header) {
                    TakeHeader();
                }
                return take;
            }
            case Phase::kChunkHeader: {
                size_t take = std::min(size, sizeof m_chunkHead - m_have);
                std::memcpy(m_chunkHead + m_have, data, take);
                m_have += take;
                if (m_have == sizeof m_chunkHead) {
                    // The header's bytes count as consumed before the chunk is judged.
                    m_offset += take;
                    BeginChunk();
                    m_offset -= take;
                }
                return take;
            }
            case Phase::kChunkData: {
                size_t take = static_cast<size_t>(std::min<uint64_t>(size, m_left));
                if (m_keep) m_kept.insert(m_kept.end(), data, data + take);
                if (m_sink != nullptr && !m_sink->ChunkBytes(data, take)) SinkFailed();
                m_left -= take;
                if (m_left == 0) {
                    m_offset += take;
                    EndChunk();
                    m_offset -= take;
                }
                return take;
            }
            case Phase::kAfterEnd:
                Fail("data-after-endf", m_offset,
                     Format("the container goes on after its \"%s\" chunk, at container "
                            "offset %llu",
                            kTagEnd, U64(m_offset)));
                return size;
        }
        return size;
    }

    void TakeHeader() {
        m_report->headerValue = ReadBig32(m_header + kHeaderValueOffset);
        if (m_report->headerValue != 0) {
            m_report->warnings.push_back(
                Format("the header value at container offset %u is %lu, "
                       "not 0",
                       static_cast<unsigned>(kHeaderValueOffset),
                       static_cast<unsigned long>(m_report->headerValue)));
        }
        std::string created;
        bool digits = true;
        for (size_t i = kHeaderTimeOffset; i < kHeaderZeroOffset; ++i) {
            uint8_t c = m_header[i];
            digits = digits && c >= '0' && c <= '9';
            created.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
        }
        m_report->created = created;
        if (digits) {
            int month = std::stoi(created.substr(4, 2));
            int day = std::stoi(created.substr(6, 2));
            int hour = std::stoi(created.substr(8, 2));
            int minute = std::stoi(created.substr(10, 2));
            digits =
                month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59;
        }
        if (!digits) {
            m_report->warnings.push_back(
                Format("the creation time at container offset %u is not a date and time "
                       "(\"%%Y%%m%%d%%H%%M\")",
                       static_cast<unsigned>(kHeaderTimeOffset)));
        }
        for (size_t i = kHeaderZeroOffset; i < kContainerHeaderSize; ++i) {
            if (m_header[i] != 0) {
                m_report->warnings.push_back(
                    Format("header byte %u is not zero (bytes %u to %u are reserved)",
                           static_cast<unsigned>(i), static_cast<unsigned>(kHeaderZeroOffset),
                           kContainerHeaderSize - 1));
                break;
            }
        }
        m_phase = Phase::kChunkHeader;
        m_have = 0;
    }

    // The tag and length of the chunk at `at`, refused when malformed, one too many or seen
    // before.
    bool TakeChunkHead(uint64_t at, ChunkEntry* out) {
        for (size_t i = 0; i < kTagSize; ++i) {
            if (!IsAlnum(m_chunkHead[i])) {
                Fail("bad-tag", at,
                     Format("the chunk at container offset %llu has the tag bytes %02X %02X %02X "
                            "%02X, not four letters or digits",
                            U64(at), m_chunkHead[0], m_chunkHead[1], m_chunkHead[2],
                            m_chunkHead[3]));
                return false;
            }
        }
        ChunkEntry& chunk = *out;
        chunk.tag.assign(reinterpret_cast<const char*>(m_chunkHead), kTagSize);
        chunk.offset = at;
        chunk.length = ReadBig32(m_chunkHead + kTagSize);
        const char* tag = chunk.tag.c_str();
        if (m_report->chunks.size() >= kMaxChunks) {
            Fail("too-many-chunks", at,
                 Format("more than %llu chunks; chunk \"%s\" at container offset %llu is one too "
                        "many",
                        U64(kMaxChunks), tag, U64(at)));
            return false;
        }
        if (chunk.length % kChunkAlignment != 0) {
            Fail("bad-chunk-length", at,
                 Format("chunk \"%s\" at container offset %llu records %lu bytes, not a multiple "
                        "of %u",
                        tag, U64(at), static_cast<unsigned long>(chunk.length), kChunkAlignment));
            return false;
        }
        if (!m_seen.insert(chunk.tag).second) {
            Fail(
                "duplicate-chunk", at,
                Format("chunk \"%s\" at container offset %llu occurs a second time", tag, U64(at)));
            return false;
        }
        return true;
    }

    void EndChunks(const ChunkEntry& chunk) {
        const uint64_t at = chunk.offset;
        if (chunk.length != 0) {
            Fail("bad-chunk-length", at,
                 Format("\"%s\" at container offset %llu records %lu bytes; it must be 0", kTagEnd,
                        U64(at), static_cast<unsigned long>(chunk.length)));
            return;
        }
        m_phase = Phase::kAfterEnd;
    }

    // A chunk whose length its tag allows; decides whether its bytes are kept for checking.
    bool ChunkLengthFits(const ChunkEntry& chunk) {
        const uint64_t at = chunk.offset;
        const char* tag = chunk.tag.c_str();
        uint32_t fixed = chunk.tag == kTagClock     ? pv730::kClockLength
                         : chunk.tag == kTagVersion ? pv730::kVersionLength
                         : chunk.tag == kTagLogInfo ? pv730::kLogInfoKept
                                                    : 0;
        if (fixed != 0 && chunk.length != fixed) {
            Fail("bad-chunk-length", at,
                 Format("chunk \"%s\" at container offset %llu records %lu bytes; it must be %lu",
                        tag, U64(at), static_cast<unsigned long>(chunk.length),
                        static_cast<unsigned long>(fixed)));
            return false;
        }
        m_keep = ChunkTagRank(chunk.tag) >= 0 && chunk.tag != kTagLog;
        if (m_keep && chunk.length > kMaxKeptChunkBytes) {
            Fail("oversize-chunk", at,
                 Format("chunk \"%s\" at container offset %llu claims %lu bytes; at most %lu are "
                        "accepted for it",
                        tag, U64(at), static_cast<unsigned long>(chunk.length),
                        static_cast<unsigned long>(kMaxKeptChunkBytes)));
            return false;
        }
        if (IsEepromTag(chunk.tag) && chunk.length < pv730::kEepromOverhead) {
            Fail("eeprom-too-short", at,
                 Format("EEPROM record \"%s\" at container offset %llu has %lu bytes; a record "
                        "has at least %u",
                        tag, U64(at), static_cast<unsigned long>(chunk.length),
                        pv730::kEepromOverhead));
            return false;
        }
        return true;
    }

    void NoteChunkOrder(const ChunkEntry& chunk) {
        const uint64_t at = chunk.offset;
        const char* tag = chunk.tag.c_str();
        int rank = ChunkTagRank(chunk.tag);
        if (rank < 0) {
            m_report->warnings.push_back(
                Format("unknown chunk \"%s\" at container offset %llu", tag, U64(at)));
        } else if (rank < m_lastRank) {
            m_report->warnings.push_back(Format(
                "chunk \"%s\" at container offset %llu is out of the usual order", tag, U64(at)));
        }
        if (rank >= 0) m_lastRank = std::max(m_lastRank, rank);
    }

    void BeginChunk() {
        uint64_t at = m_offset - kChunkHeaderSize;
        m_have = 0;
        ChunkEntry chunk;
        if (!TakeChunkHead(at, &chunk)) return;
        m_report->chunks.push_back(chunk);
        if (chunk.tag == kTagEnd) {
            EndChunks(chunk);
            return;
        }
        if (!ChunkLengthFits(chunk)) return;
        NoteChunkOrder(chunk);
        if (chunk.tag == kTagLog) {
            m_report->hasLog = true;
            m_report->logLength = chunk.length;
        }
        m_current = chunk;
        m_left = chunk.length;
        m_kept.clear();
        if (m_sink != nullptr && !m_sink->BeginChunk(chunk)) {
            SinkFailed();
            return;
        }
        m_phase = Phase::kChunkData;
        if (m_left == 0) EndChunk();
    }

    void EndChunk() {
        m_phase = Phase::kChunkHeader;
        m_have = 0;
        uint32_t content = m_current.length;
        const std::string& tag = m_current.tag;
        if (IsTextTag(tag)) {
            std::string text(m_kept.begin(), m_kept.end());
            for (uint32_t i = 0; i + 1 < kChunkAlignment && !text.empty() && text.back() == '\0';
                 ++i)
                text.pop_back();
            content = static_cast<uint32_t>(text.size());
            if (text.find('\0') != std::string::npos) {
                m_report->warnings.push_back(
                    Format("text chunk \"%s\" at container offset %llu "
                           "holds zero bytes inside its text",
                           tag.c_str(), U64(m_current.offset)));
            }
            if (tag == kTagComment) {
                m_report->hasComment = true;
                m_report->comment = text;
            } else if (tag == kTagCustomer) {
                m_report->hasCustomer = true;
                m_report->customer = text;
            } else {
                m_report->hasPcLine = true;
                m_report->pcLine = text;
            }
        } else if (tag == kTagClock) {
            m_report->hasClock = true;
            std::memcpy(m_report->clock.data(), m_kept.data(), pv730::kClockLength);
        } else if (tag == kTagVersion) {
            m_report->hasVersion = true;
            for (int i = 0; i < 4; ++i) m_report->version[i] = Le32(m_kept.data() + 4 * i);
        } else if (tag == kTagLogInfo) {
            m_report->hasLogInfo = true;
            std::memcpy(m_report->logInfo.data(), m_kept.data(), pv730::kLogInfoKept);
        } else if (IsEepromTag(tag)) {
            if (!CheckRecord(&content)) return;
        }
        if (m_sink != nullptr && !m_sink->EndChunk(m_current, content)) SinkFailed();
    }

    bool CheckRecord(uint32_t* content) {
        const std::string& tag = m_current.tag;
        const char* name = tag.c_str();
        uint64_t at = m_current.offset;
        const uint8_t* record = m_kept.data();
        uint32_t length = m_current.length;
        EepromEntry entry;
        entry.tag = tag;
        entry.offset = at;
        entry.blockId = ReadBig32(record);
        entry.secondField = ReadBig32(record + pv730::kEepromSecondFieldOffset);
        entry.dataSize = ReadBig32(record + pv730::kEepromSizeOffset);
        uint32_t expectedId = EepromBlockOfTag(tag);
        if (entry.blockId != expectedId) {
            Fail("eeprom-id-mismatch", at,
                 Format("EEPROM record \"%s\" at container offset %llu carries block ID 0x%04lX, "
                        "not 0x%04lX",
                        name, U64(at), static_cast<unsigned long>(entry.blockId),
                        static_cast<unsigned long>(expectedId)));
            return false;
        }
        // N must make the record (N + 16 bytes) fill the chunk up to its padding.
        const uint32_t room = length - pv730::kEepromOverhead;
        if (entry.dataSize > room || room - entry.dataSize >= kChunkAlignment) {
            Fail("eeprom-size-mismatch", at + kChunkHeaderSize + pv730::kEepromSizeOffset,
                 Format("EEPROM record \"%s\" at container offset %llu gives data size %lu, which "
                        "does not fit its chunk of %lu bytes",
                        name, U64(at), static_cast<unsigned long>(entry.dataSize),
                        static_cast<unsigned long>(length)));
            return false;
        }
        uint32_t recordLength = entry.dataSize + pv730::kEepromOverhead;
        const uint8_t* data = record + pv730::kEepromDataOffset;
        entry.checksum = ReadBig32(data + entry.dataSize);
        uint32_t computed = pv730::EepromChecksum(data, entry.dataSize);
        if (computed != entry.checksum) {
            Fail("eeprom-checksum",
                 at + kChunkHeaderSize + pv730::kEepromDataOffset + entry.dataSize,
                 Format("EEPROM record \"%s\" at container offset %llu has checksum 0x%08lX, but "
                        "its data sum to 0x%08lX",
                        name, U64(at), static_cast<unsigned long>(entry.checksum),
                        static_cast<unsigned long>(computed)));
            return false;
        }
        NoteRecordWarnings(entry, record, recordLength, length);
        m_report->eeprom.push_back(entry);
        *content = recordLength;
        return true;
    }

    // What a sound record may still be told about: padding that is not zero, and for the
    // unit-number block, a record too short to hold the number.
    void NoteRecordWarnings(const EepromEntry& entry, const uint8_t* record, uint32_t recordLength,
                            uint32_t length) {
        const char* name = entry.tag.c_str();
        for (uint32_t i = recordLength; i < length; ++i) {
            if (record[i] != 0) {
                m_report->warnings.push_back(
                    Format("EEPROM record \"%s\" has non-zero padding after its checksum", name));
                break;
            }
        }
        if (entry.blockId == pv730::kUnitNumberBlock) {
            m_report->hasUnitNumber =
                pv730::UnitNumberFromRecord(record, recordLength, &m_report->unitNumber);
            if (!m_report->hasUnitNumber) {
                m_report->warnings.push_back(
                    Format("EEPROM record \"%s\" holds fewer than 32 data bytes and no unit number",
                           name));
            }
        }
    }

    void CheckCompleteness() {
        if (!m_report->hasPcLine) m_report->warnings.push_back("no \"PCDT\" chunk");
        std::string missing;
        int present = 0;
        int device = 0;
        const std::vector<std::string>& order = ChunkTagOrder();
        for (size_t rank = kFirstDeviceRank; rank < order.size(); ++rank) {
            ++device;
            if (m_seen.count(order[rank]) != 0) {
                ++present;
            } else {
                missing += missing.empty() ? "" : " ";
                missing += order[rank];
            }
        }
        if (present > 0 && present < device) {
            m_report->warnings.push_back("printer data incomplete; missing: " + missing);
        }
    }

    PackageReport* m_report;
    PackageSink* m_sink;
    bool m_failed = false;
    PackageProblem m_problem;
    Phase m_phase = Phase::kHeader;
    uint64_t m_offset = 0;
    uint8_t m_header[kContainerHeaderSize] = {};
    uint8_t m_chunkHead[kChunkHeaderSize] = {};
    size_t m_have = 0;
    ChunkEntry m_current;
    uint64_t m_left = 0;
    bool m_keep = false;
    std::vector<uint8_t> m_kept;
    std::set<std::string> m_seen;
    int m_lastRank = -1;
};

// Buffered reading of the package file, counting the offset of every byte and hashing each.
class PackageInput {
  public:
    explicit PackageInput(std::FILE* file) : m_file(file), m_buffer(new uint8_t[kBlock]) {}

    // Offset of the next byte not yet taken.
    uint64_t Offset() const { return m_base + m_pos; }
    bool Error() const { return m_error; }

    bool Byte(uint8_t* out) {
        if (m_pos == m_length && !Refill()) return false;
        *out = m_buffer[m_pos++];
        return true;
    }

    // The unread part of the buffer, refilled when empty; empty at the end of the file.
    bool Available(const uint8_t** data, size_t* size) {
        if (m_pos == m_length && !Refill()) return false;
        *data = m_buffer.get() + m_pos;
        *size = m_length - m_pos;
        return true;
    }
    void Consume(size_t size) { m_pos += size; }

    // Reads to the end; returns how many bytes were left.
    uint64_t Drain() {
        uint64_t count = 0;
        while (m_pos < m_length || Refill()) {
            count += m_length - m_pos;
            m_pos = m_length;
        }
        return count;
    }

    // The SHA-256 of every byte read from the file.
    std::string Digest() { return m_hash.FinishHex(); }

  private:
    bool Refill() {
        m_base += m_length;
        m_pos = 0;
        m_length = std::fread(m_buffer.get(), 1, kBlock, m_file);
        if (std::ferror(m_file)) m_error = true;
        m_hash.Update(m_buffer.get(), m_length);
        return m_length > 0;
    }

    std::FILE* m_file;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_pos = 0;
    size_t m_length = 0;
    uint64_t m_base = 0;
    bool m_error = false;
    Sha256 m_hash;
};

}  // namespace

// The reader behind PackageStream: the gzip layer around the container checker, run in steps
// of at most one inflated block.
class PackageStream::Reader {
  public:
    Reader(PackageReport* report, PackageSink* sink)
        : m_report(report), m_sink(sink), m_checker(report, sink) {}
    ~Reader() {
        if (m_inflating) inflateEnd(&m_z);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // False once the package has been read through (or found damaged).
    bool Step(const std::string& path) {
        switch (m_state) {
            case State::kStart:
                m_state = Start(path) ? State::kInflating : State::kDone;
                break;
            case State::kInflating:
                if (!InflateStep()) m_state = State::kDone;
                break;
            case State::kDone:
                return false;
        }
        if (m_state == State::kDone) Finish();
        return m_state != State::kDone;
    }

  private:
    enum class State { kStart, kInflating, kDone };

    bool Start(const std::string& path) {
        m_file = OwnedFile(std::fopen(path.c_str(), "rb"));
        if (!m_file) {
            return Fail("open-failed", "", 0,
                        Format("cannot open \"%s\": %s", path.c_str(), std::strerror(errno)));
        }
        m_input = std::make_unique<PackageInput>(m_file.Get());
        if (!ReadGzipStart(*m_input)) return false;
        if (inflateInit2(&m_z, -15) != Z_OK) {
            return Fail("read-failed", "", 0, "the decompressor cannot start");
        }
        m_inflating = true;
        m_crc = crc32(0L, Z_NULL, 0);
        return true;
    }

    // The package has ended, well or not: the verdict, and the file read to its end so that
    // its digest covers every byte whatever was found.
    void Finish() {
        if (m_inflating) {
            inflateEnd(&m_z);
            m_inflating = false;
        }
        if (m_input == nullptr) return;
        m_report->packageSize = m_input->Offset();
        m_input->Drain();
        if (!m_input->Error()) m_report->sha256 = m_input->Digest();
        m_file.Close();
        if (!m_ok) return;
        m_checker.Finish();
        if (m_checker.Failed()) {
            m_report->error = m_checker.Problem();
            return;
        }
        m_report->valid = true;
    }

    bool Fail(const char* kind, const char* area, uint64_t offset, const std::string& message) {
        m_ok = false;
        m_report->valid = false;
        m_report->error = {kind, message, area, offset};
        return false;
    }

    bool Truncated(PackageInput& input, const char* where) {
        if (input.Error()) {
            return Fail("read-failed", "package", input.Offset(),
                        Format("read error at package offset %llu", U64(input.Offset())));
        }
        return Fail(
            "truncated-gzip", "package", input.Offset(),
            Format("the package ends at offset %llu inside %s", U64(input.Offset()), where));
    }

    bool ReadGzipStart(PackageInput& input) {
        uint8_t magic[kMagicSize];
        size_t got = 0;
        while (got < kMagicSize && input.Byte(&magic[got])) ++got;
        if (got < kMagicSize || std::memcmp(magic, kPackageMagic, kMagicSize) != 0) {
            if (input.Error()) return Truncated(input, "the magic");
            return Fail("bad-magic", "package", 0,
                        got < kMagicSize
                            ? Format("the file is only %llu bytes long and cannot start with "
                                     "\"%s\"",
                                     U64(got), kPackageMagic)
                            : Format("the file does not start with \"%s\" (package offset 0)",
                                     kPackageMagic));
        }
        return ReadGzipHeader(input);
    }
    bool ReadGzipHeader(PackageInput& input) {
        uint8_t head[sizeof kPackageGzipHeader] = {};
        for (size_t i = 0; i < sizeof head; ++i) {
            if (!input.Byte(&head[i])) return Truncated(input, "the gzip header");
        }
        const unsigned at = static_cast<unsigned>(kMagicSize);
        if (head[0] != kPackageGzipHeader[0] || head[1] != kPackageGzipHeader[1]) {
            return Fail("bad-gzip-header", "package", at,
                        Format("no gzip member at package offset %u (found %02X %02X, not %02X "
                               "%02X)",
                               at, head[0], head[1], kPackageGzipHeader[0], kPackageGzipHeader[1]));
        }
        const uint8_t deflate = kPackageGzipHeader[kGzipMethodOffset];
        if (head[kGzipMethodOffset] != deflate) {
            const unsigned method = at + static_cast<unsigned>(kGzipMethodOffset);
            return Fail("bad-gzip-header", "package", method,
                        Format("gzip compression method %u at package offset %u; only %u "
                               "(deflate) exists",
                               head[kGzipMethodOffset], method, deflate));
        }
        uint8_t flags = head[kGzipFlagsOffset];
        if ((flags & 0xE0) != 0) {
            const unsigned where = at + static_cast<unsigned>(kGzipFlagsOffset);
            return Fail(
                "bad-gzip-header", "package", where,
                Format("reserved gzip flags set (0x%02X) at package offset %u", flags, where));
        }
        m_report->gzipOs = head[kGzipOsOffset];
        if (std::memcmp(head, kPackageGzipHeader, sizeof head) != 0) {
            m_report->warnings.push_back(
                "the gzip member header differs from 1F 8B 08 00 00 00 00 00 00 0B");
        }
        uint8_t b = 0;
        if (flags & 0x04) {  // FEXTRA: skipped, never held
            uint8_t lo = 0, hi = 0;
            if (!input.Byte(&lo) || !input.Byte(&hi)) return Truncated(input, "the gzip header");
            for (unsigned n = lo | (hi << 8); n > 0; --n) {
                if (!input.Byte(&b)) return Truncated(input, "the gzip header");
            }
        }
        for (uint8_t field : {uint8_t{0x08}, uint8_t{0x10}}) {  // FNAME, FCOMMENT
            if ((flags & field) == 0) continue;
            do {
                if (!input.Byte(&b)) return Truncated(input, "the gzip header");
            } while (b != 0);
        }
        if (flags & 0x02) {  // FHCRC
            if (!input.Byte(&b) || !input.Byte(&b)) return Truncated(input, "the gzip header");
        }
        return true;
    }

    // One inflate call: at most kBlock container bytes, more input taken when it needs some.
    // False when inflating has ended: the trailer was read, or something was wrong.
    bool InflateStep() {
        PackageInput& input = *m_input;
        if (m_z.avail_in == 0) {
            input.Consume(m_fed);
            m_fed = 0;
            const uint8_t* data = nullptr;
            if (!input.Available(&data, &m_fed)) return Truncated(input, "the compressed data");
            m_z.next_in = const_cast<Bytef*>(data);
            m_z.avail_in = static_cast<uInt>(m_fed);
        }
        m_z.next_out = m_out.get();
        m_z.avail_out = static_cast<uInt>(kBlock);
        int rc = inflate(&m_z, Z_NO_FLUSH);
        size_t produced = kBlock - m_z.avail_out;
        if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_MEM_ERROR) {
            uint64_t at = input.Offset() + (m_fed - m_z.avail_in);
            return Fail("bad-compressed-data", "package", at,
                        Format("the compressed data are damaged near package offset %llu (%s)",
                               U64(at), m_z.msg != nullptr ? m_z.msg : "inflate failed"));
        }
        m_crc = crc32(m_crc, m_out.get(), static_cast<uInt>(produced));
        m_report->crc32 = static_cast<uint32_t>(m_crc);
        m_report->containerSize += produced;
        if (m_report->containerSize > kMaxContainerBytes) {
            return Fail("oversize-container", "container", kMaxContainerBytes,
                        Format("the container grows beyond %llu bytes, more than any container "
                               "can hold; reading stopped",
                               U64(kMaxContainerBytes)));
        }
        Deliver(m_out.get(), produced);
        if (rc != Z_STREAM_END) return true;
        input.Consume(m_fed - m_z.avail_in);
        m_z.avail_in = 0;
        m_fed = 0;
        ReadTrailer(input);
        return false;
    }

    void Deliver(const uint8_t* data, size_t size) {
        if (size == 0 || m_checker.Failed() || m_sinkFailed) return;
        if (m_sink != nullptr && !m_sink->ContainerBytes(data, size)) {
            m_report->error = {"extract-failed", m_sink->Failure(), "", 0};
            m_sinkFailed = true;
            return;
        }
        m_checker.Feed(data, size);
    }

    bool ReadTrailer(PackageInput& input) {
        uint64_t at = input.Offset();
        uint8_t trailer[kGzipTrailerSize];
        for (size_t i = 0; i < sizeof trailer; ++i) {
            if (!input.Byte(&trailer[i])) return Truncated(input, "the gzip trailer");
        }
        uint32_t storedCrc = Le32(trailer);
        uint32_t storedSize = Le32(trailer + 4);
        if (storedCrc != m_report->crc32) {
            return Fail("crc-mismatch", "package", at,
                        Format("the gzip trailer at package offset %llu records CRC-32 0x%08lX, "
                               "but the container has 0x%08lX",
                               U64(at), static_cast<unsigned long>(storedCrc),
                               static_cast<unsigned long>(m_report->crc32)));
        }
        uint32_t actual = static_cast<uint32_t>(m_report->containerSize);
        if (storedSize != actual) {
            return Fail("length-mismatch", "package", at + 4,
                        Format("the gzip trailer at package offset %llu records %lu bytes, but "
                               "the container has %lu",
                               U64(at + 4), static_cast<unsigned long>(storedSize),
                               static_cast<unsigned long>(actual)));
        }
        uint64_t end = input.Offset();
        uint64_t extra = input.Drain();
        if (input.Error()) return Truncated(input, "the file");
        if (extra > 0) {
            return Fail("data-after-gzip", "package", end,
                        Format("%llu bytes follow the gzip member at package offset %llu",
                               U64(extra), U64(end)));
        }
        if (m_sinkFailed) {
            m_ok = false;
            return false;
        }
        return true;
    }

    PackageReport* m_report;
    PackageSink* m_sink;
    ContainerChecker m_checker;
    bool m_sinkFailed = false;
    bool m_ok = true;
    State m_state = State::kStart;
    OwnedFile m_file;
    std::unique_ptr<PackageInput> m_input;
    z_stream m_z{};
    bool m_inflating = false;
    size_t m_fed = 0;  // bytes of the input buffer handed to the decompressor
    uLong m_crc = 0;
    std::unique_ptr<uint8_t[]> m_out{new uint8_t[kBlock]};
};

PackageStream::PackageStream(std::string path, PackageReport* report, PackageSink* sink)
    : m_path(std::move(path)), m_reader(std::make_unique<Reader>(report, sink)) {
    *report = PackageReport();
}

PackageStream::~PackageStream() = default;

bool PackageStream::Step() {
    return m_reader->Step(m_path);
}

bool ReadPackage(const std::string& path, PackageReport* report, PackageSink* sink) {
    PackageStream stream(path, report, sink);
    while (stream.Step()) {
    }
    return report->valid;
}

}  // namespace trawler
