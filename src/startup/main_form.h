#pragma once
// The player's main window: opens a show and hands it to the viewer, turns
// keys, clicks and the wheel into actions through the show's input mapping,
// and carries out the actions the viewer passes up.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/input_mapping.h"
#include "engine/show_viewer.h"
#include "toolkit/window.h"

namespace lum {

class TLumShowLocator;

// What the player was asked for on its command line.
struct TPlayerOptions {
  std::string show;              // empty: the program's own show, else the demo
  std::optional<int64_t> slide;  // "slide": 1-based start slide
  std::optional<int64_t> time;   // "time": start at this show time + 1 ms
  TViewerOptions viewer;
  bool hidden = false;  // never show the window (measurements)
};

// What the control socket reports.
struct TPlayerStatus {
  TEngineStatus engine;
  int windowWidth = 0, windowHeight = 0;
  bool fullScreen = false;
  std::string show;
  int64_t endReports = 0;  // positions with the ended flag since the show opened
};

class TMainForm {
 public:
  // On the window thread; throws ELumError when the window cannot be made.
  explicit TMainForm(TPlayerOptions options);
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Opens a show (any form) at its start; false with a message on failure.
  bool OpenShow(const std::string& path, std::optional<int64_t> slide,
                std::optional<int64_t> time, std::string& message);
  // Carries out an action the viewer passed up.
  void Execute(const TLumActionInfo& a);
  // The action text as a slide button's action would run.
  void RunActionText(const std::string& text);
  void Key(uint16_t vk, uint32_t mods, bool down);
  // A pointer event at a window pixel (type kMouseEvent*).
  void Pointer(int x, int y, TMouseButton button, uint8_t type, uint32_t mods);
  void Wheel(int delta120, uint32_t mods);
  void SetPause(bool paused);
  void Seek(double position);
  // Asks for the frame now shown; done gets the image (null when none came).
  void Capture(std::function<void(TRef<TBitmap>)> done);
  // Closes the window: the program ends.
  void Close(int exitCode = 0);

  bool Closed() const { return closed_; }
  int ExitCode() const { return exitCode_; }
  TPlayerStatus Status() const;
  TLumShowViewer& Viewer() { return *viewer_; }
  TWindow& Window() { return *window_; }

 private:
  void Listen();
  double SlideTime(int64_t index) const;
  void PreviousSlide();
  void NextSlide();
  void GotoSlide(const TLumActionInfo& a);
  void ImageArrived(TRef<TBitmap> image);

  TPlayerOptions options_;
  std::unique_ptr<TWindow> window_;
  std::unique_ptr<TLumShowViewer> viewer_;
  std::unique_ptr<TLumShowLocator> show_;
  std::unique_ptr<TLumSource> times_;  // the open show's slide times, for navigation
  std::unique_ptr<TInputMappingClass> input_;
  std::vector<std::function<void(TRef<TBitmap>)>> captures_;
  int64_t createdTick_ = 0;
  int64_t endReports_ = 0;
  bool wheelEnabled_ = true;
  bool closed_ = false;
  int exitCode_ = 0;
};

// The show lumviewer plays when none is named: the player's own appended
// show, else the bundled demo; empty when neither is there.
std::string DefaultShow(const std::string& executable);

}  // namespace lum
