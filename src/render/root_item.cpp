#include "render/root_item.h"

#include <algorithm>

#include "model/lum_slide.h"
#include "render/slide_drawer.h"

namespace lum {

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
  current_ = std::move(current);
  previous_ = std::move(previous);
  overlay_ = overlay;
  progress_ = progress;
  changed_ = changed_ || changed;
  return true;
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
  slides.DrawSlide(*previous_->slide);
  if (progress_ <= 0) return;
  // Until the transition effects exist every pair cross-fades.
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
