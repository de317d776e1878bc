#pragma once
// The draw device of an SDL window: geometry, activation and minimised state
// follow the window.
#include <SDL.h>

#include <atomic>

#include "render/draw_device.h"
#include "toolkit/window.h"

namespace lum {

class TWindowDrawDevice : public TDrawDevice {
 public:
  explicit TWindowDrawDevice(SDL_Window* window);
  // Reads the window's geometry and mode again.
  void Update();
  bool IsActive() const override { return active_.load(); }
  bool IsMinimized() const override { return minimized_.load(); }
  void SetActive(bool on) { active_ = on; }
  void SetMinimized(bool on) { minimized_ = on; }
  SDL_Window* Window() const { return static_cast<SDL_Window*>(handle_); }
  // Keeps the device in step with the window's geometry, activation and
  // minimised state; the listener's earlier callbacks still run after ours.
  void Follow(TWindow& window);

 private:
  // Set on the window thread, read on the drawing thread.
  std::atomic<bool> active_{true}, minimized_{false};
};

}  // namespace lum
