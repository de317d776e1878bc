// The engine opening shows and taking the requests of its queue.
#include "engine/lum_engine.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "audio/music_player.h"
#include "engine/lum_engine_parts.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "imaging/image.h"
#include "model/lum_image.h"
#include "model/lum_slide.h"
#include "project/lum_source.h"
#include "video/video_extractor.h"

namespace lum {

namespace {

constexpr int64_t kForceReport = 0x80000001;
constexpr int64_t kCaptureWaitMs = 3000;

// Pictures are decoded here, on the loader's thread, at the level the slide
// will draw them; otherwise the first frame of the slide would decode them.
void DecodePictures(TLumSlide& slide) {
  for (TLumObject* o : slide.AllObjects())
    if (auto* image = dynamic_cast<TLumImage*>(o))
      if (const TRef<TImage>& picture = image->Picture())
        picture->GetMipLevel(image->MipLevel(), TPixelFormat::Bgra32);
}

}  // namespace

// ---- opening ----

void TLumEngine::OpenShow(TRef<TFileAccessor> accessor, std::unique_ptr<TIniFile> document,
                          double position) {
  if (!document) AssertFailed("TLumEngine", "no project document");
  auto fresh = std::make_unique<TLumSource>(std::move(accessor), std::move(document));
  // The old show's loader and music go before the show they read.
  GoInactive();
  StopLoader();
  if (music_) music_->Stop();
  music_.reset();
  // The drawer keeps textures until they go unused for a while; a paused
  // player draws nothing, so the old show's would stay.
  for (auto& c : slideSet_) ReleaseSlide(*c);
  slideSet_.clear();
  root_.TakeSlides({}, 0);
  ResetOverlay(false);
  source_ = std::move(fresh);
  // What the old show freed in the middle of the allocator's arenas would
  // stay with the process: a player opening show after show would grow.
  malloc_trim(0);
  OpenAt(position, false);
}

void TLumEngine::ResetOverlay(bool make) {
  root_.TakeSlides({}, 0);
  if (overlay_ && draw_.Drawer()) overlay_->ReleaseTextures(*draw_.Drawer());
  overlay_ = nullptr;
  if (!make || !source_ || !loader_) return;
  TOverlayParams p;
  p.source = source_.get();
  p.window = {0, 0, loader_->FrameWidth(), loader_->FrameHeight()};
  p.slideRect = loader_->SlideRect();
  p.isPlaying = [this] { return !paused_.load(); };
  p.volume = [this] { return double(volume_.load()); };
  p.setVolume = [this](double v) { volume_ = float(v); };
  overlay_ = MakeOverlay(p);
}

void TLumEngine::StopLoader() {
  if (!loader_) return;
  loader_->Terminate();
  // The loader may wait in a blocking send to this queue.
  while (loader_->Running()) {
    Events().Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  loader_.reset();
}

void TLumEngine::OpenAt(double position, bool reopen) {
  endReported_ = false;
  Log().Line(std::string(reopen ? "Reopen" : "Open") + " from new position>>>>>>>> " +
             Num(position));
  GoInactive();
  StopLoader();
  for (auto& c : slideSet_) ReleaseSlide(*c);
  slideSet_.clear();
  loader_ = std::make_unique<TLumSlideLoader>(*source_, timing_, 3, [this](const TSlideSet& s) {
    Events().Send(kRequestSlides, MakeRef<TSlideData>(s));
  });
  loader_->Cache().onSlidePrepared = [this](TDrawContainer& c) {
    if (!c.slide) return;
    // Textures are made at the slide's first frame; its pictures are
    // decoded now, off the drawing thread.
    if (active_ && draw_.Drawer()) Log().Line("preload from callback.............");
    c.slide->SetTimeAndLayout(true, c.record.start);
    DecodePictures(*c.slide);
  };
  if (!music_) {
    music_ = std::make_unique<TLumMusicPlayer>(source_.get());
    music_->Start();
  }
  if (!reopen) {
    const TWindowRequest w = ReadWindowRequest(source_->Document(), screenW_, screenH_);
    auto e = MakeRef<TLumEventData>();
    e->code = kEventWindowMode;
    e->ints = {w.width, w.height, w.ViewerMode()};
    e->text = w.caption;
    PostEvent(e);
    draw_.CreateDrawer();
  }
  loader_->SetFrameSize(draw_.ClientWidth(), draw_.ClientHeight());
  ResetOverlay(true);
  clockBase_ = position;
  timing_.current = position;
  timing_.requested = position;
  lastReported_ = kForceReport;
  nextStop_ = {};
  nextRunApp_ = {};
  nextRunApp_ = FindRunApp(position);
  nextStop_ = FindStop(position);
  halted_ = false;
  duration_ = source_->Duration();
  figures_.RestartIntervals();
  Log().Line("Loader Inited To Time : " + Num(position));
}

// ---- requests ----

void TLumEngine::Handle(int code, TRefObject* data) {
  switch (code) {
    case kRequestPointer:
      if (auto* m = dynamic_cast<TMouseData*>(data)) Pointer(*m);
      return;
    case kRequestCapture:
      // Slides of a position just sought may still be on their way: the
      // capture waits for them a while.
      captureUntil_ = MsSinceStart() + kCaptureWaitMs;
      return;
    case kRequestCloseDialog:
      if (overlay_) overlay_->CloseTopDialog();
      return;
    case kRequestHelp:
      if (overlay_) overlay_->ToggleDialog("help");
      return;
    case kRequestSlides:
      if (auto* s = dynamic_cast<TSlideData*>(data)) {
        std::string line = ">>>>>>>>>>>>> slide list synched : ";
        for (auto& c : s->set) line += Num(c->record.start) + "-" + Num(c->record.end) + " ";
        Log().Line(line);
        for (auto& old : slideSet_)
          if (std::find(s->set.begin(), s->set.end(), old) == s->set.end()) ReleaseSlide(*old);
        slideSet_ = s->set;
        // A clip no slide of the moment shows keeps neither its file nor its
        // decoding thread (after an open, nothing of the old show does).
        ReleaseUnusedVideoExtractors();
      }
      return;
    case kRequestOpen:
      if (auto* p = dynamic_cast<TOpenParams*>(data)) TakeRequest(TRef<TOpenParams>(p));
      return;
    case kRequestPause:
      if (auto* m = dynamic_cast<TModeData*>(data)) SetPause(m->paused);
      return;
    case kRequestKey:
      if (auto* k = dynamic_cast<TKeyData*>(data)) Key(*k);
      return;
    case kRequestAction:
      if (auto* a = dynamic_cast<TActionData*>(data)) RunAction(a->action);
      return;
    default:
      AssertFailed("TLumEngine", "unknown request " + std::to_string(code));
  }
}

void TLumEngine::TakeRequest(TRef<TOpenParams> p) {
  const bool pause = pending_ ? pending_->paused : paused_.load();
  if (p->document) {
    Log().Line("TLumEngine: OpenShow Async");
    pending_ = p->Clone();
  } else {
    Log().Line("TLumEngine: SetPosition Async");
    if (pending_) {
      pending_->requestNumber = p->requestNumber;
      pending_->position = p->position;
    } else {
      pending_ = p->Clone();
    }
  }
  pending_->paused = pause;
  Log().Line(std::string("TLumEngine: Current Pause Status: ") + (paused_ ? "1" : "0"));
  Log().Line(std::string("TLumEngine: Async Pause Status: ") + (pause ? "1" : "0"));
}

void TLumEngine::SetPause(bool paused) {
  if (pending_ || inProgress_) {
    if (pending_) pending_->paused = paused;
    if (inProgress_) inProgress_->paused = paused;
    Log().Line(std::string("TLumEngine: SetPauseEvent Async: ") + (paused ? "1" : "0"));
    return;
  }
  Log().Line(std::string("TLumEngine: Before Pause Status: ") + (paused_ ? "1" : "0"));
  paused_ = paused;
  Log().Line(std::string("TLumEngine: SetPauseEvent Direct: ") + (paused ? "1" : "0"));
}

void TLumEngine::ProcessPending() {
  inProgress_ = std::move(pending_);
  Log().Line("TLumEngine: Begin ProcessAsyncOpen");
  TOpenParams& p = *inProgress_;
  try {
    if (p.document) {
      Log().Line("TLumEngine: Process AsyncEvent Open");
      OpenShow(std::move(p.accessor), std::move(p.document), p.position);
    } else if (source_) {
      Log().Line("TLumEngine: Process AsyncEvent SetPosition");
      GoInactive();
      // Played to its end again after this seek, the show reports it again.
      endReported_ = false;
      clockBase_ = p.position;
      timing_.current = p.position;
      lastReported_ = kForceReport;
      nextRunApp_ = {};
      nextStop_ = {};
      nextRunApp_ = FindRunApp(p.position);
      nextStop_ = FindStop(p.position);
      halted_ = false;
      if (loader_) loader_->Wake();
    }
  } catch (const std::exception& e) {
    Log().Line(std::string("TLumEngine: the show could not be opened: ") + e.what());
  }
  requestNumber_ = p.requestNumber;
  Log().Line(std::string("TLumEngine: Process AsyncEvent Curren Pause Status: ") +
             (paused_ ? "1" : "0"));
  paused_ = p.paused;
  Log().Line(std::string("TLumEngine: Process AsyncEvent New Pause Status: ") +
             (paused_ ? "1" : "0"));
  inProgress_ = nullptr;
}

}  // namespace lum
