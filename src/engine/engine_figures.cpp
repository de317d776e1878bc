#include "engine/engine_figures.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/lum_engine_parts.h"

namespace lum {

void TEngineFigures::NoteFrame(bool active) {
  ++framesDrawn_;
  std::lock_guard g(lock_);
  const double now = NowMs();
  frameTicks_.push_back(now);
  auto old = std::find_if(frameTicks_.begin(), frameTicks_.end(),
                          [&](double t) { return t >= now - 1000; });
  frameTicks_.erase(frameTicks_.begin(), old);
  // Only frames drawn back to back while the clock runs show the pacing.
  if (active && lastFrameActive_ && !frameSkipped_) {
    const double d = now - lastFrameTick_;
    ++intervalCount_;
    const double delta = d - intervalMean_;
    intervalMean_ += delta / double(intervalCount_);
    intervalM2_ += delta * (d - intervalMean_);
    maxInterval_ = std::max(maxInterval_, d);
    ring_[ringNext_] = {now, d};
    ringNext_ = (ringNext_ + 1) % kIntervalRing;
    ringCount_ = std::min(ringCount_ + 1, kIntervalRing);
  }
  lastFrameActive_ = active;
  lastFrameTick_ = now;
  frameSkipped_ = false;
}

void TEngineFigures::RestartIntervals() {
  std::lock_guard g(lock_);
  intervalCount_ = 0;
  intervalMean_ = intervalM2_ = 0;
  lastFrameActive_ = false;
  ringCount_ = 0;
}

size_t TEngineFigures::IntervalsSince(double since, TIntervalHistory& out) const {
  // Newest first until one ended too early, then turned round.
  size_t n = 0;
  for (size_t i = 0; i < ringCount_; ++i) {
    const TFrameInterval& f = ring_[(ringNext_ + kIntervalRing - 1 - i) % kIntervalRing];
    if (f.end <= since) break;
    out[n++] = f;
  }
  std::reverse(out.begin(), out.begin() + n);
  return n;
}

double TEngineFigures::TakeMaxInterval() {
  std::lock_guard g(lock_);
  return std::exchange(maxInterval_, 0.0);
}

void TEngineFigures::SetHover(bool hover, std::string hoverClass) {
  std::lock_guard g(lock_);
  hover_ = hover;
  hoverClass_ = std::move(hoverClass);
}

void TEngineFigures::Fill(TEngineStatus& s) const {
  s.framesDrawn = framesDrawn_.load();
  s.emptyFrames = emptyFrames_.load();
  std::lock_guard g(lock_);
  s.hover = hover_;
  s.hoverClass = hoverClass_;
  s.intervals = intervalCount_;
  s.intervalMean = intervalMean_;
  s.intervalStdDevAll =
      intervalCount_ > 1 ? std::sqrt(intervalM2_ / double(intervalCount_ - 1)) : 0;
  const size_t n = frameTicks_.size();
  if (n >= 2 && NowMs() - frameTicks_.back() < 200) {
    s.fps = (n - 1) * 1000.0 / (frameTicks_.back() - frameTicks_.front());
    double mean = (frameTicks_.back() - frameTicks_.front()) / (n - 1), sq = 0;
    for (size_t i = 1; i < n; ++i) sq += std::pow(frameTicks_[i] - frameTicks_[i - 1] - mean, 2);
    s.intervalStdDev = std::sqrt(sq / (n - 1));
  }
}

}  // namespace lum
