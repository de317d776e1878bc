#pragma once
// What all slides of a show share: the camera and the view the producer sets
// up, the show's pictures, and the callbacks of the layers above (tracking,
// cancelled loading, the hook after a slide's background).
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "container/file_accessor.h"
#include "foundation/ref_object.h"
#include "imaging/image.h"
#include "model/lum_object.h"

namespace lum {

struct TPictureResolverState;
class TButtonProducerHost;
class TShadowService;

class TLumSlideHost : public TRefObject {
 public:
  TLumSlideHost();
  ~TLumSlideHost() override;

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
  void SetPathToButtons(std::string path);
  bool LoadingCancelled() const { return cancelled && cancelled(); }

  // The show's files. Setting them registers the resolver of special picture
  // names with their source (and drops it from the previous one).
  void SetAccessor(TRef<TFileAccessor> accessor);
  const TRef<TFileAccessor>& Accessor() const { return accessor_; }
  // The picture of a name (special names first; a placeholder when the file
  // is missing or broken); nothing without an accessor. "Button: " names are
  // drawn by their theme's producer (nothing when no theme loads).
  TRef<TImage> OpenPicture(std::string_view name) const;
  // Size of effect buffers and their stand-ins (the design size); 0 x 0
  // until set, when objects use their slide's design size.
  void SetPictureSize(int width, int height);
  std::pair<int, int> PictureSize() const;
  // The skin producers under PathToButtons, made on first use.
  TButtonProducerHost& ButtonProducers() const;
  // Where shadows are made off the calling thread (made on first use); null
  // while shadows are made at once.
  TShadowService* Shadows() const;
  // Process-wide: shadows made at once, so that a frame shows every shadow
  // of its time (rendering and export); off by default.
  static void SetSynchronousShadows(bool on);

  // Objects outside the view are hit-tested only when this accepts them.
  std::function<bool(const TLumObject&)> tracking;
  std::function<bool()> cancelled;
  std::function<void(TLumSlide&, TObjectDrawer&)> afterBackground;

 private:
  void DetachResolver();

  TVec3 camera_{960, 540, -1080};
  TRectF view_{0, 0, 1920, 1080};
  TRectF area_{0, 0, 1920, 1080};
  std::string pathToButtons_;
  TRef<TFileAccessor> accessor_;
  // Shared with the resolver, which runs on whatever thread decodes pictures.
  std::shared_ptr<TPictureResolverState> resolver_;
  mutable std::unique_ptr<TButtonProducerHost> buttons_;
  mutable std::once_flag shadowsMade_;
  mutable std::unique_ptr<TShadowService> shadows_;
};

}  // namespace lum
