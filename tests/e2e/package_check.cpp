// Package reading for the end-to-end checks (zlib's inflate on the bytes after the magic).
#include "package_check.h"

#include <windows.h>
#include <zlib.h>

#include <cstdio>

namespace e2e {

const Chunk* PackageContents::Find(const std::string& tag) const {
    for (const Chunk& c : chunks)
        if (c.tag == tag) return &c;
    return nullptr;
}

std::vector<std::string> PackageContents::Tags() const {
    std::vector<std::string> tags;
    for (const Chunk& c : chunks) tags.push_back(c.tag);
    return tags;
}

PackageContents ReadPackage(const std::string& path) {
    PackageContents result;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        result.error = "cannot open " + path;
        return result;
    }
    std::string bytes;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
    if (bytes.size() < 8) {
        result.error = "shorter than the magic";
        return result;
    }
    result.magic = bytes.substr(0, 8);

    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
        result.error = "inflateInit2";
        return result;
    }
    std::string container;
    z.next_in = reinterpret_cast<Bytef*>(&bytes[8]);
    z.avail_in = static_cast<uInt>(bytes.size() - 8);
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        container.append(buffer, sizeof buffer - z.avail_out);
    }
    bool trailing = z.avail_in != 0;
    inflateEnd(&z);
    if (status != Z_STREAM_END) {
        result.error = "gzip member does not end (" + std::to_string(status) + ")";
        return result;
    }
    if (trailing) {
        result.error = "bytes after the gzip member";
        return result;
    }
    if (container.size() < 36) {
        result.error = "container shorter than its header";
        return result;
    }
    result.containerMagic = container.substr(0, 8);
    size_t at = 36;
    while (at + 8 <= container.size()) {
        Chunk chunk;
        chunk.tag = container.substr(at, 4);
        const auto* p = reinterpret_cast<const unsigned char*>(&container[at + 4]);
        size_t length = (size_t{p[0]} << 24) | (size_t{p[1]} << 16) | (size_t{p[2]} << 8) | p[3];
        if (at + 8 + length > container.size()) {
            result.error = "chunk " + chunk.tag + " runs past the end";
            return result;
        }
        chunk.content = container.substr(at + 8, length);
        while (!chunk.content.empty() && chunk.content.back() == '\0') chunk.content.pop_back();
        result.chunks.push_back(chunk);
        at += 8 + length;
        if (chunk.tag == "ENDF") break;
    }
    if (at != container.size()) result.error = "bytes after ENDF";
    return result;
}

std::vector<std::string> FilesEndingWith(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> files;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        std::string name = data.cFileName;
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            files.push_back(folder + "\\" + name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return files;
}

}  // namespace e2e
