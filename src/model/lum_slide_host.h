#pragma once
// What all slides of a show share: the camera and the view the producer sets
// up, and the callbacks of the layers above (tracking, cancelled loading, the
// hook after a slide's background).
#include <functional>
#include <string>

#include "foundation/ref_object.h"
#include "model/lum_object.h"

namespace lum {

class TLumSlideHost : public TRefObject {
 public:
  // The camera in window pixels; z is negative (in front of the screen).
  TVec3 Camera() const { return camera_; }
  void SetCamera(TVec3 camera) { camera_ = camera; }
  // The window, and the presentation area inside it, in window pixels.
  TRectF View() const { return view_; }
  TRectF Area() const { return area_; }
  void SetView(TRectF view, TRectF area) {
    view_ = view;
    area_ = area;
  }
  const std::string& PathToButtons() const { return pathToButtons_; }
  void SetPathToButtons(std::string path) { pathToButtons_ = std::move(path); }
  bool LoadingCancelled() const { return cancelled && cancelled(); }

  // Objects outside the view are hit-tested only when this accepts them.
  std::function<bool(const TLumObject&)> tracking;
  std::function<bool()> cancelled;
  std::function<void(TLumSlide&, TObjectDrawer&)> afterBackground;

 private:
  TVec3 camera_{960, 540, -1080};
  TRectF view_{0, 0, 1920, 1080};
  TRectF area_{0, 0, 1920, 1080};
  std::string pathToButtons_;
};

}  // namespace lum
