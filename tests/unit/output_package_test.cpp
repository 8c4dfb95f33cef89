// The package writer: names, the comment record, MakeZlg's result codes and a real gzip member.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "output/log_container.h"
#include "output/package.h"
#include "output_test_support.h"
#include "support/package_contents.h"
#include "support/recording_host.h"

namespace trawler {
namespace {

using testing::Bytes;
using testing::Exists;
using testing::ReadAll;
using testing::RecordingHost;
using testing::ScratchFolder;
using testing::ToBytes;
using testing::WriteAll;

using testing::Chunk;

// An independent walk of a container file, so the writer is not checked by its own reader.
std::vector<Chunk> Chunks(const Bytes& file) {
    std::string error;
    return testing::WalkChunks(file, &error);
}

Bytes Gunzip(const Bytes& member) {
    std::string error;
    Bytes out = testing::Gunzip(member.data(), member.size(), &error);
    EXPECT_EQ("", error);
    return out;
}

class PackageTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_scratch.Ok()); }

    // A finished container with a comment record, a small log and the terminator.
    Bytes MakeContainer(const std::string& path, size_t logBytes = 10) {
        LogContainer container(m_host);
        EXPECT_TRUE(container.Create(path));
        EXPECT_TRUE(WriteCommentToLog(container, m_host, "ACME", "paper jam"));
        EXPECT_TRUE(container.WriteChunkHeader("LOGD", 0));
        std::mt19937 random(7);
        for (size_t i = 0; i < logBytes; ++i) {
            container.AppendByte(static_cast<uint8_t>(random()));
        }
        for (size_t i = logBytes; i % 4 != 0; ++i) container.AppendByte(0);
        EXPECT_TRUE(container.SetChunkLength(
            "LOGD", static_cast<uint32_t>(PaddedLength(static_cast<uint32_t>(logBytes)))));
        EXPECT_TRUE(container.WriteEnd());
        EXPECT_TRUE(container.Close());
        return ReadAll(path);
    }

    ScratchFolder m_scratch;
    RecordingHost m_host;
};

TEST(PackageNames, FolderTimeAndSeparator) {
    std::tm t = RecordingHost::MakeTime(2006, 11, 30, 17, 45);
    EXPECT_EQ(MakePackagePath("D:\\logs", t), "D:\\logs\\20061130_1745.zlg");
    EXPECT_EQ(MakePackagePath("D:\\logs\\", t), "D:\\logs\\\\20061130_1745.zlg");
    EXPECT_EQ(MakePackagePath("/srv/logs", RecordingHost::MakeTime(2024, 1, 2, 3, 4), '/'),
              "/srv/logs/20240102_0304.zlg");
}

TEST(PackageNames, PcLine) {
    EXPECT_EQ(FormatPcLine({5, 1, 2600, 2, "Service Pack 2"}),
              "Windows Version=5.1, Build Number=2600, (Service Pack 2), PlatformID=2");
    EXPECT_EQ(FormatPcLine({6, 2, 9200, kNotWindowsPlatformId, "Linux 6.1.0"}),
              "Windows Version=6.2, Build Number=9200, (Linux 6.1.0), PlatformID=-1");
}

TEST_F(PackageTest, UnitNumberRenameWithAndWithoutTrailingSeparator) {
    for (bool trailing : {false, true}) {
        SCOPED_TRACE(trailing ? "folder ends in a separator" : "plain folder");
        std::string folder = m_scratch.Folder() + (trailing ? "/" : "");
        std::string first = MakePackagePath(folder, m_host.now, '/');
        WriteAll(first, ToBytes("package"));
        std::string path = first;
        ASSERT_TRUE(AddUnitNumberToName(folder, &path, 1234, '/'));
        EXPECT_EQ(path, folder + "/No1234_20061130_1745.zlg");
        EXPECT_FALSE(Exists(first));
        EXPECT_EQ(ReadAll(path), ToBytes("package"));
        std::filesystem::remove(path);
    }
}

TEST_F(PackageTest, UnitNumberRenameNeverReplacesAnExistingPackage) {
    std::string folder = m_scratch.Folder();
    std::string first = MakePackagePath(folder, m_host.now, '/');
    std::string earlier = folder + "/No1234_20061130_1745.zlg";
    WriteAll(earlier, ToBytes("earlier"));
    WriteAll(first, ToBytes("second"));
    std::string path = first;
    EXPECT_FALSE(AddUnitNumberToName(folder, &path, 1234, '/'));
    EXPECT_EQ(path, first);
    EXPECT_EQ(ReadAll(earlier), ToBytes("earlier"));
    EXPECT_EQ(ReadAll(first), ToBytes("second"));
    // A name too short to hold folder and separator is refused instead of cut wrongly.
    std::string shortPath = "x";
    EXPECT_FALSE(AddUnitNumberToName(folder, &shortPath, 1, '/'));
}

TEST_F(PackageTest, CommentRecordPutsCommentInCustAndCustomerInComm) {
    struct Case {
        const char* name;
        std::string customer;
        std::string comment;
        std::vector<std::string> tags;
    };
    const std::vector<Case> cases = {
        {"both empty", "", "", {"PCDT"}},
        {"customer only", "ACME", "", {"Comm", "PCDT"}},
        {"comment only", "", "jams", {"Cust", "PCDT"}},
        {"both", "ACME", "jams", {"Cust", "Comm", "PCDT"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = m_scratch.Path("c.tmp");
        LogContainer container(m_host);
        ASSERT_TRUE(container.Create(path));
        ASSERT_TRUE(WriteCommentToLog(container, m_host, c.customer, c.comment));
        ASSERT_TRUE(container.Close());
        std::vector<std::string> tags;
        for (const Chunk& chunk : Chunks(ReadAll(path))) {
            tags.push_back(chunk.tag);
            std::string text(chunk.data.begin(), chunk.data.end());
            text.erase(text.find_last_not_of('\0') + 1);
            if (chunk.tag == "Cust") {
                EXPECT_EQ(text, c.comment);
            }
            if (chunk.tag == "Comm") {
                EXPECT_EQ(text, c.customer);
            }
            if (chunk.tag == "PCDT") {
                EXPECT_EQ(text,
                          "Windows Version=5.1, Build Number=2600, (Service Pack 2), PlatformID=2");
            }
        }
        EXPECT_EQ(tags, c.tags);
    }
    EXPECT_TRUE(m_host.messages.empty());

    m_host.versionAvailable = false;
    LogContainer container(m_host);
    ASSERT_TRUE(container.Create(m_scratch.Path("c.tmp")));
    EXPECT_FALSE(WriteCommentToLog(container, m_host, "ACME", "jams"));
}

TEST_F(PackageTest, PackageIsMagicAndOneGzipMemberOfTheContainer) {
    std::string package = MakePackagePath(m_scratch.Folder(), m_host.now, '/');
    std::string containerPath = package + ".tmp";
    ASSERT_FALSE(PackageNameTaken(package));
    Bytes container = MakeContainer(containerPath, 100000);
    EXPECT_TRUE(PackageNameTaken(package));  // the container alone already takes the name
    ASSERT_EQ(MakeZlg(m_host, containerPath, package), kPackageOk);
    EXPECT_TRUE(m_host.messages.empty());
    EXPECT_FALSE(Exists(containerPath));
    EXPECT_FALSE(Exists(containerPath + ".tmp"));
    EXPECT_TRUE(PackageNameTaken(package));

    Bytes file = ReadAll(package);
    ASSERT_GT(file.size(), 26u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), ToBytes("PV730LZ1"));
    EXPECT_EQ(Bytes(file.begin() + 8, file.begin() + 18),
              (Bytes{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0x0B}));
    EXPECT_EQ(Gunzip(Bytes(file.begin() + 8, file.end())), container);
}

// The compressor's settings are part of the format: the deflate data must be exactly what
// zlib makes at level 6, window bits 15, memory level 8 and the default strategy.
TEST_F(PackageTest, DeflateDataAreLevel6Window15MemLevel8DefaultStrategy) {
    std::string package = m_scratch.Path("p.zlg");
    LogContainer writer(m_host);
    ASSERT_TRUE(writer.Create(package + ".tmp"));
    ASSERT_TRUE(WriteCommentToLog(writer, m_host, "ACME", "paper jam"));
    // A log that compresses well, so that other settings would choose other matches; long
    // enough (past 32 KiB) to tell window sizes apart.
    std::string log;
    std::mt19937 random(11);
    while (log.size() < 300000) {
        log += "E" + std::to_string(random() % 97) + " head " + std::to_string(random() % 7) +
               (random() % 3 == 0 ? " jam\n" : " ok\n");
    }
    ASSERT_TRUE(writer.WriteChunk("LOGD", static_cast<uint32_t>(log.size()), log.data()));
    ASSERT_TRUE(writer.WriteEnd());
    ASSERT_TRUE(writer.Close());
    Bytes container = ReadAll(package + ".tmp");
    ASSERT_EQ(MakeZlg(m_host, package + ".tmp", package), kPackageOk);

    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes expected(deflateBound(&z, static_cast<uLong>(container.size())));
    z.next_in = container.data();
    z.avail_in = static_cast<uInt>(container.size());
    z.next_out = expected.data();
    z.avail_out = static_cast<uInt>(expected.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    expected.resize(z.total_out);
    deflateEnd(&z);

    Bytes file = ReadAll(package);
    ASSERT_GT(file.size(), 18u + 8u);
    EXPECT_TRUE(Bytes(file.begin() + 18, file.end() - 8) == expected)
        << "deflate data of " << file.size() - 26 << " bytes, zlib's level 6 gives "
        << expected.size();
}

// The support desk opens packages with stock tools; check two of them when they are installed.
TEST_F(PackageTest, StandardGzipReadersAcceptThePackage) {
    if (std::system("python3 -c pass >/dev/null 2>&1") != 0 ||
        std::system("gzip --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 or gzip not installed";
    }
    std::string package = m_scratch.Path("p.zlg");
    Bytes container = MakeContainer(package + ".tmp", 5000);
    ASSERT_EQ(MakeZlg(m_host, package + ".tmp", package), kPackageOk);
    std::string out = m_scratch.Path("python.out");
    std::string python =
        "python3 -c \"import gzip,sys; d=open(sys.argv[1],'rb').read(); "
        "open(sys.argv[2],'wb').write(gzip.decompress(d[8:]))\" '" +
        package + "' '" + out + "'";
    ASSERT_EQ(std::system(python.c_str()), 0);
    Bytes decoded = ReadAll(out);
    EXPECT_EQ(decoded, container);
    ASSERT_GE(decoded.size(), 8u);
    EXPECT_EQ(Bytes(decoded.begin(), decoded.begin() + 8), ToBytes("PV730LO1"));
    EXPECT_EQ(Bytes(decoded.end() - 8, decoded.end()), (Bytes{'E', 'N', 'D', 'F', 0, 0, 0, 0}));
    std::string gzipTest = "tail -c +9 '" + package + "' | gzip -t";
    EXPECT_EQ(std::system(gzipTest.c_str()), 0);
}

TEST_F(PackageTest, MakeZlgResultCodes) {
    struct Case {
        const char* name;
        int expected;
        bool needsDevFull;
        // Prepares the scene for container C and package P.
        std::function<void(const std::string& c, const std::string& p)> setUp;
        bool packageSurvives;  // an earlier package under the name must not be touched
    };
    const std::vector<Case> cases = {
        {"missing container", kZlgContainerOpenFailed, false,
         [](const std::string&, const std::string&) {}, false},
        {"temporary file cannot be created", kZlgTempCreateFailed, false,
         [this](const std::string& c, const std::string&) {
             MakeContainer(c);
             std::filesystem::create_directory(c + ".tmp");
         },
         false},
        {"package exists", kPackageCreateFailed, false,
         [this](const std::string& c, const std::string& p) {
             MakeContainer(c);
             WriteAll(p, ToBytes("earlier package"));
         },
         true},
        {"package folder missing", kPackageCreateFailed, false,
         [this](const std::string& c, const std::string&) { MakeContainer(c); }, false},
#if !defined(_WIN32)
        // The runtime opens a folder for reading; the first read then fails.
        {"container unreadable", kZlgContainerReadError, false,
         [](const std::string& c, const std::string&) { std::filesystem::create_directory(c); },
         false},
        // gzwrite fails first (-2), but the failed gzclose replaces it.
        {"compressed data does not fit the disk", kZlgCompressCloseFailed, true,
         [this](const std::string& c, const std::string&) {
             MakeContainer(c, 2000000);
             std::filesystem::create_symlink("/dev/full", c + ".tmp");
         },
         false},
        {"gzip trailer does not fit the disk", kZlgCompressCloseFailed, true,
         [this](const std::string& c, const std::string&) {
             MakeContainer(c);
             std::filesystem::create_symlink("/dev/full", c + ".tmp");
         },
         false},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsDevFull && !Exists("/dev/full")) continue;
        ScratchFolder scratch;
        ASSERT_TRUE(scratch.Ok());
        std::string package = scratch.Path("20061130_1745.zlg");
        if (std::string(c.name) == "package folder missing") {
            package = scratch.Path("gone/20061130_1745.zlg");
        }
        std::string containerPath = scratch.Path("20061130_1745.zlg.tmp");
        c.setUp(containerPath, package);
        Bytes before = ReadAll(package);
        m_host.messages.clear();
        EXPECT_EQ(MakeZlg(m_host, containerPath, package), c.expected);
        EXPECT_EQ(m_host.messages, (std::vector<std::string>{"error: MakeZlg (" +
                                                             std::to_string(c.expected) + ")"}));
        EXPECT_FALSE(Exists(containerPath)) << "the container is deleted on every path";
        if (c.packageSurvives) {
            EXPECT_EQ(ReadAll(package), before);
        } else {
            EXPECT_FALSE(Exists(package));
        }
    }
}

TEST_F(PackageTest, WritePackageResultCodes) {
    std::string source = m_scratch.Path("src");
    WriteAll(source, ToBytes("0123456789"));
    EXPECT_EQ(WritePackage(m_scratch.Path("none"), m_scratch.Path("a.zlg")),
              kPackageTempOpenFailed);
    EXPECT_FALSE(Exists(m_scratch.Path("a.zlg")));

    ASSERT_EQ(WritePackage(source, m_scratch.Path("b.zlg")), kPackageOk);
    EXPECT_EQ(ReadAll(m_scratch.Path("b.zlg")), ToBytes("PV730LZ10123456789"));
    EXPECT_EQ(WritePackage(source, m_scratch.Path("b.zlg")), kPackageCreateFailed);
    EXPECT_EQ(ReadAll(m_scratch.Path("b.zlg")), ToBytes("PV730LZ10123456789"));
#if !defined(_WIN32)
    std::filesystem::create_directory(m_scratch.Path("dir"));
    EXPECT_EQ(WritePackage(m_scratch.Path("dir"), m_scratch.Path("c.zlg")), kPackageTempReadError);
#endif
}

}  // namespace
}  // namespace trawler
