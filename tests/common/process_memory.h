#pragma once

#include <cstddef>

namespace tsl::testing {

// What this process holds right now. Linux: the resident set (VmRSS); Windows: the working set
// and the count of open handles (GetProcessHandleCount). 0 when it cannot be read; the handle
// count is 0 on Linux.
std::size_t currentMemoryBytes();
std::size_t openHandleCount();
// Memory the program asked for and has not given back. Linux: the allocator's own count
// (AddressSanitizer's when it is in, which leaves out the freed blocks it holds back);
// Windows: the private bytes.
std::size_t heapBytes();
// The most this process has held so far (Linux: the peak resident set, ru_maxrss; Windows: the peak
// working set, which Wine keeps up to date, unlike the peak private bytes).
std::size_t peakMemoryBytes();

}  // namespace tsl::testing
