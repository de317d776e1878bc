// The engine drawing frames and capturing the one on screen.
#include "engine/lum_engine.h"

#include <algorithm>

#include "engine/lum_engine_parts.h"
#include "engine/offline_frame_driver.h"
#include "foundation/clock.h"
#include "foundation/log.h"
#include "foundation/process_memory.h"
#include "model/lum_slide.h"
#include "model/lum_video.h"
#include "project/lum_source.h"
#include "render/3d_engine.h"

namespace lum {

namespace {

constexpr double kSlowFrameMs = 50;

}  // namespace

bool TLumEngine::DrawFrame(bool forced, bool capture) {
  const double x = timing_.current.load(), now = NowMs();
  // The stats panel draws the show's overlay beneath itself; showing or
  // hiding it changes the root's top item, which redraws the frame.
  const bool stats = stats_.Shown(now);
  stats_.SetBelow(overlay_.Get());
  TDrawerItem* top = stats ? static_cast<TDrawerItem*>(&stats_) : overlay_.Get();
  if (!root_.TakeSlides(slideSet_, x, top)) return false;
  // While shown, the numbers move a few times a second even on a still slide.
  const bool statsDue = stats && stats_.Due(now);
  if (!forced && !capture && !statsDue && !root_.Changed()) {
    // A still picture is not redrawn; the pause says nothing about pacing.
    figures_.NoteSkipped();
    return false;
  }
  T3DDrawer* drawer = draw_.Drawer();
  if (!drawer || !loader_ || !source_) return false;
  if (lastPointer_ && root_.Current() && root_.Current()->slide &&
      !(overlay_ && overlay_->Hovered())) {
    std::optional<TLumActionInfo> none;
    TLumObject* o = root_.Current()->slide->PointerInput(lastPointer_->first, lastPointer_->second, 0,
                                                         kPointerMove, &none);
    const bool hover = o && !o->ActionText().empty();
    figures_.SetHover(hover, hover ? o->ClassName() : "");
  }
  if (statsDue) UpdateStats(now);
  return RenderRoot(capture, true);
}

void TLumEngine::UpdateStats(double now) {
  TStatsFigures f;
  const TVideoShowCounts video = TLumVideo::ShowCounts();
  f.videoShown = video.shown;
  f.videoLate = video.late;
  f.videoSkipped = video.skipped;
  f.audioOffset = audioOffset_.load();
  const double x = timing_.current.load();
  f.slidesHeld = int(slideSet_.size());
  f.slidesAhead = int(std::count_if(slideSet_.begin(), slideSet_.end(),
                                    [x](const auto& c) { return c && c->record.start > x; }));
  f.textureBytes = TextureBytes();
  f.rssBytes = ResidentBytes();
  stats_.Update(f, now);
}

void TLumEngine::DrawEmptyFrame() {
  if (!draw_.Drawer() || !loader_ || !source_) return;
  root_.TakeNoSlides(overlay_.Get());
  RenderRoot(false, false);
}

bool TLumEngine::RenderRoot(bool capture, bool slides) {
  T3DDrawer* drawer = draw_.Drawer();
  const double x = timing_.current.load();
  drawer->SetViewportRect(loader_->SlideRect());
  root_.SetBackgroundColor(
      backgroundOverride_.value_or(ArgbOfWindowsColor(source_->HiderColor())));
  root_.SetUnsharpAmount(unsharpOverride_.value_or(source_->UnsharpAmount()));
  drawer->SetCapture(capture);
  bool drawn = false;
  const double started = NowMs();
  try {
    drawn = draw_.Draw(root_);
    // Slow frames are what playback stutters from: name them in the log.
    if (const double took = NowMs() - started; took > kSlowFrameMs)
      Log().Line("TLumEngine: a frame took " + Num(took) + " ms at " + Num(x));
  } catch (const std::exception& e) {
    Log().Line(std::string("TLumEngine: the frame was abandoned: ") + e.what());
  }
  if (!capture) drawer->SetCapture(false);
  if (!drawn) return false;
  if (!slides) {
    // Not a frame of the show: the window waits for one of those.
    figures_.NoteEmptyFrame();
    return true;
  }
  frameDrawn_ = true;
  if (!capture) figures_.NoteFrame(active_);
  if (!firstFrameSent_) {
    firstFrameSent_ = true;
    const TRect r = loader_->SlideRect();
    auto e = MakeRef<TLumEventData>();
    e->code = kEventFirstFrame;
    e->ints = {r.left, r.top, r.right, r.bottom};
    PostEvent(e);
  }
  return true;
}

void TLumEngine::Capture() {
  TRef<TBitmap> image;
  try {
    if (SetDrawable(timing_.current.load()) && DrawFrame(true, true))
      image = draw_.Drawer()->ReadFrame();
  } catch (const std::exception&) {
    image = nullptr;
  }
  if (draw_.Drawer()) draw_.Drawer()->SetCapture(false);
  if (!image && MsSinceStart() < captureUntil_) return;
  captureUntil_ = -1;
  Log().Line(image ? "********************* Image " : "********************* Image not Assigned");
  // The viewer hears of a failed capture too, so nobody waits for it forever.
  auto e = MakeRef<TLumEventData>();
  e->code = kEventImage;
  e->image = image;
  PostEvent(e);
}

}  // namespace lum
