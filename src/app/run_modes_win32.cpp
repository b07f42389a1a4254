#include <windows.h>

#include <cstdio>

#include "app/run_modes.h"
#include "app/single_instance.h"
#include "app/version.h"
#include "support/logger.h"
#include "tray/tray_app.h"

namespace tsl {

namespace {

bool hasUsableStdout() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN;
}

}  // namespace

void prepareConsole() {
    // Output redirected to a file or a pipe (or already a console) is used as it is.
    if (hasUsableStdout()) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) AllocConsole();
    FILE* ignored = nullptr;
    freopen_s(&ignored, "CONOUT$", "w", stdout);
    freopen_s(&ignored, "CONOUT$", "w", stderr);
    SetConsoleOutputCP(CP_UTF8);
}

int runResident(Config& config, const CommandLineOptions& options) {
    SingleInstance instance;
    if (instance.anotherIsRunning()) {
        // Ask the running copy to show itself; no log line for this case.
        if (HWND window = FindWindowW(kTrayWindowClass, nullptr)) {
            PostMessageW(window, kActivateMessage, 0, 0);
        }
        return 0;
    }
    Logger::info(std::string(kDisplayName) + " " + kVersion + " starting");
    int result = 1;
    {
        TrayApp app(GetModuleHandleW(nullptr), config);
        result = app.run(!options.background);
    }  // the engine stops and its worker ends before "Exiting"
    Logger::info("Exiting");
    return result;
}

}  // namespace tsl
