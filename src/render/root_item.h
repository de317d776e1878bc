#pragma once
// The root of a frame: the slides of the moment (the previous one while a
// transition runs, the current one), the overlay, the whole-frame sharpening
// and the letterbox borders.
#include <vector>

#include "model/slide_producer.h"
#include "render/3d_drawer.h"

namespace lum {

class TRootItem : public TDrawerItem {
 public:
  // Takes the slide set for show time t: from the newest entry backwards,
  // the first that has started is current; the one before it takes part
  // while the current one's transition runs and it is still visible. False
  // when no entry has started.
  bool TakeSlides(const std::vector<TRef<TDrawContainer>>& set, double time,
                  TDrawerItem* overlay = nullptr);
  void SetBackgroundColor(TColor c) { background_ = c; }
  // Whole-frame sharpening in percent ("opt_scr_unsharpamount").
  void SetUnsharpAmount(double u) { unsharp_ = u; }
  // Whether the last TakeSlides moved anything that is drawn.
  bool Changed() const { return changed_; }

  TDrawContainer* Previous() const { return previous_.Get(); }
  TDrawContainer* Current() const { return current_.Get(); }
  // Progress of the running transition, 0..1 (0 without one).
  double Progress() const { return progress_; }

  void DrawOn(T3DDrawer& drawer) override;
  void ItemDrawn() override;

 private:
  void DrawSlides(T3DDrawer& drawer);

  TRef<TDrawContainer> previous_, current_;
  TDrawerItem* overlay_ = nullptr;
  TColor background_ = 0xFF000000;
  double unsharp_ = 0;
  double progress_ = 0;
  bool changed_ = true;
};

// Transition progress of a slide at show time t (0 before, 1 after).
double TransitionProgress(const TDrawContainer& slide, double time);

}  // namespace lum
