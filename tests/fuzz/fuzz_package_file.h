// Package bytes as a file the reader can open without touching the disk, and the checks that
// every report of ReadPackage must pass, whatever the bytes were.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <zlib.h>

#include "fuzz/fuzz_answer_script.h"
#include "output/package_reader.h"

namespace trawler::fuzz {

// An anonymous in-memory file, reachable by path through /proc/self/fd; reused by every run.
class MemoryFile {
  public:
    MemoryFile() : m_fd(memfd_create("trawler-fuzz", 0)) {
        FUZZ_CHECK(m_fd >= 0);
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
    }
    ~MemoryFile() { close(m_fd); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    const std::string& Path() const { return m_path; }

    void Set(const uint8_t* data, size_t size) {
        FUZZ_CHECK(ftruncate(m_fd, 0) == 0);
        size_t done = 0;
        while (done < size) {
            ssize_t n = pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
            FUZZ_CHECK(n > 0);
            done += static_cast<size_t>(n);
        }
    }

  private:
    int m_fd;
    std::string m_path;
};

// Takes everything the reader hands over and checks that it is handed over consistently.
class CheckingSink : public PackageSink {
  public:
    bool ContainerBytes(const uint8_t* data, size_t size) override {
        container.insert(container.end(), data, data + size);
        return true;
    }
    bool BeginChunk(const ChunkEntry& chunk) override {
        FUZZ_CHECK(!m_inChunk);
        m_inChunk = true;
        m_chunkBytes = 0;
        return true;
    }
    bool ChunkBytes(const uint8_t* data, size_t size) override {
        FUZZ_CHECK(m_inChunk);
        m_chunkBytes += size;
        return true;
    }
    bool EndChunk(const ChunkEntry& chunk, uint32_t contentLength) override {
        FUZZ_CHECK(m_inChunk);
        FUZZ_CHECK(m_chunkBytes == chunk.length);
        FUZZ_CHECK(contentLength <= chunk.length);
        m_inChunk = false;
        ++endedChunks;
        return true;
    }
    std::string Failure() const override { return "never"; }

    std::vector<uint8_t> container;
    size_t endedChunks = 0;

  private:
    bool m_inChunk = false;
    uint64_t m_chunkBytes = 0;
};

// What holds for every report: a failure names its kind, and a valid package's chunk list
// walks the container it came from exactly, from offset 36 to the end of "ENDF".
inline void CheckReport(const PackageReport& report, const CheckingSink& sink) {
    if (!report.valid) {
        FUZZ_CHECK(!report.error.kind.empty());
        FUZZ_CHECK(!report.error.message.empty());
        return;
    }
    FUZZ_CHECK(report.error.kind.empty());
    FUZZ_CHECK(!report.chunks.empty());
    FUZZ_CHECK(report.chunks.back().tag == "ENDF");
    FUZZ_CHECK(report.containerSize == sink.container.size());
    uint64_t at = 36;
    for (const ChunkEntry& chunk : report.chunks) {
        FUZZ_CHECK(chunk.offset == at);
        FUZZ_CHECK(chunk.tag.size() == 4);
        FUZZ_CHECK(chunk.length % 4 == 0);
        at += 8 + uint64_t{chunk.length};
    }
    FUZZ_CHECK(at == report.containerSize);
    // Every chunk but the terminator went through the sink whole.
    FUZZ_CHECK(sink.endedChunks == report.chunks.size() - 1);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, sink.container.data(), static_cast<uInt>(sink.container.size()));
    FUZZ_CHECK(report.crc32 == static_cast<uint32_t>(crc));
    if (report.hasLog) FUZZ_CHECK(report.logLength % 4 == 0);
    for (const EepromEntry& entry : report.eeprom) FUZZ_CHECK(entry.tag[0] == 'B');
}

// Wraps container bytes as the packaging step would: the magic, then one gzip member.
inline std::vector<uint8_t> WrapContainer(const uint8_t* data, size_t size, int level) {
    std::vector<uint8_t> package = {'P', 'V', '7', '3', '0', 'L', 'Z', '1'};
    z_stream z{};
    // 31: gzip wrapper, window bits 15; the header zlib writes carries OS 3, which the
    // reader accepts with a warning.
    FUZZ_CHECK(deflateInit2(&z, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) == Z_OK);
    std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(size)) + 32);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    FUZZ_CHECK(deflate(&z, Z_FINISH) == Z_STREAM_END);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    package.insert(package.end(), out.begin(), out.end());
    return package;
}

}  // namespace trawler::fuzz
