// The record trawler-sim.exe fills when the end-to-end driver asks how large the texts of a
// window's controls are in the fonts the controls really draw with. Only the test program
// answers; the shipped wizard has no such hook.
#pragma once

#include <cstdint>

namespace trawler {

// Registered window message (RegisterWindowMessageW). The driver sends it to a window of the
// program with lParam the address, inside the program, of a TextProbeRecord; the program fills
// in every visible static and button below that window, up to the record's room, before the
// send returns.
constexpr wchar_t kTextProbeMessage[] = L"Trawler.TextProbe";

struct MeasuredText {
    uint64_t window;    // the control's HWND
    int32_t lineWidth;  // the text on one line (DT_SINGLELINE)
    int32_t lineHeight;
    int32_t wrappedWidth;   // broken at words into the control's client width (DT_WORDBREAK);
    int32_t wrappedHeight;  // wider than the client area when one word is longer than a line
};

struct TextProbeRecord {
    uint32_t count;  // entries filled
    int32_t dpi;     // the program's logical pixels per inch
    MeasuredText texts[64];
};

}  // namespace trawler
