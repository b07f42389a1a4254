#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "app/run_modes.h"
#include "app/single_instance.h"
#include "support/logger.h"
#include "support/version.h"
#include "tray/tray_app.h"
#include "tray/tray_messages.h"

namespace tsl {

namespace {

// The code page of the console we attached to, put back when the process ends: the console
// belongs to the user's cmd window, which must not be left in UTF-8 after we are gone.
UINT consoleCodePageBefore = 0;

void restoreConsoleCodePage() {
    if (consoleCodePageBefore != 0) SetConsoleOutputCP(consoleCodePageBefore);
}

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
    consoleCodePageBefore = GetConsoleOutputCP();
    if (consoleCodePageBefore != 0) std::atexit(restoreConsoleCodePage);
    SetConsoleOutputCP(CP_UTF8);
}

std::string programName() {
    return "TessalineTallyConnector.exe";
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
    // Said once: by the tray as it ends (at the end of a session nothing after that may run), or
    // here when it never got that far. Either way the worker has ended first.
    bool exitingSaid = false;
    const auto sayExiting = [&exitingSaid] {
        if (!std::exchange(exitingSaid, true)) Logger::info("Exiting");
    };
    int result = 1;
    {
        TrayApp app(GetModuleHandleW(nullptr), config, sayExiting);
        result = app.run(!options.background);
    }
    sayExiting();
    return result;
}

}  // namespace tsl
