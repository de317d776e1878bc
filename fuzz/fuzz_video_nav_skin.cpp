// Video-style bar skins from show containers: any document loads or fails
// with a skin error, and a loaded bar fits, draws and takes the pointer
// without leaving its bitmap.
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/ini_file.h"
#include "ui/nav_skin.h"
#include "ui/video_nav_bar.h"

namespace {

constexpr int32_t kWidth = 640, kHeight = 48;

lum::TRef<lum::TBitmap> Picture(const std::string&) {
  static const lum::TRef<lum::TBitmap> picture = [] {
    auto b = lum::MakeRef<lum::TBitmap>(70, 10, lum::TPixelFormat::Bgra32);
    b->Fill(200, 100, 50, 255);
    return b;
  }();
  return picture;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lum::TIniFile ini;
  ini.LoadText(std::string(reinterpret_cast<const char*>(data), size));
  lum::TVideoNavHost host;
  host.totalLength = [] { return 3700000.0; };
  lum::TVideoNavBar bar(host);
  try {
    bar.Load(ini, "skin/", Picture);
  } catch (const lum::ENavSkinError&) {
    return 0;
  }
  bar.SetButtons({"backward", "forward"});
  bar.SetWidth(kWidth);
  if (bar.FitHeight(kHeight) == 0) return 0;
  const lum::TBitmap* b = bar.Bitmap();
  if (bar.Layout().height > kHeight || (b && (b->Width() != kWidth || b->Height() > kHeight)))
    __builtin_trap();
  bar.SetTime(1234567);
  bar.SetVolume(0.3);
  bar.MouseDown(kWidth / 2, kHeight / 2);
  bar.MouseMove(kWidth - 10, kHeight / 2);
  bar.MouseUp(kWidth - 10, kHeight / 2);
  bar.Flush();
  return 0;
}
