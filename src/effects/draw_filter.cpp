#include "effects/draw_filter.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>

#include "effects/filters.h"
#include "foundation/log.h"
#include "render/root_item.h"

namespace lum {

namespace {

uint32_t Byte(double v) {
  return uint32_t(std::clamp(std::lround(v), 0L, 255L));
}

std::mutex& HookLock() {
  static std::mutex lock;
  return lock;
}
TCustomFilterHook& Hook() {
  static TCustomFilterHook hook;
  return hook;
}

}  // namespace

// ---- target ----

TFilterTarget::TFilterTarget(T3DDrawer* drawer, const TSlideSource& source)
    : drawer_(drawer), source_(source) {
  // Filters place their 3-D geometry in front of the frame's centre.
  if (drawer_) {
    const TRect f = drawer_->FrameRect();
    drawer_->SetCamera(f.Width() / 2.0, f.Height() / 2.0, -std::max(1, f.Height()));
  }
}

TFilterTarget::~TFilterTarget() {
  End();
}

void TFilterTarget::Begin() {
  if (open_) return;
  FlushColor();
  open_ = true;
  if (!drawer_ || !source_) return;
  // Opaque texels read the same premultiplied, and so the batch takes the
  // vertices' shade too (it does for premultiplied textures only).
  straight_ = !source_.texture->premultiplied && source_.opaque;
  if (straight_) source_.texture->premultiplied = true;
  drawer_->Screen().Batch().Begin({source_.texture});
}

void TFilterTarget::Close() {
  if (open_ && drawer_ && source_) drawer_->Screen().Batch().Flush();
  if (straight_) source_.texture->premultiplied = false;
  straight_ = open_ = false;
}

TVertex TFilterTarget::Convert(const TFilterVertex& v, uint32_t rgb, bool textured) const {
  const double a = std::clamp(v.alpha, 0.0, 255.0) / 255;
  const double shade = std::clamp(v.shade, 0.0, 1.0);
  TColor c;
  if (textured && source_ && source_.texture->premultiplied) {
    const uint32_t k = Byte(a * shade * 255);
    c = (Byte(a * 255) << 24) | (k << 16) | (k << 8) | k;
  } else if (textured) {
    const uint32_t k = Byte(shade * 255);
    c = (Byte(a * 255) << 24) | (k << 16) | (k << 8) | k;
  } else {
    c = (Byte(a * 255) << 24) | (Byte(((rgb >> 16) & 0xFF) * shade) << 16) |
        (Byte(((rgb >> 8) & 0xFF) * shade) << 8) | Byte((rgb & 0xFF) * shade);
  }
  float u = 0, w = 0;
  if (textured && source_) {
    u = float(source_.U(v.u) * source_.texture->ScaleX());
    w = float(source_.V(v.v) * source_.texture->ScaleY());
  }
  return drawer_->WorldVertex({v.x, v.y, v.z}, c, u, w);
}

void TFilterTarget::Triangle(const TFilterVertex& a, const TFilterVertex& b,
                             const TFilterVertex& c) {
  if (a.alpha <= 0 && b.alpha <= 0 && c.alpha <= 0) return;
  // Slivers cut off at a corner have no area.
  if (std::abs((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y)) < 1e-9) return;
  if (!open_) Begin();
  ++triangles_;
  if (recording_) recorded_.insert(recorded_.end(), {a, b, c});
  if (!drawer_ || !source_) return;
  drawer_->Screen().Batch().AddTriangle(Convert(a, 0, true), Convert(b, 0, true),
                                        Convert(c, 0, true));
}

void TFilterTarget::ColorTriangle(const TFilterVertex& a, const TFilterVertex& b,
                                  const TFilterVertex& c, uint32_t rgb) {
  if (a.alpha <= 0 && b.alpha <= 0 && c.alpha <= 0) return;
  ++triangles_;
  if (recording_) recorded_.insert(recorded_.end(), {a, b, c});
  if (!drawer_) return;
  Close();
  colored_.push_back(Convert(a, rgb, false));
  colored_.push_back(Convert(b, rgb, false));
  colored_.push_back(Convert(c, rgb, false));
}

void TFilterTarget::FlushColor() {
  if (colored_.empty() || !drawer_) return;
  TVertexBuffer& batch = drawer_->Screen().Batch();
  batch.Begin({});
  for (size_t i = 0; i + 2 < colored_.size(); i += 3)
    batch.AddTriangle(colored_[i], colored_[i + 1], colored_[i + 2]);
  batch.Flush();
  colored_.clear();
}

void TFilterTarget::End() {
  Close();
  FlushColor();
}

// ---- filter base ----

void TDrawFilter::Initialize(const TFilterRect& slide, double edge, double duration) {
  slide_ = slide;
  if (output_.Width() <= 0 || output_.Height() <= 0) output_ = slide;
  edge_ = std::isfinite(edge) ? std::max(0.0, edge) : 0;
  duration_ = std::isfinite(duration) ? std::max(0.0, duration) : 0;
  inverse_ = duration_ > 0 ? 1 / duration_ : 0;
  elapsed_ = 0;
}

void TDrawFilter::SetTime(double elapsed) {
  if (!std::isfinite(elapsed)) elapsed = 0;
  elapsed_ = std::clamp(elapsed, 0.0, duration_);
}

TFilterVertex TDrawFilter::Map(TFilterVertex v) const {
  const double sw = slide_.Width(), sh = slide_.Height();
  if (sw <= 0 || sh <= 0) return v;
  const double kx = output_.Width() / sw, ky = output_.Height() / sh;
  const double scx = (slide_.left + slide_.right) / 2, scy = (slide_.top + slide_.bottom) / 2;
  const double ocx = (output_.left + output_.right) / 2, ocy = (output_.top + output_.bottom) / 2;
  v.x = ocx + (v.x - scx) * kx;
  v.y = ocy + (v.y - scy) * ky;
  v.z *= ky;
  v.u = ocx + (v.u - scx) * kx;
  v.v = ocy + (v.v - scy) * ky;
  return v;
}

TFilterVertex TDrawFilter::At(double x, double y, double alpha) const {
  TFilterVertex v;
  v.x = v.u = x;
  v.y = v.v = y;
  v.alpha = alpha;
  return Map(v);
}

void TDrawFilter::DrawThrough(T3DDrawer& drawer, TTransitionSlides& slides, int which) {
  const TSlideSource picture = slides.Source(which);
  if (!picture) {
    // Without a target the slide at least appears once the transition ends.
    if (Progress() >= 0.5) slides.DrawPlain(which);
    return;
  }
  const TRect a = slides.Area();
  drawer.Screen().SetClip(a);
  TFilterTarget target(&drawer, picture);
  Draw(target);
}

void TDrawFilter::DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) {
  const int plain = reverse_ ? 1 : 0;
  slides.DrawPlain(plain);
  DrawThrough(drawer, slides, 1 - plain);
}

// ---- warnings and the custom hook ----

void FilterWarning(const std::string& text) {
  Log().Line("Transition: " + text);
}

void SetCustomFilterHook(TCustomFilterHook hook) {
  std::lock_guard g(HookLock());
  Hook() = std::move(hook);
}

// ---- factory ----

namespace {

bool Flag(const TLumEffect& e, size_t i) {
  return i < e.flags.size() && e.flags[i];
}

int Int(const TLumEffect& e, size_t i, int def) {
  return i < e.ints.size() ? e.ints[i] : def;
}

// A float parameter, finite and within limits (else the default, logged).
double Float(const TLumEffect& e, size_t i, double def, double lo, double hi, const char* what) {
  if (i >= e.floats.size()) return def;
  double v = e.floats[i];
  if (!std::isfinite(v)) {
    FilterWarning(std::string(what) + " is not a number; " + std::to_string(def) + " is used");
    return def;
  }
  if (v < lo || v > hi) {
    const double c = std::clamp(v, lo, hi);
    FilterWarning(std::string(what) + " " + std::to_string(v) + " clamped to " + std::to_string(c));
    return c;
  }
  return v;
}

// A centre percent far outside the slide is brought back to ±1000 %.
double Centre(const TLumEffect& e, size_t i, const char* what) {
  const int v = Int(e, i, 50);
  if (v < -1000 || v > 1100) {
    const int c = std::clamp(v, -1000, 1100);
    FilterWarning(std::string(what) + " " + std::to_string(v) + " clamped to " + std::to_string(c));
    return c / 100.0;
  }
  return v / 100.0;
}

int FirstFlag(const TLumEffect& e, int from, int to) {
  for (int i = from; i <= to; ++i)
    if (Flag(e, size_t(i))) return i;
  return -1;
}

// Direction of push, slide, swap and flip from flags 0..3.
int DirectionOf(const TLumEffect& e) {
  static constexpr int kMap[4] = {2, 4, 1, 3};
  const int f = FirstFlag(e, 0, 3);
  return f < 0 ? 0 : kMap[f];
}

std::unique_ptr<TDrawFilter> Diagonal(int group, int k) {
  if (group == 8) return std::make_unique<TDiagLines>(1, k > 2, k == 1 || k == 3);
  return std::make_unique<TDiagLines>(k == 1 || k == 3 ? 0 : 2, k > 2, false);
}

std::unique_ptr<TDrawFilter> Build(const TLumEffect& e, const TFilterRect& slide,
                                   const TCustomFilterContext* context) {
  const double w = slide.Width(), h = slide.Height();
  switch (e.type) {
    case kEffectHourHand: {
      if (Flag(e, 6)) return std::make_unique<TClockEffect>(Flag(e, 1));
      static constexpr int kKinds[][2] = {{2, 8}, {3, 1}, {4, 5}, {5, 4},
                                          {7, 2}, {8, 7}, {9, 3}, {10, 6}};
      for (const auto& k : kKinds) {
        if (!Flag(e, size_t(k[0]))) continue;
        const double offset = Float(e, 0, 0, 0, 100, "hourhand offset");
        return std::make_unique<TBroomEffect>(k[1] + (Flag(e, 1) ? 8 : 0), (w + h) / 2 * offset);
      }
      return nullptr;
    }
    case kEffectShapes: {
      const double cx = Centre(e, 0, "shapes centerx"), cy = Centre(e, 1, "shapes centery");
      const bool reverse = Flag(e, 0);
      if (Flag(e, 2)) return std::make_unique<TCircleFilter>(cx, cy, reverse);
      if (Flag(e, 3)) return std::make_unique<TRhombFilter>(cx, cy, reverse);
      if (Flag(e, 4)) return std::make_unique<TSquareFilter>(cx, cy, reverse);
      return nullptr;
    }
    case kEffectGates:
      switch (FirstFlag(e, 0, 7)) {
        case 0:
          return std::make_unique<THLines>(0.5, 0.5, true);
        case 1:
          return std::make_unique<TVLines>(0.5, 0.5, true);
        case 2:
          return Diagonal(8, 1);
        case 3:
          return Diagonal(8, 3);
        case 4:
          return std::make_unique<THLines>(0.5, 0.5, false);
        case 5:
          return std::make_unique<TVLines>(0.5, 0.5, false);
        case 6:
          return Diagonal(8, 2);
        case 7:
          return Diagonal(8, 4);
        default:
          return nullptr;
      }
    case kEffectPage:
      switch (FirstFlag(e, 0, 7)) {
        case 0:
          return Diagonal(10, 2);
        case 1:
          return std::make_unique<TVLines>(0, 1, false);
        case 2:
          return Diagonal(10, 3);
        case 3:
          return std::make_unique<THLines>(1, 0, false);
        case 4:
          return std::make_unique<THLines>(0, 0, false);
        case 5:
          return Diagonal(10, 4);
        case 6:
          return std::make_unique<TVLines>(0, 0, false);
        case 7:
          return Diagonal(10, 1);
        default:
          return nullptr;
      }
    case kEffectMosaic: {
      int cols = Int(e, 0, 1), rows = Int(e, 1, 1);
      const int appearance = Int(e, 2, 0);
      const uint32_t seed = uint32_t(Int(e, 3, 0));
      if (cols < 1 || rows < 1 || cols > TRandomFilter::kMaxCells ||
          rows > TRandomFilter::kMaxCells) {
        const int c = std::clamp(cols, 1, TRandomFilter::kMaxCells);
        const int r = std::clamp(rows, 1, TRandomFilter::kMaxCells);
        FilterWarning("mosaic " + std::to_string(cols) + "x" + std::to_string(rows) +
                      " cells clamped to " + std::to_string(c) + "x" + std::to_string(r));
        cols = c;
        rows = r;
      }
      const int spread = appearance < 100 ? std::max(0, appearance) : 1000;
      if (appearance < 0) FilterWarning("mosaic appearence below 0 taken as 0");
      return std::make_unique<TRandomFilter>(cols, rows, spread, seed);
    }
    case kEffectPush:
    case kEffectSlide: {
      const int d = DirectionOf(e);
      if (d == 0) return nullptr;
      if (e.type == kEffectPush) return std::make_unique<TPushFilter>(d);
      return std::make_unique<TSlideFilter>(d);
    }
    case kEffectCurling: {
      const bool corner = Flag(e, 2) || Flag(e, 4) || Flag(e, 7) || Flag(e, 9);
      int direction = 1;
      if (Flag(e, 2))
        direction = 3;
      else if (Flag(e, 3) || Flag(e, 4))
        direction = 4;
      else if (Flag(e, 5))
        direction = 3;
      else if (Flag(e, 6))
        direction = 1;
      else if (Flag(e, 7) || Flag(e, 8))
        direction = 2;
      if (Flag(e, 1)) direction += 4;
      const double radius = Float(e, 0, 0, 0, 10, "curling radius");
      const double volume = Float(e, 1, 0.125, 0, 10, "curling 3dvolume");
      return std::make_unique<TRollEffect2>(corner ? 15 : 14, direction, Int(e, 0, 1) == 1,
                                            std::trunc(w * radius), Flag(e, 10), Flag(e, 11),
                                            uint32_t(Int(e, 1, 0)), volume);
    }
    case kEffectFlip: {
      const int f = FirstFlag(e, 0, 3);
      if (f < 0) return nullptr;
      static constexpr int kAxis[4] = {2, 4, 1, 3};
      const double depth = Float(e, 0, 0.5, 0, 10, "flip 3dvolume");
      return std::make_unique<TOverturnEffect>(kAxis[f] + (Flag(e, 4) ? 4 : 0), Flag(e, 5), depth);
    }
    case kEffectSwap: {
      const int d = DirectionOf(e);
      if (d == 0) return nullptr;
      const double depth = Float(e, 0, 4, 0, 100, "swap depth");
      const double distance = Float(e, 1, 1, 0, 10, "swap distance");
      const double angle = Float(e, 2, 60, -3600, 3600, "swap angle");
      return std::make_unique<TTwoSlidesEffect>(d, angle * std::numbers::pi / 180, depth, distance);
    }
    case kEffectCustom: {
      TCustomFilterHook hook;
      {
        std::lock_guard g(HookLock());
        hook = Hook();
      }
      std::unique_ptr<TDrawFilter> f;
      if (hook && context) {
        try {
          f = hook(e, *context);
        } catch (const std::exception& ex) {
          FilterWarning(std::string("custom transition failed: ") + ex.what());
        }
      }
      if (!f) {
        if (e.section) FilterWarning("custom transition \"" + e.text + "\" cross-fades");
        f = std::make_unique<TAlphaFilter>();
      }
      return f;
    }
    default:
      return std::make_unique<TAlphaFilter>();
  }
}

}  // namespace

std::unique_ptr<TDrawFilter> CreateDrawFilter(const TLumEffect* effect, const TFilterRect& slide,
                                              double edgeFactor, double duration,
                                              const TCustomFilterContext* context) {
  if (!effect) return nullptr;
  if (std::none_of(effect->flags.begin(), effect->flags.end(), [](bool b) { return b; }))
    return nullptr;
  if (!std::isfinite(edgeFactor) || edgeFactor < 0 || edgeFactor > 1) {
    FilterWarning("smoothline " + std::to_string(edgeFactor) + " clamped");
    edgeFactor = std::isfinite(edgeFactor) ? std::clamp(edgeFactor, 0.0, 1.0) : 0.001;
  }
  if (!std::isfinite(duration) || duration < 0) {
    FilterWarning("duration " + std::to_string(duration) + " taken as 0");
    duration = 0;
  }
  std::unique_ptr<TDrawFilter> f = Build(*effect, slide, context);
  if (f) f->Initialize(slide, slide.Width() * edgeFactor, duration);
  return f;
}

// ---- the root item's transitions ----

namespace {

class TFilterTransition : public TTransitionEffect {
 public:
  explicit TFilterTransition(std::unique_ptr<TDrawFilter> f) : filter_(std::move(f)) {}
  void SetTime(double elapsed) override { filter_->SetTime(elapsed); }
  void Draw(T3DDrawer& drawer, TTransitionSlides& slides) override {
    const TRect a = slides.Area();
    filter_->SetOutput({double(a.left), double(a.top), double(a.right), double(a.bottom)});
    filter_->DrawPair(drawer, slides);
  }

 private:
  std::unique_ptr<TDrawFilter> filter_;
};

}  // namespace

void InstallTransitionEffects() {
  SetTransitionFactory([](TDrawContainer& previous, TDrawContainer& current,
                          const TRect& area) -> TRef<TTransitionEffect> {
    const TTransitionChoice& c = current.transition;
    if (!c.effect) return nullptr;
    const TFilterRect slide{double(area.left), double(area.top), double(area.right),
                            double(area.bottom)};
    const TCustomFilterContext context{&previous, &current, area};
    std::unique_ptr<TDrawFilter> f = CreateDrawFilter(&*c.effect, slide, c.effect->smoothness,
                                                      current.record.transitionIn, &context);
    if (!f) return nullptr;
    return MakeRef<TFilterTransition>(std::move(f));
  });
}

}  // namespace lum
