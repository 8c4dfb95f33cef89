// LogContainer: header, padded tagged chunks, the append buffer and the back-patched length.
//
// Container layout (every integer the container itself writes is big-endian):
//   header, 36 bytes at offset 0
//     0   8  "PV730LO1" (byte 6 is the letter O)
//     8   4  value, always 0
//     12 12  local creation time, "%Y%m%d%H%M", no terminator
//     24 12  zero
//   chunks, from offset 36, each directly after the previous one
//     0   4  tag, four ASCII characters
//     4   4  recorded length L = content length rounded up to a multiple of 4
//     8   L  content, then zero bytes up to L
//   last chunk: "ENDF" 00 00 00 00, nothing after it
#include "output/log_container.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/messages.h"
#include "output/container_format.h"
#include "platform/big_endian.h"

namespace trawler {

namespace {

// fseek takes a long, which is 32 bits on Windows: an offset beyond it counts as a failed seek.
bool SeekTo(std::FILE* file, uint64_t offset) {
    if (offset > static_cast<uint64_t>(LONG_MAX)) return false;
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

}  // namespace

LogContainer::LogContainer(Host& host) : m_host(host) {}

LogContainer::~LogContainer() {
    Close();
}

void LogContainer::ReportLastError() {
    m_damaged = true;
    // One failing disk makes every later write of the same file fail with the same text; the
    // technician sees it once per file, not once per chunk.
    if (m_failureShown) return;
    m_failureShown = true;
    uint32_t code = m_host.LastError();
    ShowLastError(m_host, code, m_host.ErrorText(code));
}

bool LogContainer::Create(const std::string& path) {
    if (!Open(path)) return false;
    if (WriteFileHeader(0)) return true;
    // A container without its header is useless and would only be mistaken for one later.
    Close();
    std::remove(path.c_str());
    return false;
}

bool LogContainer::Open(const std::string& path) {
    if (m_file != nullptr) Close();
    m_failureShown = false;
    m_damaged = false;
    m_file = std::fopen(path.c_str(), "w+b");
    if (m_file == nullptr) {
        ReportLastError();
        return false;
    }
    m_remaining = 0;
    return true;
}

bool LogContainer::WriteFileHeader(uint32_t value) {
    if (m_file == nullptr) return false;
    uint8_t header[kContainerHeaderSize] = {};
    std::memcpy(header, kContainerMagic, kMagicSize);
    PutBig32(header + kHeaderValueOffset, value);
    std::tm now = m_host.LocalNow();
    char digits[64] = {};
    size_t n = std::strftime(digits, sizeof digits, "%Y%m%d%H%M", &now);
    std::memcpy(header + kHeaderTimeOffset, digits, n < kHeaderTimeDigits ? n : kHeaderTimeDigits);
    return WriteBytes(sizeof header, header);
}

bool LogContainer::WriteChunkHeader(const char* tag, uint32_t length) {
    if (m_file == nullptr) return false;
    // Appended bytes still waiting belong before this header; writing them first keeps the
    // file in order even when a caller skipped SetChunkLength.
    if (m_fillCount > 0 && !FlushAppended()) return false;
    m_remaining = length;
    uint8_t header[kChunkHeaderSize];
    std::memcpy(header, tag, kTagSize);
    PutBig32(header + kTagSize, length);
    return WriteBytes(sizeof header, header);
}

bool LogContainer::WriteBytes(size_t count, const void* data) {
    if (m_file == nullptr) return false;
    if (count == 0) return true;
    if (std::fwrite(data, 1, count, m_file) != count) {
        ReportLastError();
        return false;
    }
    return true;
}

bool LogContainer::WriteChunk(const char* tag, uint32_t contentLength, const void* content) {
    if (m_file == nullptr) return false;
    if (!FitsChunk(contentLength)) return Damage();
    uint32_t recorded = PaddedLength(contentLength);
    uint32_t pad = recorded - contentLength;
    if (!WriteChunkHeader(tag, recorded)) return false;
    if (m_remaining < contentLength) return Damage();
    m_remaining -= contentLength;
    if (!WriteBytes(contentLength, content)) return false;
    if (pad == 0) return true;
    if (m_remaining < pad) return Damage();
    m_remaining -= pad;
    static const uint8_t kZeros[kChunkAlignment] = {};
    return WriteBytes(pad, kZeros);
}

bool LogContainer::AppendByte(uint8_t byte) {
    if (m_file == nullptr) return false;
    if (!m_buffer) {
        m_buffer.reset(new (std::nothrow) uint8_t[kAppendBufferSize]);
        if (!m_buffer) return Damage();
        m_bufferCapacity = kAppendBufferSize;
        m_fillCount = 0;
    }
    // A full buffer is left over from a failed write: it must go out before another byte
    // fits, or the byte would land past the end of the block.
    if (m_fillCount >= m_bufferCapacity) {
        if (!WriteBytes(static_cast<size_t>(m_fillCount), m_buffer.get())) return false;
        m_fillCount = 0;
    }
    m_buffer[m_fillCount++] = byte;
    if (m_fillCount < m_bufferCapacity) return true;
    if (!WriteBytes(static_cast<size_t>(m_fillCount), m_buffer.get())) return false;
    m_fillCount = 0;
    return true;
}

bool LogContainer::FlushAppended() {
    if (m_file == nullptr) return false;
    if (!m_buffer || m_fillCount == 0) return true;
    bool ok = WriteBytes(static_cast<size_t>(m_fillCount), m_buffer.get());
    m_fillCount = 0;
    return ok;
}

bool LogContainer::FindChunk(const char* tag, uint32_t* length) {
    if (m_file == nullptr) return false;
    uint64_t p = kContainerHeaderSize;
    if (!SeekTo(m_file, p)) {
        ReportLastError();
        return false;
    }
    for (;;) {
        uint8_t header[kChunkHeaderSize];
        if (std::fread(header, 1, sizeof header, m_file) != sizeof header) {
            ReportLastError();
            return false;
        }
        p += kChunkHeaderSize;
        uint32_t recorded = ReadBig32(header + kTagSize);
        if (std::memcmp(header, tag, kTagSize) == 0) {
            if (length != nullptr) *length = recorded;
            return true;
        }
        if (std::memcmp(header, kTagEnd, kTagSize) == 0) return false;
        p += recorded;
        if (!SeekTo(m_file, p)) {
            ReportLastError();
            return false;
        }
    }
}

bool LogContainer::SetChunkLength(const char* tag, uint32_t length) {
    if (m_file == nullptr) return false;
    bool flushed = FlushAppended();
    std::fflush(m_file);
    long end = std::ftell(m_file);
    bool ok = flushed && end >= 0 && FindChunk(tag, nullptr) &&
              std::fseek(m_file, -static_cast<long>(kChunkHeaderSize), SEEK_CUR) == 0 &&
              WriteChunkHeader(tag, length);
    // Back to the end whatever happened, so that "ENDF" cannot land inside earlier data.
    if (end >= 0 && std::fseek(m_file, end, SEEK_SET) != 0) ok = false;
    return ok || Damage();
}

bool LogContainer::WriteEnd() {
    return WriteChunkHeader(kTagEnd, 0);
}

bool LogContainer::Close() {
    bool ok = true;
    if (m_buffer) {
        if (m_file != nullptr && m_fillCount > 0) {
            ok = WriteBytes(static_cast<size_t>(m_fillCount), m_buffer.get());
        }
        m_buffer.reset();
        m_fillCount = 0;
        m_bufferCapacity = 0;
    }
    if (m_file == nullptr) return false;
    // The buffered stream reports a full disk only here; a container cut short must not be
    // taken for a whole one.
    if (std::fclose(m_file) != 0) {
        if (ok) ReportLastError();
        ok = false;
    }
    m_file = nullptr;
    m_remaining = 0;
    return ok;
}

}  // namespace trawler
