#include "startup/main_form.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <filesystem>

#include <SDL.h>

#include "container/container_path.h"
#include "container/disk_path.h"
#include "container/lum_show_locator.h"
#include "foundation/case_fold.h"
#include "foundation/paths.h"
#include "imaging/color_management.h"
#include "startup/commands_storage.h"
#include "startup/trusted_programs.h"
#include "ui/print_dialog.h"
#include "ui/third_slide.h"
#include "ui/system_dialog.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "foundation/sha256.h"
#include "project/lum_source.h"
#include "render/render_backends.h"

namespace lum {

namespace {

// Pointer events this soon after the window appeared are the click that
// started the player, not meant for the show.
constexpr int64_t kPointerGraceMs = 1000;
constexpr double kWheelStepMs = 700;
// How often the pointer watcher checks the idle time.
constexpr int kPointerTickMs = 100;
// A pointer position outside every object of any slide.
constexpr int kOutside = -1000000;
// A show whose first frame is this late gets its window all the same.
constexpr int64_t kShowWindowAfterMs = 2000;

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

TWindowOptions WindowOptionsFor() {
  TWindowOptions w;
  w.mode = TWindowMode::Borderless;
  w.width = 640;
  w.height = 480;
  w.title = "LumViewer";
  // Shown once the show has placed it: no window that appears and jumps.
  w.hidden = true;
  return w;
}

bool ShowContainerExists(const std::string& path) {
  for (const std::string& c : TLumShowLocator::ContainerCandidates(path))
    if (FileExists(c)) return true;
  return false;
}

std::vector<std::string_view> Components(std::string_view folder) {
  std::vector<std::string_view> out;
  while (!folder.empty()) {
    const size_t slash = folder.find('/');
    const std::string_view part = folder.substr(0, slash);
    if (!part.empty() && part != ".") out.push_back(part);
    if (slash == std::string_view::npos) break;
    folder.remove_prefix(slash + 1);
  }
  return out;
}

// The folder "to" seen from folder "from" ("../Other/"), letter case ignored
// as the authoring machine's file system does.
std::string RelativeFolder(std::string_view to, std::string_view from) {
  const auto a = Components(to), b = Components(from);
  size_t common = 0;
  while (common < a.size() && common < b.size() && FoldedEquals(a[common], b[common])) ++common;
  std::string rel;
  for (size_t i = common; i < b.size(); ++i) rel += "../";
  for (size_t i = common; i < a.size(); ++i) rel += std::string(a[i]) + "/";
  return rel;
}

// A "slide" or "time" value that is a decimal number above 0.
std::optional<int64_t> PositiveValue(const TCommandsStorage& cmd, const std::string& name) {
  if (!cmd.HasSwitch(name)) return std::nullopt;
  const int64_t v = cmd.IntValue(name, 0, 0);
  return v >= 1 ? std::optional<int64_t>(v) : std::nullopt;
}

// Paths compare as absolute, normalised paths.
std::string NormalPath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
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
  // The run's project document opens in folder mode whenever it is named.
  if (options_.folderMode) filenamePath_ = NormalPath(options_.show);
  // Shows get their logo and navigation panel above the slides.
  InstallOverlay();
  TRef<T3DEngine> renderer = CreateRenderEngine();
  window_ = std::make_unique<TWindow>(WindowOptionsFor());
  createdTick_ = MsSinceStart();
  viewer_ = std::make_unique<TLumShowViewer>(*window_, options_.viewer, renderer);
  viewer_->onAction = [this](const TLumActionInfo& a) { Execute(a); };
  // Slides may start programs: each start asks the user first.
  viewer_->SetRunAppEnabled(true);
  viewer_->onImage = [this](TRef<TBitmap> image) { ImageArrived(std::move(image)); };
  viewer_->onPosition = [this](int64_t, bool ended) {
    if (ended) ShowEnded();
  };
  viewer_->onFirstFrame = [this] { ShowWindow(); };
  Listen();
  WatchPointer();
}

TMainForm::~TMainForm() {
  pointerTicks_ = {};  // stops and joins
  *self_ = nullptr;
  if (hand_) SDL_FreeCursor(hand_);
  SDL_ShowCursor(SDL_ENABLE);
  ImageArrived(nullptr);
  viewer_.reset();
  window_.reset();
}

// The pointer watcher checks the idle time while the form lives; a small
// thread hands each check to the window thread.
void TMainForm::WatchPointer() {
  self_ = std::make_shared<TMainForm*>(this);
  monitor_.onHidden = [this](bool hidden) {
    cursorHidden_ = hidden;
    SDL_ShowCursor(hidden ? SDL_DISABLE : SDL_ENABLE);
  };
  std::weak_ptr<TMainForm*> form = self_;
  pointerTicks_ = std::jthread([form](std::stop_token stop) {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    for (;;) {
      cv.wait_for(lock, stop, std::chrono::milliseconds(kPointerTickMs), [] { return false; });
      if (stop.stop_requested()) return;
      TWindowThread::Post([form] {
        if (auto alive = form.lock(); alive && *alive) (*alive)->PointerTick();
      });
    }
  });
}

void TMainForm::PointerTick() {
  if (!shown_ && openedTick_ >= 0 && MsSinceStart() - openedTick_ > kShowWindowAfterMs)
    ShowWindow();
  if (monitor_.Inside()) {
    // The cursor stays while the pointer rests on the panel.
    if (OverNavPanel())
      monitor_.RestartIdle();
    else
      monitor_.Poll();
  }
  UpdateCursor();
  awake_.Update(show_ && times_ && !times_->ScreenSaver() && !viewer_->Paused() &&
                !viewer_->Ended());
}

bool TMainForm::OverNavPanel() const {
  TLumEngine* engine = viewer_->Engine();
  if (!engine) return false;
  const TEngineStatus s = engine->Status();
  return s.hover && s.hoverClass == kNavPanelHoverClass;
}

void TMainForm::ShowWindow() {
  if (shown_ || options_.hidden) return;
  shown_ = true;
  Log().Line("TMainForm: window shown");
  // Start-up mode asks to come to the front; window managers may refuse.
  window_->Show(options_.startupMode);
}

// A hand over objects that act when clicked; skinned buttons show their own
// hover look instead.
void TMainForm::UpdateCursor() {
  TLumEngine* engine = viewer_->Engine();
  if (!engine || cursorHidden_) return;
  const TEngineStatus s = engine->Status();
  const bool hand = s.hover && s.hoverClass != "TLumButton";
  if (hand && !hand_) hand_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);
  SDL_SetCursor(hand && hand_ ? hand_ : SDL_GetDefaultCursor());
}

void TMainForm::Listen() {
  TWindowListener& l = window_->Listener();
  l.key = [this](uint16_t vk, uint32_t mods, bool down, bool) { Key(vk, mods, down); };
  l.mouseMove = [this](int x, int y, uint32_t mods) { PointerMoved(x, y, mods); };
  l.pointerInside = [this](bool inside) {
    if (inside) return;
    monitor_.PointerLeft();
    // Out of the window is outside every object.
    Pointer(kOutside, kOutside, TMouseButton::None, kMouseEventMove, 0);
  };
  l.mouseButton = [this](TMouseButton b, bool down, bool dbl, int x, int y, uint32_t mods) {
    Pointer(x, y, b, dbl ? kMouseEventDouble : down ? kMouseEventDown : kMouseEventUp, mods);
  };
  l.wheel = [this](int delta, uint32_t mods) { Wheel(delta, mods); };
  l.close = [this] { Close(0); };
}

bool TMainForm::OpenShow(const std::string& path, std::optional<int64_t> slide,
                         std::optional<int64_t> time, std::string& message, bool folderMode) {
  const bool wasPaused = viewer_->Paused();
  viewer_->SetPause(true);
  std::unique_ptr<TLumShowLocator> loc =
      folderMode ? TLumShowLocator::OpenProjectFile(ToPosixSeparators(path), message)
                 : TLumShowLocator::OpenAny(path, message);
  std::unique_ptr<TLumSource> times;
  if (loc) {
    try {
      TLumSourceSettings settings;
      settings.hostPath = loc->Path();
      times = std::make_unique<TLumSource>(loc->Accessor(), loc->Document(), settings);
      if (times->SlideCount() == 0) throw ELumError("the show has no slides");
    } catch (const std::exception& e) {
      message = e.what();
      loc.reset();
    }
  }
  lastOpen_ = loc ? TOpenOutcome::Opened : TOpenOutcome::Failed;
  // A show that declines quietly leaves no message.
  if (loc && !MayRun(*times)) lastOpen_ = TOpenOutcome::Declined;
  if (lastOpen_ == TOpenOutcome::Opened) lastOpen_ = PasswordAccepted(loc->Document());
  if (lastOpen_ == TOpenOutcome::Failed && loc) message = "Wrong password:\r\"" + path + "\"";
  if (lastOpen_ == TOpenOutcome::Declined || lastOpen_ == TOpenOutcome::Cancelled) message.clear();
  if (lastOpen_ != TOpenOutcome::Opened) {
    viewer_->SetPause(wasPaused);
    return false;
  }
  times_ = std::move(times);
  show_ = std::move(loc);
  showHash_.clear();
  endReports_ = 0;
  endedAtLastSlide_ = false;
  exitRequested_ = false;
  input_ = std::make_unique<TInputMappingClass>(show_->Document());
  ColorManagement().Apply(show_->Document());
  ApplyWindowOptions();
  viewer_->OpenShow(show_->Accessor(), show_->Document(), 0);
  // A time counts only without a slide.
  if (slide && *slide >= 1) {
    if (*slide >= 2) viewer_->Seek(SlideTime(*slide - 1));
  } else if (time && *time >= 1) {
    viewer_->Seek(double(*time - 1));
  }
  viewer_->SetPause(false);
  RecordShowExecutable(folderMode);
  if (openedTick_ < 0) openedTick_ = MsSinceStart();
  return true;
}

void TMainForm::RecordShowExecutable(bool folderMode) {
  showExe_ = show_->Path();
  const std::string exefn = ReadString(show_->Document().Section("Main"), "opt_exefn", "");
  if (folderMode && !exefn.empty()) {
    TReplacePair::Set({exefn, show_->Path()});
    showExe_ = exefn;
  }
  showFolder_ = std::string(ExtractFilePath(show_->Path()));
}

void TMainForm::ApplyWindowOptions() {
  const TIniList* main = show_->Document().Section("Main");
  wheelEnabled_ = !ReadBool(main, "opt_lockwheel", false);
  window_->SetTitle(ReadString(main, "opt_scr_caption", "LumViewer v5.6"));
  switch (ReadInteger(main, "opt_hidecursor", 0)) {
    case 1:
      monitor_.SetHiddenAlways();
      break;
    case 2:
      monitor_.SetHideInterval(int64_t(ReadFloat(main, "opt_hc2_hideinterval", 0) * 1000));
      break;
    default:
      monitor_.SetHideInterval(0);
      if (cursorHidden_) monitor_.onHidden(false);
      break;
  }
}

bool TMainForm::MayRun(const TLumSource& source) const {
  if (source.ScreenSaver()) {
    // Configure and preview calls of a screen saver end quietly.
    if (!options_.screenSaverRun || options_.otherCopyRunning) {
      Log().Line("TMainForm: screen saver not run (" +
                 std::string(options_.screenSaverRun ? "another copy runs" : "no /s") + ")");
      return false;
    }
    Log().Line("TMainForm: screen saver running");
    return true;
  }
  // A show keeps the display awake while it plays (PointerTick).
  return true;
}

TOpenOutcome TMainForm::PasswordAccepted(const TIniFile& document) {
  if (!ShowPasswordRequired(document)) return TOpenOutcome::Opened;
  if (!hooks_.askPassword) return TOpenOutcome::Cancelled;
  std::optional<std::string> typed;
  try {
    typed = hooks_.askPassword(document);
  } catch (const std::exception& e) {
    // A prompt that failed proves nothing: the show stays closed.
    Log().Line(std::string("TMainForm: password prompt failed (") + e.what() + ")");
    return TOpenOutcome::Cancelled;
  }
  if (!typed) return TOpenOutcome::Cancelled;
  if (ShowPasswordMatches(document, *typed)) return TOpenOutcome::Opened;
  Log().Line("TMainForm: wrong password");
  return TOpenOutcome::Failed;
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
  if (ModalCount() > 0 || !input_ || !down) return;
  if (options_.startupMode && code == vk::kReturn) {
    TLumActionInfo end;
    end.type = kActionCloseDialog;
    return Execute(end);
  }
  TLumActionInfo a;
  if (const TKeyMap* k = input_->Key(mods, code, kKeyEventDown)) a = k->Action();
  const bool continues = !input_->ControlPermitted() && ContinuesWaitingShow(code);
  // The engine knows which dialogs are open when the key reaches it.
  if (viewer_->Key(code, a, continues)) return;
  if (a.type == kActionHelp)
    viewer_->Help();
  else
    Execute(a);
  TLumEngine* engine = viewer_->Engine();
  if (continues && engine && engine->Waiting()) engine->Continue();
}

void TMainForm::PointerMoved(int x, int y, uint32_t mods) {
  monitor_.PointerAt(x, y, true);
  Pointer(x, y, TMouseButton::None, kMouseEventMove, mods);
  UpdateCursor();
}

void TMainForm::Pointer(int x, int y, TMouseButton button, uint8_t type, uint32_t mods) {
  if (ModalCount() > 0 || !input_ || MsSinceStart() - createdTick_ < kPointerGraceMs) return;
  const uint8_t code = PointerButtonCode(button);
  const bool down = type == kMouseEventDown || type == kMouseEventDouble;
  const TLumActionInfo a = input_->Mouse(down, x, y, type, code, MsSinceStart());
  auto event = MakeRef<TMouseData>();
  event->keys = uint8_t(mods);
  event->x = x;
  event->y = y;
  event->button = code;
  event->type = type;
  // With the cursor hidden the show's own objects are out of reach: only the
  // mouse options act.
  if (cursorHidden_ && a.type != kActionHelp) {
    if (a.type != kActionNone) Execute(a);
    return;
  }
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
  if (ModalCount() > 0) return;
  const TLumActionInfo a = ParseActionText(text);
  if (!viewer_->RunAction(a)) Execute(a);
}

void TMainForm::Execute(const TLumActionInfo& a) {
  if (ModalCount() > 0) return;
  TLumEngine* engine = viewer_->Engine();
  switch (a.type) {
    case kActionExit:
      exitRequested_ = true;
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
      exitRequested_ = true;
      Close(1);
      break;
    case kActionSeek:
      viewer_->Seek(a.intArg);
      break;
    case kActionPrint:
      Capture([this](TRef<TBitmap> frame) { Print(std::move(frame)); });
      break;
    case kActionOpenWebSite:
      Report(Runner().OpenWebPage(a.textArg));
      break;
    case kActionWriteEmail:
      Report(Runner().SendMail(a.textArg));
      break;
    case kActionRunApp:
      RunCommands(a.textArg);
      break;
    case kActionRunAppAndExit:
      RunAndClose(a.textArg);
      break;
    case kActionRunPresentation:
    case kActionRunPresentationAndReturn:
      OpenOtherShow(a.textArg, a.type == kActionRunPresentationAndReturn);
      break;
    default:
      // The show's dialogs live in the engine's overlay, which takes their
      // actions before they come here.
      Log().Line("TMainForm: action " + std::string(ActionTypeName(a.type)) + " not carried out");
      break;
  }
}

void TMainForm::RunCommands(const std::string& text) {
  if (!text.empty()) Report(Runner().RunCommandLines(text));
}

// The user is asked while the window is still there; the programs start
// once it has closed.
void TMainForm::RunAndClose(const std::string& text) {
  const TCommandRunner runner = Runner();
  const TRunPlan plan = runner.Plan(text);
  Report(plan.verdict);
  const bool run = plan.verdict.status != TRunResult::TStatus::Refused &&
                   !plan.launches.empty() && Consent(plan.launches);
  Close(0);
  if (run) runner.Launch(plan);
}

TCommandRunner TMainForm::Runner() {
  return TCommandRunner(showFolder_, hooks_.spawn,
                        [this](const std::vector<TLaunch>& launches) { return Consent(launches); });
}

// Kiosks trust every show; otherwise a show the user trusts always, or the
// user's answer now, with the show paused meanwhile.
bool TMainForm::Consent(const std::vector<TLaunch>& launches) {
  if (options_.allowPrograms) return true;
  const std::string path = show_ ? show_->Path() : std::string();
  const TTrustedPrograms trusted(TrustedProgramsPath());
  // Hashing a large show takes seconds: only when a trusted one could match.
  if (!trusted.Empty() && !ShowHash().empty() && trusted.Contains(ShowHash())) {
    Log().Line("TMainForm: programs of a trusted show: " + path);
    return true;
  }
  if (!hooks_.askConsent) return false;
  std::vector<TConsentItem> items;
  for (const TLaunch& l : launches) {
    const auto& argv = l.request.argv;
    items.push_back({l.request.file, {argv.begin() + (argv.empty() ? 0 : 1), argv.end()}});
  }
  const bool wasPaused = viewer_->Paused();
  viewer_->SetPause(true);
  TConsentAnswer answer;
  try {
    answer = hooks_.askConsent(items);
  } catch (const std::exception& e) {
    Log().Line(std::string("TMainForm: consent dialog failed (") + e.what() + ")");
  }
  viewer_->SetPause(wasPaused);
  if (answer.run && answer.always && !ShowHash().empty() && !trusted.Add(ShowHash(), path))
    Log().Line("TMainForm: cannot remember the show in " + trusted.Path());
  return answer.run;
}

const std::string& TMainForm::ShowHash() {
  if (showHash_.empty() && show_) showHash_ = FileSha256Hex(show_->Path());
  return showHash_;
}

void TMainForm::Report(const TRunResult& result) {
  if (result.status == TRunResult::TStatus::Refused) ShowMessage(result.message, "");
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

void TMainForm::Print(TRef<TBitmap> frame) {
  // Another dialog may have opened while the frame was on its way.
  if (!show_ || !times_ || closed_ || ModalCount() > 0) return;
  const int64_t count = times_->SlideCount();
  if (count <= 0) return;
  const int index = int(std::max<int64_t>(0, times_->SlideAt(double(viewer_->Position()))) % count);
  TSlidePictureSource source(show_->Accessor(), show_->Document(), index, std::move(frame));
  const bool wasPaused = viewer_->Paused();
  viewer_->SetPause(true);
  try {
    TLumPrintDialog(window_.get(), show_->Document(), source, index,
                    [this](const std::string& text) { ShowMessage(text, "Print"); })
        .Run();
  } catch (const std::exception& e) {
    Log().Line(std::string("TMainForm: print dialog failed (") + e.what() + ")");
  }
  viewer_->SetPause(wasPaused);
}

void TMainForm::ImageArrived(TRef<TBitmap> image) {
  // Every capture asked for so far gets the frame that came.
  auto waiting = std::move(captures_);
  captures_.clear();
  for (auto& done : waiting) done(image);
}

bool TMainForm::Close(int exitCode) {
  if (closed_ || closing_ || ModalCount() > 0) return false;
  closing_ = true;
  exitCode_ = exitCode;
  bool opened = false;
  if (show_) RunOnExit(opened);
  if (!opened && exitRequested_ && !returnStack_.empty()) {
    const std::string back = returnStack_.back();
    returnStack_.pop_back();
    opened = OpenOtherShow(back, false);
  }
  closing_ = false;
  if (opened) return false;
  Quit(exitCode);
  return true;
}

void TMainForm::RunOnExit(bool& opened) {
  const TIniList* main = show_->Document().Section("Main");
  int64_t mode = ReadInteger(main, "opt_runapponexit", 0);
  if (ReadBool(main, "opt_runapponexitiflastslide", true) && !endedAtLastSlide_) mode = 0;
  if (!exitRequested_) mode = 0;
  const std::string text = ReadString(main, "opt_runapponexitfn", "");
  if (mode <= 0 || text.empty()) return;
  Log().Line("TMainForm: run on exit (" + std::to_string(mode) + "): " + text);
  if (mode == 2)
    opened = OpenOtherShow(text, false);
  else
    RunCommands(text);
}

void TMainForm::Quit(int exitCode) {
  if (closed_) return;
  closed_ = true;
  exitCode_ = exitCode;
  TWindowThread::Quit();
}

void TMainForm::ShowEnded() {
  ++endReports_;
  if (!times_ || times_->EndBehaviour() != TEndBehaviour::Close) return;
  endedAtLastSlide_ = true;
  exitRequested_ = true;
  Close(0);
}

void TMainForm::ShowMessage(const std::string& text, const std::string& caption) {
  Log().Line("TMainForm: message: " + text);
  messages_.push_back(text);
  if (!hooks_.showMessage) return;
  TModalScope modal;
  try {
    hooks_.showMessage(caption, text);
  } catch (const std::exception& e) {
    Log().Line(std::string("TMainForm: message box failed (") + e.what() + ")");
  }
}

int TMainForm::ModalCount() const {
  return lum::ModalCount();
}

// ---- other shows ----

bool TMainForm::OpenOtherShow(const std::string& commandLine, bool returnHere) {
  const TCommandsStorage cmd(commandLine);
  std::string path = OtherShowPath(cmd.Value("", 0).value_or(""));
  if (path.empty()) return false;
  const bool folderMode = !filenamePath_.empty() && NormalPath(path) == filenamePath_;
  if (!folderMode && !OtherShowUsable(path)) return false;
  Log().Line("Open show: " + path);
  std::string entry;
  if (returnHere && show_) {
    const int64_t slide = times_ ? std::max<int64_t>(0, times_->SlideAt(viewer_->Position())) : 0;
    entry = "\"" + showExe_ + "\" -slide " + std::to_string(slide + 1);
  }
  const bool wasPaused = viewer_->Paused();
  std::string message;
  const std::optional<int64_t> time =
      cmd.HasSwitch("slide") ? std::nullopt : PositiveValue(cmd, "time");
  if (OpenShow(path, PositiveValue(cmd, "slide"), time, message, folderMode)) {
    if (!entry.empty()) PushReturn(std::move(entry));
    return true;
  }
  if (!message.empty()) ShowMessage(message);
  if (entry.empty() && !closing_) {
    exitRequested_ = true;
    Close(0);
  } else {
    viewer_->SetPause(wasPaused);
  }
  return false;
}

void TMainForm::PushReturn(std::string commandLine) {
  if (returnStack_.size() >= kReturnStackLimit) {
    Log().Line("TMainForm: return stack full, forgetting " + returnStack_.front());
    returnStack_.erase(returnStack_.begin());
  }
  returnStack_.push_back(std::move(commandLine));
}

// The file a show's open action names, found as the show was laid out when
// it was made: relative to where its executable was built, else beside the
// current show.
std::string TMainForm::OtherShowPath(const std::string& given) const {
  // A project opened in folder mode answers to its executable's name.
  if (!TReplacePair::Target(given).empty()) return given;
  const std::string posix = ToPosixSeparators(given);
  if (posix.empty()) return posix;
  const std::string path = posix[0] == '/' ? posix : ResolveAgainst(posix, CurrentOrShowFolder());
  if (ShowContainerExists(path) || !show_) return path;
  const std::string name(ExtractFileName(posix));
  const std::string exefn =
      ToPosixSeparators(ReadString(show_->Document().Section("Main"), "opt_exefn", ""));
  if (exefn.empty()) return path;
  const std::string moved = ResolveAgainst(
      RelativeFolder(ExtractFilePath(posix), ExtractFilePath(exefn)) + name, showFolder_);
  if (ShowContainerExists(moved)) return moved;
  const std::string beside = IncludeTrailingSlash(showFolder_) + name;
  if (ShowContainerExists(beside)) return beside;
  return path;
}

std::string TMainForm::CurrentOrShowFolder() const {
  return showFolder_.empty() ? CurrentFolder() : showFolder_;
}

bool TMainForm::OtherShowUsable(const std::string& path) {
  if (!TReplacePair::Target(path).empty()) return true;
  std::string version;
  bool ok = false;
  for (const std::string& candidate : TLumShowLocator::ContainerCandidates(path))
    if ((ok = TLumShowLocator::QuickCheck(candidate, &version))) break;
  if (!ok) {
    // A FIFO or device is there but never read: it is not a show.
    const bool there = FileExists(path) || SpecialFileExists(path);
    ShowMessage((there ? "Not LumShow Executable File or File Corrupted:\r"
                       : "LumShow File not Found:\r") +
                path);
    return false;
  }
  if (show_ && version != show_->LumVersion()) {
    ShowMessage("LumShow ExeFile Version Mismatch:\r" + path);
    return false;
  }
  return true;
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
  s.returnStack = returnStack_.size();
  s.messages = messages_;
  s.cursorHidden = cursorHidden_;
  return s;
}

}  // namespace lum
