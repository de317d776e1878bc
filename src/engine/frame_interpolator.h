#pragma once
// Smooths the show clock between frames: after a warm-up, each output is the
// prediction from the mean step of the last 32 inputs pulled a sixth of the
// way towards the raw value, so frames advance evenly even when the audio
// clock moves in blocks; never more than kMaxDeviation from the raw time.
#include <array>

namespace lum {

class TFrameInterpolator {
 public:
  static constexpr int kRing = 32;
  static constexpr int kWarmUp = 16;
  // The most a smoothed value differs from its raw time (ms).
  static constexpr double kMaxDeviation = 20;

  // The smoothed value of raw time x.
  double Next(double x);
  // Direct mode passes values straight (while the clock stands still).
  void SetDirect() { direct_ = true; }
  // One more raw value passes straight, then smoothing resumes with the history kept.
  void Release() { release_ = true; }
  bool Direct() const { return direct_; }

 private:
  int warmUp_ = kWarmUp;
  int samples_ = 0;
  std::array<double, kRing> ring_{};
  int write_ = 0;
  double sum_ = 0;
  double previous_ = 0;
  double last_ = 0;
  bool direct_ = false;
  bool release_ = false;
};

}  // namespace lum
