#pragma once
// The back end that never draws: always compiled in, chosen when nothing
// else can run. Its device is never ready.
#include "render/3d_engine.h"

namespace lum {

class T3DEngineNull : public T3DEngine {
 public:
  explicit T3DEngineNull(std::string reason = "no renderer") : reason_(std::move(reason)) {}
  int AdapterForRect(const TRect&) override { return 0; }
  int64_t CapabilityValue(std::string_view, int) override { return 0; }
  std::string CapabilityText(std::string_view, int) override { return {}; }
  bool DisplayMode(int, TDisplayMode&) override { return false; }
  TRef<T3DRenderer> CreateRenderer(TDrawDevice*, const TDisplayMode&) override { return {}; }
  bool DeviceReady() override { return false; }
  int QualityLevel(int) override { return 0; }
  std::string InitFailure() const override { return reason_; }

 private:
  std::string reason_;
};

}  // namespace lum
