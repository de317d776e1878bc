#include "engine/frame_interpolator.h"

#include <algorithm>

namespace lum {

double TFrameInterpolator::Next(double x) {
  double out = x;
  if (direct_) {
  } else if (warmUp_ > 0) {
    --warmUp_;
  } else {
    // Counting stops past the ring: only 'full or not' matters.
    if (samples_ <= kRing) ++samples_;
    const bool full = samples_ > kRing;
    if (full) sum_ -= ring_[write_];
    const double d = x - previous_;
    sum_ += d;
    ring_[write_] = d;
    write_ = (write_ + 1) % kRing;
    if (full) {
      const double predicted = last_ + sum_ / kRing;
      out = predicted + (x - predicted) / 6;
      // The prediction assumes even frames; after a long one it would lag
      // the sound for a while. Smoothing never strays further than this.
      out = std::clamp(out, x - kMaxDeviation, x + kMaxDeviation);
    }
  }
  previous_ = x;
  last_ = out;
  if (release_) release_ = direct_ = false;
  return out;
}

}  // namespace lum
