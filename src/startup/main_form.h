#pragma once
// The player's main window: opens a show and hands it to the viewer, turns
// keys, clicks and the wheel into actions through the show's input mapping,
// and carries out the actions the viewer passes up.
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "engine/input_mapping.h"
#include "engine/show_viewer.h"
#include "project/show_options.h"
#include "startup/command_runner.h"
#include "startup/display_awake.h"
#include "startup/mouse_monitor.h"
#include "toolkit/window.h"
#include "ui/consent_dialog.h"

struct SDL_Cursor;

namespace lum {

class TLumShowLocator;

// What the player was asked for on its command line.
struct TPlayerOptions {
  std::string show;              // empty: the program's own show, else the demo
  bool folderMode = false;       // "filename": show is a project document on disk
  std::optional<int64_t> slide;  // "slide": 1-based start slide
  std::optional<int64_t> time;   // "time": start at this show time + 1 ms
  TViewerOptions viewer;
  bool hidden = false;           // never show the window (measurements)
  bool startupMode = false;      // raw token "-startup": Enter ends with code 1
  bool screenSaverRun = false;   // raw token "/s" or "/S"
  bool otherCopyRunning = false; // the instance lock is held by another process
  bool allowPrograms = false;    // "-allowprograms": programs start without asking (kiosks)
};

// What the main window asks of the world outside the show; tests replace
// these to observe without spawning programs or opening windows.
struct TMainFormHooks {
  // Starts the programs of run actions and xdg-open for addresses.
  TSpawnFunction spawn = SpawnDetached;
  // Asks for a show's password: the text typed, nothing on cancel. May throw.
  std::function<std::optional<std::string>(const TIniFile& document)> askPassword;
  // Shows a message box to the user.
  std::function<void(const std::string& caption, const std::string& text)> showMessage;
  // Asks whether the show may start these programs; without it none starts.
  std::function<TConsentAnswer(const std::vector<TConsentItem>& items)> askConsent;
};

inline constexpr const char* kErrorCaption = "Slideshow Error";

// The most shows kept to return to; opening more forgets the oldest.
inline constexpr size_t kReturnStackLimit = 100;

// How the last attempt to open a show ended.
enum class TOpenOutcome : uint8_t {
  Opened,
  Failed,     // the show cannot be played: the message says why
  Declined,   // a screen saver not asked to run: the program ends quietly
  Cancelled,  // the password prompt was cancelled or could not be shown
};

// What the control socket reports.
struct TPlayerStatus {
  TEngineStatus engine;
  int windowWidth = 0, windowHeight = 0;
  bool fullScreen = false;
  std::string show;
  int64_t endReports = 0;  // positions with the ended flag since the show opened
  size_t returnStack = 0;  // shows to come back to
  std::vector<std::string> messages;  // messages shown to the user, oldest first
  bool cursorHidden = false;
  bool muted = false;  // by the player's mute key
};

class TMainForm {
 public:
  // On the window thread; throws ELumError when the window cannot be made.
  explicit TMainForm(TPlayerOptions options);
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Opens a show (container, show executable, bundle or project document;
  // folderMode: a project document only) at the start asked for: a valid
  // slide wins over a time. False with the user's message on failure (a
  // wrong password included), and with an empty message when the show
  // quietly declined or the password prompt was cancelled (LastOpenOutcome
  // tells which); the show playing before stays.
  bool OpenShow(const std::string& path, std::optional<int64_t> slide,
                std::optional<int64_t> time, std::string& message, bool folderMode = false);
  TOpenOutcome LastOpenOutcome() const { return lastOpen_; }
  // Opens the show a command line names (open-show actions, the return
  // stack); with returnHere the show playing now is pushed to come back to.
  // Messages go to the user; false when nothing changed.
  bool OpenOtherShow(const std::string& commandLine, bool returnHere);
  // The replaceable parts; set before the first show opens.
  TMainFormHooks& Hooks() { return hooks_; }
  // Carries out an action the viewer passed up.
  void Execute(const TLumActionInfo& a);
  // The action text as a slide button's action would run: through the
  // engine, so that dialogs, help and print act as they do on a click.
  // Dropped while a modal box is open.
  void RunActionText(const std::string& text);
  // Keys go through the engine while it runs: an open show dialog takes
  // every key but Escape (which closes it) and F1, in the order they came.
  void Key(uint16_t vk, uint32_t mods, bool down);
  // A pointer event at a window pixel (type kMouseEvent*).
  void Pointer(int x, int y, TMouseButton button, uint8_t type, uint32_t mods);
  // The pointer moved over the window: the pointer watcher sees it too.
  void PointerMoved(int x, int y, uint32_t mods);
  // Whole notches of 120 units; towards the user (negative) is forward.
  void Wheel(int delta120, uint32_t mods);
  void SetPause(bool paused);
  void Seek(double position);
  // Asks for the frame now shown; done gets the image (null when none came).
  void Capture(std::function<void(TRef<TBitmap>)> done);
  // The window's close request: runs the run-on-exit rule and the return
  // stack, then ends the program unless they opened a show. False when the
  // window stays.
  bool Close(int exitCode = 0);
  // Ends the program without the run-on-exit rule (start-up failures).
  void Quit(int exitCode);
  // Modal system dialogs open over the window: input and closing wait.
  int ModalCount() const;

  bool Closed() const { return closed_; }
  int ExitCode() const { return exitCode_; }
  TPlayerStatus Status() const;
  TLumShowViewer& Viewer() { return *viewer_; }
  // The player's own keys (full screen, mute, volume, screenshot) for keys
  // the show's map leaves free, where the show permits control and never in
  // screen-saver mode; true when the key was one of them.
  bool PlayerKey(uint16_t code, uint32_t mods);
  // Mutes the show's sound, or gives it back its level.
  void SetMuted(bool on);
  // The longest frame interval since the last call (ms; 0 without a show).
  double TakeMaxFrameInterval();
  TWindow& Window() { return *window_; }
  // The open show and its slide times (media controls); null before one opened.
  const TLumShowLocator* Show() const { return show_.get(); }
  const TLumSource* ShowTimes() const { return times_.get(); }

 private:
  void Listen();
  double SlideTime(int64_t index) const;
  void PreviousSlide();
  void NextSlide();
  void GotoSlide(const TLumActionInfo& a);
  void ImageArrived(TRef<TBitmap> image);
  // The print dialog for the slide at the position, the show paused meanwhile.
  void Print(TRef<TBitmap> frame);
  void ShowEnded();
  void ShowMessage(const std::string& text, const std::string& caption = kErrorCaption);
  // Opened, or why not (Failed: a wrong password).
  TOpenOutcome PasswordAccepted(const TIniFile& document);
  bool MayRun(const TLumSource& source) const;
  void ApplyWindowOptions();
  void WatchPointer();
  void PointerTick();
  // The pointer rests on the show's navigation panel.
  bool OverNavPanel() const;
  // The window appears once the show has its first frame (or, failing
  // that, a while after the show opened), at its final place and size.
  void ShowWindow();
  void UpdateCursor();
  void RecordShowExecutable(bool folderMode);
  void RunCommands(const std::string& text);
  void RunAndClose(const std::string& text);
  TCommandRunner Runner();
  bool Consent(const std::vector<TLaunch>& launches);
  const std::string& ShowHash();
  void Report(const TRunResult& result);
  std::string OtherShowPath(const std::string& given) const;
  std::string CurrentOrShowFolder() const;
  bool OtherShowUsable(const std::string& path);
  void PushReturn(std::string commandLine);
  void RunOnExit(bool& opened);

  TPlayerOptions options_;
  std::unique_ptr<TWindow> window_;
  std::unique_ptr<TLumShowViewer> viewer_;
  std::unique_ptr<TLumShowLocator> show_;
  std::unique_ptr<TLumSource> times_;  // the open show's slide times, for navigation
  std::unique_ptr<TInputMappingClass> input_;
  bool muted_ = false;
  float volumeBeforeMute_ = 1;
  std::vector<std::function<void(TRef<TBitmap>)>> captures_;
  TMainFormHooks hooks_;
  TMouseMonitor monitor_;
  TDisplayAwake awake_;  // held while a show plays
  SDL_Cursor* hand_ = nullptr;
  std::jthread pointerTicks_;
  // Cleared when the form goes, so timer requests still queued do nothing.
  std::shared_ptr<TMainForm*> self_;
  std::vector<std::string> returnStack_;  // command lines, latest last
  std::vector<std::string> messages_;
  std::string filenamePath_;  // "filename" of this run: opened in folder mode
  std::string showExe_;       // the current show's executable (return entries)
  std::string showFolder_;
  std::string showHash_;      // SHA-256 of the show's file, worked out when first needed
  int64_t createdTick_ = 0;
  int64_t openedTick_ = -1;  // when the first show opened
  bool shown_ = false;
  TOpenOutcome lastOpen_ = TOpenOutcome::Opened;
  int64_t endReports_ = 0;
  bool wheelEnabled_ = true;
  bool closing_ = false;
  bool cursorHidden_ = false;
  bool exitRequested_ = false;
  bool endedAtLastSlide_ = false;
  bool closed_ = false;
  int exitCode_ = 0;
};

// The show lumviewer plays when none is named: the player's own appended
// show, else the bundled demo; empty when neither is there.
std::string DefaultShow(const std::string& executable);

}  // namespace lum
