// Effects that move the slide in depth: page curl, flip and swap.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "effects/filters.h"
#include "foundation/errors.h"
#include "render/root_item.h"

namespace lum {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr const char* kModule = "kvDrawFilter2";

struct TPoint2 {
  double x, y;
};

// The part of a convex polygon where a·p ≥ lo and a·p ≤ hi along (ax, ay).
std::vector<TPoint2> Slab(const std::vector<TPoint2>& poly, double ax, double ay, double lo,
                          double hi) {
  auto clip = [&](const std::vector<TPoint2>& in, double sign, double limit) {
    std::vector<TPoint2> out;
    const size_t n = in.size();
    for (size_t i = 0; i < n; ++i) {
      const TPoint2& a = in[i];
      const TPoint2& b = in[(i + 1) % n];
      const double da = sign * (a.x * ax + a.y * ay - limit);
      const double db = sign * (b.x * ax + b.y * ay - limit);
      if (da >= 0) out.push_back(a);
      if ((da >= 0) != (db >= 0)) {
        const double t = da / (da - db);
        out.push_back({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t});
      }
    }
    return out;
  };
  std::vector<TPoint2> r = clip(poly, 1, lo);
  if (r.size() < 3) return {};
  r = clip(r, -1, hi);
  if (r.size() < 3) return {};
  return r;
}

}  // namespace

// ---- page curl ----

TRollEffect2::TRollEffect2(int rollKind, int direction, bool fullTube, double radius,
                           bool useBackColor, bool useVolume, uint32_t color, double volume)
    : rollKind_(rollKind),
      direction_(direction),
      fullTube_(fullTube),
      radius_(std::isfinite(radius) ? std::max(radius, 2.0) : 2.0),
      useBack_(useBackColor),
      useVolume_(useVolume),
      color_(color),
      volume_(std::isfinite(volume) ? std::clamp(volume, 0.0, 10.0) : 0.125) {
  if (direction_ < 1 || direction_ > 8) AssertFailed(kModule, "Roll direction out of range");
  if (rollKind_ != 14 && rollKind_ != 15) AssertFailed(kModule, "Roll kind out of range");
  reverse_ = direction_ > 4;
  static constexpr int kEdge[9] = {0, 1, 4, 2, 3, 2, 3, 1, 4};
  static constexpr int kCorner[9] = {0, 5, 7, 8, 6, 8, 6, 5, 7};
  roller_ = rollKind_ == 14 ? kEdge[direction_] : kCorner[direction_];
  static constexpr double kS = std::numbers::sqrt2 / 2;
  static constexpr double kDir[9][2] = {{0, 0},   {1, 0},    {-1, 0},   {0, -1},   {0, 1},
                                        {kS, kS}, {kS, -kS}, {-kS, kS}, {-kS, -kS}};
  dx_ = kDir[roller_][0];
  dy_ = kDir[roller_][1];
}

double TRollEffect2::Fold() const {
  // Along the roll direction the slide spans 0..extent from its first edge
  // or corner; the tube starts and ends just outside it.
  const double extent = std::abs(dx_) * slide_.Width() + std::abs(dy_) * slide_.Height();
  const double margin = radius_ + 2;
  const double p = Progress();
  const double q = reverse_ ? 1 - p : p;
  return -margin + q * (extent + margin);
}

void TRollEffect2::Draw(TFilterTarget& t) {
  const TFilterRect& s = slide_;
  const double r = radius_;
  const double limit = fullTube_ ? 1.5 * kPi : kPi;
  // The origin of the roll coordinate: the slide's corner least along it.
  const double ox = dx_ >= 0 ? s.left : s.right, oy = dy_ >= 0 ? s.top : s.bottom;
  const double originS = ox * dx_ + oy * dy_;
  const double fold = originS + Fold();
  // Shading: the page is lit from the front, so it darkens as it turns
  // away, down to a base level that the volume setting deepens.
  const double base = useVolume_ ? std::clamp(1 - 3 * volume_, 0.15, 1.0) : 0.55;
  // With volume the tube also stands out of the slide towards the viewer.
  const double depthScale = useVolume_ ? std::clamp(volume_ * 2, 0.0, 2.0) : 0.0;
  const std::vector<TPoint2> page = {
      {s.left, s.top}, {s.right, s.top}, {s.right, s.bottom}, {s.left, s.bottom}};
  const int steps = std::max(8, int(std::ceil(limit / (kPi / 24))));
  gridX_ = std::abs(dx_) > 0.5 ? steps + 2 : 1;
  gridY_ = std::abs(dy_) > 0.5 ? steps + 2 : 1;
  auto vertex = [&](const TPoint2& p, double alpha) {
    const double u = p.x * dx_ + p.y * dy_ - fold;
    TFilterVertex v = At(p.x, p.y, alpha);
    if (u <= 0) return v;
    const double a = std::min(u / r, limit);
    const double along = r * std::sin(a) - u;
    TFilterVertex m = At(p.x + along * dx_, p.y + along * dy_, alpha);
    m.u = v.u;
    m.v = v.v;
    m.z = -r * (1 - std::cos(a)) * depthScale * (Output().Height() / std::max(1.0, s.Height()));
    m.shade = 1 - (1 - base) * std::abs(std::sin(a));
    return m;
  };
  // A slab between two roll coordinates, drawn as a fan.
  auto slab = [&](double lo, double hi, bool back) {
    const std::vector<TPoint2> poly = Slab(page, dx_, dy_, lo, hi);
    if (poly.size() < 3) return;
    std::vector<TFilterVertex> vs;
    for (const TPoint2& p : poly) vs.push_back(vertex(p, 255));
    for (size_t i = 1; i + 1 < vs.size(); ++i) {
      if (back && useBack_)
        t.ColorTriangle(vs[0], vs[i], vs[i + 1], color_);
      else
        t.Triangle(vs[0], vs[i], vs[i + 1]);
    }
  };
  const double big = std::abs(s.Width()) + std::abs(s.Height()) + 1;
  // Back to front: the flat page, the rising front of the tube, the part
  // that turns down behind it, then the top of the tube facing the viewer.
  slab(originS - big, fold, false);
  const double step = limit / steps;
  std::vector<std::pair<double, double>> rising, under, top;
  for (int i = 0; i < steps; ++i) {
    const double a0 = i * step, a1 = (i + 1) * step;
    const double mid = (a0 + a1) / 2;
    auto& list = mid < kPi / 2 ? rising : (mid > kPi ? under : top);
    list.push_back({fold + a0 * r, fold + a1 * r});
  }
  for (auto& [lo, hi] : rising) slab(lo, hi, false);
  // Past a quarter turn the page shows its back.
  for (auto& [lo, hi] : under) slab(lo, hi, true);
  for (auto& [lo, hi] : top) slab(lo, hi, true);
  // What lies beyond the tube's limit is wound inside it and not drawn.
}

void TRollEffect2::DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) {
  TDrawFilter::DrawPair(drawer, slides);
}

// ---- flip ----

TOverturnEffect::TOverturnEffect(int axis, bool ease, double depth)
    : axis_(axis), ease_(ease), depth_(std::isfinite(depth) ? std::clamp(depth, 0.0, 10.0) : 0.5) {
  if (axis_ < 1 || axis_ > 8) AssertFailed(kModule, "Flip axis out of range");
}

double TOverturnEffect::Angle() const {
  double p = Progress();
  if (ease_) p = p < 0.5 ? 2 * p * p : 1 - 2 * (1 - p) * (1 - p);
  return kPi * p;
}

int TOverturnEffect::Shown() const {
  const int shown = Angle() < kPi / 2 ? 0 : 1;
  return reverse_ ? 1 - shown : shown;
}

void TOverturnEffect::Draw(TFilterTarget& t) {
  const TFilterRect& s = slide_;
  const double a = Angle();
  // The incoming slide is seen from its front: its angle runs up to 0.
  const double phi = a < kPi / 2 ? a : a - kPi;
  const int axis = (axis_ - 1) % 4 + 1;
  const bool spin = axis_ > 4;
  const bool vertical = axis <= 2;
  const double sign = axis == 1 || axis == 3 ? 1 : -1;
  const double d = (vertical ? s.Width() : s.Height()) / 2;
  const double c = std::cos(phi), sn = std::sin(phi);
  double z0 = sign * sn * d * depth_, z1 = -z0;
  if (!spin) {
    const double nearest = std::min(z0, z1);
    z0 -= nearest;
    z1 -= nearest;
  }
  const double cx = (s.left + s.right) / 2, cy = (s.top + s.bottom) / 2;
  auto v = [&](double x, double y, double u, double w, double z) {
    TFilterVertex r = At(u, w);
    TFilterVertex pos = At(x, y);
    r.x = pos.x;
    r.y = pos.y;
    r.z = z * (Output().Height() / std::max(1.0, s.Height()));
    return r;
  };
  if (vertical) {
    const double x0 = cx - c * d, x1 = cx + c * d;
    t.Quad(v(x0, s.top, s.left, s.top, z0), v(x1, s.top, s.right, s.top, z1),
           v(x1, s.bottom, s.right, s.bottom, z1), v(x0, s.bottom, s.left, s.bottom, z0));
  } else {
    const double y0 = cy - c * d, y1 = cy + c * d;
    t.Quad(v(s.left, y0, s.left, s.top, z0), v(s.right, y0, s.right, s.top, z0),
           v(s.right, y1, s.right, s.bottom, z1), v(s.left, y1, s.left, s.bottom, z1));
  }
}

void TOverturnEffect::DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) {
  DrawThrough(drawer, slides, Shown());
}

// ---- swap ----

TTwoSlidesEffect::TTwoSlidesEffect(int direction, double angle, double depth, double distance)
    : direction_(direction),
      angle_(std::isfinite(angle) ? angle : kPi / 3),
      depth_(std::isfinite(depth) ? std::clamp(depth, 0.0, 100.0) : 4),
      distance_(std::isfinite(distance) ? std::clamp(distance, 0.0, 10.0) : 1) {
  if (direction_ < 1 || direction_ > 4) AssertFailed(kModule, "Swap direction out of range");
}

int TTwoSlidesEffect::Front() const {
  return Progress() < 0.5 ? 0 : 1;
}

void TTwoSlidesEffect::DrawAt(TFilterTarget& t, double x, double side) {
  const TFilterRect& s = slide_;
  const bool horizontal = direction_ <= 2;
  const double sign = (direction_ == 1 || direction_ == 3 ? 1 : -1) * side;
  const double size = horizontal ? s.Width() : s.Height();
  const double shift = std::sin(kPi * x) * distance_ * size * sign;
  const double depth = x * size * depth_;
  const double turn = std::sin(kPi * x) * angle_ * sign;
  const double cx = (s.left + s.right) / 2, cy = (s.top + s.bottom) / 2;
  const double hw = s.Width() / 2, hh = s.Height() / 2;
  const double k = Output().Height() / std::max(1.0, s.Height());
  auto v = [&](double ox, double oy, double u, double w) {
    double x3 = ox, y3 = oy, z3 = 0;
    if (horizontal) {
      x3 = ox * std::cos(turn);
      z3 = ox * std::sin(turn);
      x3 += shift;
    } else {
      y3 = oy * std::cos(turn);
      z3 = oy * std::sin(turn);
      y3 += shift;
    }
    TFilterVertex r = At(u, w);
    TFilterVertex pos = At(cx + x3, cy + y3);
    r.x = pos.x;
    r.y = pos.y;
    r.z = (z3 + depth) * k;
    return r;
  };
  t.Quad(v(-hw, -hh, s.left, s.top), v(hw, -hh, s.right, s.top), v(hw, hh, s.right, s.bottom),
         v(-hw, hh, s.left, s.bottom));
}

void TTwoSlidesEffect::Draw(TFilterTarget& t) {
  DrawAt(t, 1 - Progress(), -1);
}

void TTwoSlidesEffect::DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) {
  const double p = Progress();
  // The slide in front is drawn last.
  const int order[2] = {Front() == 0 ? 1 : 0, Front()};
  const TSlideSource sources[2] = {slides.Source(0), slides.Source(1)};
  for (int which : order) {
    const TSlideSource& picture = sources[which];
    if (!picture) continue;
    drawer.Screen().SetClip(slides.Area());
    TFilterTarget t(&drawer, picture);
    if (which == 0)
      DrawAt(t, p, 1);
    else
      DrawAt(t, 1 - p, -1);
  }
}

}  // namespace lum
