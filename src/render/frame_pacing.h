#pragma once
// Pacing of presents to the display refresh, so that the drawing thread
// sleeps instead of spinning.
#include <cstdint>

namespace lum {

// Milliseconds to sleep before a present at nowMs when the last present was
// at lastPresentMs, for a display of refreshRate Hz (0 counts as 60).
int PacingSleepMs(int refreshRate, double lastPresentMs, double nowMs);

}  // namespace lum
