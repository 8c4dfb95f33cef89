// Code page detection and conversion to UTF-8 (CP932 through a generated table, Windows-1252).
#include "output/ansi_text.h"

namespace trawler {

extern const uint16_t kCp932Table[];

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr int kTrailFirst = 0x40;
constexpr int kTrailCount = 0xFD - 0x40;

bool IsLeadByte(uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsTrailByte(uint8_t b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

uint32_t Cp932Pair(uint8_t lead, uint8_t trail) {
    int row = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + (0xA0 - 0x81);
    uint16_t unit = kCp932Table[row * kTrailCount + (trail - kTrailFirst)];
    return unit == 0 ? kReplacement : unit;
}

// Windows-1252 differs from Latin-1 only in 80-9F; the five unassigned bytes map to the C1
// controls of the same number, as Windows itself converts them.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void PutUtf8(uint32_t cp, std::string* out) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

const char* CodePageName(TextCodePage codePage) {
    switch (codePage) {
        case TextCodePage::kAscii:
            return "ascii";
        case TextCodePage::kCp932:
            return "cp932";
        case TextCodePage::kWindows1252:
            return "windows-1252";
    }
    return "windows-1252";
}

bool IsValidCp932(const std::string& bytes, int* doubleByteCount) {
    int pairs = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint8_t b = static_cast<uint8_t>(bytes[i]);
        if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) continue;
        if (!IsLeadByte(b) || i + 1 >= bytes.size()) return false;
        uint8_t trail = static_cast<uint8_t>(bytes[i + 1]);
        if (!IsTrailByte(trail) || Cp932Pair(b, trail) == kReplacement) return false;
        ++pairs;
        ++i;
    }
    if (doubleByteCount != nullptr) *doubleByteCount = pairs;
    return true;
}

TextCodePage GuessCodePage(const std::vector<std::string>& texts) {
    bool high = false;
    bool valid = true;
    int pairs = 0;
    for (const std::string& text : texts) {
        for (char c : text) high = high || static_cast<uint8_t>(c) >= 0x80;
        int count = 0;
        valid = valid && IsValidCp932(text, &count);
        pairs += count;
    }
    if (!high) return TextCodePage::kAscii;
    return valid && pairs > 0 ? TextCodePage::kCp932 : TextCodePage::kWindows1252;
}

std::string AnsiToUtf8(const std::string& bytes, TextCodePage codePage) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint8_t b = static_cast<uint8_t>(bytes[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else if (codePage != TextCodePage::kCp932) {
            PutUtf8(b < 0xA0 ? kWindows1252High[b - 0x80] : b, &out);
        } else if (b >= 0xA1 && b <= 0xDF) {
            PutUtf8(0xFF61 + (b - 0xA1), &out);  // half-width katakana
        } else if (IsLeadByte(b) && i + 1 < bytes.size() &&
                   IsTrailByte(static_cast<uint8_t>(bytes[i + 1]))) {
            PutUtf8(Cp932Pair(b, static_cast<uint8_t>(bytes[i + 1])), &out);
            ++i;
        } else {
            PutUtf8(kReplacement, &out);
        }
    }
    return out;
}

}  // namespace trawler
