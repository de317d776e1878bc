#include "ui/dialog_canvas.h"

#include <algorithm>
#include <cmath>

#include "text/live_vectorizer.h"
#include "text/text_picture.h"

namespace lum {

namespace {

// Lines kept per font before the cache starts afresh (an edit makes one per keystroke).
constexpr size_t kMaxCachedLines = 128;

bool Vectorize(const std::string& family, const std::string& text, TVectText& out) {
  return LiveVectorize(family, 0, {text}, out, TFontCache::Instance());
}

}  // namespace

TScreenRect Intersect(const TScreenRect& a, const TScreenRect& b) {
  TScreenRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

bool Contains(const TScreenRect& r, int x, int y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

TDialogFont::TDialogFont(std::string family, double emPixels)
    : family_(std::move(family)), em_(emPixels) {
  TVectText empty;
  const double scale = em_ / kLiveCaptureSize;
  if (Vectorize(family_, "", empty) && empty.ascent + empty.descent > 0) {
    ascent_ = empty.ascent * scale;
    descent_ = empty.descent * scale;
  } else {
    // No font at all: keep the layout's proportions for what little is drawn.
    ascent_ = 0.9 * em_;
    descent_ = 0.25 * em_;
  }
}

const TDialogText& TDialogFont::Line(const std::string& text) {
  auto found = lines_.find(text);
  if (found != lines_.end()) return found->second;
  if (lines_.size() >= kMaxCachedLines) lines_.clear();
  return lines_.emplace(text, Make(text)).first->second;
}

TDialogText TDialogFont::Make(const std::string& text) const {
  TDialogText made;
  TVectText vt;
  if (text.empty() || !Vectorize(family_, text, vt)) return made;
  TTextParams params;
  params.font = family_;
  params.scale = em_ / kLiveCaptureSize;
  params.align = taLeft;
  params.lines = {text};
  TTextLayout layout;
  if (!LayoutVectText(vt, params, layout) || layout.glyphs.empty()) return made;
  made.originX = layout.lineRects[0].left;
  made.width = layout.lineRects[0].Width();
  made.baseline = layout.baselines[0];
  auto store = MakeRef<TTextPictureStore>(std::move(layout));
  made.picture = store->GetMipLevel(0, TPixelFormat::Bgra32);
  return made;
}

TDialogCanvas::TDialogCanvas(int width, int height)
    : bitmap_(MakeRef<TBitmap>(width, height, TPixelFormat::Bgra32)) {
  bitmap_->Fill(0, 0, 0, 255);
}

void TDialogCanvas::Fill(const TScreenRect& r, TColour c) {
  const TScreenRect clipped = Intersect(r, {0, 0, Width(), Height()});
  for (int y = clipped.top; y < clipped.bottom; ++y) {
    uint8_t* p = bitmap_->Row(y) + 4 * size_t(clipped.left);
    for (int x = clipped.left; x < clipped.right; ++x, p += 4) {
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
      p[3] = 255;
    }
  }
}

void TDialogCanvas::Frame(const TScreenRect& r, TColour c, int thickness) {
  const int t = std::max(1, std::min({thickness, r.Width() / 2 + 1, r.Height() / 2 + 1}));
  Fill({r.left, r.top, r.right, r.top + t}, c);
  Fill({r.left, r.bottom - t, r.right, r.bottom}, c);
  Fill({r.left, r.top + t, r.left + t, r.bottom - t}, c);
  Fill({r.right - t, r.top + t, r.right, r.bottom - t}, c);
}

void TDialogCanvas::DottedFrame(const TScreenRect& r, TColour c) {
  const TScreenRect canvas{0, 0, Width(), Height()};
  auto dot = [&](int x, int y) {
    if (((x + y) & 1) == 0 && Contains(canvas, x, y)) Blend(x, y, c, 255);
  };
  for (int x = r.left; x < r.right; ++x) {
    dot(x, r.top);
    dot(x, r.bottom - 1);
  }
  for (int y = r.top + 1; y < r.bottom - 1; ++y) {
    dot(r.left, y);
    dot(r.right - 1, y);
  }
}

void TDialogCanvas::DrawText(const TDialogText& text, double x, double baseline, TColour c,
                             const TScreenRect& clip) {
  if (!text.picture) return;
  const TBitmap& pic = *text.picture;
  const int left = int(std::lround(x - text.originX));
  const int top = int(std::lround(baseline - text.baseline));
  // The alpha byte of each BGRA pixel is the coverage.
  DrawCoverage(pic.Data() + 3, pic.Width(), pic.Height(), pic.Pitch(), 4, left, top, c, clip);
}

void TDialogCanvas::DrawCoverage(const uint8_t* coverage, int width, int height, size_t pitch,
                                 size_t step, int x, int y, TColour c, const TScreenRect& clip) {
  const TScreenRect area =
      Intersect(Intersect(clip, {0, 0, Width(), Height()}), {x, y, x + width, y + height});
  for (int py = area.top; py < area.bottom; ++py) {
    const uint8_t* row = coverage + size_t(py - y) * pitch;
    for (int px = area.left; px < area.right; ++px) {
      const unsigned a = row[size_t(px - x) * step];
      if (a) Blend(px, py, c, a);
    }
  }
}

void TDialogCanvas::Blend(int x, int y, TColour c, unsigned alpha) {
  uint8_t* p = bitmap_->Row(y) + 4 * size_t(x);
  auto mix = [alpha](uint8_t dst, uint8_t src) {
    return uint8_t((src * alpha + dst * (255 - alpha) + 127) / 255);
  };
  p[0] = mix(p[0], c.b);
  p[1] = mix(p[1], c.g);
  p[2] = mix(p[2], c.r);
}

}  // namespace lum
