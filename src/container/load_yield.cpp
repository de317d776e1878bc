#include "container/load_yield.h"

#include <sched.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

#include "foundation/clock.h"

namespace lum {

namespace detail {
std::atomic<int> gLoadYieldMode{0};
}

namespace {

std::atomic<int>& gMode = detail::gLoadYieldMode;
std::atomic<int64_t> gLastYield{0};
std::mutex gModeMutex;
int gNormalNice = 0;

// Raising priority needs privileges on POSIX; without them the request is
// quietly left out, never an error.
void RaisePriority() {
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, 0);
  if (errno != 0) return;
  gNormalNice = nice;
  setpriority(PRIO_PROCESS, 0, nice - 5);
}

void RestorePriority() {
  setpriority(PRIO_PROCESS, 0, gNormalNice);
}

}  // namespace

void SetLoadYieldMode(int mode) {
  std::lock_guard<std::mutex> lock(gModeMutex);
  int old = gMode.load(std::memory_order_relaxed);
  if (mode == old) return;
  if (old == 2) RestorePriority();
  if (mode == 2) RaisePriority();
  gLastYield.store(MsSinceStart(), std::memory_order_relaxed);
  gMode.store(mode, std::memory_order_relaxed);
}

int LoadYieldMode() {
  return gMode.load(std::memory_order_relaxed);
}

bool LoadYieldHook() {
  int mode = gMode.load(std::memory_order_relaxed);
  if (mode == 3) return false;
  LoadYieldInline();
  return true;
}

void detail::LoadYieldStep(int mode) {
  int64_t now = MsSinceStart();
  if (now - gLastYield.load(std::memory_order_relaxed) > 5) {
    if (mode == 1) {
      sched_yield();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    gLastYield.store(MsSinceStart(), std::memory_order_relaxed);
  }
}

}  // namespace lum
