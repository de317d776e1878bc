#pragma once
// The back end that never draws: always compiled in, chosen when nothing
// else can run. Its device is never ready.
#include "render/3d_engine.h"

namespace lum {

class T3DEngineNull : public T3DEngine {
 public:
  // reason: one line; shortfall: the message box text of the back end that
  // could not run (reason when there is none).
  explicit T3DEngineNull(std::string reason = "no renderer", std::string shortfall = {})
      : reason_(std::move(reason)),
        shortfall_(shortfall.empty() ? reason_ : std::move(shortfall)) {}
  int AdapterForRect(const TRect&) override { return 0; }
  int64_t CapabilityValue(std::string_view, int) override { return 0; }
  std::string CapabilityText(std::string_view, int) override { return {}; }
  bool DisplayMode(int, TDisplayMode&) override { return false; }
  TRef<T3DRenderer> CreateRenderer(TDrawDevice*, const TDisplayMode&) override { return {}; }
  bool DeviceReady() override { return false; }
  int QualityLevel(int) override { return 0; }
  std::string InitFailure() const override { return reason_; }
  std::string Shortfall() const override { return shortfall_; }

 private:
  std::string reason_, shortfall_;
};

}  // namespace lum
