// Helpers shared by the output tests: a scratch folder that cleans up, and whole-file reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace trawler::testing {

using Bytes = std::vector<uint8_t>;

class ScratchFolder {
  public:
    ScratchFolder() {
        std::random_device random;
        std::error_code ec;
        auto base = std::filesystem::temp_directory_path(ec);
        for (int attempt = 0; attempt < 100; ++attempt) {
            auto candidate = base / ("trawler-output-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate, ec)) {
                m_path = candidate;
                return;
            }
        }
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Ok() const { return !m_path.empty(); }
    // Folder text as the package functions take it, without a trailing separator.
    std::string Folder() const { return m_path.string(); }
    std::string Path(const std::string& name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

inline Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// What a command wrote into a temporary file (std::tmpfile), from its start; the file is closed.
inline std::string ReadBack(std::FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(file);
    return text;
}

struct CommandResult {
    int code;
    std::string out;
    std::string err;
};

// A trawler-cli command run as the executable runs it, with what it printed on each stream.
inline CommandResult RunCommand(int (*command)(const std::vector<std::string>&, std::FILE*,
                                               std::FILE*),
                                const std::vector<std::string>& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int code = command(args, out, err);
    return CommandResult{code, ReadBack(out), ReadBack(err)};
}

}  // namespace trawler::testing
