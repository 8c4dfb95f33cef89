// Wizard decisions on text only.
#include "app/wizard_rules.h"

namespace trawler {

namespace {

// Index of the last backslash that is a character of its own, or npos.
size_t LastBackslash(const std::string& path, bool (*isLeadByte)(unsigned char)) {
    size_t slash = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (isLeadByte && isLeadByte(c))
            ++i;
        else if (c == '\\')
            slash = i;
    }
    return slash;
}

}  // namespace

std::string LowerAsciiMbcs(const std::string& text, bool (*isLeadByte)(unsigned char)) {
    std::string lower = text;
    for (size_t i = 0; i < lower.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(lower[i]);
        if (isLeadByte && isLeadByte(c)) {
            ++i;  // the trail byte belongs to the same character
            continue;
        }
        if (c >= 'A' && c <= 'Z') lower[i] = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

std::string ExecutableFileName(const std::string& modulePath, bool (*isLeadByte)(unsigned char)) {
    size_t slash = LastBackslash(modulePath, isLeadByte);
    if (slash == std::string::npos || slash == 0) return modulePath;
    return modulePath.substr(slash);
}

std::string FolderOfPath(const std::string& path, bool (*isLeadByte)(unsigned char)) {
    size_t slash = LastBackslash(path, isLeadByte);
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

StartupChoice DecideStartup(uint16_t systemLangId, const std::string& arguments,
                            const std::string& modulePath, bool (*isLeadByte)(unsigned char)) {
    StartupChoice choice;
    std::string args = LowerAsciiMbcs(arguments, isLeadByte);
    choice.japanese = systemLangId == kSystemLangJapanese && args.find("-eng") == std::string::npos;
    choice.demo = args.find("-demo") != std::string::npos;
    std::string file = LowerAsciiMbcs(ExecutableFileName(modulePath, isLeadByte), isLeadByte);
    if (file.find("demo") != std::string::npos) choice.demo = true;
    return choice;
}

namespace {
constexpr size_t kPageHistoryFloor = 64;
}

void PageHistory::Reset() {
    m_entries.assign(kPageHistoryFloor, 0);
}

int32_t PageHistory::Push(int32_t pageId) {
    if (pageId == kPageStay) return kPageStay;
    m_entries.push_back(pageId);
    return pageId;
}

int32_t PageHistory::Pop() {
    if (m_entries.size() < 2) return kPageStay;
    m_entries.pop_back();
    return m_entries.back();
}

}  // namespace trawler
