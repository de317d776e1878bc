#include "startup/main_form.h"

#include <filesystem>

#include <SDL.h>

#include "container/container_path.h"
#include "container/disk_path.h"
#include "container/lum_show_locator.h"
#include "foundation/case_fold.h"
#include "foundation/paths.h"
#include "imaging/color_management.h"
#include "startup/commands_storage.h"
#include "ui/third_slide.h"
#include "ui/system_dialog.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "project/lum_source.h"
#include "render/render_backends.h"

namespace lum {

namespace {

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

double TMainForm::TakeMaxFrameInterval() {
  TLumEngine* e = viewer_->Engine();
  return e ? e->TakeMaxFrameInterval() : 0;
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
  s.muted = muted_;
  s.endReports = endReports_;
  s.returnStack = returnStack_.size();
  s.messages = messages_;
  s.cursorHidden = cursorHidden_;
  return s;
}

}  // namespace lum
