#pragma once

// Windows only: the tray's pop-up menu, built from the portable menu model (tray_texts.h).

#include <windows.h>

#include <vector>

#include "tray/tray_texts.h"

namespace tsl {

class TrayMenu {
  public:
    // Shows `items` at the cursor for `window`, which receives the chosen item's id as
    // WM_COMMAND. Returns once the menu closes. A call while the menu is open (the second of
    // the notices a right-click brings) does nothing.
    void show(HWND window, const std::vector<MenuItem>& items);

  private:
    bool open_ = false;
};

}  // namespace tsl
