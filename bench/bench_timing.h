#pragma once
// Wall-clock helpers of the timing harnesses.
#include <algorithm>
#include <chrono>
#include <vector>

namespace lum::bench {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The median, which shrugs off the odd run disturbed by other work.
inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace lum::bench
