// Texts as the PC's ANSI code page wrote them, and their conversion to UTF-8 for display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trawler {

enum class TextCodePage { kAscii, kCp932, kWindows1252 };

// "ascii", "cp932", "windows-1252".
const char* CodePageName(TextCodePage codePage);

// A package does not say which code page its texts are in. All texts of one package come from
// one PC, so they are judged together: only 7-bit bytes -> ASCII; valid code page 932 with at
// least one double-byte character -> CP932; anything else -> Windows-1252, which decodes any
// byte sequence.
TextCodePage GuessCodePage(const std::vector<std::string>& texts);

// Whether the bytes are valid code page 932 and how many double-byte characters they hold.
bool IsValidCp932(const std::string& bytes, int* doubleByteCount);

// Always valid UTF-8; a byte sequence the code page has no character for becomes U+FFFD.
std::string AnsiToUtf8(const std::string& bytes, TextCodePage codePage);

}  // namespace trawler
