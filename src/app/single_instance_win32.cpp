#include <windows.h>

#include "app/single_instance.h"
#include "tray/tray_messages.h"

namespace tsl {

struct SingleInstance::Claim {
    HANDLE mutex = nullptr;
    bool owned = false;
    ~Claim() {
        if (!mutex) return;
        if (owned) ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
};

SingleInstance::SingleInstance() : claim_(std::make_unique<Claim>()) {
    claim_->mutex = CreateMutexW(nullptr, TRUE, L"Local\\TessalineTallyConnector");
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        anotherIsRunning_ = true;
        return;
    }
    claim_->owned = claim_->mutex != nullptr;
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::tellRunningCopySettingsChanged() {
    if (HWND window = FindWindowW(kTrayWindowClass, nullptr)) {
        PostMessageW(window, kSettingsChangedMessage, 0, 0);
    }
}

}  // namespace tsl
