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
// Calls on this thread since the clock was last read: reading it costs more
// than copying a 256-byte piece, so it is read every 16 calls, which stays far
// below the 5 ms the rule measures.
inline thread_local unsigned gLoadYieldCalls = 0;
// Modes 1 and 2: yields when the time has come.
void LoadYieldStep(int mode);
}  // namespace detail

// The hook inlined for hot loops that ignore its result: in mode 0 it costs
// one load, in the other modes a counter until the clock is due.
inline void LoadYieldInline() {
  int mode = detail::gLoadYieldMode.load(std::memory_order_relaxed);
  if (mode == 1 || mode == 2) {
    if ((++detail::gLoadYieldCalls & 15) == 0) detail::LoadYieldStep(mode);
  }
}

}  // namespace lum
