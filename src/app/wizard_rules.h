// Wizard decisions that depend only on text: language, demonstration mode, file and folder names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trawler {

constexpr uint16_t kSystemLangJapanese = 1041;

// Page IDs are the dialog template numbers of the wizard's pages (resource.h); a page's Next
// returns this one to stay where it is.
constexpr int32_t kPageStay = -1;

// The page history behind the Back button; start-up fills it with 64 zero entries, so Back from
// the second page lands on the sheet's own previous page.
class PageHistory {
  public:
    void Reset();
    // kPageStay is returned and not recorded; any other ID is recorded and returned, so a page
    // moves on and records itself in one step.
    int32_t Push(int32_t pageId);
    // The page before the current one, or kPageStay when there is none.
    int32_t Pop();

    const std::vector<int32_t>& Entries() const { return m_entries; }

  private:
    std::vector<int32_t> m_entries;
};

// ASCII letters lower-cased; other bytes (also the trail bytes of double-byte characters, which
// may look like letters) are kept, so a lead byte never turns into another character.
std::string LowerAsciiMbcs(const std::string& text, bool (*isLeadByte)(unsigned char) = nullptr);

// The part of a module path that is tested for "demo": from the last backslash on (backslash
// included); the whole path when there is no backslash or the only one is its first character.
// A 0x5C trail byte of a double-byte character is not a backslash.
std::string ExecutableFileName(const std::string& modulePath,
                               bool (*isLeadByte)(unsigned char) = nullptr);

struct StartupChoice {
    bool japanese = false;
    bool demo = false;
};

// Japanese when the system language is 1041 and the arguments do not contain "-eng"; demo when
// the arguments contain "-demo" or the executable's file name contains "demo" (all tests are
// case-insensitive substring tests).
StartupChoice DecideStartup(uint16_t systemLangId, const std::string& arguments,
                            const std::string& modulePath,
                            bool (*isLeadByte)(unsigned char) = nullptr);

// The folder part of a file path (drive and directory, ending in its backslash), as the finish
// page opens it; empty when the path has no backslash.
std::string FolderOfPath(const std::string& path, bool (*isLeadByte)(unsigned char) = nullptr);

}  // namespace trawler
