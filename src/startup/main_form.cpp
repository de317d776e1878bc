#include "startup/main_form.h"

#include <cmath>
#include <filesystem>

#include "container/lum_show_locator.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "project/lum_source.h"
#include "render/gl/3d_engine_gl.h"

namespace lum {

namespace {

// Pointer events this soon after the window appeared are the click that
// started the player, not meant for the show.
constexpr int64_t kPointerGraceMs = 1000;
constexpr double kWheelStepMs = 700;

// Keys that let a show without navigation keys go on from a waiting slide.
bool ContinuesWaitingShow(uint16_t vk) {
  switch (vk) {
    case vk::kPause:
    case vk::kSpace:
    case vk::kNext:
    case vk::kRight:
    case vk::kBrowserForward:
    case vk::kMediaNextTrack:
    case vk::kMediaPlayPause:
      return true;
    default:
      return false;
  }
}

TWindowOptions WindowOptionsFor(const TPlayerOptions& o) {
  TWindowOptions w;
  w.mode = TWindowMode::Borderless;
  w.width = 640;
  w.height = 480;
  w.title = "LumViewer";
  w.hidden = o.hidden;
  return w;
}

}  // namespace

std::string DefaultShow(const std::string& executable) {
  namespace fs = std::filesystem;
  std::string version;
  if (!executable.empty() && TLumShowLocator::QuickCheck(executable, &version)) return executable;
  std::error_code ec;
  const fs::path dir = fs::path(executable).parent_path();
  const std::vector<fs::path> candidates = {
      dir / "demo.lumshow", dir / "../share/lumviewer/demo.lumshow",
#ifdef LUM_BUILD_DEMO_SHOW
      LUM_BUILD_DEMO_SHOW,
#endif
  };
  for (const fs::path& p : candidates)
    if (fs::is_regular_file(p, ec)) return p.lexically_normal().string();
  return {};
}

TMainForm::TMainForm(TPlayerOptions options) : options_(std::move(options)) {
  TRef<T3DEngine> renderer = CreateRenderEngine();
  window_ = std::make_unique<TWindow>(WindowOptionsFor(options_));
  createdTick_ = MsSinceStart();
  viewer_ = std::make_unique<TLumShowViewer>(*window_, options_.viewer, renderer);
  viewer_->onAction = [this](const TLumActionInfo& a) { Execute(a); };
  viewer_->onImage = [this](TRef<TBitmap> image) { ImageArrived(std::move(image)); };
  viewer_->onPosition = [this](int64_t, bool ended) {
    if (!ended) return;
    ++endReports_;
    if (times_ && times_->EndBehaviour() == TEndBehaviour::Close) Close(0);
  };
  Listen();
}

TMainForm::~TMainForm() {
  ImageArrived(nullptr);
  viewer_.reset();
  window_.reset();
}

void TMainForm::Listen() {
  TWindowListener& l = window_->Listener();
  l.key = [this](uint16_t vk, uint32_t mods, bool down, bool) { Key(vk, mods, down); };
  l.mouseMove = [this](int x, int y, uint32_t mods) {
    Pointer(x, y, TMouseButton::None, kMouseEventMove, mods);
  };
  l.mouseButton = [this](TMouseButton b, bool down, bool dbl, int x, int y, uint32_t mods) {
    Pointer(x, y, b, dbl ? kMouseEventDouble : down ? kMouseEventDown : kMouseEventUp, mods);
  };
  l.wheel = [this](int delta, uint32_t mods) { Wheel(delta, mods); };
  l.close = [this] { Close(0); };
}

bool TMainForm::OpenShow(const std::string& path, std::optional<int64_t> slide,
                         std::optional<int64_t> time, std::string& message) {
  const bool wasPaused = viewer_->Paused();
  viewer_->SetPause(true);
  std::unique_ptr<TLumShowLocator> loc = TLumShowLocator::OpenAny(path, message);
  std::unique_ptr<TLumSource> times;
  if (loc) {
    try {
      times = std::make_unique<TLumSource>(loc->Accessor(), loc->Document());
      if (times->SlideCount() == 0) throw ELumError("the show has no slides");
    } catch (const std::exception& e) {
      message = e.what();
      loc.reset();
    }
  }
  if (!loc) {
    viewer_->SetPause(wasPaused);
    return false;
  }
  times_ = std::move(times);
  show_ = std::move(loc);
  endReports_ = 0;
  input_ = std::make_unique<TInputMappingClass>(show_->Document());
  const TIniList* main = show_->Document().Section("main");
  wheelEnabled_ = !ReadBool(main, "opt_lockwheel", false);
  window_->SetTitle(ReadString(main, "opt_scr_caption", "LumViewer v5.6"));
  viewer_->OpenShow(show_->Accessor(), show_->Document(), 0);
  if (time && *time >= 1)
    viewer_->Seek(double(*time - 1));
  else if (slide && *slide >= 2)
    viewer_->Seek(SlideTime(*slide - 1));
  viewer_->SetPause(false);
  return true;
}

double TMainForm::SlideTime(int64_t index) const {
  if (!times_) return 0;
  const TLumSlideRecord r = times_->Slide(index);
  double t = std::round(r.start);
  const bool pastLast = index == times_->SlideCount() && !times_->Repeats();
  if (r.transitionIn == 0 && !pastLast) t += 1;
  return t;
}

void TMainForm::Key(uint16_t code, uint32_t mods, bool down) {
  if (!input_ || !down) return;
  if (const TKeyMap* k = input_->Key(mods, code, kKeyEventDown)) {
    const TLumActionInfo a = k->Action();
    if (a.type == kActionHelp)
      viewer_->Help();
    else
      Execute(a);
  }
  TLumEngine* engine = viewer_->Engine();
  if (!input_->ControlPermitted() && engine && engine->Waiting() && ContinuesWaitingShow(code))
    engine->Continue();
}

void TMainForm::Pointer(int x, int y, TMouseButton button, uint8_t type, uint32_t mods) {
  if (!input_ || MsSinceStart() - createdTick_ < kPointerGraceMs) return;
  const uint8_t code = PointerButtonCode(button);
  const bool down = type == kMouseEventDown || type == kMouseEventDouble;
  const TLumActionInfo a = input_->Mouse(down, x, y, type, code, MsSinceStart());
  auto event = MakeRef<TMouseData>();
  event->keys = uint8_t(mods);
  event->x = x;
  event->y = y;
  event->button = code;
  event->type = type;
  if (a.type != kActionNone) event->defaultAction = a;
  viewer_->Pointer(event);
}

void TMainForm::Wheel(int delta120, uint32_t mods) {
  if (!wheelEnabled_ || delta120 == 0 || !times_) return;
  const int notches = delta120 / 120;
  if (notches == 0) return;
  if ((mods & (kModCtrl | kModShift | kModAlt | kModWin)) == kModCtrl) {
    // Towards the user (negative delta) is forward.
    for (int i = 0; i < std::abs(notches); ++i) notches < 0 ? NextSlide() : PreviousSlide();
    return;
  }
  Seek(std::max(0.0, double(viewer_->Position()) - notches * kWheelStepMs));
}

void TMainForm::SetPause(bool paused) {
  viewer_->SetPause(paused);
}

void TMainForm::Seek(double position) {
  viewer_->Seek(position);
}

void TMainForm::RunActionText(const std::string& text) {
  Execute(ParseActionText(text));
}

void TMainForm::Execute(const TLumActionInfo& a) {
  TLumEngine* engine = viewer_->Engine();
  switch (a.type) {
    case kActionExit:
      Close(0);
      break;
    case kActionPrevSlide:
      PreviousSlide();
      break;
    case kActionNextSlide:
      if (engine && engine->Waiting())
        engine->Continue();
      else
        NextSlide();
      break;
    case kActionPause:
      if (engine && engine->Waiting())
        engine->Continue();
      else
        viewer_->SetPause(!viewer_->Paused());
      break;
    case kActionGotoSlide:
      GotoSlide(a);
      break;
    case kActionStop:
      viewer_->SeekAndPause(0, true);
      break;
    case kActionCloseDialog:
      Close(1);
      break;
    case kActionSeek:
      viewer_->Seek(a.intArg);
      break;
    default:
      // Web pages, programs, other shows, printing and dialogs come with the
      // program's full action set.
      Log().Line("TMainForm: action " + std::string(ActionTypeName(a.type)) + " not carried out");
      break;
  }
}

void TMainForm::PreviousSlide() {
  if (!times_) return;
  const double p = double(viewer_->Position());
  int64_t k = std::max<int64_t>(0, times_->SlideAt(p));
  double target = 0;
  if (p < times_->Slide(k).end && k < 2) {
    target = 0;
  } else {
    if (p < times_->Slide(k).end) --k;
    const TLumSlideRecord r = times_->Slide(k);
    target = std::round(r.start + r.transitionIn);
    if (p - target < 500) {
      const TLumSlideRecord q = times_->Slide(k - 1);
      target = k <= 1 ? 0 : std::round(q.start + q.transitionIn);
    }
  }
  viewer_->Seek(std::max(0.0, target));
}

void TMainForm::NextSlide() {
  if (!times_) return;
  const double p = double(viewer_->Position());
  const int64_t n = times_->SlideCount();
  const int64_t from = std::max<int64_t>(0, times_->SlideAt(p)) + 1;
  for (int64_t i = from; i <= from + n; ++i) {
    if (!times_->Repeats() && i >= n) return;
    const TLumSlideRecord r = times_->Slide(i);
    if (std::round(r.start) <= p) continue;
    double target = r.start;
    if (r.transitionIn == 0)
      target += 1;
    else if (viewer_->Paused())
      target += r.transitionIn;
    viewer_->Seek(target);
    return;
  }
}

void TMainForm::GotoSlide(const TLumActionInfo& a) {
  if (!times_) return;
  int64_t index = 0;
  if (a.intArg == -1) {
    for (int32_t i = 0; i < times_->SlideCount(); ++i)
      if (times_->Slide(i).name == a.textArg) {
        index = i;
        break;
      }
  } else {
    index = a.intArg <= 1 ? 0 : a.intArg - 1;
  }
  viewer_->Seek(SlideTime(index));
}

void TMainForm::Capture(std::function<void(TRef<TBitmap>)> done) {
  if (!viewer_->Capture()) {
    done(nullptr);
    return;
  }
  captures_.push_back(std::move(done));
}

void TMainForm::ImageArrived(TRef<TBitmap> image) {
  // Every capture asked for so far gets the frame that came.
  auto waiting = std::move(captures_);
  captures_.clear();
  for (auto& done : waiting) done(image);
}

void TMainForm::Close(int exitCode) {
  if (closed_) return;
  closed_ = true;
  exitCode_ = exitCode;
  TWindowThread::Quit();
}

TPlayerStatus TMainForm::Status() const {
  TPlayerStatus s;
  if (TLumEngine* e = viewer_->Engine()) s.engine = e->Status();
  s.engine.paused = viewer_->Paused();
  const TScreenRect r = window_->ClientRect();
  s.windowWidth = r.Width();
  s.windowHeight = r.Height();
  s.fullScreen = window_->FullScreen();
  s.show = show_ ? show_->Path() : std::string();
  s.endReports = endReports_;
  return s;
}

}  // namespace lum
