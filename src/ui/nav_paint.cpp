#include "ui/nav_paint.h"

#include <algorithm>
#include <cstring>

namespace lum {

namespace {

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

TRect Bounds(const TBitmap& b) {
  return {0, 0, b.Width(), b.Height()};
}

}  // namespace

TRect IntersectRects(const TRect& a, const TRect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

TRect UniteRects(const TRect& a, const TRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

void DrawPicture(TBitmap& dst, const TRect& clip, const TRect& to, const TBitmap& src, bool tiled) {
  const TRect r = IntersectRects(IntersectRects(clip, to), Bounds(dst));
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

void ClearPart(TBitmap& dst, const TRect& part) {
  const TRect r = IntersectRects(part, Bounds(dst));
  for (int y = r.top; y < r.bottom && !r.Empty(); ++y)
    std::memset(dst.Row(y) + size_t(r.left) * 4, 0, size_t(r.Width()) * 4);
}

void CopyPart(TBitmap& dst, const TBitmap& src, const TRect& part) {
  const TRect r = IntersectRects(IntersectRects(part, Bounds(dst)), Bounds(src));
  for (int y = r.top; y < r.bottom && !r.Empty(); ++y)
    std::memcpy(dst.Row(y) + size_t(r.left) * 4, src.Row(y) + size_t(r.left) * 4,
                size_t(r.Width()) * 4);
}

TRef<TBitmap> CutPicture(const TBitmap& src, int x, int y, int w, int h) {
  if (w <= 0 || h <= 0) return nullptr;
  auto cut = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
  cut->Fill(0, 0, 0, 0);
  const TRect inside = IntersectRects({x, y, x + w, y + h}, Bounds(src));
  for (int row = inside.top; row < inside.bottom && !inside.Empty(); ++row)
    std::memcpy(cut->Row(row - y) + size_t(inside.left - x) * 4,
                src.Row(row) + size_t(inside.left) * 4, size_t(inside.Width()) * 4);
  return cut;
}

}  // namespace lum
