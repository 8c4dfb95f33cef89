// FileVersionInfo over the version API.
#include "app/file_version_info.h"

#include <windows.h>

#include <cstdio>

namespace trawler {

bool FileVersionInfo::Load(const char* path) {
    m_block.clear();
    char own[MAX_PATH + 1] = {};
    if (!path) {
        GetModuleFileNameA(nullptr, own, MAX_PATH);
        path = own;
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return false;
    m_block.assign(size, 0);
    if (!GetFileVersionInfoA(path, 0, size, m_block.data())) {
        m_block.clear();
        return false;
    }
    return true;
}

bool FileVersionInfo::GetFileVersion(uint32_t* first, uint32_t* second, uint32_t* third,
                                     uint32_t* fourth) const {
    if (m_block.empty()) return false;
    void* data = nullptr;
    UINT length = 0;
    // VerQueryValueA does not write through the block, but it is declared non-const.
    auto* block = const_cast<unsigned char*>(m_block.data());
    if (!VerQueryValueA(block, "\\", &data, &length) || !data ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(data);
    if (first) *first = HIWORD(info->dwFileVersionMS);
    if (second) *second = LOWORD(info->dwFileVersionMS);
    if (third) *third = HIWORD(info->dwFileVersionLS);
    if (fourth) *fourth = LOWORD(info->dwFileVersionLS);
    return true;
}

const std::string& FileVersionInfo::GetVersionText() {
    m_strVersion.clear();
    uint32_t a = 0, b = 0, c = 0, d = 0;
    if (GetFileVersion(&a, &b, &c, &d)) {
        char text[64];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", a, b, c, d);
        m_strVersion = text;
    }
    return m_strVersion;
}

}  // namespace trawler
