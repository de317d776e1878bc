#include "render/frame_pacing.h"

#include <algorithm>
#include <cmath>

namespace lum {

int PacingSleepMs(int refreshRate, double lastPresentMs, double nowMs) {
  // An unknown refresh rate would divide by zero; displays default to 60 Hz.
  const double period = 1000.0 / (refreshRate > 0 ? refreshRate : 60);
  const double wait = std::clamp(period + lastPresentMs - nowMs, 1.0, period);
  return std::max(1, static_cast<int>(wait - 3));
}

}  // namespace lum
