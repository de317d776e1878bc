#pragma once
// Slide-based transitions: a custom transition's section becomes a small
// animated slide of its own that plays once over the transition, shows the
// outgoing and incoming slides' pictures in its effect buffers and borrows
// their backgrounds and objects.
#include <memory>

#include "effects/draw_filter.h"
#include "model/slide_producer.h"

namespace lum {

class TRealSlideFilter : public TDrawFilter {
 public:
  // The effect slide of a section, produced for the current slide's window;
  // null when the section gives no slide.
  static std::unique_ptr<TRealSlideFilter> Create(TDrawContainer& current,
                                                  const TEffectSection& section);
  // The window the effect slide was produced for.
  const TRectF& View() const { return view_; }
  ~TRealSlideFilter() override;
  const char* ClassName() const override { return "TRealSlideFilter"; }

  // Borrows backgrounds and objects of the pair by "CustomEffBg".
  void Setup(TDrawContainer& outgoing, TDrawContainer& incoming);
  // Progress 0..1: the effect slide's time is x times "CustomEffTime".
  void SetProgress(double x);
  void SetTime(double elapsed) override;
  void Draw(TFilterTarget&) override {}
  void DrawPair(T3DDrawer& drawer, TTransitionSlides& slides) override;

  TLumSlide& EffectSlide() const { return *effect_->slide; }
  bool TransparentBg() const { return transparent_; }
  int CustomEffBg() const { return background_; }
  double EffectTime() const { return effectTime_; }
  double SlideProgress() const { return progress_; }
  // The effect slide's time at the last progress.
  double SlideTime() const { return progress_ * effectTime_; }

 private:
  TRealSlideFilter() = default;
  void PlaceInSlideArea(const TLumSlide& slide, bool cover);
  void ApplyLayers();

  TIniFile document_;
  std::unique_ptr<TLumSource> source_;
  TRef<TLumSlideHost> host_;
  TRef<TSlideProducer> producer_;
  TRef<TDrawContainer> effect_;
  TRef<TDrawContainer> outgoing_, incoming_;
  TRectF view_;
  bool transparent_ = false;
  int background_ = 0;
  double effectTime_ = 2000;
  double progress_ = 0;
  int buffers_ = 0;  // effect buffers shown: bit 0 outgoing, bit 1 incoming
};

// Custom transitions are drawn as slide-based effects (process-wide).
void InstallSlideEffects();

// Makes the effect slide of a freshly produced slide's slide-based
// transition ahead of its first frame (the loader's thread) and keeps it
// with the slide, where the transition takes it; nothing for other slides.
void PrepareSlideEffect(TDrawContainer& slide);
// The effect slide made ahead for the slide, once; null when none was made
// or the window has changed since.
std::unique_ptr<TRealSlideFilter> TakePreparedSlideEffect(TDrawContainer& slide);

}  // namespace lum
