#include "engine/offline_frame_driver.h"

#include <algorithm>
#include <cmath>

#include "foundation/errors.h"
#include "imaging/bitmap.h"
#include "model/lum_slide.h"
#include "model/lum_slide_host.h"
#include "project/lum_source.h"
#include "render/3d_drawer.h"
#include "render/gl/3d_engine_gl.h"
#include "render/root_item.h"
#include "toolkit/window.h"

namespace lum {

namespace {

// Walking the timeline never needs more steps than this.
constexpr int kMaxCursorSteps = 1 << 20;

TColor ArgbOf(uint32_t windowsColor) {
  return 0xFF000000 | ((windowsColor & 0xFF) << 16) | (windowsColor & 0xFF00) |
         ((windowsColor >> 16) & 0xFF);
}

}  // namespace

TRect SlideRectangle(int frameW, int frameH, double ratio) {
  if (frameW <= 0 || frameH <= 0 || !(ratio > 0) || !std::isfinite(ratio)) return {};
  double h = frameH, w = std::round(h * ratio);
  const double d = std::min(frameW / w, frameH / h);
  if (d != 1) w *= d, h *= d;
  int iw = int(std::lround(w)), ih = int(std::lround(h));
  if (iw % 2 && iw < frameW) ++iw;
  if (ih % 2 && ih < frameH) ++ih;
  const int left = int(std::lround(frameW / 2.0 - iw / 2.0));
  const int top = int(std::lround(frameH / 2.0 - ih / 2.0));
  TRect r{std::max(0, left), std::max(0, top), std::min(frameW, left + iw),
          std::min(frameH, top + ih)};
  return r.Empty() ? TRect{} : r;
}

std::vector<int64_t> SlidesOfTheMoment(const TLumSource& source, double x) {
  const double t = std::round(x);
  auto visibleUntil = [&](int64_t i) { return std::round(source.Slide(i).endWithNext); };
  int64_t c = source.SlideAt(t);
  for (int k = 0; k < kMaxCursorSteps && c > -1 && visibleUntil(c - 1) > t; ++k) --c;
  for (int k = 0; k < kMaxCursorSteps && visibleUntil(c) < t; ++k) ++c;
  std::vector<int64_t> out{c};
  const TLumSlideRecord next = source.Slide(c + 1);
  if (t >= next.start && t <= next.endWithNext) out.push_back(c + 1);
  return out;
}

TOfflineFrameDriver::TOfflineFrameDriver(TLumSource& source, int width, int height)
    : source_(source), width_(width), height_(height) {
  if (source.SlideCount() <= 0) throw ELumError("the show has no slides");
  std::string error;
  if (!TWindowThread::Init(&error)) throw ELumError("no display for drawing: " + error);
  producer_ = MakeRef<TSlideProducer>(source);
  producer_->SetFrame(width, height);
  const double ratio = producer_->Ratio();
  slideRect_ = SlideRectangle(width, height, ratio);
  engine_ = MakeRef<T3DEngineGL>();
  if (!engine_->DeviceReady())
    throw ELumError("the drawing device is not ready: " + engine_->InitFailure());
  T3DEngineGL::SetPacing(false);
  TWindowOptions o;
  o.width = width;
  o.height = height;
  o.hidden = true;
  window_ = std::make_unique<TWindow>(o);
  device_ = MakeRef<TWindowDrawDevice>(window_->Handle());
  device_->Follow(*window_);
  drawer_ = std::make_unique<T3DDrawer>(TRef<T3DEngine>(engine_));
  drawer_->Attach(device_.Get());
  if (!drawer_->DeviceReady()) throw ELumError("the drawing device is not ready");
  const TRect client = device_->ClientRect();
  if (client.Width() != width || client.Height() != height)
    throw ELumError("a frame of " + std::to_string(width) + "x" + std::to_string(height) +
                    " cannot be drawn here");
  root_ = std::make_unique<TRootItem>();
}

TOfflineFrameDriver::~TOfflineFrameDriver() {
  slides_.clear();
  root_.reset();
  if (drawer_) drawer_->Close();
  drawer_.reset();
  if (device_) device_->Close();
  device_ = nullptr;
  window_.reset();
}

std::vector<TRef<TDrawContainer>> TOfflineFrameDriver::Prepare(double time) {
  std::vector<TRef<TDrawContainer>> set;
  failure_.clear();
  std::map<int64_t, TRef<TDrawContainer>> keep;
  for (int64_t n : SlidesOfTheMoment(source_, time)) {
    auto it = slides_.find(n);
    TRef<TDrawContainer> c = it != slides_.end() ? it->second : producer_->Produce(n);
    // A slide that fails to prepare is left out; the others still draw.
    if (!c) {
      failure_ = "slide " + std::to_string(n) + " could not be prepared: " + producer_->LastError();
      continue;
    }
    keep[n] = c;
    set.push_back(c);
  }
  slides_ = std::move(keep);
  return set;
}

bool TOfflineFrameDriver::Changed(double time) {
  return root_->TakeSlides(Prepare(time), time) && root_->Changed();
}

TRef<TBitmap> TOfflineFrameDriver::Render(double time) {
  if (!source_.Repeats()) time = std::min(time, source_.Duration());
  if (!root_->TakeSlides(Prepare(time), time))
    throw ELumError(failure_.empty() ? "no slide at this time" : failure_);
  root_->SetBackgroundColor(ArgbOf(source_.HiderColor()));
  root_->SetUnsharpAmount(source_.UnsharpAmount());
  drawer_->SetViewportRect(slideRect_);
  drawer_->SetCapture(true);
  const bool drawn = drawer_->DrawItem(*root_);
  TRef<TBitmap> frame = drawn ? drawer_->ReadFrame() : nullptr;
  if (!frame) throw ELumError("the frame could not be drawn");
  return frame;
}

}  // namespace lum
