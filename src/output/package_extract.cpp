// Writes the container and its chunks out of a package, streamed, without replacing files.
#include "output/package_extract.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/file_ops.h"

namespace trawler {

namespace {

class FileWriter {
  public:
    ~FileWriter() { Close(); }
    bool Open(const std::string& path) {
        m_path = path;
        m_file = OpenNewFile(path);
        return m_file != nullptr;
    }
    bool Write(const uint8_t* data, size_t size) {
        return size == 0 || std::fwrite(data, 1, size, m_file) == size;
    }
    bool Close() {
        if (m_file == nullptr) return true;
        bool ok = std::fclose(m_file) == 0;
        m_file = nullptr;
        return ok;
    }
    const std::string& Path() const { return m_path; }

  private:
    std::FILE* m_file = nullptr;
    std::string m_path;
};

class ExtractSink : public PackageSink {
  public:
    ExtractSink(const std::string& folder, std::vector<std::string>* written)
        : m_folder(folder), m_written(written) {}

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

  private:
    bool OpenFile(FileWriter* writer, const char* name) {
        std::string path = m_folder + "/" + name;
        if (!writer->Open(path)) {
            return Failed(errno == EEXIST ? "will not replace the existing file" : "cannot create",
                          path);
        }
        m_written->push_back(path);
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

    std::string m_folder;
    std::vector<std::string>* m_written;
    FileWriter m_container;
    FileWriter m_chunk;
    unsigned m_index = 0;
    uint8_t m_hold[3] = {};
    size_t m_held = 0;
    uint64_t m_passed = 0;
    std::string m_failure;
};

}  // namespace

bool ExtractPackage(const std::string& packagePath, const std::string& folder,
                    PackageReport* report, std::vector<std::string>* written) {
    if (!ReadPackage(packagePath, report)) return false;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        report->valid = false;
        report->error = {"extract-failed",
                         "cannot create the folder \"" + folder + "\": " + ec.message(), "", 0};
        return false;
    }
    ExtractSink sink(folder, written);
    errno = 0;
    bool ok = sink.Start() && ReadPackage(packagePath, report, &sink) && sink.Finish();
    if (!ok && report->error.kind.empty()) {
        report->valid = false;
        report->error = {"extract-failed", sink.Failure(), "", 0};
    }
    return ok;
}

}  // namespace trawler
