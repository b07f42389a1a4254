#include "sync/process_memory.h"

#include <unistd.h>

#include <fstream>

namespace tsl::testing {

std::size_t currentMemoryBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) return 0;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

std::size_t openHandleCount() {
    return 0;
}

}  // namespace tsl::testing
