// Fuzzes the special picture names objects ask for: preset-mask fields,
// sized-text descriptions and effect-buffer sizes.
#include <cstdint>
#include <exception>
#include <string>

#include "model/special_pictures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Generated pictures stay small so that each run is quick; larger ones are refused.
  lum::SetPictureBudget(1 << 18);
  std::string name(reinterpret_cast<const char*>(data), size);
  try {
    if (lum::TRef<lum::TImage> img = lum::ResolveSpecialPicture(name, {}))
      img->GetMipLevel(1, lum::TPixelFormat::Bgra32);
  } catch (const lum::EImageError&) {
    // Over the budget: refused before any pixel memory is taken.
  }
  return 0;
}
