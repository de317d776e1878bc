#pragma once
// Keeps the display from dimming or locking while a show plays, through
// SDL: the desktop's screen-saver inhibit over D-Bus, and the X11 or Wayland
// idle inhibit. Paused and ended shows let the display sleep again.

namespace lum {

// Before the video subsystem starts: the display may sleep until a show
// plays, and the desktop learns who keeps it awake and why.
void PrepareDisplayAwake();

class TDisplayAwake {
 public:
  TDisplayAwake() = default;
  // Lets the display sleep again.
  ~TDisplayAwake();
  TDisplayAwake(const TDisplayAwake&) = delete;
  TDisplayAwake& operator=(const TDisplayAwake&) = delete;

  // Window thread: holds the display awake while playing, releases it
  // otherwise. Only changes reach the system.
  void Update(bool playing);
  bool Held() const { return held_; }

 private:
  bool held_ = false;
};

}  // namespace lum
