#pragma once
// Builds slides from the show project: virtual slide numbers (repetitions
// past the end, a blank slide for negative numbers), the presentation area of
// a window and the camera in front of it.
#include <cstdint>
#include <string>

#include "foundation/ref_object.h"
#include "model/lum_slide.h"
#include "project/lum_source.h"

namespace lum {

// One produced slide with what playback needs beside it.
class TDrawContainer : public TRefObject {
 public:
  int64_t index = 0;       // virtual slide number
  TLumSlideRecord record;  // shifted by the repetition
  double offset = 0;       // repetition x show duration, ms
  TRef<TLumSlide> slide;
  TTransitionChoice transition;  // the slide's incoming transition
  std::string failure;           // why a blank slide stands in for this one
  // What the incoming transition needs, made ahead off the drawing thread
  // by the effects library (which alone knows its type); may be null.
  TRef<TRefObject> preparedEffect;
};

inline constexpr const char* kZeroSizeMessage = "ZeroSize of Presentation!";
inline constexpr const char* kNoSlidesMessage = "No Slides in Presentation";

// The presentation area of a window: w x h window pixels centred in it.
struct TPresentationArea {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
};
// Fit mode 0 fits the area inside the window, 1 covers it. ratio is width /
// height of the design.
// Fixed-size shows ("opt_scr_fullfixedsize") keep the design size in window
// pixels, centred, as long as it fits; a window too small for it gets the
// fitted area (mode 0) instead, so the show is never cut.
TPresentationArea FixedSizeArea(int32_t windowW, int32_t windowH, double designW, double designH);
TPresentationArea ComputePresentationArea(int32_t windowW, int32_t windowH, double ratio,
                                          int fitMode, double scaleH = 100, double scaleV = 100);

class TSlideProducer : public TRefObject {
 public:
  // The source must outlive the producer.
  TSlideProducer(TLumSource& source, TRef<TLumSlideHost> host = nullptr);

  // Sets the window size and recomputes the area and the camera. Throws
  // ELumError "ZeroSize of Presentation!" for a zero design height.
  void SetFrame(int32_t width, int32_t height, int fitMode = 0, double scaleH = 100,
                double scaleV = 100);
  TPresentationArea Area() const { return area_; }
  double DesignWidth() const { return designW_; }
  double DesignHeight() const { return designH_; }
  double Ratio() const { return ratio_; }
  const TRef<TLumSlideHost>& Host() const { return host_; }

  // The slide of a virtual number; null when producing it failed (the
  // message is kept in LastError()).
  TRef<TDrawContainer> Produce(int64_t number);
  // The same, passing the failure on.
  TRef<TDrawContainer> ProduceOrThrow(int64_t number);
  // A slide with the times of a virtual number and nothing on it but the
  // background (or black when that cannot be had either): stands in for a
  // slide that could not be made.
  TRef<TDrawContainer> ProduceBlank(int64_t number);
  const std::string& LastError() const { return lastError_; }

 private:
  TLumSource& source_;
  TRef<TLumSlideHost> host_;
  double designW_ = 0, designH_ = 0;
  bool fixedSize_ = false;
  double ratio_ = 0;
  int32_t frameW_ = 0, frameH_ = 0;
  double scaleH_ = 100, scaleV_ = 100;
  TPresentationArea area_;
  std::string lastError_;
};

}  // namespace lum
