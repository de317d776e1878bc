// Cross-fade, the soft-edged shape wipes, mosaic, push and slide.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>

#include "effects/filters.h"
#include "render/root_item.h"

namespace lum {

namespace {

constexpr int kRings = 14;
constexpr double kSqrt2 = std::numbers::sqrt2;

// The slide's corners.
std::array<std::array<double, 2>, 4> Corners(const TFilterRect& r) {
  return {{{r.left, r.top}, {r.right, r.top}, {r.right, r.bottom}, {r.left, r.bottom}}};
}

}  // namespace

// ---- cross-fade ----

void TAlphaFilter::Draw(TFilterTarget& t) {
  const double a = std::clamp(255 * Progress(), 0.0, 255.0);
  const TFilterRect& s = slide_;
  t.Quad(At(s.left, s.top, a), At(s.right, s.top, a), At(s.right, s.bottom, a),
         At(s.left, s.bottom, a));
}

// ---- shape wipes ----

double EdgeCurve(double x) {
  if (x < 127.5) return x * x / 128;
  return 255 - (255 - x) * (255 - x) / 128;
}

void TCommonFilter::Initialize(const TFilterRect& slide, double edge, double duration) {
  TDrawFilter::Initialize(slide, edge, duration);
  px_ = slide.left + slide.Width() * cx_;
  py_ = slide.top + slide.Height() * cy_;
  reach_ = ComputeReach();
}

double TCommonFilter::Size() const {
  const double p = Progress();
  return reverse_ ? reach_ - p * reach_ : p * reach_;
}

void TCommonFilter::Draw(TFilterTarget& t) {
  const double s = Size(), e = edge_;
  const double core = s - e;
  if (core > 0) DrawBand(t, 0, 255, 255, core, 0);
  if (e <= 1e-9) return;
  // Rings narrower than two pixels join the next one; the last is always drawn.
  double from = core, fromAlpha = 255;
  for (int i = 1; i <= kRings; ++i) {
    const double x1 = 255.0 * i / kRings;
    const double to = core + e * x1 / 255, toAlpha = 255 - EdgeCurve(x1);
    if (to - from < 2 - 1e-9 && i < kRings) continue;
    double in = from, inAlpha = fromAlpha;
    from = to;
    fromAlpha = toAlpha;
    if (to <= 0 || in >= reach_) continue;
    if (in < 0) {
      inAlpha += (toAlpha - inAlpha) * (0 - in) / (to - in);
      in = 0;
    }
    DrawBand(t, i, toAlpha, inAlpha, to, in);
  }
}

// Circle.

double TCircleFilter::ComputeReach() {
  const TFilterRect& r = slide_;
  const double gx = std::max({r.left - px_, 0.0, px_ - r.right});
  const double gy = std::max({r.top - py_, 0.0, py_ - r.bottom});
  gap_ = std::hypot(gx, gy);
  segments_ = gap_ > 0 ? 256 : 128;
  double far = 0;
  for (const auto& c : Corners(r)) far = std::max(far, std::hypot(c[0] - px_, c[1] - py_));
  return far - gap_ + edge_;
}

void TCircleFilter::DrawBand(TFilterTarget& t, int, double oa, double ia, double os, double is) {
  // The polygon surrounds its circle, so the farthest corner is covered.
  const double k = 1 / std::cos(std::numbers::pi / segments_);
  const double ro = (os + gap_) * k, ri = is > 0 || gap_ > 0 ? (is + gap_) * k : 0;
  const double step = 2 * std::numbers::pi / segments_;
  for (int i = 0; i < segments_; ++i) {
    const double a0 = i * step, a1 = (i + 1) * step;
    const double c0 = std::cos(a0), s0 = std::sin(a0), c1 = std::cos(a1), s1 = std::sin(a1);
    const TFilterVertex o0 = At(px_ + ro * c0, py_ + ro * s0, oa);
    const TFilterVertex o1 = At(px_ + ro * c1, py_ + ro * s1, oa);
    if (ri <= 0) {
      t.Triangle(At(px_, py_, ia), o0, o1);
      continue;
    }
    t.Quad(At(px_ + ri * c0, py_ + ri * s0, ia), o0, o1, At(px_ + ri * c1, py_ + ri * s1, ia));
  }
}

// Rhomb and square: rings of four trapezoids about the centre.

namespace {

void Trapezoids(TFilterTarget& t, const TDrawFilter& f, double px, double py,
                const std::array<std::array<double, 2>, 4>& unit, double oa, double ia, double os,
                double is, const std::function<TFilterVertex(double, double, double)>& at) {
  (void)f;
  for (int k = 0; k < 4; ++k) {
    const auto& a = unit[size_t(k)];
    const auto& b = unit[size_t((k + 1) % 4)];
    const TFilterVertex i0 = at(px + a[0] * is, py + a[1] * is, ia);
    const TFilterVertex o0 = at(px + a[0] * os, py + a[1] * os, oa);
    const TFilterVertex o1 = at(px + b[0] * os, py + b[1] * os, oa);
    const TFilterVertex i1 = at(px + b[0] * is, py + b[1] * is, ia);
    if (is <= 0)
      t.Triangle(i0, o0, o1);
    else
      t.Quad(i0, o0, o1, i1);
  }
}

}  // namespace

double TRhombFilter::ComputeReach() {
  double far = 0;
  for (const auto& c : Corners(slide_))
    far = std::max(far, std::abs(c[0] - px_) + std::abs(c[1] - py_));
  return far + edge_;
}

void TRhombFilter::DrawBand(TFilterTarget& t, int, double oa, double ia, double os, double is) {
  Trapezoids(t, *this, px_, py_, {{{0, -1}, {1, 0}, {0, 1}, {-1, 0}}}, oa, ia, os, is,
             [&](double x, double y, double a) { return At(x, y, a); });
}

double TSquareFilter::ComputeReach() {
  aspect_ = slide_.Height() > 0 ? slide_.Width() / slide_.Height() : 1;
  double far = 0;
  for (const auto& c : Corners(slide_))
    far = std::max(far, std::max(std::abs(c[0] - px_), std::abs(c[1] - py_) * aspect_));
  return far + edge_;
}

void TSquareFilter::DrawBand(TFilterTarget& t, int, double oa, double ia, double os, double is) {
  const double h = 1 / aspect_;
  Trapezoids(t, *this, px_, py_, {{{-1, -h}, {1, -h}, {1, h}, {-1, h}}}, oa, ia, os, is,
             [&](double x, double y, double a) { return At(x, y, a); });
}

// Lines.

double THLines::ComputeReach() {
  return std::max(px_ - slide_.left, slide_.right - px_) + edge_;
}

void THLines::DrawBand(TFilterTarget& t, int, double oa, double ia, double os, double is) {
  const double top = slide_.top, bottom = slide_.bottom;
  if (is <= 0) {
    t.Quad(At(px_ - os, top, oa), At(px_, top, ia), At(px_, bottom, ia), At(px_ - os, bottom, oa));
    t.Quad(At(px_, top, ia), At(px_ + os, top, oa), At(px_ + os, bottom, oa), At(px_, bottom, ia));
    return;
  }
  t.Quad(At(px_ - os, top, oa), At(px_ - is, top, ia), At(px_ - is, bottom, ia),
         At(px_ - os, bottom, oa));
  t.Quad(At(px_ + is, top, ia), At(px_ + os, top, oa), At(px_ + os, bottom, oa),
         At(px_ + is, bottom, ia));
}

double TVLines::ComputeReach() {
  return std::max(py_ - slide_.top, slide_.bottom - py_) + edge_;
}

void TVLines::DrawBand(TFilterTarget& t, int, double oa, double ia, double os, double is) {
  const double l = slide_.left, r = slide_.right;
  if (is <= 0) {
    t.Quad(At(l, py_ - os, oa), At(r, py_ - os, oa), At(r, py_, ia), At(l, py_, ia));
    t.Quad(At(l, py_, ia), At(r, py_, ia), At(r, py_ + os, oa), At(l, py_ + os, oa));
    return;
  }
  t.Quad(At(l, py_ - os, oa), At(r, py_ - os, oa), At(r, py_ - is, ia), At(l, py_ - is, ia));
  t.Quad(At(l, py_ + is, ia), At(r, py_ + is, ia), At(r, py_ + os, oa), At(l, py_ + os, oa));
}

// Diagonal bands.

void TDiagLines::Initialize(const TFilterRect& slide, double edge, double duration) {
  cx_ = 0.5;
  cy_ = 0.5;
  TCommonFilter::Initialize(slide, edge, duration);
}

double TDiagLines::DistanceOf(double x, double y) const {
  const TFilterRect& r = slide_;
  if (mirrored_) x = r.left + r.right - x;
  switch (mode_) {
    case 0:
      return ((x - r.left) + (y - r.top)) / kSqrt2;
    case 2:
      return ((r.right - x) + (r.bottom - y)) / kSqrt2;
    default:
      return std::abs((x - px_) + (y - py_)) / kSqrt2;
  }
}

double TDiagLines::ComputeReach() {
  double far = 0;
  for (const auto& c : Corners(slide_)) far = std::max(far, DistanceOf(c[0], c[1]));
  return far + edge_;
}

void TDiagLines::DrawBand(TFilterTarget& t, int, double oa, double ia, double os, double is) {
  const TFilterRect& r = slide_;
  // Origin and normal in the unmirrored slide; the band runs along the tangent.
  double ox = px_, oy = py_, nx = 1 / kSqrt2, ny = 1 / kSqrt2;
  if (mode_ == 0) ox = r.left, oy = r.top;
  if (mode_ == 2) ox = r.right, oy = r.bottom, nx = -nx, ny = -ny;
  const double tx = 1 / kSqrt2, ty = -1 / kSqrt2;
  const double len = r.Width() + r.Height() + os;
  auto at = [&](double d, double k, double a) {
    double x = ox + nx * d + tx * k, y = oy + ny * d + ty * k;
    if (mirrored_) x = r.left + r.right - x;
    return At(x, y, a);
  };
  auto band = [&](double d0, double a0, double d1, double a1) {
    t.Quad(at(d0, -len, a0), at(d1, -len, a1), at(d1, len, a1), at(d0, len, a0));
  };
  band(is, ia, os, oa);
  if (mode_ == 1) band(-is, ia, -os, oa);
}

// ---- mosaic ----

float TMosaicRandom::Next() {
  seed_ = seed_ * 1664525u + 1013904223u;
  const uint32_t bits = 0x3F800000u | (seed_ & 0x7FFFFFu);
  float f;
  std::memcpy(&f, &bits, 4);
  return f - 1.0f;
}

TRandomFilter::TRandomFilter(int columns, int rows, int spread, uint32_t seed)
    : columns_(std::clamp(columns, 1, kMaxCells)),
      rows_(std::clamp(rows, 1, kMaxCells)),
      spread_(std::max(0, spread)),
      seed_(seed) {}

void TRandomFilter::Initialize(const TFilterRect& slide, double edge, double duration) {
  TDrawFilter::Initialize(slide, edge, duration);
  TMosaicRandom random(seed_);
  const double range = std::trunc(spread_ * 100.0);
  thresholds_.resize(size_t(columns_) * size_t(rows_));
  for (auto& t : thresholds_) t = int32_t(std::trunc(double(random.Next()) * range));
}

int TRandomFilter::CellAlpha(size_t i) const {
  const double level = std::trunc(Progress() * (spread_ * 100.0 + 256) - 256);
  const double d = thresholds_[i] - level;
  if (d >= 255) return -1;
  return d < 0 ? 255 : int(255 - d);
}

void TRandomFilter::Draw(TFilterTarget& t) {
  const TFilterRect& s = slide_;
  const double cw = s.Width() / columns_, ch = s.Height() / rows_;
  for (int r = 0; r < rows_; ++r) {
    for (int c = 0; c < columns_; ++c) {
      const int a = CellAlpha(size_t(r) * size_t(columns_) + size_t(c));
      if (a <= 0) continue;
      const double x0 = s.left + c * cw, y0 = s.top + r * ch;
      const double x1 = c + 1 == columns_ ? s.right : x0 + cw;
      const double y1 = r + 1 == rows_ ? s.bottom : y0 + ch;
      t.Quad(At(x0, y0, a), At(x1, y0, a), At(x1, y1, a), At(x0, y1, a));
    }
  }
}

// ---- push and slide ----

void TSlideFilter::Offset(double& dx, double& dy) const {
  const double w = slide_.Width(), h = slide_.Height(), p = Progress();
  dx = dy = 0;
  switch (direction_) {
    case 1:
      dx = w * p - w;
      break;
    case 2:
      dx = w - w * p;
      break;
    case 3:
      dy = h * p - h;
      break;
    default:
      dy = h - h * p;
      break;
  }
}

void TSlideFilter::DrawShifted(TFilterTarget& t, double dx, double dy) {
  const TFilterRect& s = slide_;
  auto at = [&](double x, double y) {
    TFilterVertex v = At(x, y);
    TFilterVertex moved = At(x + dx, y + dy);
    v.x = moved.x;
    v.y = moved.y;
    return v;
  };
  t.Quad(at(s.left, s.top), at(s.right, s.top), at(s.right, s.bottom), at(s.left, s.bottom));
}

void TSlideFilter::Draw(TFilterTarget& t) {
  double dx, dy;
  Offset(dx, dy);
  DrawShifted(t, dx, dy);
}

void TPushFilter::PushOffset(double& dx, double& dy) const {
  const double w = slide_.Width(), h = slide_.Height(), p = Progress();
  dx = dy = 0;
  switch (direction_) {
    case 1:
      dx = w * p;
      break;
    case 2:
      dx = -w * p;
      break;
    case 3:
      dy = h * p;
      break;
    default:
      dy = -h * p;
      break;
  }
}

void TPushFilter::DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) {
  double dx, dy;
  PushOffset(dx, dy);
  // Both pictures first: drawing one ends any batch on the frame.
  const TSlideSource out = slides.Source(0);
  slides.Source(1);
  if (out) {
    drawer.Screen().SetClip(slides.Area());
    TFilterTarget t(&drawer, out);
    DrawShifted(t, dx, dy);
  }
  DrawThrough(drawer, slides, 1);
}

}  // namespace lum
