#pragma once
// Frames of a show without a player: the slides of a show time produced the
// way playback prepares them, composed by the root item, drawn by the slide
// drawer into a hidden window and read back through the drawer's read-back
// ring. Used by lumshow render, thumbnail and export, and the tests.
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "engine/slide_loader.h"
#include "render/3d_types.h"

namespace lum {

class TBitmap;
class TFramePixels;
class TLumSource;
class T3DDrawer;
class T3DEngine;
class TWindow;
class TWindowDrawDevice;
class TRootItem;

// The slide rectangle of a frame for a design aspect ratio (width / height):
// as high as the frame unless that is too wide, even sizes when they fit,
// centred.
TRect SlideRectangle(int frameW, int frameH, double ratio);

// The virtual slide numbers shown at show time t: the slide whose time
// holds t, the one before it while it is still visible, and the next one
// once its transition has begun.
std::vector<int64_t> SlidesOfTheMoment(const TLumSource& source, double t);

// A colour as the project document stores it (0xBBGGRR) as opaque 0xAARRGGBB.
TColor ArgbOfWindowsColor(uint32_t windowsColor);

// Frees the drawer's textures of a slide that is no longer held. Still
// pictures draw few frames, so the drawer's idle eviction would keep a
// slide's textures (and their pictures) long after it went.
void ReleaseSlideTextures(T3DDrawer& drawer, const TDrawContainer& slide);

// Transitions drawn through the built-in and slide-based effects, videos
// through the video library; once per process, before any show is drawn.
void InstallShowEffects();

class TOfflineFrameDriver {
 public:
  // Opens a hidden window of the frame size and attaches the drawer; throws
  // ELumError when no drawing device can be had.
  TOfflineFrameDriver(TLumSource& source, int width, int height);
  ~TOfflineFrameDriver();
  TOfflineFrameDriver(const TOfflineFrameDriver&) = delete;
  TOfflineFrameDriver& operator=(const TOfflineFrameDriver&) = delete;

  // The frame at show time t as an opaque 32-bit BGRA bitmap of the frame
  // size (lumshow render and thumbnail); throws ELumError when the frame
  // could not be drawn. Frames still streaming reach their sinks first.
  TRef<TBitmap> Render(double time);
  // Draws the frame at show time t and starts reading it back into the
  // drawer's ring of read-back buffers; sink gets the pixels once they are
  // read, during a later Stream or at Flush, in the order drawn, so reading
  // one frame overlaps drawing the next. The pixels are lent: release them
  // (on any thread) before the driver goes, and soon, as the ring is small.
  // Throws ELumError like Render, and whatever a sink throws.
  void Stream(double time, std::function<void(TRef<TFramePixels>)> sink);
  // Hands every frame still being read to its sink.
  void Flush();
  // Whether the frame at t would differ from the last rendered one.
  bool Changed(double time);
  // With a handler, a slide that could not be made is drawn blank and its
  // failure reported once instead of refusing the frame (the export).
  void SetFailureHandler(std::function<void(const std::string&)> handler) {
    onFailure_ = std::move(handler);
  }
  TSlideProducer& Producer() { return cache_->Producer(); }
  T3DDrawer& Drawer() { return *drawer_; }
  const TRect& Slide() const { return slideRect_; }

 private:
  // The slides of time t, made the way the player's loader makes them.
  const TSlideSet& Prepare(double time);
  // Draws the frame of time t, kept for reading; throws when it cannot.
  void Draw(double time);
  // Hands the oldest frame being read to its sink.
  void Deliver();
  // Refuses the frame, or reports the failure once with a handler.
  void Failed(const TDrawContainer& slide);

  TLumSource& source_;
  int width_, height_;
  TRect slideRect_;
  std::unique_ptr<TSlideCache> cache_;
  std::unique_ptr<TWindow> window_;
  TRef<TWindowDrawDevice> device_;
  TRef<T3DEngine> engine_;
  std::unique_ptr<T3DDrawer> drawer_;
  std::unique_ptr<TRootItem> root_;
  std::function<void(const std::string&)> onFailure_;
  std::set<int64_t> reported_;
  TSlideSet held_;  // the slides of the last frame, to free those that leave
  std::deque<std::function<void(TRef<TFramePixels>)>> sinks_;  // of the frames being read
};

}  // namespace lum
