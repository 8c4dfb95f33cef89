// Fuzz target: arbitrary ".zlg" bytes through ReadPackage, with and without a sink.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_package_file.h"
#include "output/package_reader.h"

using namespace trawler;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::MemoryFile file;
    file.Set(data, size);

    fuzz::CheckingSink sink;
    PackageReport withSink;
    bool valid = ReadPackage(file.Path(), &withSink, &sink);
    FUZZ_CHECK(valid == withSink.valid);
    fuzz::CheckReport(withSink, sink);

    // A sink that takes everything must not change the verdict or where the problem is.
    PackageReport plain;
    FUZZ_CHECK(ReadPackage(file.Path(), &plain) == valid);
    FUZZ_CHECK(plain.error.kind == withSink.error.kind);
    FUZZ_CHECK(plain.error.offset == withSink.error.offset);
    FUZZ_CHECK(plain.chunks.size() == withSink.chunks.size());
    if (valid) FUZZ_CHECK(plain.packageSize == size);
    return 0;
}
