#include "render/window_draw_device.h"

namespace lum {

TWindowDrawDevice::TWindowDrawDevice(SDL_Window* window) {
  handle_ = window;
  Update();
}

void TWindowDrawDevice::Update() {
  SDL_Window* w = Window();
  int x = 0, y = 0, cw = 0, ch = 0;
  SDL_GetWindowPosition(w, &x, &y);
  SDL_GL_GetDrawableSize(w, &cw, &ch);
  bool fs = (SDL_GetWindowFlags(w) & SDL_WINDOW_FULLSCREEN) != 0;
  SetGeometry({0, 0, cw, ch}, x, y, fs);
}

void TWindowDrawDevice::Follow(TWindow& window) {
  TWindowListener& l = window.Listener();
  TRef<TWindowDrawDevice> self(this);
  active_ = window.Active();
  minimized_ = window.Minimized();
  l.geometry = [self, next = std::move(l.geometry)] {
    self->Update();
    if (next) next();
  };
  l.activation = [self, next = std::move(l.activation)](bool on) {
    self->SetActive(on);
    if (next) next(on);
  };
  l.minimized = [self, next = std::move(l.minimized)](bool on) {
    self->SetMinimized(on);
    if (next) next(on);
  };
}

}  // namespace lum
