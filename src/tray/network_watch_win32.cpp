#include "tray/network_watch.h"

// In this order: the IP helper declares its interface notices only after Winsock's IP types.
#include <winsock2.h>

#include <ws2ipdef.h>

#include <iphlpapi.h>

#include "tray/tray_messages.h"

namespace tsl {

namespace {

// Windows' thread: post and return; nothing of the program is touched here.
VOID WINAPI interfaceChanged(PVOID window, PMIB_IPINTERFACE_ROW, MIB_NOTIFICATION_TYPE type) {
    if (type == MibInitialNotification) return;
    PostMessageW(static_cast<HWND>(window), kNetworkChangedMessage, 0, 0);
}

}  // namespace

void NetworkWatchCanceller::operator()(HANDLE handle) const {
    CancelMibChangeNotify2(handle);
}

NetworkWatch watchNetworkChanges(HWND window) {
    HANDLE handle = nullptr;
    if (NotifyIpInterfaceChange(AF_UNSPEC, interfaceChanged, window, FALSE, &handle) != NO_ERROR) {
        return NetworkWatch();
    }
    return NetworkWatch(handle);
}

}  // namespace tsl
