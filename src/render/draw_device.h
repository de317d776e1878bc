#pragma once
// What a window offers for drawing: geometry, per-window attachments of other
// objects, and the renderers drawing into it.
#include <mutex>
#include <vector>

#include "foundation/ref_object.h"
#include "render/3d_types.h"

namespace lum {

class TDrawDevice;
class T3DRenderer;

// Per-window data other objects keep on the draw device.
class TDrawDeviceAttachment : public TRefObject {
 public:
  // The device is going away.
  virtual void DeviceClosing(TDrawDevice*) {}
};

class TDrawDevice : public TRefObject {
 public:
  TDrawDevice() = default;
  ~TDrawDevice() override;

  // The geometry is set on the window thread and read on drawing threads.
  bool FullScreen() const {
    std::lock_guard g(lock_);
    return fullScreen_;
  }
  TRect ClientRect() const {
    std::lock_guard g(lock_);
    return clientRect_;
  }
  int OriginX() const {
    std::lock_guard g(lock_);
    return originX_;
  }
  int OriginY() const {
    std::lock_guard g(lock_);
    return originY_;
  }
  void* Handle() const { return handle_; }

  // Takes the new geometry; every renderer is told when anything changed.
  virtual void SetGeometry(const TRect& client, int originX, int originY, bool fullScreen);
  void SetHandle(void* handle) { handle_ = handle; }
  // Whether the window is the active one (the base has no window: always).
  virtual bool IsActive() const { return true; }
  // A minimised window cannot be drawn into.
  virtual bool IsMinimized() const { return false; }

  void Attach(TRef<TDrawDeviceAttachment> a);
  void Detach(TDrawDeviceAttachment* a);
  template <class T>
  T* FindAttachment() const {
    for (const auto& a : attachments_)
      if (auto* p = dynamic_cast<T*>(a.Get())) return p;
    return nullptr;
  }

  void AddRenderer(T3DRenderer* r);
  void RemoveRenderer(T3DRenderer* r);
  std::vector<T3DRenderer*> Renderers() const {
    std::lock_guard g(lock_);
    return renderers_;
  }

  // Tells attachments and renderers the device is going away; idempotent.
  void Close();

 protected:
  mutable std::mutex lock_;  // geometry and renderer list
  bool fullScreen_ = false;
  TRect clientRect_;
  int originX_ = 0, originY_ = 0;
  void* handle_ = nullptr;
  std::vector<TRef<TDrawDeviceAttachment>> attachments_;
  std::vector<T3DRenderer*> renderers_;
};

}  // namespace lum
