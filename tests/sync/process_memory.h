#pragma once

#include <cstddef>

namespace tsl::testing {

// What this process holds right now. Linux: the resident set (VmRSS); Windows: the working set
// and the count of open handles (GetProcessHandleCount). 0 when it cannot be read; the handle
// count is 0 on Linux.
std::size_t currentMemoryBytes();
std::size_t openHandleCount();

}  // namespace tsl::testing
