#pragma once

// Windows only: the state icons drawn at run time, at the size the notification area shows.

#include <windows.h>

#include "support/win32_handles.h"
#include "tray/state_icon.h"

namespace tsl {

// One state icon in `colour`, `size` pixels square; empty when Windows cannot draw it (the
// caller shows the system's application icon instead).
IconHandle makeStateIcon(IconColour colour, int size);

// The small-icon size in pixels at the DPI of `window` (the system's DPI for null, and on
// Windows before 10 version 1607, which cannot tell a window's DPI).
int smallIconSize(HWND window);

}  // namespace tsl
