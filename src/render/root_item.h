#pragma once
// The root of a frame: the slides of the moment (the previous one while a
// transition runs, the current one), the overlay, the whole-frame sharpening
// and the letterbox borders.
#include <functional>
#include <vector>

#include "model/slide_producer.h"
#include "render/3d_drawer.h"
#include "render/slide_drawer.h"

namespace lum {

// The two slides of a running transition as the effects see them: 0 is the
// outgoing slide, 1 the incoming one.
class TTransitionSlides {
 public:
  virtual ~TTransitionSlides() = default;
  virtual TDrawContainer& Container(int which) = 0;
  // Draws the slide as it is, into the current target.
  virtual void DrawPlain(int which) = 0;
  // The slide drawn into a full-size target (premultiplied, frame pixels at
  // its top left), made once per frame; null when no target could be had.
  virtual TRenderTargetTexture* Picture(int which) = 0;
  // The slides' rectangle in target pixels.
  virtual TRect Area() const = 0;
  // The slide's own opaque picture when that alone makes up the slide over
  // Area(): sampling it directly looks the same as sampling Picture() and
  // saves drawing the slide into a target. Empty otherwise.
  virtual TSlideSource Direct(int) { return {}; }
  // Direct, else Picture; empty when neither can be had. Draws nothing
  // when the slide is direct.
  TSlideSource Source(int which);
};

// One transition between two slides, made on its first frame and kept with it.
class TTransitionEffect : public TRefObject {
 public:
  // Elapsed ms since the transition began.
  virtual void SetTime(double elapsed) = 0;
  virtual void Draw(T3DDrawer& drawer, TTransitionSlides& slides) = 0;
};

// Makes the effect of the incoming slide's transition; null draws the
// incoming slide at once. The effects library installs one for the process.
using TTransitionFactory = std::function<TRef<TTransitionEffect>(
    TDrawContainer& previous, TDrawContainer& current, const TRect& area)>;
void SetTransitionFactory(TTransitionFactory factory);
bool HasTransitionFactory();

// Whether transitions may sample a slide's sole picture directly (the
// default); off, every slide is drawn into a target first.
void SetDirectSlideSources(bool on);

class TRootItem : public TDrawerItem {
 public:
  // Takes the slide set for show time t: from the newest entry backwards,
  // the first that has started is current; the one before it takes part
  // while the current one's transition runs and it is still visible. False
  // when no entry has started.
  bool TakeSlides(const std::vector<TRef<TDrawContainer>>& set, double time,
                  TDrawerItem* overlay = nullptr);
  // No slides: the next frame shows the background and the overlay alone.
  void TakeNoSlides(TDrawerItem* overlay = nullptr);
  void SetBackgroundColor(TColor c) { background_ = c; }
  // Whole-frame sharpening in percent ("opt_scr_unsharpamount").
  void SetUnsharpAmount(double u) { unsharp_ = u; }
  // Whether the last TakeSlides moved anything that is drawn.
  bool Changed() const { return changed_; }

  TDrawContainer* Previous() const { return previous_.Get(); }
  TDrawContainer* Current() const { return current_.Get(); }
  // Progress of the running transition, 0..1 (0 without one).
  double Progress() const { return progress_; }
  // The effect of the running transition (null before its first frame).
  TTransitionEffect* Effect() const { return effect_.Get(); }
  // A factory for this root only (tests); otherwise the process's.
  void SetFactory(TTransitionFactory factory) { factory_ = std::move(factory); }

  void DrawOn(T3DDrawer& drawer) override;
  void ItemDrawn() override;

 private:
  void DrawSlides(T3DDrawer& drawer);
  // Until an effects library is installed every pair cross-fades.
  void CrossFade(T3DDrawer& drawer);

  TRef<TDrawContainer> previous_, current_;
  TDrawerItem* overlay_ = nullptr;
  TColor background_ = 0xFF000000;
  double unsharp_ = 0;
  double progress_ = 0;
  double elapsed_ = 0;
  bool changed_ = true;
  TTransitionFactory factory_;
  TRef<TTransitionEffect> effect_;
  const TDrawContainer* effectFrom_ = nullptr;
  const TDrawContainer* effectTo_ = nullptr;
  bool effectMade_ = false;
};

// Transition progress of a slide at show time t (0 before, 1 after).
double TransitionProgress(const TDrawContainer& slide, double time);

}  // namespace lum
