#include "ui/nav_bar_picture.h"

#include <algorithm>

#include "container/file_accessor.h"
#include "model/button_producer.h"
#include "ui/nav_paint.h"

namespace lum {

namespace {

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
  const std::string key = file + "|" + std::to_string(b.left) + "," + std::to_string(b.top) + "," +
                          std::to_string(b.width) + "," + std::to_string(b.height) +
                          (grey ? "G" : "");
  if (auto it = cutOuts_.find(key); it != cutOuts_.end()) return it->second.Get();
  auto [pic, fresh] = pictures_.try_emplace(file);
  if (fresh && loader_) pic->second = loader_(file);
  TRef<TBitmap> cut;
  const TBitmap* src = pic->second.Get();
  const TRect inside = IntersectRects({b.left, b.top, b.left + b.width, b.top + b.height},
                                      {0, 0, src ? src->Width() : 0, src ? src->Height() : 0});
  if (src && src->Format() == TPixelFormat::Bgra32 && !inside.Empty()) {
    // Parts of the bounds outside the picture stay transparent.
    cut = CutPicture(*src, b.left, b.top, b.width, b.height);
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
    DrawPicture(*bitmap_, clip, r, *bg, false);
  // The pause button shows its play pictures while the show stands still.
  const std::string& file = a.hasPlay && !playing ? a.playFiles[s] : a.button.files[s];
  const TBitmap* pic = CutOut(file, a.button.bounds[s], grey);
  if (!pic) return;
  const int shift = s == kNavPressed ? o.shiftPressed : 0;
  const int x = r.left + (r.Width() - pic->Width()) / 2 + shift;
  const int y = r.top + (r.Height() - pic->Height()) / 2 + shift;
  DrawPicture(*bitmap_, clip, {x, y, x + pic->Width(), y + pic->Height()}, *pic, false);
}

void TNavBarPicture::Redraw(const TRect& dirty, const std::vector<int>& states, bool playing) {
  ClearPart(*bitmap_, dirty);
  if (options_.showBackground)
    for (int32_t row = 1; row <= skin_.rows; ++row)
      for (int32_t col = 1; col <= skin_.cols; ++col) {
        const TNavCellSpec& c = skin_.Cell(col, row);
        if (const TBitmap* pic = CutOut(c.texture, c.bounds, false))
          DrawPicture(*bitmap_, dirty, layout_.Cell(col, row), *pic, c.tiled);
      }
  for (size_t i = 0; i < layout_.buttons.size(); ++i)
    if (!IntersectRects(dirty, layout_.buttons[i]).Empty())
      DrawButton(i, dirty, i < states.size() ? states[i] : kNavNormal, playing);
}

}  // namespace lum
