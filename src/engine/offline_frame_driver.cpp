#include "engine/offline_frame_driver.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "effects/draw_filter.h"
#include "effects/real_slide_filter.h"
#include "foundation/errors.h"
#include "imaging/bitmap.h"
#include "model/lum_slide.h"
#include "model/lum_slide_host.h"
#include "model/lum_video.h"
#include "project/lum_source.h"
#include "render/3d_drawer.h"
#include "render/frame_reader.h"
#include "render/render_backends.h"
#include "render/window_draw_device.h"
#include "render/root_item.h"
#include "toolkit/window.h"
#include "video/video_extractor.h"

namespace lum {

void InstallShowEffects() {
  static std::once_flag once;
  std::call_once(once, [] {
    InstallTransitionEffects();
    InstallSlideEffects();
    InstallVideoFrameSources();
  });
}

TColor ArgbOfWindowsColor(uint32_t windowsColor) {
  return 0xFF000000 | ((windowsColor & 0xFF) << 16) | (windowsColor & 0xFF00) |
         ((windowsColor >> 16) & 0xFF);
}

TOfflineFrameDriver::TOfflineFrameDriver(TLumSource& source, int width, int height)
    : source_(source), width_(width), height_(height) {
  if (source.SlideCount() <= 0) throw ELumError("the show has no slides");
  // A render of a show is reproducible: transitions are chosen by slide index.
  source.Rotation().SetDeterministic(true);
  // Each frame shows the video frame of its time, however long decoding takes.
  TLumVideo::SetSynchronous(true);
  // And every shadow of its time.
  TLumSlideHost::SetSynchronousShadows(true);
  InstallShowEffects();
  std::string error;
  if (!TWindowThread::Init(&error)) throw ELumError("no display for drawing: " + error);
  cache_ = std::make_unique<TSlideCache>(MakeRef<TSlideProducer>(source), source, 3);
  cache_->Producer().SetFrame(width, height);
  const TPresentationArea a = cache_->Producer().Area();
  slideRect_ = {a.left, a.top, a.right, a.bottom};
  engine_ = CreateRenderEngine();
  if (!engine_->DeviceReady())
    throw ELumError("the drawing device is not ready: " + engine_->InitFailure());
  engine_->SetPacing(false);
  TWindowOptions o;
  o.width = width;
  o.height = height;
  o.hidden = true;
  window_ = std::make_unique<TWindow>(o);
  device_ = MakeRef<TWindowDrawDevice>(window_->Handle());
  device_->Follow(*window_);
  drawer_ = std::make_unique<T3DDrawer>(engine_);
  drawer_->Attach(device_.Get());
  if (!drawer_->DeviceReady()) throw ELumError("the drawing device is not ready");
  const TRect client = device_->ClientRect();
  if (client.Width() != width || client.Height() != height)
    throw ELumError("a frame of " + std::to_string(width) + "x" + std::to_string(height) +
                    " cannot be drawn here");
  root_ = std::make_unique<TRootItem>();
}

TOfflineFrameDriver::~TOfflineFrameDriver() {
  cache_.reset();
  root_.reset();
  if (drawer_) drawer_->Close();
  drawer_.reset();
  if (device_) device_->Close();
  device_ = nullptr;
  window_.reset();
  ReleaseUnusedVideoExtractors();
}

void ReleaseSlideTextures(T3DDrawer& drawer, const TDrawContainer& slide) {
  if (!slide.slide) return;
  for (TLumObject* o : slide.slide->AllObjects()) drawer.ReleaseTextures(o);
  drawer.ReleaseTextures(slide.slide.Get());
}

const TSlideSet& TOfflineFrameDriver::Prepare(double time) {
  cache_->Fill(time);
  const TSlideSet& now = cache_->Slides();
  for (const auto& old : held_)
    if (std::find(now.begin(), now.end(), old) == now.end()) ReleaseSlideTextures(*drawer_, *old);
  held_ = now;
  return now;
}

bool TOfflineFrameDriver::Changed(double time) {
  return root_->TakeSlides(Prepare(time), time) && root_->Changed();
}

void TOfflineFrameDriver::Failed(const TDrawContainer& slide) {
  if (!onFailure_) throw ELumError(slide.failure);
  if (reported_.insert(slide.index).second) onFailure_(slide.failure);
}

void TOfflineFrameDriver::Draw(double time) {
  if (!source_.Repeats()) time = std::min(time, source_.Duration());
  if (!root_->TakeSlides(Prepare(time), time))
    throw ELumError("no slide at this time");
  // Frames are exact or refused: a slide that could not be made is an error here.
  TDrawContainer* previous = root_->Previous();
  TDrawContainer* current = root_->Current();
  if (previous && !previous->failure.empty()) Failed(*previous);
  // A slide whose transition has not begun shows nothing of itself yet.
  if (current && !current->failure.empty() && (!previous || root_->Progress() > 0))
    Failed(*current);
  root_->SetBackgroundColor(ArgbOfWindowsColor(source_.HiderColor()));
  root_->SetUnsharpAmount(source_.UnsharpAmount());
  drawer_->SetViewportRect(slideRect_);
  drawer_->SetCapture(true);
  if (!drawer_->DrawItem(*root_)) throw ELumError("the frame could not be drawn");
}

TRef<TBitmap> TOfflineFrameDriver::Render(double time) {
  Flush();
  Draw(time);
  TRef<TBitmap> frame = drawer_->ReadFrame();
  if (!frame) throw ELumError("the frame could not be drawn");
  return frame;
}

void TOfflineFrameDriver::Stream(double time, std::function<void(TRef<TFramePixels>)> sink) {
  Draw(time);
  if (!drawer_->Frames().Start(width_, height_)) throw ELumError("the frame could not be read back");
  sinks_.push_back(std::move(sink));
  // One frame in flight: its copy runs while the next one is drawn.
  while (sinks_.size() > 1) Deliver();
}

void TOfflineFrameDriver::Flush() {
  while (!sinks_.empty()) Deliver();
}

void TOfflineFrameDriver::Deliver() {
  auto sink = std::move(sinks_.front());
  sinks_.pop_front();
  TRef<TFramePixels> pixels = drawer_->Frames().Take();
  if (!pixels) throw ELumError("the frame could not be read back");
  sink(std::move(pixels));
}

}  // namespace lum
