// FileVersionInfo: the fixed file version of an executable's version resource.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trawler {

class FileVersionInfo {
  public:
    virtual ~FileVersionInfo() = default;

    // Loads the version block of `path`, or of the running executable when null.
    bool Load(const char* path = nullptr);
    // The four parts of the fixed file version; outputs not asked for are skipped.
    bool GetFileVersion(uint32_t* first = nullptr, uint32_t* second = nullptr,
                        uint32_t* third = nullptr, uint32_t* fourth = nullptr) const;
    // "%u.%u.%u.%u", or empty text without a version block.
    const std::string& GetVersionText();

  private:
    std::vector<unsigned char> m_block;
    std::string m_strVersion;
};

}  // namespace trawler
