// Writes the container and its chunks out of a package, streamed, without replacing files.
//
// Everything is first written into a fresh staging folder inside the target folder and moved
// into place only once the whole package has been written, so that a failure part-way (a full
// disk, a name already taken) leaves neither a cut-short container.bin nor some of the chunk
// files behind.
#include "output/package_extract.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/file_ops.h"
#include "platform/owned_file.h"

namespace trawler {

namespace {

class FileWriter {
  public:
    // Messages name the file as the user will find it (shown), not the staged copy (path).
    bool Open(const std::string& path, const std::string& shown) {
        m_path = shown;
        m_file = OwnedFile(OpenNewFile(path));
        return static_cast<bool>(m_file);
    }
    bool Write(const uint8_t* data, size_t size) {
        return size == 0 || std::fwrite(data, 1, size, m_file.Get()) == size;
    }
    bool Close() { return !m_file || m_file.Close(); }
    const std::string& Path() const { return m_path; }

  private:
    OwnedFile m_file;
    std::string m_path;
};

class ExtractSink : public PackageSink {
  public:
    ExtractSink(const std::string& staging, const std::string& folder)
        : m_staging(staging), m_folder(folder) {}

    bool Start() { return OpenFile(&m_container, "container.bin"); }

    bool Finish() {
        if (!m_container.Close()) return Failed("cannot finish", m_container.Path());
        return true;
    }

    bool ContainerBytes(const uint8_t* data, size_t size) override {
        return m_container.Write(data, size) || Failed("cannot write", m_container.Path());
    }

    bool BeginChunk(const ChunkEntry& chunk) override {
        char name[32];
        std::snprintf(name, sizeof name, "%02u_%s.bin", ++m_index, chunk.tag.c_str());
        m_held = 0;
        m_passed = 0;
        return OpenFile(&m_chunk, name);
    }

    // The last three bytes may be padding: they wait until the content length is known.
    bool ChunkBytes(const uint8_t* data, size_t size) override {
        for (size_t i = 0; i < size; ++i) {
            if (m_held == sizeof m_hold) {
                if (!m_chunk.Write(m_hold, 1)) return Failed("cannot write", m_chunk.Path());
                std::memmove(m_hold, m_hold + 1, sizeof m_hold - 1);
                --m_held;
                ++m_passed;
            }
            m_hold[m_held++] = data[i];
        }
        return true;
    }

    bool EndChunk(const ChunkEntry&, uint32_t contentLength) override {
        size_t keep = contentLength > m_passed ? contentLength - m_passed : 0;
        if (keep > m_held) keep = m_held;
        if (!m_chunk.Write(m_hold, keep) || !m_chunk.Close()) {
            return Failed("cannot write", m_chunk.Path());
        }
        return true;
    }

    std::string Failure() const override { return m_failure; }

    // The names of the files written, in order.
    const std::vector<std::string>& Names() const { return m_names; }

    // Closes what is still open, so that the staging folder can be removed (Windows refuses
    // to delete an open file).
    void CloseAll() {
        m_container.Close();
        m_chunk.Close();
    }

  private:
    bool OpenFile(FileWriter* writer, const char* name) {
        std::string shown = m_folder + "/" + name;
        if (!writer->Open(m_staging + "/" + name, shown)) return Failed("cannot create", shown);
        m_names.push_back(name);
        return true;
    }

    bool Failed(const char* what, const std::string& path) {
        int code = errno;
        if (m_failure.empty()) {
            m_failure = std::string(what) + " \"" + path + "\"";
            if (code != 0 && code != EEXIST) m_failure += std::string(": ") + std::strerror(code);
        }
        return false;
    }

    std::string m_staging;
    std::string m_folder;
    std::vector<std::string> m_names;
    FileWriter m_container;
    FileWriter m_chunk;
    unsigned m_index = 0;
    uint8_t m_hold[3] = {};
    size_t m_held = 0;
    uint64_t m_passed = 0;
    std::string m_failure;
};

// Makes folder and the folders above it that are missing; *created gets the ones this call made,
// deepest first, so that a failure later can remove them again and only them. The paths stay the
// narrow ones the files are opened with (std::filesystem would read them as UTF-8 on Windows).
bool MakeFolders(const std::string& folder, std::vector<std::string>* created) {
    std::vector<std::string> missing;
    for (std::string p = folder; !p.empty() && !PathExists(p); p = ParentFolder(p)) {
        missing.push_back(p);
    }
    for (auto p = missing.rbegin(); p != missing.rend(); ++p) {
        if (MakeFolder(*p)) {
            created->insert(created->begin(), *p);
        } else if (errno != EEXIST) {
            return false;
        }
    }
    return true;
}

// A folder of a new name inside folder; empty when none can be made (errno says why).
std::string MakeStagingFolder(const std::string& folder) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = folder + "/.extract-" + std::to_string(random()) + ".tmp";
        if (MakeFolder(path)) return path;
        if (errno != EEXIST) return std::string();
    }
    errno = EEXIST;
    return std::string();
}

// Moves the staged files into folder in order, never over an existing file; on a failure the
// ones already moved are removed again and *failure says why.
bool MoveIntoPlace(const std::string& staging, const std::string& folder,
                   const std::vector<std::string>& names, std::vector<std::string>* moved,
                   std::string* failure) {
    for (const std::string& name : names) {
        std::string target = folder;
        target.append("/").append(name);
        std::string source = staging;
        source.append("/").append(name);
        errno = 0;
        if (RenameNoReplace(source, target)) {
            moved->push_back(target);
            continue;
        }
        int code = errno;
        if (PathExists(target)) {
            *failure = "will not replace the existing file \"" + target + "\"";
        } else {
            *failure = "cannot move the extracted file into \"" + target + "\"";
            if (code != 0) *failure += std::string(": ") + std::strerror(code);
        }
        for (const std::string& path : *moved) std::remove(path.c_str());
        moved->clear();
        return false;
    }
    return true;
}

}  // namespace

bool ExtractPackage(const std::string& packagePath, const std::string& folder,
                    PackageReport* report, std::vector<std::string>* written) {
    if (!ReadPackage(packagePath, report)) return false;
    auto fail = [report](const std::string& message) {
        report->valid = false;
        report->error = {"extract-failed", message, "", 0};
        return false;
    };
    std::vector<std::string> created;
    std::string staging = MakeFolders(folder, &created) ? MakeStagingFolder(folder) : "";
    bool ok = !staging.empty();
    if (!ok) fail("cannot create the folder \"" + folder + "\": " + std::strerror(errno));
    if (ok) {
        ExtractSink sink(staging, folder);
        errno = 0;
        ok = sink.Start() && ReadPackage(packagePath, report, &sink) && sink.Finish();
        sink.CloseAll();
        if (!ok && report->error.kind.empty()) fail(sink.Failure());
        std::string failure;
        std::vector<std::string> moved;
        if (ok && !MoveIntoPlace(staging, folder, sink.Names(), &moved, &failure)) {
            ok = fail(failure);
        }
        if (ok) written->insert(written->end(), moved.begin(), moved.end());
        // What was not moved; the staging folder holds nothing else, being new and of our name.
        for (const std::string& name : sink.Names()) {
            std::string left = staging;
            std::remove(left.append("/").append(name).c_str());
        }
        RemoveEmptyFolder(staging);
    }
    if (!ok) {
        for (const std::string& path : created) RemoveEmptyFolder(path);
    }
    return ok;
}

}  // namespace trawler
