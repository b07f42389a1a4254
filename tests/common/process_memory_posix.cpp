#include "common/process_memory.h"

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#if defined(__SANITIZE_ADDRESS__)
// From AddressSanitizer's run-time (its header does not come with every compiler package).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace tsl::testing {

std::size_t currentMemoryBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) return 0;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

std::size_t peakMemoryBytes() {
    rusage usage{};
    return ::getrusage(RUSAGE_SELF, &usage) == 0 ? static_cast<std::size_t>(usage.ru_maxrss) * 1024
                                                 : 0;
}

std::size_t openHandleCount() {
    return 0;
}

std::size_t heapBytes() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

}  // namespace tsl::testing
