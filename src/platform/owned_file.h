// OwnedFile: a C runtime stream closed when its owner goes. Where the close's result matters
// (the last buffered bytes reach the disk only then), Close() says whether they did.
#pragma once

#include <cstdio>
#include <utility>

namespace trawler {

class OwnedFile {
  public:
    OwnedFile() = default;
    explicit OwnedFile(std::FILE* file) : m_file(file) {}
    ~OwnedFile() {
        if (m_file != nullptr) std::fclose(m_file);
    }
    OwnedFile(OwnedFile&& other) noexcept : m_file(std::exchange(other.m_file, nullptr)) {}
    OwnedFile& operator=(OwnedFile&& other) noexcept {
        if (this != &other) {
            if (m_file != nullptr) std::fclose(m_file);
            m_file = std::exchange(other.m_file, nullptr);
        }
        return *this;
    }
    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;

    std::FILE* Get() const { return m_file; }
    explicit operator bool() const { return m_file != nullptr; }
    // True when a stream was open and its close succeeded; the stream is gone either way.
    bool Close() {
        if (m_file == nullptr) return false;
        bool ok = std::fclose(m_file) == 0;
        m_file = nullptr;
        return ok;
    }

  private:
    std::FILE* m_file = nullptr;
};

}  // namespace trawler
