// The layout check: texts against their controls, controls against their parents and siblings.
#include "layout_check.h"

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace e2e {

namespace {

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// "control 1001 "1. Select PV-730 Printer..."" for a failure message.
std::string Describe(HWND control) {
    std::string text = Narrow(WindowText(control));
    size_t newline = text.find('\n');
    if (newline != std::string::npos) text = text.substr(0, newline) + "...";
    if (text.size() > 48) text = text.substr(0, 45) + "...";
    return Narrow(ClassOf(control)) + " " + std::to_string(GetDlgCtrlID(control)) + " \"" + text +
           "\"";
}

std::string Size(LONG cx, LONG cy) {
    return std::to_string(cx) + "x" + std::to_string(cy);
}

// The room a control leaves its text and the size the text needs there, as the control draws
// it; false for controls that draw no text of their own (icons, frames, owner-drawn buttons).
bool TextRoom(const TextExtent& text, int dpi, SIZE* room, SIZE* need) {
    RECT client{};
    GetClientRect(text.control, &client);
    *room = SIZE{client.right, client.bottom};
    const LONG style = GetWindowLongW(text.control, GWL_STYLE);
    const std::wstring cls = ClassOf(text.control);
    if (lstrcmpiW(cls.c_str(), L"Static") == 0) {
        switch (style & SS_TYPEMASK) {
            case SS_LEFT:
            case SS_CENTER:
            case SS_RIGHT:
                *need = text.wrapped;  // these statics break lines at words
                return true;
            case SS_LEFTNOWORDWRAP:
            case SS_SIMPLE:
                *need = text.line;
                return true;
            default:
                return false;
        }
    }
    if (lstrcmpiW(cls.c_str(), L"Button") != 0) return false;
    const bool multiline = (style & BS_MULTILINE) != 0;
    *need = multiline ? text.wrapped : text.line;
    switch (style & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON:
            // The caption sits inside the button's raised edge and its focus rectangle.
            room->cx -= 2 * MulDiv(3, dpi, 96);
            room->cy -= 2 * MulDiv(2, dpi, 96);
            return true;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            // The box and the gap after it come before the caption.
            room->cx -= MulDiv(13 + 4, dpi, 96);
            return true;
        default:
            return false;
    }
}

BOOL CALLBACK CollectVisible(HWND window, LPARAM list) {
    if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

}  // namespace

::testing::AssertionResult LayoutIsClean(const App& app, HWND window) {
    std::vector<std::string> problems;

    std::vector<TextExtent> texts;
    int dpi = 0;
    if (!MeasureTexts(app, window, &texts, &dpi) || texts.empty())
        return ::testing::AssertionFailure() << "the program measured no texts";
    for (const TextExtent& text : texts) {
        SIZE room{}, need{};
        if (!TextRoom(text, dpi, &room, &need)) continue;
        if (need.cx > room.cx || need.cy > room.cy)
            problems.push_back(Describe(text.control) + " is cut off: needs " +
                               Size(need.cx, need.cy) + " (" + std::to_string(text.line.cx) +
                               " on one line), has " + Size(room.cx, room.cy));
    }

    std::vector<HWND> controls;
    EnumChildWindows(window, &CollectVisible, reinterpret_cast<LPARAM>(&controls));
    std::map<HWND, std::vector<HWND>> byParent;
    for (HWND control : controls) byParent[GetParent(control)].push_back(control);
    for (const auto& family : byParent) {
        RECT area{};
        GetClientRect(family.first, &area);
        MapWindowPoints(family.first, nullptr, reinterpret_cast<POINT*>(&area), 2);
        const std::vector<HWND>& children = family.second;
        for (size_t i = 0; i < children.size(); ++i) {
            RECT r{}, common{};
            GetWindowRect(children[i], &r);
            if (r.left < area.left || r.top < area.top || r.right > area.right ||
                r.bottom > area.bottom)
                problems.push_back(Describe(children[i]) + " reaches outside " +
                                   Describe(family.first));
            for (size_t j = i + 1; j < children.size(); ++j) {
                RECT other{};
                GetWindowRect(children[j], &other);
                if (IntersectRect(&common, &r, &other))
                    problems.push_back(Describe(children[i]) + " overlaps " +
                                       Describe(children[j]));
            }
        }
    }

    if (problems.empty()) return ::testing::AssertionSuccess();
    std::ostringstream out;
    out << problems.size() << " layout faults at " << dpi << " dpi:";
    for (const std::string& p : problems) out << "\n  " << p;
    return ::testing::AssertionFailure() << out.str();
}

}  // namespace e2e
