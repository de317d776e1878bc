#include "render/root_item.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "model/lum_slide.h"
#include "render/slide_drawer.h"

namespace lum {

namespace {

std::mutex& FactoryLock() {
  static std::mutex lock;
  return lock;
}
TTransitionFactory& Factory() {
  static TTransitionFactory factory;
  return factory;
}

std::atomic<bool> directSources{true};

// The pair of a frame: pictures are drawn on demand, once, and given back
// to the pool with the frame.
class TFramePair : public TTransitionSlides {
 public:
  TFramePair(T3DDrawer& drawer, TDrawContainer& previous, TDrawContainer& current)
      : drawer_(drawer), slides_{&previous, &current} {}
  ~TFramePair() override {
    for (auto& p : pictures_)
      if (p) drawer_.FullTargets().Release(p);
  }
  TDrawContainer& Container(int which) override { return *slides_[which ? 1 : 0]; }
  void DrawPlain(int which) override {
    // The slides' effect-buffer pictures show the pair, but never the slide
    // they are on while it is drawn.
    const int i = which ? 1 : 0;
    if (drawing_[i]) return;
    drawing_[i] = true;
    TSlideDrawer d(drawer_);
    d.SetEffectBuffers(this);
    d.DrawSlide(*Container(i).slide);
    drawing_[i] = false;
  }
  TRenderTargetTexture* Picture(int which) override {
    const int i = which ? 1 : 0;
    if (pictures_[i]) return pictures_[i].Get();
    if (drawing_[i]) return nullptr;
    T3DScreen& s = drawer_.Screen();
    TRef<TRenderTargetTexture> t = drawer_.FullTargets().Acquire();
    if (!t) return nullptr;
    const TRect f = drawer_.FrameRect(), clip = s.Clip();
    if (!s.PushRenderTarget(t.Get())) {
      drawer_.FullTargets().Release(t);
      return nullptr;
    }
    s.SetViewport(f);
    // A slide covers its area with its background, and filters sample
    // nothing outside it: only a letterboxed frame needs the clear.
    const TRect a = Area();
    if (a.left > f.left || a.top > f.top || a.right < f.right || a.bottom < f.bottom) s.Clear(0);
    DrawPlain(i);
    s.PopRenderTarget();
    s.SetViewport(f);
    s.SetClip(clip);
    pictures_[i] = std::move(t);
    return pictures_[i].Get();
  }
  TRect Area() const override { return AreaOf(drawer_); }
  TSlideSource Direct(int which) override {
    const int i = which ? 1 : 0;
    if (!probed_[i]) {
      probed_[i] = true;
      TLumSlide* slide = Container(i).slide.Get();
      if (slide && directSources) direct_[i] = SolePicture(drawer_, *slide, Area());
    }
    return direct_[i];
  }
  static TRect AreaOf(T3DDrawer& d) {
    return d.ViewportRect().Empty() ? d.FrameRect() : d.ViewportRect();
  }

 private:
  T3DDrawer& drawer_;
  TDrawContainer* slides_[2];
  TRef<TRenderTargetTexture> pictures_[2];
  TSlideSource direct_[2];
  bool probed_[2] = {false, false};
  bool drawing_[2] = {false, false};
};

}  // namespace

TSlideSource TTransitionSlides::Source(int which) {
  if (TSlideSource s = Direct(which)) return s;
  return Picture(which);
}

void SetTransitionFactory(TTransitionFactory factory) {
  std::lock_guard g(FactoryLock());
  Factory() = std::move(factory);
}

void SetDirectSlideSources(bool on) {
  directSources = on;
}

bool HasTransitionFactory() {
  std::lock_guard g(FactoryLock());
  return static_cast<bool>(Factory());
}

double TransitionProgress(const TDrawContainer& slide, double time) {
  const double d = slide.record.transitionIn;
  if (d <= 0) return 1;
  return std::clamp((time - slide.record.start) / d, 0.0, 1.0);
}

bool TRootItem::TakeSlides(const std::vector<TRef<TDrawContainer>>& set, double time,
                           TDrawerItem* overlay) {
  TRef<TDrawContainer> current, previous;
  for (size_t i = set.size(); i-- > 0;) {
    if (!set[i] || !set[i]->slide || set[i]->record.start > time) continue;
    current = set[i];
    if (i > 0 && set[i - 1] && set[i - 1]->slide && current->record.transitionIn > 0 &&
        time <= set[i - 1]->record.endWithNext)
      previous = set[i - 1];
    break;
  }
  if (!current) return false;
  bool changed = current != current_ || previous != previous_ || overlay != overlay_;
  if (previous && previous->slide->SetTimeAndLayout(true, time)) changed = true;
  if (current->slide->SetTimeAndLayout(true, std::min(time, current->record.endWithNext)))
    changed = true;
  const double progress = previous ? TransitionProgress(*current, time) : 0;
  changed = changed || progress != progress_;
  if (current != current_ || previous != previous_ || !previous) {
    effect_ = nullptr;
    effectMade_ = false;
  }
  elapsed_ = previous ? time - current->record.start : 0;
  current_ = std::move(current);
  previous_ = std::move(previous);
  overlay_ = overlay;
  progress_ = progress;
  changed_ = changed_ || changed;
  return true;
}

void TRootItem::TakeNoSlides(TDrawerItem* overlay) {
  current_ = previous_ = nullptr;
  effect_ = nullptr;
  effectMade_ = false;
  overlay_ = overlay;
  progress_ = elapsed_ = 0;
  changed_ = true;
}

void TRootItem::DrawOn(T3DDrawer& drawer) {
  drawer.SetBackgroundColor(background_);
  drawer.Clear(background_ | 0xFF000000);
  const bool layer = unsharp_ > 0 && drawer.BeginPostLayer();
  DrawSlides(drawer);
  if (layer) drawer.EndPostLayer(FrameUnsharpAmount(unsharp_));
  if (overlay_)
    drawer.DrawItem(*overlay_);
  else
    drawer.DrawBorders();
}

void TRootItem::ItemDrawn() {
  changed_ = false;
}

void TRootItem::DrawSlides(T3DDrawer& drawer) {
  if (!current_) return;
  TSlideDrawer slides(drawer);
  if (!previous_ || progress_ >= 1) {
    slides.DrawSlide(*current_->slide);
    return;
  }
  TTransitionFactory factory = factory_;
  if (!factory) {
    std::lock_guard g(FactoryLock());
    factory = Factory();
  }
  if (!factory) {
    CrossFade(drawer);
    return;
  }
  if (!effectMade_) {
    effectMade_ = true;
    effect_ = factory(*previous_, *current_, TFramePair::AreaOf(drawer));
  }
  // A transition without an effect shows the incoming slide at once.
  if (!effect_) {
    slides.DrawSlide(*current_->slide);
    return;
  }
  effect_->SetTime(elapsed_);
  TFramePair pair(drawer, *previous_, *current_);
  const TRect clip = drawer.Screen().Clip();
  effect_->Draw(drawer, pair);
  drawer.Screen().SetClip(clip);
}

void TRootItem::CrossFade(T3DDrawer& drawer) {
  TSlideDrawer slides(drawer);
  slides.DrawSlide(*previous_->slide);
  if (progress_ <= 0) return;
  T3DScreen& s = drawer.Screen();
  TRef<TRenderTargetTexture> t = drawer.FullTargets().Acquire();
  const TRect f = drawer.FrameRect(), clip = s.Clip();
  if (!t || !s.PushRenderTarget(t.Get())) {
    slides.DrawSlide(*current_->slide);
    return;
  }
  s.SetViewport(f);
  s.Clear(0);
  slides.DrawSlide(*current_->slide);
  s.PopRenderTarget();
  s.SetViewport(f);
  s.SetClip(clip);
  drawer.DrawPixels(*t, f, {0, 0, double(f.Width()), double(f.Height())}, progress_);
  drawer.FullTargets().Release(t);
}

}  // namespace lum
