// String resources loaded in an explicitly chosen language, whatever the thread locale says.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace trawler {

// Language IDs of the two interface languages.
constexpr LANGID kLangEnglishUs = 0x0409;
constexpr LANGID kLangJapanese = 0x0411;

// Finds entry `index` (0..15) of one RT_STRING block: sixteen length-prefixed UTF-16 strings.
// False when the block is too short for the entry or the entry is empty (an absent string).
bool DecodeStringBlock(const uint16_t* block, size_t words, unsigned index, std::wstring* text);

// Loads string `id` of `module` in language `langId` (no fallback to other languages: current
// Windows ignores the thread locale when it picks resources, so the choice must be explicit).
bool LoadStringForLanguage(HMODULE module, UINT id, LANGID langId, std::wstring* text);

// The language in which the framework and the pages load their strings.
void SetResourceLanguage(LANGID langId);
LANGID GetResourceLanguage();

// String `id` in the resource language, or empty text when it cannot be found.
std::wstring LoadResourceString(UINT id);

// Conversions between the ANSI code page (what the A-controls hold) and UTF-16.
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

}  // namespace trawler
