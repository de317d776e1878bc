// The clock hand and the eight brooms: a line through a pivot sweeping over
// the slide, with a soft angular edge.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "effects/filters.h"

namespace lum {

namespace {

constexpr double kPi = std::numbers::pi;

double Wrap(double a) {
  while (a > kPi) a -= 2 * kPi;
  while (a <= -kPi) a += 2 * kPi;
  return a;
}

}  // namespace

const std::array<uint8_t, 256>& BroomTable() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 128; ++i) {
      t[size_t(i)] = uint8_t(i * i / 128);
      t[size_t(255 - i)] = uint8_t(255 - i * i / 128);
    }
    return t;
  }();
  return table;
}

double TSweepFilter::Front() const {
  const double p = Progress(), span = end_ - start_ + band_;
  if (reverse_) return end_ + band_ / 2 - p * span;
  return start_ - band_ / 2 + p * span;
}

double TSweepFilter::AlphaAt(double angle) const {
  const double rel = Front() - angle;
  if (rel >= band_ / 2) return 255;
  if (rel <= -band_ / 2) return 0;
  const int i = std::clamp(int((rel + band_ / 2) / band_ * 255), 0, 255);
  return BroomTable()[size_t(i)];
}

void TSweepFilter::Draw(TFilterTarget& t) {
  if (!prepared_) {
    Prepare();
    prepared_ = true;
  }
  const TFilterRect& s = slide_;
  auto point = [&](double angle, double radius, double alpha) {
    double x = pivotX_ + radius * std::cos(angle), y = pivotY_ + radius * std::sin(angle);
    if (mirrored_) x = s.left + s.right - x;
    return At(x, y, alpha);
  };
  const double step = 2 * kPi / kSteps;
  const int n = int(std::ceil((end_ - start_) / step - 1e-9));
  int i = 0;
  while (i < n) {
    const double a0 = start_ + i * step;
    const double al0 = AlphaAt(a0);
    // Steps wholly swept or wholly not yet swept merge into runs of ten.
    int run = 1;
    const double al1 = AlphaAt(std::min(end_, a0 + step));
    if ((al0 >= 255 && al1 >= 255) || (al0 <= 0 && al1 <= 0)) {
      while (run < 10 && i + run < n) {
        const double b = AlphaAt(std::min(end_, start_ + (i + run + 1) * step));
        if (b != al0) break;
        ++run;
      }
    }
    const double b0 = a0, b1 = std::min(end_, start_ + (i + run) * step);
    const double alpha0 = al0, alpha1 = run == 1 ? al1 : al0;
    i += run;
    if (alpha0 <= 0 && alpha1 <= 0) continue;
    TFilterVertex pivot = point(0, 0, (alpha0 + alpha1) / 2);
    t.Triangle(pivot, point(b0, far_, alpha0), point(b1, far_, alpha1));
  }
}

// ---- clock hand ----

void TClockEffect::Prepare() {
  const TFilterRect& s = slide_;
  pivotX_ = (s.left + s.right) / 2;
  pivotY_ = (s.top + s.bottom) / 2;
  start_ = -kPi / 2;
  end_ = start_ + 2 * kPi;
  // The soft edge is about E wide halfway out to the slide's edge.
  const double e = std::max(edge_, 0.001);
  band_ = std::clamp(e / (0.25 * (s.Width() + s.Height())), 0.001, kPi / 2);
  far_ = std::hypot(s.Width(), s.Height()) / 2 + 2;
}

// ---- brooms ----

TBroomEffect::TBroomEffect(int kind, double pivotDistance)
    : kind_(kind), distance_(std::isfinite(pivotDistance) ? std::max(0.0, pivotDistance) : 0) {
  reverse_ = kind_ > 8;
}

void TBroomEffect::Prepare() {
  const TFilterRect& s = slide_;
  const double cx = (s.left + s.right) / 2, cy = (s.top + s.bottom) / 2;
  const double d = distance_, k = d / std::numbers::sqrt2;
  switch ((kind_ - 1) % 8 + 1) {
    case 1:
      pivotX_ = cx, pivotY_ = s.top - d;
      break;
    case 2:
      pivotX_ = s.right + d, pivotY_ = cy;
      break;
    case 3:
      pivotX_ = cx, pivotY_ = s.bottom + d;
      break;
    case 4:
      pivotX_ = s.left - d, pivotY_ = cy;
      break;
    case 5:
      pivotX_ = s.right + k, pivotY_ = s.top - k;
      break;
    case 6:
      pivotX_ = s.right + k, pivotY_ = s.bottom + k;
      break;
    case 7:
      pivotX_ = s.left - k, pivotY_ = s.bottom + k;
      break;
    default:
      pivotX_ = s.left - k, pivotY_ = s.top - k;
      break;
  }
  // The sweep just covers the slide: from the corner seen furthest to one
  // side of the centre to the corner furthest to the other.
  const double toCentre = std::atan2(cy - pivotY_, cx - pivotX_);
  double lo = 0, hi = 0, far = 0;
  const double corners[4][2] = {
      {s.left, s.top}, {s.right, s.top}, {s.right, s.bottom}, {s.left, s.bottom}};
  for (const auto& c : corners) {
    const double dx = c[0] - pivotX_, dy = c[1] - pivotY_;
    const double r = std::hypot(dx, dy);
    far = std::max(far, r);
    if (r < 1e-6) continue;
    const double rel = Wrap(std::atan2(dy, dx) - toCentre);
    lo = std::min(lo, rel);
    hi = std::max(hi, rel);
  }
  start_ = toCentre + lo;
  end_ = toCentre + hi;
  far_ = far + 2;
  const double dist = std::max(1e-6, std::hypot(cx - pivotX_, cy - pivotY_));
  // Soft edge: 2 arccot(2 dist / E).
  band_ = std::clamp(2 * std::atan(std::max(edge_, 0.001) / (2 * dist)), 1e-4, kPi);
}

}  // namespace lum
