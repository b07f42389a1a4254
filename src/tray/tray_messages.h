#pragma once

// How other processes and threads reach the tray program (Windows only): its window class and
// the messages posted to its hidden window.

#include <windows.h>

namespace tsl {

inline constexpr wchar_t kTrayWindowClass[] = L"TessalineTallyConnectorTray";
inline constexpr UINT kTrayCallbackMessage = WM_APP + 1;
// From a second copy started by the user: show the status (or, unpaired, the connection).
inline constexpr UINT kActivateMessage = WM_APP + 2;
inline constexpr UINT kStatusChangedMessage = WM_APP + 3;
inline constexpr UINT kNetworkChangedMessage = WM_APP + 4;
// From a console "--pair": the settings file changed under us.
inline constexpr UINT kSettingsChangedMessage = WM_APP + 5;
// From the thread that saves a diagnostics report: it is done.
inline constexpr UINT kReportDoneMessage = WM_APP + 6;

}  // namespace tsl
