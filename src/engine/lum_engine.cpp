#include "engine/lum_engine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "audio/music_player.h"
#include "container/load_yield.h"
#include "engine/offline_frame_driver.h"
#include "video/video_extractor.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "imaging/image.h"
#include "model/lum_image.h"
#include "model/lum_slide.h"
#include "project/lum_source.h"
#include "toolkit/key_codes.h"
#include "toolkit/window.h"

namespace lum {

namespace {

constexpr int64_t kForceReport = 0x80000001;
constexpr double kNoStop = 3.4e38;
constexpr int kIdleWaitMs = 20;
constexpr double kSlowFrameMs = 50;
constexpr int64_t kCaptureWaitMs = 3000;
// Button bits of a pointer event besides the left one (kLeftButton).
constexpr uint32_t kRightButtonHeld = 2, kMiddleButtonHeld = 16;

std::string Num(double v) {
  return std::to_string(std::llround(v));
}

double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Pictures are decoded here, on the loader's thread, at the level the slide
// will draw them; otherwise the first frame of the slide would decode them.
void DecodePictures(TLumSlide& slide) {
  for (TLumObject* o : slide.AllObjects())
    if (auto* image = dynamic_cast<TLumImage*>(o))
      if (const TRef<TImage>& picture = image->Picture())
        picture->GetMipLevel(image->MipLevel(), TPixelFormat::Bgra32);
}

}  // namespace

// ---- requests and events ----

TRef<TOpenParams> TOpenParams::Clone() {
  auto c = MakeRef<TOpenParams>();
  c->paused = paused;
  c->requestNumber = requestNumber;
  c->accessor = std::move(accessor);
  c->document = std::move(document);
  c->position = position;
  return c;
}

TSlideData::TSlideData(TSlideSet s) : set(std::move(s)) {
  if (set.size() > 3) AssertFailed("TLumEngine", "more than three slides in a set");
}

TCustomLumEngine::TCustomLumEngine() : channel_(std::make_shared<TEngineChannel>()) {
  channel_->deliver = [this](TLumEventData& e) { Deliver(e); };
}

TCustomLumEngine::~TCustomLumEngine() {
  std::lock_guard g(channel_->lock);
  channel_->deliver = nullptr;
}

void TCustomLumEngine::PostEvent(TRef<TLumEventData> e) {
  std::shared_ptr<TEngineChannel> ch = channel_;
  TWindowThread::Post([ch, e] {
    std::function<void(TLumEventData&)> deliver;
    {
      std::lock_guard g(ch->lock);
      deliver = ch->deliver;
    }
    if (deliver) deliver(*e);
  });
}

void TCustomLumEngine::Deliver(TLumEventData& e) {
  if (e.code == kEventFirstFrame) {
    if (onFirstFrame) onFirstFrame(e);
  } else if (e.code == kEventPosition) {
    if (e.ints.size() >= 4 && e.ints[0] == requestNumber_.load() && onPosition)
      onPosition(int(e.ints[0]), e.ints[1], e.ints[2], e.ints[3] != 0);
  } else if (onEvent) {
    onEvent(e);
  }
}

// ---- engine ----

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
  if (!active_ || !music_) return clockBase_;
  return interpolator_.Next(music_->Position() - clockBase_);
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
  slideSet_.clear();
  root_.TakeSlides({}, 0);
  ResetOverlay(false);
  source_ = std::move(fresh);
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
  {
    std::lock_guard g(statsLock_);
    intervalCount_ = 0;
    intervalMean_ = intervalM2_ = 0;
    lastFrameActive_ = false;
  }
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

// ---- drawing ----

bool TLumEngine::DrawFrame(bool forced, bool capture) {
  const double x = timing_.current.load();
  if (!root_.TakeSlides(slideSet_, x, overlay_.Get())) return false;
  if (!forced && !capture && !root_.Changed()) {
    // A still picture is not redrawn; the pause says nothing about pacing.
    frameSkipped_ = true;
    return false;
  }
  T3DDrawer* drawer = draw_.Drawer();
  if (!drawer || !loader_ || !source_) return false;
  if (lastPointer_ && root_.Current() && root_.Current()->slide &&
      !(overlay_ && overlay_->Hovered())) {
    std::optional<TLumActionInfo> none;
    TLumObject* o = root_.Current()->slide->PointerInput(lastPointer_->first, lastPointer_->second, 0,
                                                         kPointerMove, &none);
    std::lock_guard g(statsLock_);
    hover_ = o && !o->ActionText().empty();
    hoverClass_ = hover_ ? o->ClassName() : "";
  }
  return RenderRoot(capture, true);
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
    ++emptyFrames_;
    return true;
  }
  frameDrawn_ = true;
  if (!capture) NoteFrame();
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

void TLumEngine::Pointer(const TMouseData& m) {
  lastPointer_ = std::make_pair(m.x, m.y);
  std::optional<TLumActionInfo> action;
  const int type = m.type == kMouseEventDown ? kPointerPress
                   : m.type == kMouseEventUp ? kPointerRelease
                                             : kPointerMove;
  // The panel and dialogs lie above the slides and see the pointer first.
  const bool left = m.type != kMouseEventDown || m.button == kPointerLeft;
  if (overlay_ && left && overlay_->Pointer(m.x, m.y, type, &action)) {
    {
      std::lock_guard g(statsLock_);
      hover_ = overlay_->Hovered();
      hoverClass_ = hover_ ? kNavPanelHoverClass : "";
    }
    if (action) RunAction(*action);
    return;
  }
  if (root_.Current() && root_.Current()->slide) {
    // The buttons held, as the slide reads them: only the left one presses
    // slide buttons; the others are left to the mouse options.
    const uint32_t held = m.type != kMouseEventDown ? 0
                          : m.button == kPointerLeft ? kLeftButton
                          : m.button == kPointerRight ? kRightButtonHeld
                                                      : kMiddleButtonHeld;
    TLumObject* o = root_.Current()->slide->PointerInput(m.x, m.y, held, type, &action);
    std::lock_guard g(statsLock_);
    hover_ = o && !o->ActionText().empty();
    hoverClass_ = hover_ ? o->ClassName() : "";
  }
  if (action && action->type != kActionNone)
    RunAction(*action);
  else if (m.defaultAction)
    RunAction(*m.defaultAction);
}

void TLumEngine::Key(const TKeyData& k) {
  if (overlay_ && overlay_->OpenDialogs() > 0) {
    if (k.key == vk::kEscape)
      overlay_->CloseTopDialog();
    else if (k.key == vk::kF1)
      RunAction(k.action);
    return;
  }
  RunAction(k.action);
  if (k.continues) halted_ = false;
}

bool TLumEngine::RouteToOverlay(const TLumActionInfo& a) {
  switch (a.type) {
    case kActionHelp:
      overlay_->ToggleDialog("help");
      return true;
    case kActionOpenDialog:
      overlay_->ToggleDialog(a.textArg);
      return true;
    case kActionCloseDialog:
      return overlay_->CloseTopDialog();
    case kActionPrevSlide:
    case kActionNextSlide:
    case kActionGotoSlide:
    case kActionRunPresentation:
      // Moving the show on closes what holds it.
      overlay_->ClosePausingDialogs();
      return false;
    default:
      return false;
  }
}

void TLumEngine::RunAction(const TLumActionInfo& a) {
  if (a.type == kActionNone) return;
  if (overlay_ && RouteToOverlay(a)) return;
  auto e = MakeRef<TLumEventData>();
  e->code = kEventAction;
  e->ints = {a.type, a.intArg};
  e->text = a.textArg;
  PostEvent(e);
}

// ---- figures ----

void TLumEngine::NoteFrame() {
  ++framesDrawn_;
  std::lock_guard g(statsLock_);
  const double now = NowMs();
  frameTicks_.push_back(now);
  auto old = std::find_if(frameTicks_.begin(), frameTicks_.end(),
                          [&](double t) { return t >= now - 1000; });
  frameTicks_.erase(frameTicks_.begin(), old);
  // Only frames drawn back to back while the clock runs show the pacing.
  if (active_ && lastFrameActive_ && !frameSkipped_) {
    const double d = now - lastFrameTick_;
    ++intervalCount_;
    const double delta = d - intervalMean_;
    intervalMean_ += delta / double(intervalCount_);
    intervalM2_ += delta * (d - intervalMean_);
  }
  lastFrameActive_ = active_;
  lastFrameTick_ = now;
  frameSkipped_ = false;
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
  s.framesDrawn = framesDrawn_.load();
  s.emptyFrames = emptyFrames_.load();
  std::lock_guard g(statsLock_);
  s.hover = hover_;
  s.hoverClass = hoverClass_;
  s.dialogs = openDialogs_.load();
  s.intervals = intervalCount_;
  s.intervalMean = intervalMean_;
  s.intervalStdDevAll = intervalCount_ > 1 ? std::sqrt(intervalM2_ / double(intervalCount_ - 1)) : 0;
  const size_t n = frameTicks_.size();
  if (n >= 2 && NowMs() - frameTicks_.back() < 200) {
    s.fps = (n - 1) * 1000.0 / (frameTicks_.back() - frameTicks_.front());
    double mean = (frameTicks_.back() - frameTicks_.front()) / (n - 1), sq = 0;
    for (size_t i = 1; i < n; ++i) sq += std::pow(frameTicks_[i] - frameTicks_[i - 1] - mean, 2);
    s.intervalStdDev = std::sqrt(sq / (n - 1));
  }
  return s;
}

}  // namespace lum
