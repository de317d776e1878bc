#pragma once
// The pointer watcher of the main window: whether the pointer is over the
// window, and whether the cursor should be hidden because the pointer has not
// moved by more than 4 pixels (in x or y) for longer than the hide interval.
// It is fed positions and ticks by its owner, so it needs no window itself.
#include <cstdint>
#include <functional>

namespace lum {

class TMouseMonitor {
 public:
  // Milliseconds of a steady clock.
  using TClock = std::function<int64_t()>;
  // Moves larger than this many pixels in x or y count as movement.
  static constexpr int kMoveThreshold = 4;
  // How often the owner should call Poll while the pointer is inside.
  static constexpr int kPollIntervalMs = 20;

  // clock: empty means the program clock (ms since start).
  explicit TMouseMonitor(TClock clock = {});

  std::function<void()> onEnter;
  std::function<void()> onLeave;
  // The hidden state changed (true: hide the cursor).
  std::function<void(bool hidden)> onHidden;

  // 0 keeps the state as it is; > 0 hides after that long without movement.
  void SetHideInterval(int64_t ms);
  // Hidden at once and for good ("hide always"); reports hidden.
  void SetHiddenAlways();

  // A pointer position in window pixels, and whether it is over the client
  // area (from motion events and from Poll's caller).
  void PointerAt(int x, int y, bool inside);
  // The pointer left the window.
  void PointerLeft();
  // Checks the idle time; reports hidden when it ran out.
  void Poll();
  // Starts the idle time anew and leaves the hidden state without a report
  // (the owner kept the cursor visible, e.g. over the navigation panel).
  void RestartIdle();

  bool Inside() const { return inside_; }
  bool Hidden() const { return hidden_; }
  int LastX() const { return lastX_; }
  int LastY() const { return lastY_; }
  // Tick of the last move larger than the threshold (or of entering).
  int64_t LastMoveTick() const { return lastMoveTick_; }
  int64_t HideInterval() const { return hideInterval_; }

 private:
  void SetHidden(bool hidden);

  TClock clock_;
  int64_t hideInterval_ = 0;
  bool always_ = false;
  bool inside_ = false;
  bool hidden_ = false;
  int lastX_ = 0;
  int lastY_ = 0;
  int64_t lastMoveTick_ = 0;
};

}  // namespace lum
