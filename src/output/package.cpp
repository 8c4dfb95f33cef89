// The package writer: names, comment record, gzip compression and the package copy.
//
// Package layout (".zlg"):
//   0      8  "PV730LZ1" (byte 6 is the letter Z)
//   8     10  gzip member header 1F 8B 08 00 00 00 00 00 00 0B
//   18     n  deflate data of the container (level 6, window bits 15, memory level 8)
//   18+n   4  CRC-32 of the container, least significant byte first
//   22+n   4  container length modulo 2^32, least significant byte first
// Nothing follows the member.
#include "output/package.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "output/container_format.h"
#include "platform/file_ops.h"
#include "platform/messages.h"
#include "platform/owned_file.h"

namespace trawler {

namespace {

constexpr size_t kCompressBlock = 16384;
constexpr size_t kCopyBlock = 1000;

// zlib writes its own build's operating-system code into the gzip header (3 on Linux); the
// package always says 11, so the member is the same whichever build wrote it.
constexpr uint8_t kGzipOsCode = kPackageGzipHeader[kGzipOsOffset];

bool SetGzipOsCode(const std::string& path) {
    OwnedFile file(std::fopen(path.c_str(), "r+b"));
    if (!file) return false;
    uint8_t head[sizeof kPackageGzipHeader];
    bool ok = std::fread(head, 1, sizeof head, file.Get()) == sizeof head &&
              std::memcmp(head, kPackageGzipHeader, kGzipOsOffset) == 0;
    if (ok && head[kGzipOsOffset] != kGzipOsCode) {
        ok = std::fseek(file.Get(), static_cast<long>(kGzipOsOffset), SEEK_SET) == 0 &&
             std::fputc(kGzipOsCode, file.Get()) != EOF;
    }
    return file.Close() && ok;
}

// A gzip writer closed when its owner goes; Close() says whether the member was completed.
class OwnedGz {
  public:
    explicit OwnedGz(gzFile gz) : m_gz(gz) {}
    ~OwnedGz() {
        if (m_gz != nullptr) gzclose(m_gz);
    }
    OwnedGz(const OwnedGz&) = delete;
    OwnedGz& operator=(const OwnedGz&) = delete;
    gzFile Get() const { return m_gz; }
    explicit operator bool() const { return m_gz != nullptr; }
    bool Close() {
        int rc = gzclose(m_gz);
        m_gz = nullptr;
        return rc == Z_OK;
    }

  private:
    gzFile m_gz;
};

// Step 4 of compression: copy the container into the gzip writer.
int CompressStream(std::FILE* container, gzFile gz) {
    std::vector<char> block(kCompressBlock);
    for (;;) {
        size_t got = std::fread(block.data(), 1, block.size(), container);
        if (std::ferror(container)) return kZlgContainerReadError;
        if (got == 0) return kPackageOk;
        int put = gzwrite(gz, block.data(), static_cast<unsigned>(got));
        if (put < 0 || static_cast<size_t>(put) != got) return kZlgShortCompressWrite;
    }
}

int Compress(const std::string& containerPath, const std::string& tempPath) {
    OwnedFile container(std::fopen(containerPath.c_str(), "rb"));
    if (!container) return kZlgContainerOpenFailed;
    OwnedGz gz(gzopen(tempPath.c_str(), "wb6 "));
    if (!gz) return kZlgTempCreateFailed;
    int r = CompressStream(container.Get(), gz.Get());
    container.Close();
    if (!gz.Close()) r = kZlgCompressCloseFailed;
    if (r == kPackageOk && !SetGzipOsCode(tempPath)) r = kZlgCompressCloseFailed;
    return r;
}

}  // namespace

std::string MakePackagePath(const std::string& folder, const std::tm& localTime, char separator) {
    char stamp[64] = {};
    std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M", &localTime);
    return folder + separator + stamp + ".zlg";
}

std::string FormatPcLine(const VersionRecord& record) {
    const char* format = "Windows Version=%d.%d, Build Number=%d, (%s), PlatformID=%d";
    int major = static_cast<int>(record.major);
    int minor = static_cast<int>(record.minor);
    int build = static_cast<int>(record.build);
    int platform = static_cast<int>(record.platformId);
    int n = std::snprintf(nullptr, 0, format, major, minor, build, record.servicePack.c_str(),
                          platform);
    if (n < 0) return std::string();
    std::vector<char> line(static_cast<size_t>(n) + 1);
    std::snprintf(line.data(), line.size(), format, major, minor, build, record.servicePack.c_str(),
                  platform);
    return std::string(line.data(), static_cast<size_t>(n));
}

bool WriteCommentToLog(LogContainer& container, Host& host, const std::string& customer,
                       const std::string& comment) {
    auto put = [&container](const char* tag, const std::string& text) {
        if (!FitsChunk(text.size())) return false;
        return container.WriteChunk(tag, static_cast<uint32_t>(text.size()), text.data());
    };
    if (!comment.empty() && !put(kTagComment, comment)) return false;
    if (!customer.empty() && !put(kTagCustomer, customer)) return false;
    VersionRecord record;
    if (!host.GetVersionRecord(&record)) return false;
    return put(kTagPcLine, FormatPcLine(record));
}

int WritePackage(const std::string& source, const std::string& destination) {
    OwnedFile inFile(std::fopen(source.c_str(), "rb"));
    if (!inFile) return kPackageTempOpenFailed;
    OwnedFile outFile(OpenNewFile(destination));
    if (!outFile) return kPackageCreateFailed;
    std::FILE* in = inFile.Get();
    std::FILE* out = outFile.Get();
    int r = kPackageOk;
    if (std::fwrite(kPackageMagic, 1, kMagicSize, out) != kMagicSize) {
        r = kPackageMagicWriteFailed;
    } else {
        char block[kCopyBlock];
        for (;;) {
            size_t got = std::fread(block, 1, sizeof block, in);
            if (std::ferror(in)) {
                r = kPackageTempReadError;
                break;
            }
            if (got == 0) break;
            if (std::fwrite(block, 1, got, out) != got) {
                r = kPackageShortWrite;
                break;
            }
        }
    }
    // The last buffered block reaches the disk only at the close: a failure there means a
    // package cut short, which must not be reported as written.
    if (!outFile.Close() && r == kPackageOk) r = kPackageShortWrite;
    return r;
}

int MakeZlg(Host& host, const std::string& containerPath, const std::string& packagePath) {
    std::string tempPath = containerPath + ".tmp";
    int r = Compress(containerPath, tempPath);
    std::remove(containerPath.c_str());
    if (r == kPackageOk) r = WritePackage(tempPath, packagePath);
    std::remove(tempPath.c_str());
    if (r < 0) {
        // -8 means the package name belongs to an earlier file: it must survive.
        if (r != kPackageCreateFailed) std::remove(packagePath.c_str());
        ShowMessage(host, "error: MakeZlg (%d)", r);
    }
    return r;
}

bool PackageNameTaken(const std::string& packagePath) {
    return PathExists(packagePath) || PathExists(packagePath + ".tmp");
}

bool AddUnitNumberToName(const std::string& folder, std::string* packagePath, uint32_t unitNumber,
                         char separator) {
    if (packagePath->size() <= folder.size() + 1) return false;
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "No%u_", static_cast<unsigned>(unitNumber));
    std::string name = packagePath->substr(folder.size() + 1);
    std::string renamed = folder + separator + prefix + name;
    if (!RenameNoReplace(*packagePath, renamed)) return false;
    *packagePath = renamed;
    return true;
}

}  // namespace trawler
