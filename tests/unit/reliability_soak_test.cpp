// Soak: one very large log collected in virtual time, and fifty runs in a row from one page,
// with memory, open descriptors and every package checked.
//
// The large log is 256 MiB by default (64 MiB under the address sanitizer);
// TRAWLER_SOAK_LOG_MIB=<n> chooses another size.
// Linux only: the test measures memory and descriptors through /proc and glibc's allocator; the
// Windows build compiles it to nothing.
#if defined(__linux__)

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "output/package_reader.h"
#include "support/reliability_harness.h"

namespace trawler {
namespace {

using testing::ReliabilityDevice;
using testing::ReliabilityRun;

// The address sanitizer owns the heap (mallinfo2 reads nothing, freed blocks wait in its
// quarantine) and slows the run about five times: memory is not measured there, and the large
// log is 64 MiB unless asked otherwise.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedHeap = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedHeap = true;
#else
constexpr bool kSanitizedHeap = false;
#endif
#else
constexpr bool kSanitizedHeap = false;
#endif

uint64_t SoakLogBytes() {
    const uint64_t fallback = kSanitizedHeap ? 64 : 256;
    const char* value = std::getenv("TRAWLER_SOAK_LOG_MIB");
    uint64_t mib = value != nullptr ? std::strtoull(value, nullptr, 10) : fallback;
    return (mib == 0 ? fallback : mib) << 20;
}

size_t OpenDescriptors() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

uint64_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

uint64_t PeakResidentBytes() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}

// Bytes the heap has handed out and not taken back.
uint64_t HeapInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Takes the CRC-32 of the "LOGD" content while the product's reader streams the package.
class LogCrcSink : public PackageSink {
  public:
    bool ContainerBytes(const uint8_t*, size_t) override { return true; }
    bool BeginChunk(const ChunkEntry& chunk) override {
        m_inLog = chunk.tag == "LOGD";
        return true;
    }
    bool ChunkBytes(const uint8_t* data, size_t size) override {
        if (!m_inLog) return true;
        for (size_t done = 0; done < size;) {
            uInt piece = static_cast<uInt>(std::min<size_t>(size - done, 1u << 30));
            crc = crc32(crc, data + done, piece);
            done += piece;
            logBytes += piece;
        }
        return true;
    }
    bool EndChunk(const ChunkEntry&, uint32_t) override {
        m_inLog = false;
        return true;
    }
    std::string Failure() const override { return std::string(); }

    uLong crc = crc32(0, nullptr, 0);
    uint64_t logBytes = 0;

  private:
    bool m_inLog = false;
};

// The CRC-32 of what the device sends, with the container's zero padding after it.
uLong ExpectedLogCrc(const DeviceDescription& device, uint64_t* bytes) {
    std::unique_ptr<sim::ByteSource> source = sim::OpenLog(device.log);
    uLong crc = crc32(0, nullptr, 0);
    std::vector<uint8_t> block(1 << 16);
    *bytes = 0;
    for (size_t n; (n = source->Read(block.data(), block.size())) > 0;) {
        crc = crc32(crc, block.data(), static_cast<uInt>(n));
        *bytes += n;
    }
    static const uint8_t kZeros[4] = {};
    uint64_t pad = PaddedLength(static_cast<uint32_t>(*bytes)) - *bytes;
    crc = crc32(crc, kZeros, static_cast<uInt>(pad));
    *bytes += pad;
    return crc;
}

TEST(Soak, AVeryLargeLogIsCollectedWithBoundedMemory) {
    const uint64_t logBytes = SoakLogBytes();
    ReliabilityRun<> f(ReliabilityDevice("", logBytes), DefaultLinkSettings());
    const uint64_t residentBefore = ResidentBytes();
    const uint64_t peakBefore = PeakResidentBytes();
    const size_t fdsBefore = OpenDescriptors();
    const auto start = std::chrono::steady_clock::now();

    ASSERT_TRUE(f.Run().Saved());

    const double runSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint64_t peakGrowth = PeakResidentBytes() - std::max(peakBefore, residentBefore);
    EXPECT_TRUE(f.host.messages.empty());
    EXPECT_EQ(fdsBefore, OpenDescriptors());
    if (logBytes >= (uint64_t{4} << 20)) {
        EXPECT_EQ(9, f.host.progressPos);
    }
    // The log streams through the link, the container's buffer and the compressor: it is
    // never held whole, so the peak grows by a few MiB whatever the log's size.
    if (!kSanitizedHeap) {
        EXPECT_LT(peakGrowth, uint64_t{32} << 20);
    }
    EXPECT_LT(f.spooler.Stats().peakStagedBytes, size_t{64} << 10);
    // Virtual time: the whole log came through without one real wait.
    EXPECT_GT(f.host.TotalSleepMillis(), 0u);

    LogCrcSink sink;
    PackageReport report;
    const std::string path = f.folder.Path("No1234_20061130_1745.zlg");
    ASSERT_TRUE(trawler::ReadPackage(path, &report, &sink))
        << report.error.kind << ": " << report.error.message;
    uint64_t expectedBytes = 0;
    uLong expectedCrc = ExpectedLogCrc(f.spooler.Device(), &expectedBytes);
    EXPECT_EQ(expectedBytes, report.logLength);
    EXPECT_EQ(expectedBytes, sink.logBytes);
    EXPECT_EQ(expectedCrc, sink.crc);
    EXPECT_EQ(std::vector<std::string>{"No1234_20061130_1745.zlg"},
              testing::FilesIn(f.folder.Folder()));

    std::printf(
        "soak: %llu MiB log in %.1f s (run only), package %llu bytes, peak resident "
        "growth %.1f MiB, %zu fds before and after\n",
        static_cast<unsigned long long>(logBytes >> 20), runSeconds,
        static_cast<unsigned long long>(report.packageSize),
        static_cast<double>(peakGrowth) / (1 << 20), fdsBefore);
}

// Heap that rightly grows with every run: the emulator's record of jobs and commands.
uint64_t HistoryBytes(const EmulatedSpooler& spooler) {
    // A heap block costs its size rounded up to 16 bytes, plus 8 bytes of bookkeeping.
    auto block = [](uint64_t bytes) { return bytes == 0 ? 0 : ((bytes + 8 + 15) / 16) * 16; };
    uint64_t total = block(spooler.Jobs().capacity() * sizeof(CapturedJob)) +
                     block(spooler.Commands().capacity() * sizeof(ReceivedCommand));
    for (const CapturedJob& job : spooler.Jobs()) total += block(job.bytes.capacity());
    return total;
}

// The technician presses Next fifty times on one page, a minute apart.
TEST(Soak, FiftyRunsFromOnePageLeakNeitherMemoryNorDescriptors) {
    constexpr int kRuns = 50;
    constexpr int kWarmUp = 10;
    ReliabilityRun<> f(ReliabilityDevice("", 300000), DefaultLinkSettings());
    std::set<std::string> saved;
    size_t fdsAfterWarmUp = 0;
    uint64_t heapAfterWarmUp = 0;
    uint64_t historyAfterWarmUp = 0;
    uint64_t residentAfterWarmUp = 0;
    for (int i = 0; i < kRuns; ++i) {
        SCOPED_TRACE(i);
        int minute = 45 + i;
        f.host.now = testing::RecordingHost::MakeTime(2006, 11, 30, 17 + minute / 60, minute % 60);
        // The host's record of waits is the test's own; only this run's is kept.
        f.host.sleeps.clear();
        ASSERT_TRUE(f.Run().Saved());
        ASSERT_TRUE(f.host.messages.empty()) << f.host.messages.front();
        EXPECT_EQ(0u, f.spooler.OpenHandleCount());
        EXPECT_FALSE(f.run.m_container.IsOpen());

        char name[64];
        std::snprintf(name, sizeof name, "No1234_20061130_%02d%02d.zlg", 17 + minute / 60,
                      minute % 60);
        EXPECT_EQ(f.folder.Path(name), f.session.m_strSavedPath);
        PackageReport report;
        EXPECT_TRUE(trawler::ReadPackage(f.session.m_strSavedPath, &report))
            << report.error.kind << ": " << report.error.message;
        EXPECT_EQ(300000u, report.logLength);
        saved.insert(f.session.m_strSavedPath);

        if (i + 1 == kWarmUp) {
            fdsAfterWarmUp = OpenDescriptors();
            heapAfterWarmUp = HeapInUse();
            historyAfterWarmUp = HistoryBytes(f.spooler);
            residentAfterWarmUp = ResidentBytes();
        } else if (i + 1 > kWarmUp) {
            EXPECT_EQ(fdsAfterWarmUp, OpenDescriptors());
        }
    }
    EXPECT_EQ(size_t{kRuns}, saved.size());
    EXPECT_EQ(size_t{kRuns}, testing::FilesIn(f.folder.Folder()).size());

    // The emulator keeps every job it was sent (fourteen small ones a run); beyond that
    // history, a container buffer, a read buffer or a stream left behind by a run would add
    // hundreds of bytes or kilobytes per run.
    const int64_t heapGrowth =
        static_cast<int64_t>(HeapInUse()) - static_cast<int64_t>(heapAfterWarmUp);
    const int64_t historyGrowth =
        static_cast<int64_t>(HistoryBytes(f.spooler)) - static_cast<int64_t>(historyAfterWarmUp);
    const int64_t perRun = (heapGrowth - historyGrowth) / (kRuns - kWarmUp);
    if (!kSanitizedHeap) {
        EXPECT_LT(perRun, 256);
    }
    const int64_t residentGrowth =
        static_cast<int64_t>(ResidentBytes()) - static_cast<int64_t>(residentAfterWarmUp);
    if (!kSanitizedHeap) {
        EXPECT_LT(residentGrowth, int64_t{4} << 20);
    }
    if (kSanitizedHeap) std::printf("soak: heap figures below mean nothing under the sanitizer\n");
    std::printf(
        "soak: %d runs, heap growth %lld bytes over the last %d, of which the job and "
        "page records %lld; the rest %lld a run; resident growth %lld KiB; %zu fds "
        "throughout\n",
        kRuns, static_cast<long long>(heapGrowth), kRuns - kWarmUp,
        static_cast<long long>(historyGrowth), static_cast<long long>(perRun),
        static_cast<long long>(residentGrowth / 1024), fdsAfterWarmUp);
}

}  // namespace
}  // namespace trawler

#endif  // defined(__linux__)
