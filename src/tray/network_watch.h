#pragma once

// Windows only: notices of network changes for the tray's hidden window.

#include <windows.h>

#include <memory>

namespace tsl {

// A registration for notices of network changes (NotifyIpInterfaceChange), cancelled once.
struct NetworkWatchCanceller {
    void operator()(HANDLE handle) const;
};
using NetworkWatch = std::unique_ptr<void, NetworkWatchCanceller>;

// Posts kNetworkChangedMessage (0, 0) to `window` whenever an IP interface of this PC changes (an
// adapter comes up, gets an address, goes away). Windows calls back on a thread of its own and
// nothing but the message crosses. Null when Windows refuses. Reset it before the window goes:
// cancelling waits for a callback in progress.
NetworkWatch watchNetworkChanges(HWND window);

}  // namespace tsl
