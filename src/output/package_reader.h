// The package reader: checks a ".zlg" file from its magic to "ENDF" and reports what it holds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace trawler {

// Memory stays bounded whatever a package claims: the container is inflated and checked as a
// stream; only the small known chunks are held (each at most kMaxKeptChunkBytes), the log is
// never held, and a container may not exceed kMaxContainerBytes or kMaxChunks chunks.
constexpr uint32_t kMaxKeptChunkBytes = 1u << 20;
constexpr uint64_t kMaxContainerBytes = uint64_t{1} << 32;
constexpr size_t kMaxChunks = 4096;

// The first thing found wrong. kind is a stable identifier (listed in docs/PACKAGE.md); area
// is "package" (offset in the .zlg file) or "container" (offset in the inflated container).
struct PackageProblem {
    std::string kind;
    std::string message;
    std::string area;
    uint64_t offset = 0;
};

struct ChunkEntry {
    std::string tag;
    uint64_t offset = 0;  // container offset of the chunk's header
    uint32_t length = 0;  // recorded length
};

struct EepromEntry {
    std::string tag;
    uint64_t offset = 0;
    uint32_t blockId = 0;
    uint32_t secondField = 0;
    uint32_t dataSize = 0;
    uint32_t checksum = 0;  // stored and equal to the computed one
};

struct PackageReport {
    bool valid = false;
    PackageProblem error;               // when not valid
    std::vector<std::string> warnings;  // deviations that do not stop reading

    uint64_t packageSize = 0;  // bytes read from the file (all of it when valid)
    // SHA-256 of the whole file (64 lower-case hex digits), however damaged; empty when the
    // file could not be opened or read to its end.
    std::string sha256;
    uint8_t gzipOs = 0;
    uint32_t crc32 = 0;
    uint64_t containerSize = 0;

    uint32_t headerValue = 0;
    std::string created;  // the header's twelve time characters, non-printable ones as '?'
    std::vector<ChunkEntry> chunks;
    std::vector<EepromEntry> eeprom;

    bool hasUnitNumber = false;
    uint32_t unitNumber = 0;
    bool hasClock = false;
    std::array<uint8_t, 8> clock{};
    bool hasVersion = false;
    std::array<uint32_t, 4> version{};
    bool hasLogInfo = false;
    std::array<uint8_t, 4> logInfo{};
    bool hasLog = false;
    uint32_t logLength = 0;  // recorded length: the log plus up to 3 zero bytes of padding

    // Texts as stored (ANSI bytes), padding removed.
    bool hasComment = false;  // "Cust"
    std::string comment;
    bool hasCustomer = false;  // "Comm"
    std::string customer;
    bool hasPcLine = false;  // "PCDT"
    std::string pcLine;
};

// Receives the container while it is read: every container byte, and each chunk's data
// (padding included); at its end, how many leading bytes are content (the recorded length
// when the content length cannot be known, as for "LOGD"). A false return stops the reading.
class PackageSink {
  public:
    virtual ~PackageSink() = default;
    virtual bool ContainerBytes(const uint8_t* data, size_t size) = 0;
    virtual bool BeginChunk(const ChunkEntry& chunk) = 0;
    virtual bool ChunkBytes(const uint8_t* data, size_t size) = 0;
    virtual bool EndChunk(const ChunkEntry& chunk, uint32_t contentLength) = 0;
    // Why the sink stopped, for the error message.
    virtual std::string Failure() const = 0;
};

// Reads and checks the whole package. Returns report->valid. With a sink, the container is
// handed over as it is read; the sink also sees the bytes of a package found damaged later,
// so check it first without a sink when that matters.
bool ReadPackage(const std::string& path, PackageReport* report, PackageSink* sink = nullptr);

// ReadPackage a step at a time, so that two packages can be read side by side with neither
// held: each Step inflates at most 64 KiB of the container and hands it to the sink.
class PackageStream {
  public:
    PackageStream(std::string path, PackageReport* report, PackageSink* sink = nullptr);
    ~PackageStream();
    PackageStream(const PackageStream&) = delete;
    PackageStream& operator=(const PackageStream&) = delete;

    // Reads on; false once the package has been read through and the report is complete.
    bool Step();

  private:
    class Reader;
    std::string m_path;
    std::unique_ptr<Reader> m_reader;
};

}  // namespace trawler
