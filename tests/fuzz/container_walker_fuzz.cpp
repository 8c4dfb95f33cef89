// Fuzz target: arbitrary container bytes, wrapped in a correct package, through the
// container walker inside ReadPackage; checked against a plain walk of the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_package_file.h"
#include "platform/big_endian.h"
#include "output/package_reader.h"

using namespace trawler;

namespace {

struct PlainChunk {
    std::string tag;
    uint64_t offset;
    uint32_t length;
};

// The chunk layout alone: header magic, tag, big-endian length, "ENDF" exactly at the end.
// False when the bytes are not even laid out as a container.
bool PlainWalk(const uint8_t* data, size_t size, std::vector<PlainChunk>* chunks) {
    if (size < 36 || std::memcmp(data, "PV730LO1", 8) != 0) return false;
    uint64_t at = 36;
    for (;;) {
        if (size - at < 8) return false;
        PlainChunk chunk{std::string(reinterpret_cast<const char*>(data + at), 4), at,
                         ReadBig32(data + at + 4)};
        chunks->push_back(chunk);
        at += 8;
        if (chunk.tag == "ENDF") return chunk.length == 0 && at == size;
        if (chunk.length > size - at) return false;
        at += chunk.length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::MemoryFile file;
    // The first byte picks the deflate level, so stored and compressed members both occur.
    if (size < 1) return 0;
    const int level = data[0] % 2 == 0 ? 0 : 6;
    ++data;
    --size;
    std::vector<uint8_t> package = fuzz::WrapContainer(data, size, level);
    file.Set(package.data(), package.size());

    fuzz::CheckingSink sink;
    PackageReport report;
    ReadPackage(file.Path(), &report, &sink);
    fuzz::CheckReport(report, sink);
    FUZZ_CHECK(report.containerSize == size);

    if (!report.valid) {
        // The wrapping is sound, so whatever is wrong lies in the container.
        FUZZ_CHECK(report.error.area == "container");
        FUZZ_CHECK(report.error.offset <= size);
        return 0;
    }
    FUZZ_CHECK(sink.container.size() == size &&
               std::memcmp(sink.container.data(), data, size) == 0);
    std::vector<PlainChunk> chunks;
    FUZZ_CHECK(PlainWalk(data, size, &chunks));
    FUZZ_CHECK(chunks.size() == report.chunks.size());
    std::set<std::string> tags;
    for (size_t i = 0; i < chunks.size(); ++i) {
        FUZZ_CHECK(chunks[i].tag == report.chunks[i].tag);
        FUZZ_CHECK(chunks[i].offset == report.chunks[i].offset);
        FUZZ_CHECK(chunks[i].length == report.chunks[i].length);
        FUZZ_CHECK(tags.insert(chunks[i].tag).second);
    }
    return 0;
}
