#include "text/rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "foundation/errors.h"
#include "imaging/bitmap.h"

namespace lum {

namespace {

constexpr const char* kModule = "text";
// Largest distance between a curve and its chords, in pixels (half of what
// 8-bit coverage can show at a glancing edge).
constexpr double kFlatness = 1.0 / 32;
// Segments per curve, and edges per fill beyond which curves become chords:
// bounds the work hostile outlines can ask for.
constexpr int kMaxCurveSegments = 1024;
constexpr size_t kMaxEdges = size_t(1) << 22;
// Accumulation cells per band; larger outlines are filled band by band.
constexpr size_t kBandCells = size_t(1) << 18;

// Floor and ceiling of non-negative values, cheaper than the library's
// on processors without a rounding instruction.
inline int FloorPos(float v) {
  return int(v);
}
inline int CeilPos(float v) {
  int i = int(v);
  return i + (float(i) < v);
}

// Adds the signed area a line covers in each cell of the rows it crosses:
// the part of a cell right of the line goes to the cell, the rest of the
// row's crossing to the next one, so a running sum along the row gives the
// exact coverage. Coordinates relative to the band; 0 <= x <= xmax.
void AccumulateLine(float* acc, size_t stride, int rows, float xmax, float x0, float y0, float x1,
                    float y1) {
  if (y0 == y1) return;
  float dir = 1;
  if (y0 > y1) {
    std::swap(x0, x1);
    std::swap(y0, y1);
    dir = -1;
  }
  if (y1 <= 0 || y0 >= float(rows)) return;
  float dxdy = (x1 - x0) / (y1 - y0);
  float x = x0;
  if (y0 < 0) {
    x = std::clamp(x - y0 * dxdy, 0.0f, xmax);
    y0 = 0;
  }
  int yEnd = std::min(rows, CeilPos(y1));
  for (int y = int(y0); y < yEnd; ++y) {
    float* row = acc + size_t(y) * stride;
    float dy = std::min(float(y + 1), y1) - std::max(float(y), y0);
    float xNext = std::clamp(x + dxdy * dy, 0.0f, xmax);
    float d = dy * dir;
    float xa = x, xb = xNext;
    if (xa > xb) std::swap(xa, xb);
    int xai = FloorPos(xa);
    float xaFloor = float(xai);
    int xbi = CeilPos(xb);
    float xbCeil = float(xbi);
    if (xbi <= xai + 1) {
      // Within one cell: the area right of the mid-point.
      float xm = 0.5f * (x + xNext) - xaFloor;
      row[xai] += d - d * xm;
      row[xai + 1] += d * xm;
    } else {
      float s = 1.0f / (xb - xa);
      float xaf = xa - xaFloor;
      float a0 = 0.5f * s * (1 - xaf) * (1 - xaf);
      float xbf = xb - xbCeil + 1;
      float am = 0.5f * s * xbf * xbf;
      row[xai] += d * a0;
      if (xbi == xai + 2) {
        row[xai + 1] += d * (1 - a0 - am);
      } else {
        float a1 = s * (1.5f - xaf);
        row[xai + 1] += d * (a1 - a0);
        float ds = d * s;
        for (int xi = xai + 2; xi < xbi - 1; ++xi) row[xi] += ds;
        float a2 = a1 + float(xbi - xai - 3) * s;
        row[xbi - 1] += d * (1 - a2 - am);
      }
      row[xbi] += d * am;
    }
    x = xNext;
  }
}

// Turns a row of accumulated cells into coverage bytes (the running sum's
// magnitude, at most 1) and clears the cells for the next use.
void RowCoverage(float* cells, int n, uint8_t* out) {
  int c = 0;
  float sum = 0;
#if defined(__SSE2__)
  // Four cells at a time: a prefix sum within the group plus the carry.
  const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 one = _mm_set1_ps(1.0f), full = _mm_set1_ps(255.0f);
  __m128 carry = _mm_setzero_ps();
  for (; c + 4 <= n; c += 4) {
    __m128 x = _mm_loadu_ps(cells + c);
    _mm_storeu_ps(cells + c, _mm_setzero_ps());
    x = _mm_add_ps(x, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(x), 4)));
    x = _mm_add_ps(x, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(x), 8)));
    x = _mm_add_ps(x, carry);
    carry = _mm_shuffle_ps(x, x, _MM_SHUFFLE(3, 3, 3, 3));
    __m128i v = _mm_cvtps_epi32(_mm_mul_ps(_mm_min_ps(_mm_and_ps(x, absMask), one), full));
    v = _mm_packs_epi32(v, v);
    v = _mm_packus_epi16(v, v);
    int32_t four = _mm_cvtsi128_si32(v);
    std::memcpy(out + c, &four, 4);
  }
  sum = _mm_cvtss_f32(carry);
#endif
  for (; c < n; ++c) {
    sum += cells[c];
    cells[c] = 0;
    out[c] = uint8_t(std::lrint(std::min(std::fabs(sum), 1.0f) * 255.0f));
  }
}

// Paints coverage over what is there: a + b - ab, rounded.
void Combine(const uint8_t* cov, uint8_t* dst, int n) {
  int c = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(128);
  for (; c + 8 <= n; c += 8) {
    __m128i t = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst + c)), zero);
    __m128i v = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cov + c)), zero);
    __m128i m = _mm_add_epi16(_mm_mullo_epi16(t, v), half);  // at most 65153: no overflow
    __m128i tv = _mm_srli_epi16(_mm_add_epi16(m, _mm_srli_epi16(m, 8)), 8);
    __m128i r = _mm_sub_epi16(_mm_add_epi16(t, v), tv);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + c), _mm_packus_epi16(r, r));
  }
#endif
  for (; c < n; ++c) {
    unsigned t = dst[c], v = cov[c];
    unsigned m = t * v + 128;
    dst[c] = uint8_t(t + v - ((m + (m >> 8)) >> 8));
  }
}

}  // namespace

void TRasterHelper::BeginPaint(int width, int height) {
  if (width <= 0 || height <= 0) AssertFailed(kModule, "TRasterHelper.BeginPaint: W or H = 0");
  if (painting_) AssertFailed(kModule, "Previous TRasterHelper.BeginPaint not Closed");
  CheckPictureSize(width, height);
  width_ = width;
  height_ = height;
  plane_.assign(size_t(width) * size_t(height), 0);
  painted_.assign(size_t(height), {0, 0});
  edges_.clear();
  open_ = started_ = false;
  painting_ = true;
}

void TRasterHelper::EndPaint() {
  CheckPainting();
  edges_.clear();
  open_ = started_ = false;
  painting_ = false;
}

void TRasterHelper::CheckPainting() const {
  if (!painting_) AssertFailed(kModule, "No Previous Call of TRasterHelper.BeginPaint");
}

void TRasterHelper::CheckOpen() const {
  CheckPainting();
  if (!open_) AssertFailed(kModule, "TOutline.AddPoint Error: No Start Point or Closed Outline");
}

void TRasterHelper::CloseContour() {
  if (open_) AddLine(curX_, curY_, startX_, startY_);
  open_ = false;
}

void TRasterHelper::MoveTo(double x, double y) {
  CheckPainting();
  CloseContour();
  startX_ = curX_ = x;
  startY_ = curY_ = y;
  open_ = started_ = true;
}

void TRasterHelper::LineTo(double x, double y) {
  CheckOpen();
  AddLine(curX_, curY_, x, y);
  curX_ = x;
  curY_ = y;
}

bool TRasterHelper::OutsideClip(const double* xs, const double* ys, int n) const {
  double x0 = xs[0], x1 = xs[0], y0 = ys[0], y1 = ys[0];
  for (int k = 1; k < n; ++k) {
    x0 = std::min(x0, xs[k]);
    x1 = std::max(x1, xs[k]);
    y0 = std::min(y0, ys[k]);
    y1 = std::max(y1, ys[k]);
  }
  // A curve wholly left of the plane crosses each row as its chord does, one
  // wholly above, below or right of it shows nowhere: the chord will do.
  return x1 <= 0 || x0 >= width_ || y1 <= 0 || y0 >= height_ || !std::isfinite(x1 - x0) ||
         !std::isfinite(y1 - y0);
}

void TRasterHelper::QuadTo(double cx, double cy, double x, double y) {
  CheckOpen();
  double xs[3] = {curX_, cx, x}, ys[3] = {curY_, cy, y};
  int n = 1;
  if (!OutsideClip(xs, ys, 3) && edges_.size() < kMaxEdges) {
    // A chord over a parameter step h is off by at most h^2 |p0 - 2c + p2| / 4.
    double ddx = curX_ - 2 * cx + x, ddy = curY_ - 2 * cy + y;
    double dd = std::sqrt(ddx * ddx + ddy * ddy);
    n = int(std::min<double>(kMaxCurveSegments, std::ceil(std::sqrt(dd / (4 * kFlatness)))));
    n = std::max(n, 1);
  }
  // Forward differences: B(t + h) - B(t) grows by a constant second difference.
  double h = 1.0 / n;
  double ax = curX_ - 2 * cx + x, ay = curY_ - 2 * cy + y;
  double dx = 2 * (cx - curX_) * h + ax * h * h, dy = 2 * (cy - curY_) * h + ay * h * h;
  double ddx = 2 * ax * h * h, ddy = 2 * ay * h * h;
  double px = curX_, py = curY_;
  for (int i = 1; i < n; ++i) {
    double qx = px + dx, qy = py + dy;
    AddLine(px, py, qx, qy);
    px = qx;
    py = qy;
    dx += ddx;
    dy += ddy;
  }
  AddLine(px, py, x, y);
  curX_ = x;
  curY_ = y;
}

void TRasterHelper::CubicTo(double c1x, double c1y, double c2x, double c2y, double x, double y) {
  CheckOpen();
  double xs[4] = {curX_, c1x, c2x, x}, ys[4] = {curY_, c1y, c2y, y};
  int n = 1;
  if (!OutsideClip(xs, ys, 4) && edges_.size() < kMaxEdges) {
    // The second derivative is at most 6 m, so a chord is off by 3 m h^2 / 4.
    double ax = curX_ - 2 * c1x + c2x, ay = curY_ - 2 * c1y + c2y;
    double bx = c1x - 2 * c2x + x, by = c1y - 2 * c2y + y;
    double m = std::sqrt(std::max(ax * ax + ay * ay, bx * bx + by * by));
    n = int(std::min<double>(kMaxCurveSegments, std::ceil(std::sqrt(3 * m / (4 * kFlatness)))));
    n = std::max(n, 1);
  }
  double px = curX_, py = curY_;
  for (int i = 1; i <= n; ++i) {
    double t = double(i) / n, u = 1 - t;
    double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    double qx = i == n ? x : a * curX_ + b * c1x + c * c2x + d * x;
    double qy = i == n ? y : a * curY_ + b * c1y + c * c2y + d * y;
    AddLine(px, py, qx, qy);
    px = qx;
    py = qy;
  }
  curX_ = x;
  curY_ = y;
}

void TRasterHelper::ClosePath() {
  CheckPainting();
  CloseContour();
}

size_t TRasterHelper::AddPath(const TGlyphPoint* pts, size_t count, double scale, double dx,
                              double dy) {
  CheckPainting();
  auto X = [&](size_t k) { return pts[k].x * scale + dx; };
  auto Y = [&](size_t k) { return pts[k].y * scale + dy; };
  // The end point of a quadratic curve: any point that does not start or
  // close a contour.
  auto endPoint = [&](size_t k) {
    if (k >= count) return false;
    int32_t c = pts[k].command;
    if (c != pcMoveTo && c != pcLineTo && c != pcQuadTo && c != pcCubicTo && c != pcClose)
      AssertFailed(kModule, "Unknown Path Command");
    return c != pcMoveTo && c != pcClose;
  };
  size_t i = 0;
  while (i < count) {
    switch (pts[i].command) {
      case pcMoveTo:
        MoveTo(X(i), Y(i));
        i += 1;
        break;
      case pcLineTo:
        if (!open_) return i;
        LineTo(X(i), Y(i));
        i += 1;
        break;
      case pcQuadTo:
        if (!open_ || !endPoint(i + 1)) return i;
        QuadTo(X(i), Y(i), X(i + 1), Y(i + 1));
        i += 2;
        break;
      case pcCubicTo:
        if (!open_ || i + 2 >= count || pts[i + 1].command != pcCubicTo ||
            pts[i + 2].command != pcCubicTo)
          return i;
        CubicTo(X(i), Y(i), X(i + 1), Y(i + 1), X(i + 2), Y(i + 2));
        i += 3;
        break;
      case pcClose:
        // A repeated close is harmless; one before any contour is not a path.
        if (!started_) return i;
        CloseContour();
        i += 1;
        break;
      default:
        AssertFailed(kModule, "Unknown Path Command");
    }
  }
  return i;
}

void TRasterHelper::AddLine(double x0, double y0, double x1, double y1) {
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
  if (y0 == y1) return;
  double h = height_;
  if (std::min(x0, x1) >= 0 && std::max(x0, x1) <= width_ && std::min(y0, y1) >= 0 &&
      std::max(y0, y1) <= h) {
    edges_.push_back({float(x0), float(y0), float(x1), float(y1)});
    return;
  }
  if ((y0 <= 0 && y1 <= 0) || (y0 >= h && y1 >= h)) return;
  double cy0 = std::clamp(y0, 0.0, h), cy1 = std::clamp(y1, 0.0, h);
  double k = (x1 - x0) / (y1 - y0);
  double cx0 = cy0 == y0 ? x0 : x0 + k * (cy0 - y0);
  double cx1 = cy1 == y1 ? x1 : x0 + k * (cy1 - y0);
  ClipX(cx0, cy0, cx1, cy1);
}

void TRasterHelper::ClipX(double x0, double y0, double x1, double y1) {
  double w = width_;
  // Right of the plane: only the crossing counts, as a line along the right
  // edge (which keeps the filled span reaching that far).
  if (x0 >= w && x1 >= w) {
    edges_.push_back({float(w), float(y0), float(w), float(y1)});
    return;
  }
  // Left of it: only the crossing counts, as a line along the left edge.
  if (x0 <= 0 && x1 <= 0) {
    edges_.push_back({0, float(y0), 0, float(y1)});
    return;
  }
  if ((x0 < 0) != (x1 < 0) || (x0 > w) != (x1 > w)) {
    double at = (x0 < 0) != (x1 < 0) ? 0 : w;
    double ym =
        std::clamp(y0 + (y1 - y0) * (at - x0) / (x1 - x0), std::min(y0, y1), std::max(y0, y1));
    ClipX(x0, y0, at, ym);
    ClipX(at, ym, x1, y1);
    return;
  }
  edges_.push_back({float(x0), float(y0), float(x1), float(y1)});
}

void TRasterHelper::FillPath() {
  CheckPainting();
  CloseContour();
  started_ = false;
  if (edges_.empty()) return;
  float minX = edges_[0].x0, maxX = minX, minY = edges_[0].y0, maxY = minY;
  for (const TEdge& e : edges_) {
    minX = std::min({minX, e.x0, e.x1});
    maxX = std::max({maxX, e.x0, e.x1});
    minY = std::min({minY, e.y0, e.y1});
    maxY = std::max({maxY, e.y0, e.y1});
  }
  int bx0 = std::max(0, int(std::floor(minX)));
  int bxEnd = std::min(width_, int(std::ceil(maxX)));
  int by0 = std::max(0, int(std::floor(minY)));
  int by1 = std::min(height_, int(std::ceil(maxY)));
  size_t stride = size_t(int(std::ceil(maxX)) - bx0) + 2;
  float xmax = float(stride - 2);
  int bandRows = int(std::clamp<size_t>(kBandCells / stride, 1, size_t(std::max(1, by1 - by0))));
  if (accum_.size() < stride * size_t(bandRows)) accum_.assign(stride * size_t(bandRows), 0.0f);
  int visible = bxEnd - bx0;
  for (int top = by0; top < by1; top += bandRows) {
    int rows = std::min(bandRows, by1 - top);
    for (const TEdge& e : edges_) {
      AccumulateLine(accum_.data(), stride, rows, xmax, std::clamp(e.x0 - bx0, 0.0f, xmax),
                     e.y0 - float(top), std::clamp(e.x1 - bx0, 0.0f, xmax), e.y1 - float(top));
    }
    if (row_.size() < stride) row_.resize(stride);
    for (int r = 0; r < rows; ++r) {
      float* cells = accum_.data() + size_t(r) * stride;
      uint8_t* dst = plane_.data() + size_t(top + r) * size_t(width_) + size_t(bx0);
      // The cells past the plane are read too, to clear them.
      RowCoverage(cells, int(stride), row_.data());
      if (visible <= 0) continue;
      // Outside what earlier fills painted on this row the plane is still
      // clear: copy there, combine only where they meet.
      auto& [lo, hi] = painted_[size_t(top + r)];
      int from = std::max(lo, bx0) - bx0, to = std::min(hi, bxEnd) - bx0;
      if (from >= to) {
        std::memcpy(dst, row_.data(), size_t(visible));
      } else {
        std::memcpy(dst, row_.data(), size_t(from));
        Combine(row_.data() + from, dst + from, to - from);
        std::memcpy(dst + to, row_.data() + to, size_t(visible - to));
      }
      if (lo >= hi) {
        lo = bx0;
        hi = bxEnd;
      } else {
        lo = std::min(lo, bx0);
        hi = std::max(hi, bxEnd);
      }
    }
  }
  edges_.clear();
}

void TRasterHelper::FillRect(double left, double top, double right, double bottom) {
  CheckPainting();
  CloseContour();
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  // An outline still being built is filled first, as a path of its own.
  FillPath();
  MoveTo(left, top);
  LineTo(right, top);
  LineTo(right, bottom);
  LineTo(left, bottom);
  FillPath();
}

}  // namespace lum
