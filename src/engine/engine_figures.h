#pragma once
// The engine's figures: frames drawn, their pacing and what the pointer is
// over. The engine thread writes them; any thread reads them.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_status.h"

namespace lum {

// One interval between frames drawn back to back while the clock ran.
struct TFrameInterval {
  double end = 0;  // when the later frame reached the window (NowMs)
  double ms = 0;
};
// The intervals kept for the figures over the show: two seconds of them at
// up to 256 frames a second.
inline constexpr size_t kIntervalRing = 512;
using TIntervalHistory = std::array<TFrameInterval, kIntervalRing>;

class TEngineFigures {
 public:
  // A frame of the show's slides reached the window; active: the clock ran.
  void NoteFrame(bool active);
  // A frame without slides reached the window.
  void NoteEmptyFrame() { ++emptyFrames_; }
  // A loop had nothing new to draw: the next interval says nothing about
  // pacing. Engine thread only.
  void NoteSkipped() { frameSkipped_ = true; }
  // A show opened: the intervals count afresh.
  void RestartIntervals();
  // The pointer is over an object with an action of this class (or not).
  void SetHover(bool hover, std::string hoverClass);
  // Fills the frame, pacing and hover figures of s.
  void Fill(TEngineStatus& s) const;
  // The longest interval between frames drawn back to back while the clock
  // ran, since the last call (ms; 0 when there was none).
  double TakeMaxInterval();
  // The kept intervals that ended after `since` (NowMs), oldest first, into
  // out; how many. Engine thread only: it is the one writing them.
  size_t IntervalsSince(double since, TIntervalHistory& out) const;

 private:
  std::atomic<int64_t> framesDrawn_{0};
  std::atomic<int64_t> emptyFrames_{0};
  mutable std::mutex lock_;
  bool hover_ = false;      // under lock_
  std::string hoverClass_;  // under lock_
  // Frame timing of the last second.
  std::vector<double> frameTicks_;
  // Running mean and squared deviations of the intervals (Welford).
  int64_t intervalCount_ = 0;
  double intervalMean_ = 0, intervalM2_ = 0;
  double maxInterval_ = 0;  // since the last TakeMaxInterval
  double lastFrameTick_ = 0;
  bool lastFrameActive_ = false;
  bool frameSkipped_ = false;  // a loop since the last frame had nothing new to draw
  // The latest intervals, a ring: ringNext_ is the slot written next.
  TIntervalHistory ring_{};
  size_t ringNext_ = 0, ringCount_ = 0;
};

}  // namespace lum
