// Opens a .zlg package the plain way (magic, one gzip member, chunk walk) for assertions.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/big_endian.h"

namespace trawler::testing {

struct Chunk {
    std::string tag;
    uint32_t length = 0;  // recorded (padded) length
    std::vector<uint8_t> data;
};

struct PackageContents {
    std::string error;  // empty when the package opened and its container walked to "ENDF"
    std::vector<uint8_t> container;
    std::vector<Chunk> chunks;  // "ENDF" included

    std::vector<std::string> Tags() const {
        std::vector<std::string> tags;
        for (const Chunk& c : chunks) tags.push_back(c.tag);
        return tags;
    }
    const Chunk* Find(const std::string& tag) const {
        for (const Chunk& c : chunks) {
            if (c.tag == tag) return &c;
        }
        return nullptr;
    }
};

// Walks a container: the 36-byte header, then chunks up to "ENDF", which must end the file.
// On damage *error says what, and the chunks read so far are returned.
inline std::vector<Chunk> WalkChunks(const std::vector<uint8_t>& c, std::string* error) {
    std::vector<Chunk> chunks;
    error->clear();
    if (c.size() < 36 || std::string(c.begin(), c.begin() + 8) != "PV730LO1") {
        *error = "no container header";
        return chunks;
    }
    size_t pos = 36;
    while (pos + 8 <= c.size()) {
        Chunk chunk;
        chunk.tag.assign(c.begin() + pos, c.begin() + pos + 4);
        chunk.length = ReadBig32(&c[pos + 4]);
        pos += 8;
        if (chunk.length > c.size() - pos) {
            *error = "chunk " + chunk.tag + " runs past the end";
            return chunks;
        }
        chunk.data.assign(c.begin() + pos, c.begin() + pos + chunk.length);
        pos += chunk.length;
        chunks.push_back(chunk);
        if (chunk.tag == "ENDF") {
            if (pos != c.size()) *error = "bytes after ENDF";
            return chunks;
        }
    }
    *error = "no ENDF";
    return chunks;
}

// Inflates exactly one gzip member that must fill the bytes; *error is empty on success.
inline std::vector<uint8_t> Gunzip(const uint8_t* bytes, size_t size, std::string* error) {
    std::vector<uint8_t> out;
    error->clear();
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
        *error = "inflateInit2";
        return out;
    }
    z.next_in = const_cast<Bytef*>(bytes);
    z.avail_in = static_cast<uInt>(size);
    uint8_t buffer[65536];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    }
    bool trailing = z.avail_in != 0;
    inflateEnd(&z);
    if (rc != Z_STREAM_END) {
        *error = "gzip member damaged";
    } else if (trailing) {
        *error = "bytes after the gzip member";
    }
    return out;
}

inline PackageContents ReadPackage(const std::string& path) {
    PackageContents out;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    if (file.size() < 8 || std::string(file.begin(), file.begin() + 8) != "PV730LZ1") {
        out.error = "no package magic";
        return out;
    }
    out.container = Gunzip(file.data() + 8, file.size() - 8, &out.error);
    if (out.error.empty()) out.chunks = WalkChunks(out.container, &out.error);
    return out;
}

}  // namespace trawler::testing
