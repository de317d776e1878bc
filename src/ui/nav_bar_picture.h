#pragma once
// The grid navigation bar drawn into one bitmap: background cells (stretched
// or tiled), each button's background and picture for its state, grey
// versions where the skin asks, the hue shift. Only a dirty rectangle is
// redrawn; the bitmap is then uploaded as one texture.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "imaging/bitmap.h"
#include "ui/nav_layout.h"
#include "ui/nav_skin.h"

namespace lum {

// A skin picture by file name, as 32-bit BGRA with straight alpha; null
// when it cannot be had (the parts using it stay empty).
using TNavPictureLoader = std::function<TRef<TBitmap>(const std::string& file)>;

struct TNavBarOptions {
  bool showBackground = false;  // "opt_nav_showbg": draw the cells
  int hue = 0;                  // "opt_nav_hue", degrees
};

class TNavBarPicture {
 public:
  // Throws EImageError when the bar would be larger than a picture may be.
  TNavBarPicture(const TNavSkin& skin, std::vector<std::string> shown, TNavPictureLoader loader,
                 TNavBarOptions options);
  const TNavLayout& Layout() const { return layout_; }
  const std::vector<std::string>& Shown() const { return shown_; }
  const TBitmap& Bitmap() const { return *bitmap_; }
  // Redraws the part of the bar in dirty with the buttons' states (one per
  // shown button); playing picks the pause button's pictures over its play ones.
  void Redraw(const TRect& dirty, const std::vector<int>& states, bool playing);

 private:
  // The cut-out of a skin picture (grey when asked), hue-shifted, cached.
  const TBitmap* CutOut(const std::string& file, const TNavBounds& b, bool grey);
  void DrawButton(size_t i, const TRect& clip, int state, bool playing);

  TNavSkin skin_;
  std::vector<std::string> shown_;
  TNavPictureLoader loader_;
  TNavBarOptions options_;
  TNavLayout layout_;
  TRef<TBitmap> bitmap_;
  std::map<std::string, TRef<TBitmap>> pictures_;
  std::map<std::string, TRef<TBitmap>> cutOuts_;
};

}  // namespace lum
