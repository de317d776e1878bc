#pragma once
// Software drawing of system dialogs: a 32-bit canvas with fills, frames and
// text lines made by our text renderer from the installed dialog font.
#include <cstdint>
#include <map>
#include <string>

#include "imaging/bitmap.h"
#include "toolkit/window.h"

namespace lum {

struct TColour {
  uint8_t r = 0, g = 0, b = 0;
};

// One line of text as a white picture with the glyphs' coverage as alpha.
struct TDialogText {
  TRef<TBitmap> picture;  // null for an empty or unmakeable text
  double originX = 0;     // the pen's start in the picture
  double baseline = 0;    // in the picture
  double width = 0;       // advance from the pen's start
};

// The dialog font at one pixel size. Lines are kept for reuse.
class TDialogFont {
 public:
  // emPixels: the em square in pixels.
  TDialogFont(std::string family, double emPixels);

  double Ascent() const { return ascent_; }
  double Height() const { return ascent_ + descent_; }
  // The picture of one line; an empty result when no font could make it.
  const TDialogText& Line(const std::string& text);

 private:
  TDialogText Make(const std::string& text) const;

  std::string family_;
  double em_;
  double ascent_ = 0, descent_ = 0;
  std::map<std::string, TDialogText> lines_;
};

class TDialogCanvas {
 public:
  // Bgra32, opaque. Throws EImageError for sizes the picture budget refuses.
  TDialogCanvas(int width, int height);

  const TBitmap& Bitmap() const { return *bitmap_; }
  int Width() const { return bitmap_->Width(); }
  int Height() const { return bitmap_->Height(); }

  // Drawing is clipped to the canvas.
  void Fill(const TScreenRect& r, TColour c);
  void Frame(const TScreenRect& r, TColour c, int thickness = 1);
  // Every other pixel of the outline (the focus mark).
  void DottedFrame(const TScreenRect& r, TColour c);
  // A text line with its pen at (x, baseline), clipped to `clip`.
  void DrawText(const TDialogText& text, double x, double baseline, TColour c,
                const TScreenRect& clip);
  // Coverage blended in colour with its top-left at (x, y), clipped to `clip`;
  // step: bytes from one pixel's coverage to the next (4 reads BGRA alpha).
  void DrawCoverage(const uint8_t* coverage, int width, int height, size_t pitch, size_t step,
                    int x, int y, TColour c, const TScreenRect& clip);

 private:
  void Blend(int x, int y, TColour c, unsigned alpha);

  TRef<TBitmap> bitmap_;
};

// The intersection of two rectangles (empty when they do not meet).
TScreenRect Intersect(const TScreenRect& a, const TScreenRect& b);
bool Contains(const TScreenRect& r, int x, int y);

}  // namespace lum
