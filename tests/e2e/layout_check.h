// Checks a window as the technician sees it: no text cut off, no control outside its parent or
// covering another.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "driver.h"

namespace e2e {

// Every visible static text, check box and button caption below `window` fits its control,
// measured inside the program in the control's own font (trawler-sim.exe only); every visible
// control lies inside its parent's client area and overlaps none of its visible siblings.
::testing::AssertionResult LayoutIsClean(const App& app, HWND window);

}  // namespace e2e
