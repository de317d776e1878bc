// Fuzzes shadow descriptions: parsing, and generating the shape shadow a
// description asks for (bounded work and memory whatever the numbers say).
#include <cstdint>
#include <string>

#include "model/shadow.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lum;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TShadowParams p = ParseShadowDescription(text);
  // A description built from parsed parameters parses back to them (the
  // two-decimal fields aside, which are rounded by design).
  TShadowParams back = ParseShadowDescription(ShadowDescription(p).substr(kShadowPrefix.size()));
  if (back.source != p.source || back.spread != p.spread || back.fillMode != p.fillMode ||
      back.mipLevel != p.mipLevel)
    __builtin_trap();
  p.source = std::string(kShapeShadowSource);
  const TShadowGeometry g = ShadowGeometryOf(p);
  if (g.valid && int64_t(g.width + 2 * g.border) * (g.height + 2 * g.border) > 20'000'000)
    __builtin_trap();
  GenerateShadow(p, nullptr);
  return 0;
}
