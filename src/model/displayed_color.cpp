#include "model/displayed_color.h"

#include <mutex>
#include <unordered_map>

#include "imaging/bitmap.h"
#include "imaging/color_management.h"
#include "imaging/icc_profiles.h"

namespace lum {

namespace {

// Colours converted for the display profile in use; a show has few.
struct TColorMemo {
  std::mutex lock;
  TRef<TColorProfile> display;
  std::unordered_map<uint32_t, uint32_t> colors;
};

constexpr size_t kMostRemembered = 4096;

uint32_t Convert(uint32_t rgb) {
  auto pixel = MakeRef<TBitmap>(1, 1, TPixelFormat::Bgra32);
  uint8_t* p = pixel->Row(0);
  p[0] = uint8_t(rgb >> 16), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb), p[3] = 255;
  static const std::string srgb = BuiltinProfile("sRGB");
  if (!ColorManagement().ConvertToDisplay(*pixel, srgb, "sRGB")) return rgb;
  return uint32_t(p[2]) | uint32_t(p[1]) << 8 | uint32_t(p[0]) << 16;
}

}  // namespace

uint32_t DisplayedColor(uint32_t rgb) {
  const TRef<TColorProfile> display = ColorManagement().DisplayProfile();
  if (!display || !ColorManagement().Active()) return rgb;
  const uint32_t alpha = rgb & 0xFF000000u, color = rgb & 0xFFFFFFu;
  static TColorMemo& memo = *new TColorMemo;
  {
    std::lock_guard g(memo.lock);
    if (memo.display != display) {
      memo.display = display;
      memo.colors.clear();
    }
    if (auto it = memo.colors.find(color); it != memo.colors.end()) return alpha | it->second;
  }
  const uint32_t shown = Convert(color);
  std::lock_guard g(memo.lock);
  if (memo.display == display) {
    if (memo.colors.size() >= kMostRemembered) memo.colors.clear();
    memo.colors[color] = shown;
  }
  return alpha | shown;
}

}  // namespace lum
