#include "model/shadow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "document/ini_values.h"

namespace lum {

namespace {

constexpr int kNumericFields = 13;
// Work-size limits: the mask is halved until it fits both.
constexpr double kMaxWorkPixels = 700000;
constexpr double kMaxWorkSide = 10000;
// Bounds on descriptions, in source pixels, so that absurd values give a
// bounded shadow instead of overflowing sizes.
constexpr double kMaxCoordinate = 1e7;
constexpr double kMaxMargin = 1e6;
// The blur in work pixels: beyond this the shadow is a flat blob anyway, and
// the border it adds would multiply the memory.
constexpr double kMaxBlurStep = 256;
constexpr int kMaxMipLevel = 30;
constexpr int kMaxSpread = 20;
constexpr int kSpreadTableSize = 4096;

std::string TwoDecimals(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

std::string Significant16(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.16g", v);
  return buf;
}

double FiniteOr(double v, double def) {
  return std::isfinite(v) ? v : def;
}

// The cubic B-spline: smooth, positive, support |x| < 2.
double BSpline(double x) {
  x = std::fabs(x);
  if (x < 1) return 2.0 / 3 - x * x + x * x * x / 2;
  if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
  return 0;
}

// Weights of one resampling direction: each output sample is a normalised
// B-spline average of the inputs, the kernel widened when shrinking.
struct TTaps {
  std::vector<int> first, count;
  std::vector<float> weights;  // count[i] weights per output, in order
  std::vector<size_t> offset;
};

TTaps MakeTaps(int from, int to) {
  TTaps t;
  const double ratio = double(from) / to;
  const double width = std::max(1.0, ratio);  // kernel unit in input samples
  t.first.resize(size_t(to));
  t.count.resize(size_t(to));
  t.offset.resize(size_t(to));
  for (int i = 0; i < to; ++i) {
    const double c = (i + 0.5) * ratio - 0.5;
    const int lo = std::max(0, int(std::ceil(c - 2 * width)));
    const int hi = std::min(from - 1, int(std::floor(c + 2 * width)));
    t.first[size_t(i)] = lo;
    t.offset[size_t(i)] = t.weights.size();
    double sum = 0;
    for (int j = lo; j <= hi; ++j) sum += BSpline((j - c) / width);
    for (int j = lo; j <= hi; ++j)
      t.weights.push_back(float(sum > 0 ? BSpline((j - c) / width) / sum : 0));
    t.count[size_t(i)] = std::max(0, hi - lo + 1);
  }
  return t;
}

// Resamples a w x h float plane to nw x nh, rows then columns.
std::vector<float> Resample(const std::vector<float>& src, int w, int h, int nw, int nh) {
  const TTaps tx = MakeTaps(w, nw), ty = MakeTaps(h, nh);
  std::vector<float> mid(size_t(nw) * size_t(h));
  for (int y = 0; y < h; ++y) {
    const float* row = &src[size_t(y) * size_t(w)];
    for (int x = 0; x < nw; ++x) {
      const float* wt = &tx.weights[tx.offset[size_t(x)]];
      const float* in = row + tx.first[size_t(x)];
      float acc = 0;
      for (int k = 0; k < tx.count[size_t(x)]; ++k) acc += wt[k] * in[k];
      mid[size_t(y) * size_t(nw) + size_t(x)] = acc;
    }
  }
  std::vector<float> out(size_t(nw) * size_t(nh), 0.0f);
  for (int y = 0; y < nh; ++y) {
    float* dst = &out[size_t(y) * size_t(nw)];
    const float* wt = &ty.weights[ty.offset[size_t(y)]];
    for (int k = 0; k < ty.count[size_t(y)]; ++k) {
      const float* in = &mid[size_t(ty.first[size_t(y)] + k) * size_t(nw)];
      for (int x = 0; x < nw; ++x) dst[x] += wt[k] * in[x];
    }
  }
  return out;
}

// The spread curve: index k > 0 widens the shadow (alpha^(2^(-k/4))), k < 0
// tightens it; 0 leaves it as blurred.
std::vector<uint8_t> SpreadTable(int spread) {
  std::vector<uint8_t> table(kSpreadTableSize);
  const double gamma = std::pow(2.0, -std::clamp(spread, -kMaxSpread, kMaxSpread) / 4.0);
  for (int i = 0; i < kSpreadTableSize; ++i)
    table[size_t(i)] =
        uint8_t(std::lround(255 * std::pow(i / double(kSpreadTableSize - 1), gamma)));
  return table;
}

// Alpha of a shape at fraction (u, v) of its rectangle.
double ShapeAlpha(const TShadowParams& p, double u, double v) {
  double t = 0;
  switch (p.fillMode) {
    case 1:
      t = u;
      break;
    case 2:
      t = v;
      break;
    case 3:
      t = (u + v) / 2;
      break;
    case 4:
      t = (1 - u + v) / 2;
      break;
    default:
      return p.alpha1;
  }
  return p.alpha1 + (p.alpha2 - p.alpha1) * t;
}

void DrawShape(const TShadowParams& p, std::vector<float>& mask, int stride, int x0, int y0, int rw,
               int rh) {
  const bool opaque = p.alpha1 == 255 && p.alpha2 == 255;
  for (int y = 0; y < rh; ++y)
    for (int x = 0; x < rw; ++x)
      mask[size_t(y0 + y) * size_t(stride) + size_t(x0 + x)] =
          opaque ? 255.0f : float(ShapeAlpha(p, (x + 0.5) / rw, (y + 0.5) / rh));
}

// Area average of the source's alpha over each mask pixel of the rectangle.
bool DrawSource(const TShadowParams& p, const TImage& image, const TShadowGeometry& g,
                std::vector<float>& mask, int stride, int x0, int y0, int rw, int rh,
                const std::function<bool()>& cancelled) {
  TRef<TBitmap> bmp =
      image.GetMipLevel(std::clamp(p.mipLevel, 0, kMaxMipLevel), TPixelFormat::Bgra32);
  if (!bmp || bmp->Format() != TPixelFormat::Bgra32) return false;
  // A picture the budget made coarser answers with a coarser level.
  const int level = std::clamp(bmp->Level(), 0, kMaxMipLevel);
  const double toSource = g.Factor() / double(int64_t(1) << level);  // source px per mask px
  const double ox = p.left / double(int64_t(1) << level), oy = p.top / double(int64_t(1) << level);
  const int step = std::max(1, int(std::lround(toSource)));
  for (int y = 0; y < rh; ++y) {
    const int sy = int(std::floor(oy + y * toSource));
    for (int x = 0; x < rw; ++x) {
      const int sx = int(std::floor(ox + x * toSource));
      int sum = 0, n = 0;
      for (int yy = std::max(sy, 0); yy < std::min(sy + step, bmp->Height()); ++yy) {
        const uint8_t* row = bmp->Row(yy);
        for (int xx = std::max(sx, 0); xx < std::min(sx + step, bmp->Width()); ++xx, ++n)
          sum += row[xx * 4 + 3];
      }
      mask[size_t(y0 + y) * size_t(stride) + size_t(x0 + x)] = n ? float(sum) / n : 0.0f;
    }
    if (cancelled && cancelled()) return false;
  }
  return true;
}

}  // namespace

std::string ShadowDescription(const TShadowParams& p) {
  std::string s(kShadowPrefix);
  for (float v : {p.left, p.top, p.right, p.bottom, p.marginX, p.marginY})
    s += TwoDecimals(v) + ":";
  s += std::to_string(p.backgroundAlpha) + ":" + Significant16(p.blurSize) + ":" +
       std::to_string(p.spread) + ":" + std::to_string(p.fillMode) + ":" +
       std::to_string(p.alpha1) + ":" + std::to_string(p.alpha2) + ":" +
       std::to_string(p.mipLevel) + ":" + p.source;
  return s;
}

TShadowParams ParseShadowDescription(std::string_view fields) {
  std::vector<std::string_view> f;
  while (f.size() < size_t(kNumericFields)) {
    const size_t colon = fields.find(':');
    if (colon == std::string_view::npos) break;
    f.push_back(fields.substr(0, colon));
    fields.remove_prefix(colon + 1);
  }
  const bool complete = f.size() == size_t(kNumericFields);
  while (f.size() < size_t(kNumericFields)) f.push_back({});
  auto num = [&](int i) { return float(FiniteOr(ValueToFloat(f[size_t(i)], 0), 0)); };
  auto byte = [&](int i, int def) {
    return uint8_t(std::clamp(ValueToInt(f[size_t(i)], def), 0, 255));
  };
  TShadowParams p;
  p.left = num(0), p.top = num(1), p.right = num(2), p.bottom = num(3);
  p.marginX = num(4), p.marginY = num(5);
  p.backgroundAlpha = std::clamp(ValueToInt(f[6], 255), 0, 255);
  p.blurSize = FiniteOr(ValueToFloat(f[7], 0), 0);
  p.spread = ValueToInt(f[8], 0);
  p.fillMode = byte(9, kSolidShadowFill);
  p.alpha1 = byte(10, 0);
  p.alpha2 = byte(11, 0);
  p.mipLevel = ValueToInt(f[12], 0);
  // Without all numeric fields the remainder is not a source name.
  if (complete) p.source = std::string(fields);
  return p;
}

TShadowGeometry ShadowGeometryOf(const TShadowParams& p) {
  TShadowGeometry g;
  const double rw = double(p.right) - p.left, rh = double(p.bottom) - p.top;
  if (!(rw >= 1) || !(rh >= 1) || !std::isfinite(rw) || !std::isfinite(rh)) return g;
  if (std::fabs(p.left) > kMaxCoordinate || std::fabs(p.top) > kMaxCoordinate ||
      std::fabs(p.right) > kMaxCoordinate || std::fabs(p.bottom) > kMaxCoordinate)
    return g;
  const double mx = std::clamp(FiniteOr(p.marginX, 0), 0.0, kMaxMargin);
  const double my = std::clamp(FiniteOr(p.marginY, 0), 0.0, kMaxMargin);
  double w = rw + 2 * mx, h = rh + 2 * my;
  while (w * h > kMaxWorkPixels) w /= 2, h /= 2, ++g.halvings;
  while (w > kMaxWorkSide || h > kMaxWorkSide) w /= 2, h /= 2, ++g.halvings;
  g.width = std::max(1, int(std::lround(w)));
  g.height = std::max(1, int(std::lround(h)));
  const double blur = std::max(0.0, FiniteOr(p.blurSize, 0));
  g.blurStep = std::min(blur / g.Factor() + 1, kMaxBlurStep);
  g.border = int(std::ceil(2.5 * g.blurStep));
  g.valid = true;
  return g;
}

TShadowParams ShapeShadowParams(double w, double h, double mx, double my, double& scale) {
  TShadowParams p;
  p.source = std::string(kShapeShadowSource);
  scale = 0;
  w = FiniteOr(w, 0), h = FiniteOr(h, 0);
  mx = std::max(0.0, FiniteOr(mx, 0)), my = std::max(0.0, FiniteOr(my, 0));
  const double area = (w + 2 * mx) * (h + 2 * my);
  if (!(w > 0) || !(h > 0) || !(area > 0) || !std::isfinite(area)) return p;
  scale = std::sqrt(kShapeShadowPixels / area);
  p.right = float(std::max(1.0, std::round(w * scale)));
  p.bottom = float(std::max(1.0, std::round(h * scale)));
  p.marginX = float(std::round(mx * scale));
  p.marginY = float(std::round(my * scale));
  return p;
}

TRef<TBitmap> GenerateShadow(const TShadowParams& p, const TImage* source,
                             const std::function<bool()>& cancelled) {
  const TShadowGeometry g = ShadowGeometryOf(p);
  const bool shape = p.source == kShapeShadowSource;
  if (!g.valid || (!shape && !source)) return nullptr;
  const double f = g.Factor();
  const int b = g.border, bw = g.width + 2 * b, bh = g.height + 2 * b;
  // The mask at the background alpha (the margins keep it), inside an empty
  // blur border; the source's alpha replaces it in the rectangle.
  std::vector<float> mask(size_t(bw) * size_t(bh), 0.0f);
  for (int y = b; y < b + g.height; ++y)
    std::fill_n(&mask[size_t(y) * size_t(bw) + size_t(b)], g.width, float(p.backgroundAlpha));
  const int x0 = b + int(std::lround(std::clamp(double(p.marginX), 0.0, kMaxMargin) / f));
  const int y0 = b + int(std::lround(std::clamp(double(p.marginY), 0.0, kMaxMargin) / f));
  const int rw = std::clamp(int(std::lround((double(p.right) - p.left) / f)), 1, bw - x0);
  const int rh = std::clamp(int(std::lround((double(p.bottom) - p.top) / f)), 1, bh - y0);
  if (shape)
    DrawShape(p, mask, bw, x0, y0, rw, rh);
  else if (!DrawSource(p, *source, g, mask, bw, x0, y0, rw, rh, cancelled))
    return nullptr;
  // Blur: down by 1/s and back up through the B-spline.
  const int dw = int(std::lround(bw / g.blurStep)) + 1, dh = int(std::lround(bh / g.blurStep)) + 1;
  std::vector<float> blurred = Resample(Resample(mask, bw, bh, dw, dh), dw, dh, bw, bh);
  const std::vector<uint8_t> spread = p.spread ? SpreadTable(p.spread) : std::vector<uint8_t>{};
  auto out = MakeRef<TBitmap>(bw, bh, TPixelFormat::Bgra32);
  for (int y = 0; y < bh; ++y) {
    uint8_t* row = out->Row(y);
    const float* in = &blurred[size_t(y) * size_t(bw)];
    for (int x = 0; x < bw; ++x) {
      const float a = std::clamp(in[x], 0.0f, 255.0f);
      row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = 255;
      row[4 * x + 3] = spread.empty()
                           ? uint8_t(std::lround(a))
                           : spread[size_t(std::lround(a * (kSpreadTableSize - 1) / 255))];
    }
    if (cancelled && cancelled()) return nullptr;
  }
  return out;
}

double PictureBlurScale(double width, double height, int mipLevel) {
  const double s = std::sqrt(std::max(0.0, width * height)) / 400;
  return FiniteOr(s / double(int64_t(1) << std::clamp(mipLevel, 0, kMaxMipLevel)), 0);
}

double ButtonBlurScale(double height, int mipLevel) {
  return FiniteOr(height * 1.1 / 400 / double(int64_t(1) << std::clamp(mipLevel, 0, kMaxMipLevel)),
                  0);
}

double TextBlurScale(double fontSize, int mipLevel) {
  return ButtonBlurScale(fontSize, mipLevel);
}

double BoxBlurScale(double width, double height) {
  return PictureBlurScale(width, height, 0);
}

TShadowOffset ShadowOffset(double axisScale, double distance, double blurScale, double angle) {
  // Not divided by 100: the default distance of 1.5 would move even a
  // full-screen picture's shadow by a twentieth of a pixel.
  const double length = axisScale * distance * blurScale;
  const double rad = angle * M_PI / 180;
  TShadowOffset o{std::cos(rad) * length, std::sin(rad) * length};
  if (!std::isfinite(o.x) || !std::isfinite(o.y)) return {};
  return o;
}

}  // namespace lum
