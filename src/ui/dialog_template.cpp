#include "ui/dialog_template.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>

#include "ui/desktop_scale.h"

namespace lum {

int ScaleDesign(int value, int dpi) {
  if (dpi < 1) dpi = kDesignDpi;
  const int64_t n = int64_t(value) * dpi;
  const int64_t half = kDesignDpi / 2;
  return int(n >= 0 ? (n + half) / kDesignDpi : -((-n + half) / kDesignDpi));
}

TScreenRect ScaledItemRect(const TDialogItem& item, int dpi) {
  const int left = ScaleDesign(item.x, dpi), top = ScaleDesign(item.y, dpi);
  return {left, top, left + ScaleDesign(item.width, dpi), top + ScaleDesign(item.height, dpi)};
}

int DialogFontPoints(int dpi) {
  return dpi == 120 ? 9 : 8;
}

double DialogFontPixels(int dpi) {
  if (dpi < 1) dpi = kDesignDpi;
  return DialogFontPoints(dpi) * double(dpi) / 72.0;
}

int DisplayDialogDpi(int display) {
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return kDesignDpi;
  // A Wayland compositor scales whole windows by its output's factor:
  // design pixels are its logical pixels already.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver && std::strcmp(driver, "wayland") == 0) return kDesignDpi;
  float hdpi = 0;
  if (const std::optional<double> desktop = DesktopDpi())
    hdpi = float(*desktop);
  else if (SDL_GetDisplayDPI(display, nullptr, &hdpi, nullptr) != 0 || !(hdpi > 0))
    return kDesignDpi;
  // Physical figures are rough; steps keep the layout on the scales users know.
  const int stepped = int(hdpi) / 24 * 24;
  return std::clamp(stepped, kDesignDpi, 3 * kDesignDpi);
}

void CentreWindow(const TScreenRect& over, int width, int height, const TScreenRect& bounds, int& x,
                  int& y) {
  x = over.left + (over.Width() - width) / 2;
  y = over.top + (over.Height() - height) / 2;
  x = std::max(bounds.left, std::min(x, bounds.right - width));
  y = std::max(bounds.top, std::min(y, bounds.bottom - height));
}

bool TakesFocus(const TDialogItem& item) {
  return item.kind != TDialogItemKind::Static;
}

}  // namespace lum
