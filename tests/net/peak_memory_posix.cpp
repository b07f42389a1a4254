#include "net/peak_memory.h"

#include <fstream>
#include <string>

namespace tsl::testing {

std::size_t peakMemoryBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
    }
    return 0;
}

}  // namespace tsl::testing
