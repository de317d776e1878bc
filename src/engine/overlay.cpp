#include "engine/overlay.h"

#include <exception>
#include <mutex>

#include "foundation/log.h"

namespace lum {

namespace {

std::mutex& FactoryLock() {
  static std::mutex m;
  return m;
}

TOverlayFactory& Factory() {
  static TOverlayFactory f;
  return f;
}

}  // namespace

void SetOverlayFactory(TOverlayFactory factory) {
  std::lock_guard g(FactoryLock());
  Factory() = std::move(factory);
}

TRef<TOverlay> MakeOverlay(const TOverlayParams& params) {
  TOverlayFactory f;
  {
    std::lock_guard g(FactoryLock());
    f = Factory();
  }
  if (!f) return nullptr;
  try {
    return f(params);
  } catch (const std::exception& e) {
    // A broken skin or logo costs the show its overlay, not its playback.
    Log().Line(std::string("TThirdSlide: ") + e.what());
    return nullptr;
  }
}

}  // namespace lum
