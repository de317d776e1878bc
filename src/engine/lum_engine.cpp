#include "engine/lum_engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "audio/music_player.h"
#include "container/load_yield.h"
#include "engine/lum_engine_parts.h"
#include "engine/offline_frame_driver.h"
#include "video/video_extractor.h"
#include "foundation/clock.h"
#include "foundation/log.h"
#include "project/lum_source.h"
#include "render/slide_drawer.h"

namespace lum {

namespace {

constexpr double kNoStop = 3.4e38;
constexpr int kIdleWaitMs = 20;
// What a loop may spend on uploads ahead: a small part of a 60 Hz frame.
constexpr double kUploadAheadMs = 3;

}  // namespace

TLumEngine::TLumEngine(TRef<TDrawDevice> device, TRef<T3DEngine> renderEngine)
    : draw_(std::move(device), std::move(renderEngine)) {
  InstallShowEffects();
}

TLumEngine::~TLumEngine() {
  Stop();
  StopLoader();
  ResetOverlay(false);
  if (music_) music_->Stop();
  music_.reset();
  slideSet_.clear();
  root_.TakeSlides({}, 0);
  ReleaseUnusedVideoExtractors();
}

void TLumEngine::OnStart() {
  lastLoopTick_ = MsSinceStart();
}

void TLumEngine::OnEnd() {
  SetLoadYieldMode(0);
  StopLoader();
  if (music_) music_->Stop();
  draw_.Engine()->ReleaseThreadContext();
}

void TLumEngine::LoopBody() {
  if (music_ && music_->Volume() != volume_.load()) music_->SetVolume(volume_.load());
  if (Events().IsShut()) return;
  Events().Drain();
  if (pending_) ProcessPending();
  if (loader_ && !loader_->Running()) loader_->Start();
  uint32_t flags = draw_.State();
  if (!frameDrawn_) ++loopsBeforeFrame_;
  bool run = MayRun(flags);
  if (!run && active_) {
    Log().Line("TLumEngine.MainLoop: SetActive(False) - Stop by not NewActive");
    flags |= TLumDrawController::kChanged;
    GoInactive();
  }
  const uint32_t rebuilt = TLumDrawController::kReady | TLumDrawController::kRebuilt;
  if ((flags & rebuilt) == rebuilt) {
    run = false;
    Reinitialise();
  }
  if (run && !active_) {
    Log().Line("TLumEngine.MainLoop: SetActive(True) - Start by NewActive");
    GoActive();
  }
  if (!Terminated()) AdvanceClock();
  CheckEnd();
  CheckRunApp();
  if (overlay_ && overlay_->SetTime(timing_.current.load(), double(MsSinceStart())))
    flags |= TLumDrawController::kChanged;
  openDialogs_ = overlay_ ? int(overlay_->OpenDialogs()) : 0;
  DrawStep(flags);
  if (captureUntil_ >= 0) Capture();
  PrepareAhead();
  Pace();
  ReportPosition();
}

bool TLumEngine::MayRun(uint32_t flags) {
  if (!source_ || paused_ || halted_) return false;
  if (overlay_ && overlay_->PausesShow()) return false;
  if (source_->PauseWhenInactive() && !(flags & TLumDrawController::kActive)) return false;
  const double x = timing_.current.load();
  if (!source_->Repeats() && x >= source_->Duration()) return false;
  if (!SetCovers(x)) return false;
  return MusicReady();
}

void TLumEngine::Reinitialise() {
  firstFrameSent_ = false;
  if (active_) {
    Log().Line("TLumEngine.MainLoop: SetActive(False) - Stop by Reinited");
    GoInactive();
  }
  for (auto& c : slideSet_) ReleaseSlide(*c);
  const int w = draw_.ClientWidth(), h = draw_.ClientHeight();
  if (source_ && loader_ && (std::max(10, w) != loader_->FrameWidth() ||
                             std::max(10, h) != loader_->FrameHeight())) {
    Log().Line("OpenInt on diff size: " + std::to_string(w) + " " + std::to_string(h));
    OpenAt(timing_.current.load(), true);
  }
  for (size_t i = 1; i < slideSet_.size(); ++i) UploadSlide(*slideSet_[i], timing_.current);
  Log().Line("DrawDevice Reinited (Slides:" + std::to_string(slideSet_.size()) + ")");
}

double TLumEngine::ShowTime() {
  musicHeard_ = music_ ? music_->HeardPosition() : std::numeric_limits<double>::quiet_NaN();
  if (!active_ || !music_) {
    audioOffset_ = 0;
    return clockBase_;
  }
  const double played = music_->Position() - clockBase_;
  const double shown = interpolator_.Next(played);
  audioOffset_ = shown - played;
  return shown;
}

void TLumEngine::AdvanceClock() {
  const double t = ShowTime();
  timing_.requested = t;
  if (!(active_ && nextStop_.found && t >= nextStop_.time)) {
    timing_.current = t;
    return;
  }
  Log().Line("TLumEngine.MainLoop: SetActive(False) - Stop by Barrier");
  GoInactive();
  double now = nextStop_.time;
  if (nextStop_.loopLength > 0) {
    now = t;
    while (now >= nextStop_.time) now -= nextStop_.loopLength;
  } else {
    halted_ = true;
    nextStop_ = FindStop(nextStop_.time);
  }
  clockBase_ = now;
  timing_.current = now;
  if (loader_) loader_->Wake();
  if (music_) music_->SetTime(nextStop_.time, now);
}

void TLumEngine::CheckEnd() {
  if (!source_ || source_->Repeats()) return;
  const double d = source_->Duration();
  if (timing_.current.load() <= d) return;
  timing_.current = d;
  clockBase_ = active_ ? clockBase_ : d;
  if (endReported_.exchange(true)) return;
  auto e = MakeRef<TLumEventData>();
  e->code = kEventPosition;
  e->ints = {requestNumber_.load(), std::llround(d), std::llround(d), 1};
  PostEvent(e);
}

void TLumEngine::CheckRunApp() {
  if (!active_ || timing_.current.load() < nextRunApp_.time) return;
  const std::string file = nextRunApp_.file;
  nextRunApp_ = FindRunApp(nextRunApp_.time);
  if (!file.empty()) RunAction({kActionRunApp, 0, file});
}

void TLumEngine::DrawStep(uint32_t flags) {
  const bool forced = flags & (TLumDrawController::kChanged | TLumDrawController::kRebuilt);
  if (!slideSet_.empty() && SetDrawable(timing_.current.load())) {
    DrawFrame(forced, false);
    return;
  }
  // The window changed while the slides of the moment are not ready: what
  // it showed is gone or stale, so it gets the frame without them.
  if (flags & TLumDrawController::kChanged) DrawEmptyFrame();
}

void TLumEngine::PrepareAhead() {
  T3DDrawer* drawer = draw_.Drawer();
  if (!drawer || !drawer->Screen().DeviceReady()) return;
  const double x = timing_.current.load();
  // Walked every loop: that keeps their textures from being evicted as idle.
  for (const auto& c : slideSet_)
    if (c->slide && c->record.start > x) PrepareSlideTextures(*drawer, *c->slide);
  drawer->UploadAhead(kUploadAheadMs);
}

void TLumEngine::Pace() {
  const int64_t now = MsSinceStart();
  // The wait ends early when a request arrives; with the clock standing
  // nothing but a request or the window changes anything, so it idles longer.
  const int ms = !active_ ? kIdleWaitMs : now - lastLoopTick_ <= 16 ? 3 : 1;
  Events().WaitFor(std::chrono::milliseconds(ms));
  lastLoopTick_ = MsSinceStart();
}

void TLumEngine::ReportPosition() {
  const double x = timing_.current.load();
  if (source_) currentSlide_ = source_->SlideAt(x);
  if (std::fabs(x - double(lastReported_)) <= 20) return;
  lastReported_ = std::llround(x);
  auto e = MakeRef<TLumEventData>();
  e->code = kEventPosition;
  e->ints = {requestNumber_.load(), lastReported_,
             source_ ? std::llround(source_->Duration()) : 0, 0};
  PostEvent(e);
}

// ---- coverage, music, activity ----

bool TLumEngine::SetCovers(double x) const {
  if (active_) return true;
  if (slideSet_.empty() || !loader_ || int(slideSet_.size()) < loader_->Cache().Wanted(x))
    return false;
  const TLumSlideRecord& first = slideSet_.front()->record;
  return first.start + first.transitionIn <= x && x <= slideSet_.back()->record.endWithNext;
}

bool TLumEngine::SetDrawable(double x) const {
  if (active_) return true;
  if (slideSet_.empty()) return false;
  const TLumSlideRecord& a = slideSet_[0]->record;
  const TLumSlideRecord& z = slideSet_.back()->record;
  // A complete set (near the end of a show that stops it holds fewer than
  // three) draws whatever time it covers.
  const bool complete = loader_ && int(slideSet_.size()) >= loader_->Cache().Wanted(x);
  if (slideSet_.size() == 3 || complete)
    return a.start + a.transitionIn <= x && x <= z.endWithNext;
  if (slideSet_.size() == 1) return a.start + a.transitionIn <= x && x <= a.end;
  return a.start + a.transitionIn <= x && x <= a.endWithNext && z.start <= x && x <= z.end;
}

bool TLumEngine::MusicReady() {
  if (!music_) return false;
  if (!active_) {
    const double x = timing_.current.load();
    if (std::fabs(music_->Position() - x) > 0.5 || music_->Limit() != nextStop_.time)
      music_->SetTime(nextStop_.time, x);
  }
  const bool ready = music_->Ready();
  if (active_ && !ready) Log().Line("TLumEngine.IsMusicReady: False");
  return ready;
}

void TLumEngine::GoActive() {
  if (active_) return;
  const double x = timing_.current.load();
  for (auto& c : slideSet_) UploadSlide(*c, x);
  if (music_->Limit() != nextStop_.time) music_->SetLimit(nextStop_.time);
  music_->SetPlaying(true);
  active_ = true;
  clockBase_ = music_->Position() - x;
  SetLoadYieldMode(2);
  interpolator_.Release();
}

void TLumEngine::GoInactive() {
  if (!active_) return;
  interpolator_.SetDirect();
  active_ = false;
  if (music_) music_->SetPlaying(false);
  clockBase_ = timing_.current.load();
  SetLoadYieldMode(0);
}

void TLumEngine::ReleaseSlide(TDrawContainer& c) {
  if (T3DDrawer* d = draw_.Drawer()) ReleaseSlideTextures(*d, c);
}

void TLumEngine::UploadSlide(TDrawContainer& c, double position) {
  if (!c.slide) return;
  Log().Line("PreloadEx Time: " + Num(position - c.record.start));
  c.slide->SetTimeAndLayout(true, std::clamp(position, c.record.start, c.record.endWithNext));
}

// ---- stops and program starts ----

TLumEngine::TStop TLumEngine::FindStop(double x) const {
  TStop r;
  if (!source_ || source_->SlideCount() == 0) return r;
  const int64_t n = source_->SlideCount();
  const bool repeats = source_->Repeats();
  r.time = repeats ? kNoStop : source_->Duration();
  const int64_t from = x == nextStop_.time && nextStop_.found ? nextStop_.slide + 1
                                                               : std::max<int64_t>(0, source_->SlideAt(x));
  for (int64_t i = from; i < from + n && (repeats || i < n); ++i) {
    const TLumSlideRecord rec = source_->Slide(i);
    if (rec.end <= x) continue;
    const TSlideEnd end = source_->EndAction(int32_t(i % n));
    if (end.action == TSlideEndAction::None) continue;
    // A loop without length could never leave its slide: it waits instead.
    const double loop = end.action == TSlideEndAction::Loop ? std::max(0.0, end.loopLength) : 0;
    return {true, i, rec.end, loop};
  }
  return r;
}

TLumEngine::TRunApp TLumEngine::FindRunApp(double x) const {
  TRunApp r;
  if (!runAppEnabled_ || !source_ || source_->SlideCount() == 0) return r;
  const int64_t n = source_->SlideCount();
  const int64_t from = x == nextRunApp_.time ? nextRunApp_.slide + 1
                                             : std::max<int64_t>(0, source_->SlideAt(x));
  for (int64_t i = from; i < from + n; ++i) {
    const double t = source_->Slide(i).start + 1;
    if (t <= x) continue;
    if (auto file = source_->Program(int32_t(i % n))) return {i, t, *file};
  }
  return r;
}

TEngineStatus TLumEngine::Status() const {
  TEngineStatus s;
  s.position = timing_.current.load();
  s.duration = duration_.load();
  s.volume = volume_.load();
  s.paused = paused_;
  s.active = active_;
  s.waiting = halted_;
  s.ended = endReported_;
  s.slide = currentSlide_.load();
  s.dialogs = openDialogs_.load();
  s.audioOffset = audioOffset_.load();
  s.musicPosition = musicHeard_.load();
  s.statsShown = stats_.Shown(NowMs());
  figures_.Fill(s);
  return s;
}

}  // namespace lum
