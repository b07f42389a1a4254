#include <windows.h>

#include "app/run_modes.h"

// The command line is read again through GetCommandLineW; only the instance handle matters to
// the tray program.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return tsl::runApplication();
}
