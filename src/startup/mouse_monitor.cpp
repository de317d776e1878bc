#include "startup/mouse_monitor.h"

#include <cstdlib>

#include "foundation/clock.h"

namespace lum {

TMouseMonitor::TMouseMonitor(TClock clock) : clock_(std::move(clock)) {
  if (!clock_) clock_ = MsSinceStart;
  lastMoveTick_ = clock_();
}

void TMouseMonitor::SetHideInterval(int64_t ms) {
  hideInterval_ = ms > 0 ? ms : 0;
  always_ = false;
  lastMoveTick_ = clock_();
  SetHidden(false);
}

void TMouseMonitor::SetHiddenAlways() {
  hideInterval_ = 0;
  always_ = true;
  SetHidden(true);
}

void TMouseMonitor::PointerAt(int x, int y, bool inside) {
  if (!inside) {
    PointerLeft();
    return;
  }
  const bool entered = !inside_;
  const bool moved = std::abs(int64_t(x) - lastX_) > kMoveThreshold ||
                     std::abs(int64_t(y) - lastY_) > kMoveThreshold;
  if (entered || moved) {
    lastX_ = x;
    lastY_ = y;
    lastMoveTick_ = clock_();
  }
  if (entered) {
    inside_ = true;
    if (onEnter) onEnter();
  }
  if ((entered || moved) && !always_) SetHidden(false);
}

void TMouseMonitor::PointerLeft() {
  if (!inside_) return;
  inside_ = false;
  if (onLeave) onLeave();
}

void TMouseMonitor::Poll() {
  if (always_ || hidden_ || !inside_ || hideInterval_ <= 0) return;
  if (clock_() - lastMoveTick_ > hideInterval_) SetHidden(true);
}

void TMouseMonitor::RestartIdle() {
  lastMoveTick_ = clock_();
  // "Hide always" has no idle time to restart.
  if (!always_) hidden_ = false;
}

void TMouseMonitor::SetHidden(bool hidden) {
  if (hidden == hidden_) return;
  hidden_ = hidden;
  if (onHidden) onHidden(hidden);
}

}  // namespace lum
