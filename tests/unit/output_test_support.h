// Helpers shared by the output tests: a scratch folder that cleans up, and whole-file reads.
#pragma once

#include <cstdint>
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

}  // namespace trawler::testing
