#include "ui/nav_bar_picture.h"

#include <algorithm>
#include <cstring>

#include "container/file_accessor.h"
#include "model/button_producer.h"

namespace lum {

namespace {

TRect Intersect(const TRect& a, const TRect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

// Source over destination, straight alpha.
void Over(uint8_t* d, const uint8_t* s) {
  const int sa = s[3];
  if (sa == 0) return;
  if (sa == 255 || d[3] == 0) {
    std::memcpy(d, s, 4);
    return;
  }
  const int da = d[3] * (255 - sa) / 255;
  const int oa = sa + da;
  for (int c = 0; c < 3; ++c) d[c] = uint8_t((s[c] * sa + d[c] * da) / oa);
  d[3] = uint8_t(oa);
}

// src drawn into the rectangle to of dst (stretched, nearest pixel, or
// tiled from its top left), only inside clip.
void Draw(TBitmap& dst, const TRect& clip, const TRect& to, const TBitmap& src, bool tiled) {
  const TRect r = Intersect(Intersect(clip, to), {0, 0, dst.Width(), dst.Height()});
  if (r.Empty() || src.Width() <= 0 || src.Height() <= 0) return;
  for (int y = r.top; y < r.bottom; ++y) {
    const int64_t dy = y - to.top;
    const int sy = int(tiled ? dy % src.Height() : dy * src.Height() / to.Height());
    uint8_t* out = dst.Row(y);
    const uint8_t* in = src.Row(sy);
    for (int x = r.left; x < r.right; ++x) {
      const int64_t dx = x - to.left;
      const int sx = int(tiled ? dx % src.Width() : dx * src.Width() / to.Width());
      Over(out + size_t(x) * 4, in + size_t(sx) * 4);
    }
  }
}

void Clear(TBitmap& dst, const TRect& clip) {
  const TRect r = Intersect(clip, {0, 0, dst.Width(), dst.Height()});
  for (int y = r.top; y < r.bottom && !r.Empty(); ++y)
    std::memset(dst.Row(y) + size_t(r.left) * 4, 0, size_t(r.Width()) * 4);
}

void MakeGrey(TBitmap& b) {
  for (int y = 0; y < b.Height(); ++y) {
    uint8_t* p = b.Row(y);
    for (int x = 0; x < b.Width(); ++x, p += 4) {
      const uint8_t l = uint8_t((p[0] * 29 + p[1] * 150 + p[2] * 77) >> 8);
      p[0] = p[1] = p[2] = l;
    }
  }
}

}  // namespace

TNavBarPicture::TNavBarPicture(const TNavSkin& skin, std::vector<std::string> shown,
                               TNavPictureLoader loader, TNavBarOptions options)
    : skin_(skin), shown_(std::move(shown)), loader_(std::move(loader)), options_(options) {
  layout_ = LayoutNavBar(skin_, shown_);
  bitmap_ = MakeRef<TBitmap>(std::max(layout_.width, 1), std::max(layout_.height, 1),
                             TPixelFormat::Bgra32);
  bitmap_->Fill(0, 0, 0, 0);
}

const TBitmap* TNavBarPicture::CutOut(const std::string& file, const TNavBounds& b, bool grey) {
  if (file.empty() || b.width <= 0 || b.height <= 0) return nullptr;
  const std::string key = file + "|" + std::to_string(b.left) + "," + std::to_string(b.top) +
                          "," + std::to_string(b.width) + "," + std::to_string(b.height) +
                          (grey ? "G" : "");
  if (auto it = cutOuts_.find(key); it != cutOuts_.end()) return it->second.Get();
  auto [pic, fresh] = pictures_.try_emplace(file);
  if (fresh && loader_) pic->second = loader_(file);
  TRef<TBitmap> cut;
  const TBitmap* src = pic->second.Get();
  const TRect inside = Intersect({b.left, b.top, b.left + b.width, b.top + b.height},
                                 {0, 0, src ? src->Width() : 0, src ? src->Height() : 0});
  if (src && src->Format() == TPixelFormat::Bgra32 && !inside.Empty()) {
    // Parts of the bounds outside the picture stay transparent.
    cut = MakeRef<TBitmap>(b.width, b.height, TPixelFormat::Bgra32);
    cut->Fill(0, 0, 0, 0);
    for (int y = inside.top; y < inside.bottom; ++y)
      std::memcpy(cut->Row(y - b.top) + size_t(inside.left - b.left) * 4,
                  src->Row(y) + size_t(inside.left) * 4, size_t(inside.Width()) * 4);
    if (grey) MakeGrey(*cut);
    ShiftHsl(*cut, options_.hue, 0, 0);
  }
  return (cutOuts_[key] = cut).Get();
}

void TNavBarPicture::DrawButton(size_t i, const TRect& clip, int state, bool playing) {
  const TNavActionSpec& a = skin_.actions.at(shown_[i]);
  const TNavObjectSpec o = i < skin_.objects.size() ? skin_.objects[i] : TNavObjectSpec{};
  const size_t s = size_t(std::clamp(state, 0, kNavStates - 1));
  const bool grey = (s == kNavNormal && o.grayNormal) || (s == kNavDisabled && o.grayDisabled);
  const TRect& r = layout_.buttons[i];
  if (const TBitmap* bg = CutOut(a.background.files[s], a.background.bounds[s], grey))
    Draw(*bitmap_, clip, r, *bg, false);
  // The pause button shows its play pictures while the show stands still.
  const std::string& file = a.hasPlay && !playing ? a.playFiles[s] : a.button.files[s];
  const TBitmap* pic = CutOut(file, a.button.bounds[s], grey);
  if (!pic) return;
  const int shift = s == kNavPressed ? o.shiftPressed : 0;
  const int x = r.left + (r.Width() - pic->Width()) / 2 + shift;
  const int y = r.top + (r.Height() - pic->Height()) / 2 + shift;
  Draw(*bitmap_, clip, {x, y, x + pic->Width(), y + pic->Height()}, *pic, false);
}

void TNavBarPicture::Redraw(const TRect& dirty, const std::vector<int>& states, bool playing) {
  Clear(*bitmap_, dirty);
  if (options_.showBackground)
    for (int32_t row = 1; row <= skin_.rows; ++row)
      for (int32_t col = 1; col <= skin_.cols; ++col) {
        const TNavCellSpec& c = skin_.Cell(col, row);
        if (const TBitmap* pic = CutOut(c.texture, c.bounds, false))
          Draw(*bitmap_, dirty, layout_.Cell(col, row), *pic, c.tiled);
      }
  for (size_t i = 0; i < layout_.buttons.size(); ++i)
    if (!Intersect(dirty, layout_.buttons[i]).Empty())
      DrawButton(i, dirty, i < states.size() ? states[i] : kNavNormal, playing);
}

}  // namespace lum
