#pragma once
// Top-level window of the player over SDL2: creation in the show's modes,
// geometry, monitors, activation and input translated to the show's codes.
// Everything here runs on the window thread; other threads reach it through
// TWindowThread::Post.
#include <SDL.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/key_codes.h"

namespace lum {

struct TScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const TScreenRect&) const = default;
};

struct TMonitorMode {
  int width = 0, height = 0;
  int refreshRate = 0;  // Hz; 0 when the system does not know it
  int bitsPerPixel = 0;
};

struct TMonitorInfo {
  int index = 0;
  std::string name;
  TScreenRect rect;  // desktop coordinates
  TMonitorMode current;
  std::vector<TMonitorMode> modes;
};

// Monitors in system order; empty when the video subsystem is not running.
std::vector<TMonitorInfo> ListMonitors();
// The bounding rectangle of all monitors.
TScreenRect DesktopRect();

enum class TWindowMode : uint8_t {
  FullScreenMonitor,  // covers one monitor
  FullScreenDesktop,  // covers every monitor
  Framed,             // fixed size with frame
  FramedResizable,
  Borderless,
};

struct TWindowOptions {
  TWindowMode mode = TWindowMode::Framed;
  int monitor = 0;                 // full screen on this monitor
  int x = SDL_WINDOWPOS_CENTERED;  // windowed position, desktop coordinates
  int y = SDL_WINDOWPOS_CENTERED;
  int width = 800, height = 600;  // client size when windowed
  std::string title = "Slideshow";
  bool hidden = false;
};

// Input and state callbacks; every one is optional.
struct TWindowListener {
  std::function<void(uint16_t vk, uint32_t mods, bool down, bool repeat)> key;
  std::function<void(const std::string& utf8)> text;
  std::function<void(int x, int y, uint32_t mods)> mouseMove;
  std::function<void(TMouseButton b, bool down, bool doubleClick, int x, int y, uint32_t mods)>
      mouseButton;
  // Whole notches only (120 units each); fractions wait until they add up.
  std::function<void(int delta120, uint32_t mods)> wheel;
  std::function<void()> geometry;  // client rectangle or mode changed
  std::function<void(bool active)> activation;
  std::function<void(bool minimized)> minimized;
  std::function<void()> exposed;  // the system lost what the window showed
  std::function<void(bool inside)> pointerInside;  // the pointer entered or left
  std::function<void()> close;
};

class TWindow {
 public:
  // Creates the window (with an OpenGL surface); throws ELumError with SDL's reason.
  explicit TWindow(const TWindowOptions& options);
  ~TWindow();
  TWindow(const TWindow&) = delete;
  TWindow& operator=(const TWindow&) = delete;

  SDL_Window* Handle() const { return window_; }
  uint32_t Id() const { return id_; }
  TWindowMode Mode() const { return mode_; }
  bool FullScreen() const {
    return mode_ == TWindowMode::FullScreenMonitor || mode_ == TWindowMode::FullScreenDesktop;
  }
  // Client rectangle in client coordinates (0, 0, width, height).
  TScreenRect ClientRect() const;
  // Desktop position of the client area's top left corner.
  void ScreenOrigin(int& x, int& y) const;
  // Index of the monitor showing the window's centre.
  int MonitorIndex() const;
  bool Active() const { return active_; }
  bool Minimized() const { return minimized_; }

  // Switches between full screen (on the given monitor or the desktop) and windowed modes.
  void SetMode(TWindowMode mode, int monitor = -1);
  void SetClientSize(int width, int height);
  void SetPosition(int x, int y);
  void Minimize();
  void Restore();
  // Shows a window made hidden, raised in front when raise is set (where
  // the desktop lets a program do that). Like a window made shown it counts
  // as active from then on.
  void Show(bool raise = false);
  bool Shown() const;
  void SetTitle(const std::string& title);

  TWindowListener& Listener() { return listener_; }

  // Handles one event addressed to this window; false when it was not ours.
  bool HandleEvent(const SDL_Event& e);

 private:
  void ApplyMode(int monitor);

  SDL_Window* window_ = nullptr;
  uint32_t id_ = 0;
  TWindowMode mode_;
  TScreenRect windowedRect_;  // restored when leaving full screen
  bool active_ = false;
  bool minimized_ = false;
  TWheelAccumulator wheel_;
  TWindowListener listener_;
};

// The window thread: its event loop and the cross-thread message channel
// (requests posted from any thread run on the window thread, in order).
class TWindowThread {
 public:
  // Starts SDL's video subsystem and makes the calling thread the window
  // thread. Returns false (with SDL's reason in error) when there is no display.
  static bool Init(std::string* error = nullptr);
  static bool Initialized();
  static void Shutdown();
  static bool IsWindowThread();

  // Queues a request for the window thread; returns at once. False when the
  // channel is not running (the request is dropped).
  static bool Post(std::function<void()> request);

  static void AddWindow(TWindow* w);
  static void RemoveWindow(TWindow* w);

  // Window thread: handles events and requests until none is left, waiting up
  // to timeoutMs for the first. Returns false once a quit was asked.
  static bool Pump(int timeoutMs = 0);
  // Window thread: pumps until Quit.
  static void Run();
  static void Quit();
  // Any thread: wakes a window thread waiting in Pump (after an event it
  // pushed to SDL's queue itself).
  static void Wake();
};

}  // namespace lum
