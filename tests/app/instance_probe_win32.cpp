#include "app/instance_probe.h"

#include <windows.h>

#include <thread>

#include "support/win32_handles.h"

namespace tsl::testing {

struct InstanceProbe::Scratch {};

InstanceProbe::InstanceProbe() = default;
InstanceProbe::~InstanceProbe() = default;

// A mutex belongs to a thread, so the look happens on a thread of its own: a claim that was
// closed but never released would still block it, as it would block a second copy.
bool InstanceProbe::claimIsFree() const {
    const KernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, L"Local\\TessalineTallyConnector"));
    if (!mutex) return true;  // no such object: nobody holds the name
    DWORD wait = WAIT_FAILED;
    std::thread([&] {
        wait = WaitForSingleObject(mutex.get(), 0);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex.get());
    }).join();
    return wait == WAIT_OBJECT_0;
}

}  // namespace tsl::testing
