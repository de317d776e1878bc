#pragma once
// The playback engine: a worker thread per window that owns the show clock,
// keeps the slide loader ahead of the play position, decides every loop
// whether the show may run, draws the frame, keeps the music in step, stops
// at slides that wait, repeats or ends the show and fires slide actions. The
// window thread reaches it only through its inbound queue; it answers with
// events delivered on the window thread.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "container/file_accessor.h"
#include "document/ini_file.h"
#include "engine/draw_controller.h"
#include "engine/engine_figures.h"
#include "engine/engine_status.h"
#include "engine/frame_interpolator.h"
#include "engine/input_mapping.h"
#include "engine/lum_thread.h"
#include "engine/overlay.h"
#include "engine/slide_loader.h"
#include "engine/stats_overlay.h"
#include "imaging/bitmap.h"
#include "project/lum_action_info.h"
#include "render/root_item.h"

namespace lum {

class TLumMusicPlayer;
class TLumSource;

// A notification of the engine to its viewer.
class TLumEventData : public TRefObject {
 public:
  int code = 0;
  std::vector<int64_t> ints;
  std::string text;
  TRef<TBitmap> image;  // code 14
};

// Notification codes.
inline constexpr int kEventFirstFrame = 1, kEventPosition = 2, kEventAction = 12,
                     kEventImage = 14, kEventWindowMode = 17;
// Request codes of the inbound queue.
inline constexpr int kRequestPointer = 11, kRequestCapture = 13, kRequestCloseDialog = 15,
                     kRequestHelp = 16, kRequestSlides = 101, kRequestOpen = 102,
                     kRequestPause = 103, kRequestKey = 104, kRequestAction = 105;

class TOpenParams : public TRefObject {
 public:
  bool paused = true;
  int requestNumber = 0;
  TRef<TFileAccessor> accessor;
  std::unique_ptr<TIniFile> document;  // empty: set the position only
  double position = 0;
  // Moves the accessor and the document into the clone.
  TRef<TOpenParams> Clone();
};

class TModeData : public TRefObject {
 public:
  explicit TModeData(bool p) : paused(p) {}
  bool paused;
};

class TMouseData : public TRefObject {
 public:
  uint8_t keys = 0;  // modifier and button state
  int x = 0, y = 0;
  uint8_t button = 0;  // 1 left, 4 right
  uint8_t type = kPointerMove;
  std::optional<TLumActionInfo> defaultAction;
};

// A key pressed in the window, with what the show's key map made of it.
// The engine decides whether an open dialog takes it, in the order keys
// and dialog requests arrived.
class TKeyData : public TRefObject {
 public:
  uint16_t key = 0;  // virtual-key code
  TLumActionInfo action;
  // The key lets a show without navigation keys go on from a waiting slide.
  bool continues = false;
};

// An action run as a slide button's would be (dialogs and help included).
class TActionData : public TRefObject {
 public:
  explicit TActionData(TLumActionInfo a) : action(std::move(a)) {}
  TLumActionInfo action;
};

class TSlideData : public TRefObject {
 public:
  explicit TSlideData(TSlideSet s);
  TSlideSet set;
};

// The receiving end of an engine on the window thread; stays valid for
// events still queued after the engine is gone (they are dropped).
struct TEngineChannel {
  std::mutex lock;
  std::function<void(TLumEventData&)> deliver;  // null once the engine is gone
};

class TCustomLumEngine : public TLumThread {
 public:
  TCustomLumEngine();
  ~TCustomLumEngine() override;

  // Window thread callbacks.
  std::function<void(const TLumEventData&)> onFirstFrame;
  // Only positions of the request now in force arrive here.
  std::function<void(int request, int64_t position, int64_t duration, bool ended)> onPosition;
  std::function<void(const TLumEventData&)> onEvent;

  int RequestNumber() const { return requestNumber_.load(); }

 protected:
  // Queues an event for the window thread; never blocks.
  void PostEvent(TRef<TLumEventData> e);
  std::atomic<int> requestNumber_{0};

 private:
  void Deliver(TLumEventData& e);
  std::shared_ptr<TEngineChannel> channel_;
};

class TLumEngine : public TCustomLumEngine {
 public:
  // Created paused and without a show. device and engine are the window's.
  TLumEngine(TRef<TDrawDevice> device, TRef<T3DEngine> renderEngine);
  ~TLumEngine() override;

  // Direct operations (before the thread runs, or on the engine thread).
  void OpenShow(TRef<TFileAccessor> accessor, std::unique_ptr<TIniFile> document,
                double position);
  void SetVolume(float v) { volume_ = v; }
  void RunAction(const TLumActionInfo& a);
  void SetRunAppEnabled(bool on) { runAppEnabled_ = on; }
  void SetBackgroundOverride(std::optional<TColor> c) { backgroundOverride_ = c; }
  // The size of the screen the show plays on (full-screen shows ask for it).
  void SetScreenSize(int w, int h) { screenW_ = w, screenH_ = h; }

  // Window thread: a show halted at a waiting slide goes on.
  void Continue() { halted_ = false; }
  bool Waiting() const { return halted_.load(); }
  TEngineStatus Status() const;
  // The longest frame interval since the last call (ms), for the control socket.
  double TakeMaxFrameInterval() { return figures_.TakeMaxInterval(); }
  TLumDrawController& DrawController() { return draw_; }
  // Any thread: the playback figures over the show, for ms from now, or
  // until toggled off.
  void ShowStatsFor(double ms) { stats_.ShowFor(ms); }
  void ToggleStats() { stats_.Toggle(); }

 protected:
  void OnStart() override;
  void LoopBody() override;
  void OnEnd() override;
  void Handle(int code, TRefObject* data) override;

 private:
  struct TStop {
    bool found = false;
    int64_t slide = 0;
    double time = 0;
    double loopLength = 0;
  };
  struct TRunApp {
    int64_t slide = 0x7FFFFFFE;
    double time = 3.4e38;
    std::string file;
  };

  // Main loop steps.
  bool MayRun(uint32_t flags);
  void Reinitialise();
  void AdvanceClock();
  void CheckEnd();
  void CheckRunApp();
  void DrawStep(uint32_t flags);
  // Textures of the slides still to come reach the device a band at a time
  // between frames, so that no slide's first frame waits for them.
  void PrepareAhead();
  void Pace();
  void ReportPosition();

  double ShowTime();
  bool SetCovers(double x) const;
  bool SetDrawable(double x) const;
  bool MusicReady();
  void GoActive();
  void GoInactive();
  TStop FindStop(double x) const;
  TRunApp FindRunApp(double x) const;
  void OpenAt(double position, bool reopen);
  void TakeRequest(TRef<TOpenParams> p);
  void SetPause(bool paused);
  void ProcessPending();
  bool DrawFrame(bool forced, bool capture);
  // The background and the overlay without slides.
  void DrawEmptyFrame();
  // Draws the root as taken; slides: it holds the show's slides.
  bool RenderRoot(bool capture, bool slides);
  // Hands the playback figures of the moment to the stats panel.
  void UpdateStats(double now);
  void Capture();
  void Pointer(const TMouseData& m);
  // While a dialog is open only Escape (closes it) and F1 act.
  void Key(const TKeyData& k);
  // Actions the overlay carries out itself (dialogs); true when done with.
  bool RouteToOverlay(const TLumActionInfo& a);
  void UploadSlide(TDrawContainer& c, double position);
  // Drops the device objects of a slide that left the set.
  void ReleaseSlide(TDrawContainer& c);
  void StopLoader();
  // Makes the overlay of the open show (or none), dropping the old one.
  void ResetOverlay(bool make);

  std::atomic<bool> paused_{true};
  std::atomic<bool> active_{false};
  std::atomic<bool> halted_{false};
  std::atomic<bool> endReported_{false};
  double clockBase_ = 0;
  int64_t lastReported_ = 0x80000001;
  TRef<TOpenParams> pending_;
  TRef<TOpenParams> inProgress_;
  TFrameInterpolator interpolator_;
  TLumDrawController draw_;
  TRootItem root_;
  std::unique_ptr<TLumSource> source_;
  TRef<TOverlay> overlay_;  // above the slides; reads source_
  std::atomic<int> openDialogs_{0};
  std::unique_ptr<TLumSlideLoader> loader_;
  std::unique_ptr<TLumMusicPlayer> music_;
  int screenW_ = 1280, screenH_ = 720;
  TSlideSet slideSet_;
  TStop nextStop_;
  TRunApp nextRunApp_;
  std::atomic<float> volume_{1.0f};
  std::optional<TColor> backgroundOverride_;
  std::optional<double> unsharpOverride_;
  std::atomic<bool> runAppEnabled_{false};
  // Where the pointer was last seen, for the hover test of later frames.
  std::optional<std::pair<int, int>> lastPointer_;
  bool frameDrawn_ = false, firstFrameSent_ = false;
  int64_t captureUntil_ = -1;  // a capture is wanted until this tick
  int64_t loopsBeforeFrame_ = 0;
  int64_t lastLoopTick_ = 0;
  TTiming timing_;
  std::atomic<double> duration_{0};
  std::atomic<double> audioOffset_{0};  // of the clock last shown, for Status()
  // The music player's heard position, for Status().
  std::atomic<double> musicHeard_{std::numeric_limits<double>::quiet_NaN()};
  std::atomic<int64_t> currentSlide_{0};
  TEngineFigures figures_;  // frames, pacing and hover, for Status()
  TStatsOverlay stats_{figures_};
};

}  // namespace lum
