// Explicit-language string loading: RT_STRING blocks decoded by hand.
#include "app/framework/string_table.h"

namespace trawler {

namespace {
LANGID g_resourceLanguage = kLangEnglishUs;
}

bool DecodeStringBlock(const uint16_t* block, size_t words, unsigned index, std::wstring* text) {
    if (!block || index > 15) return false;
    size_t pos = 0;
    for (unsigned i = 0;; ++i) {
        if (pos >= words) return false;
        size_t length = block[pos++];
        if (length > words - pos) return false;
        if (i == index) {
            if (length == 0) return false;
            text->assign(reinterpret_cast<const wchar_t*>(block + pos), length);
            return true;
        }
        pos += length;
    }
}

bool LoadStringForLanguage(HMODULE module, UINT id, LANGID langId, std::wstring* text) {
    // Strings live in blocks of sixteen: block n + 1 holds IDs 16n to 16n + 15.
    HRSRC info = FindResourceExW(module, MAKEINTRESOURCEW(6) /* RT_STRING */,
                                 MAKEINTRESOURCEW(id / 16 + 1), langId);
    if (!info) return false;
    HGLOBAL handle = LoadResource(module, info);
    if (!handle) return false;
    const void* data = LockResource(handle);
    DWORD bytes = SizeofResource(module, info);
    if (!data) return false;
    return DecodeStringBlock(static_cast<const uint16_t*>(data), bytes / 2, id % 16, text);
}

void SetResourceLanguage(LANGID langId) {
    g_resourceLanguage = langId;
}
LANGID GetResourceLanguage() {
    return g_resourceLanguage;
}

std::wstring LoadResourceString(UINT id) {
    std::wstring text;
    if (!LoadStringForLanguage(GetModuleHandleW(nullptr), id, g_resourceLanguage, &text))
        text.clear();
    return text;
}

std::wstring AnsiToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string WideToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0], n,
                            nullptr, nullptr);
    return narrow;
}

}  // namespace trawler
