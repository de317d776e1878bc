#pragma once
// What a window offers for drawing: geometry, per-window attachments of other
// objects, and the renderers drawing into it.
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

  bool FullScreen() const { return fullScreen_; }
  const TRect& ClientRect() const { return clientRect_; }
  int OriginX() const { return originX_; }
  int OriginY() const { return originY_; }
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
  const std::vector<T3DRenderer*>& Renderers() const { return renderers_; }

  // Tells attachments and renderers the device is going away; idempotent.
  void Close();

 protected:
  bool fullScreen_ = false;
  TRect clientRect_;
  int originX_ = 0, originY_ = 0;
  void* handle_ = nullptr;
  std::vector<TRef<TDrawDeviceAttachment>> attachments_;
  std::vector<T3DRenderer*> renderers_;
};

}  // namespace lum
