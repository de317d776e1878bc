#pragma once
// What this process holds in memory now, as the kernel counts it.
#include <cstdint>

namespace lum {

// Resident bytes of the process (0 where the kernel does not say).
int64_t ResidentBytes();

}  // namespace lum
