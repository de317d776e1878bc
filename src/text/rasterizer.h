#pragma once
// Our anti-aliasing rasteriser: fills outlines (lines, quadratic and cubic
// curves) with the non-zero winding rule into an 8-bit coverage plane, each
// pixel holding the exact area of it the outline covers. Paths filled one
// after another combine as painting with white would (a + b - ab).
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "text/vector_text.h"

namespace lum {

class TRasterHelper {
 public:
  // Starts painting on a cleared width x height plane. W or H not positive
  // and a second BeginPaint before EndPaint are assertion failures; a size
  // beyond the picture budget throws EImageError.
  void BeginPaint(int width, int height);
  // Ends painting; an outline not yet filled is dropped. The plane stays
  // readable until the next BeginPaint.
  void EndPaint();
  bool Painting() const { return painting_; }

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Row-major coverage, Width() bytes per row.
  const uint8_t* Coverage() const { return plane_.data(); }
  uint8_t CoverageAt(int x, int y) const { return plane_[size_t(y) * size_t(width_) + size_t(x)]; }
  std::vector<uint8_t> TakeCoverage() { return std::move(plane_); }

  // Outline building in pixels, y downwards. MoveTo starts a contour; the
  // others need an open contour (assertion failure otherwise).
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  void QuadTo(double cx, double cy, double x, double y);
  void CubicTo(double c1x, double c1y, double c2x, double c2y, double x, double y);
  void ClosePath();
  // Adds a stored path placed at (dx, dy) and scaled by `scale`. Stops at the
  // first point that cannot continue it: a first point that is not a move, a
  // point after a close that is not a move, an unfinished curve. Returns the
  // points used. An unknown command is an assertion failure.
  size_t AddPath(const TGlyphPoint* points, size_t count, double scale, double dx, double dy);
  // Fills the outline built so far (open contours closed) and starts anew.
  void FillPath();
  // Fills a rectangle (underline and strike-out bars).
  void FillRect(double left, double top, double right, double bottom);

 private:
  struct TEdge {
    float x0, y0, x1, y1;
  };
  void CheckPainting() const;
  void CheckOpen() const;
  bool OutsideClip(const double* xs, const double* ys, int n) const;
  void AddLine(double x0, double y0, double x1, double y1);
  void ClipX(double x0, double y0, double x1, double y1);
  void CloseContour();

  bool painting_ = false;
  int width_ = 0, height_ = 0;
  std::vector<uint8_t> plane_;
  std::vector<TEdge> edges_;
  std::vector<float> accum_;                  // kept zeroed between fills
  std::vector<uint8_t> row_;                  // one row's coverage
  std::vector<std::pair<int, int>> painted_;  // per row: columns painted so far
  bool open_ = false;                         // a contour accepts points
  bool started_ = false;                      // a contour was ever started since the last fill
  double startX_ = 0, startY_ = 0, curX_ = 0, curY_ = 0;
};

}  // namespace lum
