#pragma once

#include <cstddef>

namespace tsl::testing {

// The most memory this process has held so far, in bytes (Linux: VmHWM, the peak resident
// set; Windows: the peak working set, which Wine keeps up to date, unlike the peak private
// bytes). 0 when it cannot be read.
std::size_t peakMemoryBytes();

}  // namespace tsl::testing
