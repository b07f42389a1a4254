#include <windows.h>

#include <cstdio>

#include "app/run_modes.h"
#include "app/single_instance.h"
#include "app/version.h"
#include "support/logger.h"

namespace tsl {

namespace {

constexpr UINT kActivateMessage = WM_APP + 2;

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

int runResident(Config&, const CommandLineOptions&) {
    SingleInstance instance;
    if (instance.anotherIsRunning()) {
        // Ask the running copy to show itself; no log line for this case.
        if (HWND window = FindWindowW(L"TessalineTallyConnectorTray", nullptr)) {
            PostMessageW(window, kActivateMessage, 0, 0);
        }
        return 0;
    }
    Logger::info(std::string(kDisplayName) + " " + kVersion + " starting");
    Logger::error("The tray program is not available in this build yet");
    Logger::info("Exiting");
    return 1;
}

}  // namespace tsl
