#pragma once
// Small helpers the engine's source files share.
#include <chrono>
#include <cmath>
#include <string>

namespace lum {

// A number rounded to whole units, for the log.
inline std::string Num(double v) {
  return std::to_string(std::llround(v));
}

// A steady clock in milliseconds with fractions (frame timing).
inline double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace lum
