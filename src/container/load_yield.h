#pragma once
// Load-yield hook: long loading routines call it after every piece they read
// so that loading shares the processor with playback. The engine sets mode 2
// while the show plays and mode 0 while it is paused or stopped.
//   0: nothing            1: yield the time slice when 5 ms passed since the last yield
//   2: as 1 but sleep 1 ms, and the process runs at raised priority
//   3: tell the caller to stop (loops that honour it end early)

#include <atomic>

namespace lum {

void SetLoadYieldMode(int mode);
int LoadYieldMode();
// Returns whether the caller should continue.
bool LoadYieldHook();

namespace detail {
extern std::atomic<int> gLoadYieldMode;
}
// False in mode 0, where the hook does nothing: hot loops skip the call then.
inline bool LoadYieldActive() {
  return detail::gLoadYieldMode.load(std::memory_order_relaxed) != 0;
}

}  // namespace lum
