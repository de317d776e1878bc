#include "model/video_time.h"

#include <algorithm>
#include <cmath>

#include "foundation/case_fold.h"

namespace lum {

namespace {

double Rate(int32_t num, int32_t den) {
  return num > 0 && den > 0 ? double(num) / den : 0.0;
}

}  // namespace

double VideoTimeAt(const TVideoTiming& timing, double t, double slideStart, double slideOffset) {
  double a = timing.startLum;
  if (timing.isClip) a -= slideStart - timing.clipStart;
  if (t < std::max(a, slideOffset)) return timing.startVideo;
  // Zero or absurd speeds play at normal speed rather than freezing or
  // dividing by zero.
  const double f = std::isfinite(timing.fps) && timing.fps > 0 ? timing.fps : 1.0;
  const double d = std::max(0.0, timing.duration);
  return timing.startVideo + f * std::min(t - a, d / f);
}

int64_t FrameIndexAt(double ms, int32_t num, int32_t den, int64_t frameCount, bool loop) {
  const double rate = Rate(num, den);
  if (rate <= 0 || !std::isfinite(ms) || ms <= 0) return 0;
  const double x = std::round(ms * rate / 1000);
  int64_t n = x > 9e15 ? int64_t(9e15) : int64_t(x);
  if (frameCount > 0 && n >= frameCount) n = loop ? n % frameCount : frameCount - 1;
  return n;
}

double FrameIntervalStart(int64_t n, int32_t num, int32_t den) {
  const double rate = Rate(num, den);
  return rate > 0 ? (double(n) - 0.5) * 1000 / rate : 0.0;
}

TDeinterlace DeinterlaceFromName(std::string_view name) {
  static constexpr std::string_view kNames[] = {"Auto", "Wave", "BobEven", "BobOdd"};
  for (int i = 0; i < 4; ++i)
    if (FoldedEquals(name, kNames[i])) return TDeinterlace(i);
  return TDeinterlace::Auto;
}

int ChooseField(TDeinterlace type, bool interlaced, bool topFieldFirst, double ms, int32_t num,
                int32_t den) {
  const double rate = Rate(num, den);
  if (type == TDeinterlace::Wave || rate <= 0) return 0;
  if (type == TDeinterlace::Auto && !interlaced) return 0;
  const int64_t n = FrameIndexAt(ms, num, den);
  const double mid = FrameIntervalStart(n, num, den) + 500 / rate;
  const bool firstHalf = ms < mid;
  bool evenFirst = true;
  if (type == TDeinterlace::Auto) evenFirst = topFieldFirst;
  if (type == TDeinterlace::BobOdd) evenFirst = false;
  return firstHalf == evenFirst ? 1 : 2;
}

double ChromaKeyCoverage(double u, double v, double keyU, double keyV, double delta) {
  const double d = (std::abs(u - keyU) + std::abs(v - keyV)) / 2;
  if (!(delta > 0) || d >= delta) return 1.0;
  return d * d / (delta * delta);
}

void ChromaKeyUV(uint32_t rgb, float& u, float& v) {
  const double r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
  // BT.601 video range, as the planes hold it.
  u = float((-0.148 * r - 0.291 * g + 0.439 * b + 128) / 255);
  v = float((0.439 * r - 0.368 * g - 0.071 * b + 128) / 255);
}

}  // namespace lum
