#pragma once
// Sits between the main window and its engine: turns the window's requests
// (open, seek, pause, pointer events, help, capture) into engine requests,
// places and sizes the window as the show asks, and hands the engine's
// notifications back to the main window on the window thread.
#include <functional>
#include <memory>

#include "engine/lum_engine.h"
#include "engine/window_placement.h"
#include "toolkit/window.h"

namespace lum {

class TWindowDrawDevice;

struct TViewerOptions {
  bool resize = false;        // framed windows may be resized
  bool desktopAlign = false;  // place on the whole desktop, not one monitor
  int display = -1;           // monitor; -1: the one showing the window
};

class TLumShowViewer {
 public:
  // On the window thread; the window outlives the viewer. The drawing back
  // end must exist before the window is made (it chooses the window's pixel
  // format); null picks one when the first show opens.
  TLumShowViewer(TWindow& window, TViewerOptions options, TRef<T3DEngine> renderer = nullptr);
  ~TLumShowViewer();
  TLumShowViewer(const TLumShowViewer&) = delete;
  TLumShowViewer& operator=(const TLumShowViewer&) = delete;

  // Opens a show at a position (ms); the document is copied. The first open
  // makes the engine and starts its thread.
  void OpenShow(TRef<TFileAccessor> accessor, const TIniFile& document, double position);
  // Ignored when negative.
  void Seek(double position);
  void SetPause(bool paused);
  void SeekAndPause(double position, bool paused);
  // Dropped while the engine does not run.
  void Pointer(TRef<TMouseData> event);
  void Help();
  void CloseDialog();
  // A key with its mapped action, for the engine to carry out behind the
  // show's dialogs; false (nothing sent) while the engine does not run.
  bool Key(uint16_t key, const TLumActionInfo& action, bool continues);
  // An action carried out as a slide button's; false while the engine does
  // not run.
  bool RunAction(const TLumActionInfo& action);
  // The frame arrives through onImage; false when the engine does not run.
  bool Capture();
  void SetBackgroundColor(TColor c);
  void SetRunAppEnabled(bool on);
  // Places the window as notification 17 does (also used on the first open).
  void PlaceWindow(int width, int height, int mode);
  // Full screen, or back to the window the show asks for (its size, framed or
  // not) when it is full screen.
  void ToggleFullScreen();

  bool Paused() const { return paused_; }
  int64_t Position() const { return position_; }
  int64_t Duration() const { return duration_; }
  bool Ended() const { return ended_; }
  bool FirstFrameShown() const { return firstFrame_; }
  TLumEngine* Engine() const { return engine_.get(); }
  TWindowDrawDevice* Device() const { return device_.Get(); }

  std::function<void()> onFirstFrame;
  std::function<void(int64_t position, bool ended)> onPosition;
  std::function<void(const TLumActionInfo&)> onAction;
  std::function<void(TRef<TBitmap>)> onImage;

 private:
  void CreateEngine(const TIniFile& document);
  // Lost window contents are drawn again.
  void FollowExposure();
  // The monitor (or desktop) the show is placed on.
  TScreenRect Area() const;
  void Notify(const TLumEventData& e);
  int NextRequest() { return ++requestNumber_; }

  TWindow& window_;
  TViewerOptions options_;
  // The window the show asks for when it is not full screen.
  int windowedWidth_ = 640, windowedHeight_ = 480, windowedMode_ = kPlacementBorderless;
  TRef<T3DEngine> renderer_;
  TRef<TWindowDrawDevice> device_;
  std::unique_ptr<TLumEngine> engine_;
  int requestNumber_ = 0;
  bool paused_ = true;
  int64_t position_ = 0, duration_ = 0;
  bool ended_ = false;
  bool firstFrame_ = false;
  std::optional<TColor> background_;
  bool runApp_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// A copy of a project document through its text.
std::unique_ptr<TIniFile> CopyDocument(const TIniFile& document);

}  // namespace lum
