// Reads a package the wizard saved: magic, one gzip member, and the container's chunks inside.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct Chunk {
    std::string tag;
    std::string content;  // recorded length, padding zeros removed
};

struct PackageContents {
    std::string error;  // empty when the package could be read
    std::string magic;
    std::string containerMagic;
    std::vector<Chunk> chunks;
    const Chunk* Find(const std::string& tag) const;
    std::vector<std::string> Tags() const;
};

PackageContents ReadPackage(const std::string& path);

// The files of a folder whose names end in `suffix` (e.g. ".zlg", ".tmp").
std::vector<std::string> FilesEndingWith(const std::string& folder, const std::string& suffix);

}  // namespace e2e
