#include "engine/draw_controller.h"

#include "foundation/log.h"

namespace lum {

namespace {

// Clears the controller's device when the device closes before it.
class TDeviceKilledMessenger2 : public TDrawDeviceAttachment {
 public:
  explicit TDeviceKilledMessenger2(TLumDrawController* c) : controller(c) {}
  void DeviceClosing(TDrawDevice*) override {
    if (controller) controller->ForgetDevice();
  }
  TLumDrawController* controller;
};

bool SameSize(const TRect& a, const TRect& b) {
  return a.Width() == b.Width() && a.Height() == b.Height();
}

}  // namespace

TLumDrawController::TLumDrawController(TRef<TDrawDevice> device, TRef<T3DEngine> engine)
    : device_(std::move(device)), engine_(std::move(engine)) {
  if (!device_) return;
  messenger_ = MakeRef<TDeviceKilledMessenger2>(this);
  device_->Attach(messenger_);
}

TLumDrawController::~TLumDrawController() {
  if (messenger_) static_cast<TDeviceKilledMessenger2*>(messenger_.Get())->controller = nullptr;
  if (drawer_) drawer_->Close();
  drawer_.reset();
  if (device_ && messenger_) device_->Detach(messenger_.Get());
}

void TLumDrawController::CreateDrawer() {
  if (!drawer_) {
    drawer_ = std::make_unique<T3DDrawer>(engine_);
    drawer_->Screen().onLost = [this] {
      Log().Line("TLumDrawController.RndLost");
      rendererLost_ = true;
    };
  }
  if (device_) {
    drawer_->Attach(device_.Get());
    reported_ = device_->ClientRect();
  }
}

int TLumDrawController::ClientWidth() const {
  return device_ ? device_->ClientRect().Width() : 0;
}

int TLumDrawController::ClientHeight() const {
  return device_ ? device_->ClientRect().Height() : 0;
}

uint32_t TLumDrawController::State() {
  uint32_t flags = 0;
  if (device_ && device_->IsActive()) flags |= kActive;
  if (refresh_.exchange(false)) flags |= kChanged;
  if (drawer_ && device_) {
    // Compared with the size last reported, not with the renderer's: the
    // renderer may already have been rebuilt for the new size by a frame
    // drawn since, and the engine must still hear of it.
    const TRect client = device_->ClientRect();
    if (!SameSize(client, reported_)) {
      flags |= kChanged;
      // A new size rebuilds the renderer, which loses its device objects as
      // a reset device does.
      if (!reported_.Empty() && !client.Empty()) rendererLost_ = true;
      reported_ = client;
    }
  }
  if (rendererLost_) flags |= kRebuilt;
  if (drawer_ && device_ && !device_->IsMinimized() && drawer_->DeviceReady()) {
    flags |= kReady;
    if (rendererLost_.exchange(false))
      Log().Line("TLumDrawController.GetState: Inited, not Reinited");
  }
  return flags;
}

bool TLumDrawController::Draw(TDrawerItem& root) {
  if (!drawer_ || !device_) return false;
  return drawer_->DrawItem(root);
}

void TLumDrawController::RequestRefresh() {
  Log().Line("TLumDrawController.DeviceRefresh: DrawDevice Refresh!");
  refresh_ = true;
}

void TLumDrawController::ForgetDevice() {
  device_ = nullptr;
}

}  // namespace lum
