#include <windows.h>

#include <psapi.h>

#include "net/peak_memory.h"

namespace tsl::testing {

std::size_t peakMemoryBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.PeakWorkingSetSize;
}

}  // namespace tsl::testing
