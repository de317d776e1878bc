#pragma once
// Owns the slide drawer of a window's draw device and reports, once per
// engine loop, what happened to the device: ready, rebuilt after a loss,
// resized or asked to refresh, active.
#include <atomic>
#include <memory>

#include "render/3d_drawer.h"
#include "render/draw_device.h"

namespace lum {

class TLumDrawController {
 public:
  static constexpr uint32_t kReady = 1, kRebuilt = 2, kChanged = 4, kActive = 8;

  TLumDrawController(TRef<TDrawDevice> device, TRef<T3DEngine> engine);
  ~TLumDrawController();
  TLumDrawController(const TLumDrawController&) = delete;
  TLumDrawController& operator=(const TLumDrawController&) = delete;

  // Makes the drawer when there is none and attaches it to the device.
  void CreateDrawer();
  T3DDrawer* Drawer() const { return drawer_.get(); }
  TDrawDevice* Device() const { return device_.Get(); }
  T3DEngine* Engine() const { return engine_.Get(); }
  // The device's client size (0 x 0 once the device is gone).
  int ClientWidth() const;
  int ClientHeight() const;
  // The state flags above; clears the refresh request, and the loss once
  // drawing works again.
  uint32_t State();
  // Draws the frame of root; false when nothing was drawn.
  bool Draw(TDrawerItem& root);
  // Any thread: the window wants a new frame.
  void RequestRefresh();
  // The device is going away (the window closes first).
  void ForgetDevice();

 private:
  TRef<TDrawDevice> device_;
  TRef<T3DEngine> engine_;
  std::unique_ptr<T3DDrawer> drawer_;
  TRef<TDrawDeviceAttachment> messenger_;
  std::atomic<bool> rendererLost_{false};
  std::atomic<bool> refresh_{false};
  TRect reported_;  // the client size the engine last heard of
};

}  // namespace lum
