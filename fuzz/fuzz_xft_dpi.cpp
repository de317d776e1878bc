// X resource strings as an X server hands them over: the desktop's dpi is
// either a sane number or nothing.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ui/desktop_scale.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto dpi = lum::XftDpi(std::string_view(reinterpret_cast<const char*>(data), size));
  if (dpi && !(*dpi >= 24 && *dpi <= 960)) __builtin_trap();
  return 0;
}
