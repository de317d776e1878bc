#include "render/draw_device.h"

#include <algorithm>

#include "render/3d_engine.h"

namespace lum {

TDrawDevice::~TDrawDevice() {
  Close();
}

void TDrawDevice::SetGeometry(const TRect& client, int originX, int originY, bool fullScreen) {
  std::vector<T3DRenderer*> renderers;
  {
    std::lock_guard g(lock_);
    const bool changed = client != clientRect_ || originX != originX_ || originY != originY_ ||
                         fullScreen != fullScreen_;
    clientRect_ = client;
    originX_ = originX;
    originY_ = originY;
    fullScreen_ = fullScreen;
    if (!changed) return;
    renderers = renderers_;
  }
  for (T3DRenderer* r : renderers) r->DeviceChanged();
}

void TDrawDevice::Attach(TRef<TDrawDeviceAttachment> a) {
  if (a) attachments_.push_back(std::move(a));
}

void TDrawDevice::Detach(TDrawDeviceAttachment* a) {
  std::erase_if(attachments_, [a](const TRef<TDrawDeviceAttachment>& x) { return x.Get() == a; });
}

void TDrawDevice::AddRenderer(T3DRenderer* r) {
  std::lock_guard g(lock_);
  if (std::find(renderers_.begin(), renderers_.end(), r) == renderers_.end())
    renderers_.push_back(r);
}

void TDrawDevice::RemoveRenderer(T3DRenderer* r) {
  std::lock_guard g(lock_);
  std::erase(renderers_, r);
}

void TDrawDevice::Close() {
  auto attachments = std::move(attachments_);
  attachments_.clear();
  for (auto& a : attachments) a->DeviceClosing(this);
  std::vector<T3DRenderer*> renderers;
  {
    std::lock_guard g(lock_);
    renderers = std::move(renderers_);
    renderers_.clear();
  }
  for (T3DRenderer* r : renderers) r->ForgetDevice();
}

}  // namespace lum
