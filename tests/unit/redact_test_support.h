// The redaction tests' view of a package: its container header and chunks as the package
// reader hands them over.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "output/log_container.h"
#include "output/package_reader.h"

namespace trawler::testing {

struct ChunkReader : PackageSink {
    std::vector<uint8_t> header;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> chunks;

    bool ContainerBytes(const uint8_t* data, size_t size) override {
        for (size_t i = 0; i < size && header.size() < kContainerHeaderSize; ++i) {
            header.push_back(data[i]);
        }
        return true;
    }
    bool BeginChunk(const ChunkEntry& chunk) override {
        chunks.emplace_back(chunk.tag, std::vector<uint8_t>());
        return true;
    }
    bool ChunkBytes(const uint8_t* data, size_t size) override {
        chunks.back().second.insert(chunks.back().second.end(), data, data + size);
        return true;
    }
    bool EndChunk(const ChunkEntry&, uint32_t) override { return true; }
    std::string Failure() const override { return ""; }
};

}  // namespace trawler::testing
