#include "toolkit/window.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "foundation/errors.h"

namespace lum {

namespace {

struct TWindowThreadState {
  std::mutex mutex;
  std::thread::id thread;
  uint32_t requestEvent = 0;
  bool running = false;
  bool quit = false;
  std::vector<TWindow*> windows;
  // Drivers without a blocking event wait (offscreen, dummy) would have SDL
  // poll every millisecond; requests wake this instead.
  std::condition_variable posted;
  uint64_t posts = 0;
  bool blockingWait = true;
};

// Waits up to timeoutMs for an event. SDL's own wait polls each millisecond
// on drivers that cannot block, so those wait for posted requests and look
// for other events every few milliseconds.
bool WaitEvent(TWindowThreadState& s, SDL_Event& e, int timeoutMs) {
  if (s.blockingWait) return SDL_WaitEventTimeout(&e, timeoutMs);
  constexpr int kPollMs = 8;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (SDL_PollEvent(&e)) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return false;
    std::unique_lock lock(s.mutex);
    const uint64_t seen = s.posts;
    s.posted.wait_until(lock, std::min(end, now + std::chrono::milliseconds(kPollMs)),
                        [&] { return s.posts != seen; });
  }
}

TWindowThreadState& State() {
  static TWindowThreadState s;
  return s;
}

TMonitorMode ModeOf(const SDL_DisplayMode& m) {
  return {m.w, m.h, m.refresh_rate, static_cast<int>(SDL_BITSPERPIXEL(m.format))};
}

void Dispatch(const SDL_Event& e) {
  auto& s = State();
  if (e.type == s.requestEvent && s.requestEvent != 0) {
    auto* request = static_cast<std::function<void()>*>(e.user.data1);
    try {
      (*request)();
    } catch (...) {
      // A failed request must not stop the window thread.
    }
    delete request;
    return;
  }
  if (e.type == SDL_QUIT) {
    s.quit = true;
    return;
  }
  std::vector<TWindow*> windows;
  {
    std::lock_guard lock(s.mutex);
    windows = s.windows;
  }
  for (TWindow* w : windows)
    if (w->HandleEvent(e)) return;
}

}  // namespace

std::vector<TMonitorInfo> ListMonitors() {
  std::vector<TMonitorInfo> list;
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return list;
  int n = SDL_GetNumVideoDisplays();
  for (int i = 0; i < n; ++i) {
    TMonitorInfo info;
    info.index = i;
    if (const char* name = SDL_GetDisplayName(i)) info.name = name;
    SDL_Rect r{};
    SDL_GetDisplayBounds(i, &r);
    info.rect = {r.x, r.y, r.x + r.w, r.y + r.h};
    SDL_DisplayMode m{};
    if (SDL_GetCurrentDisplayMode(i, &m) == 0) info.current = ModeOf(m);
    int modes = SDL_GetNumDisplayModes(i);
    for (int k = 0; k < modes; ++k)
      if (SDL_GetDisplayMode(i, k, &m) == 0) info.modes.push_back(ModeOf(m));
    if (info.modes.empty() && info.current.width > 0) info.modes.push_back(info.current);
    list.push_back(std::move(info));
  }
  return list;
}

TScreenRect DesktopRect() {
  auto monitors = ListMonitors();
  if (monitors.empty()) return {};
  TScreenRect r = monitors[0].rect;
  for (const auto& m : monitors) {
    r.left = std::min(r.left, m.rect.left);
    r.top = std::min(r.top, m.rect.top);
    r.right = std::max(r.right, m.rect.right);
    r.bottom = std::max(r.bottom, m.rect.bottom);
  }
  return r;
}

TWindow::TWindow(const TWindowOptions& o) : mode_(o.mode) {
  uint32_t flags = SDL_WINDOW_OPENGL | (o.hidden ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN);
  if (o.mode == TWindowMode::FramedResizable) flags |= SDL_WINDOW_RESIZABLE;
  window_ = SDL_CreateWindow(o.title.c_str(), o.x, o.y, std::max(1, o.width), std::max(1, o.height),
                             flags);
  if (!window_) throw ELumError(std::string("Can't create window: ") + SDL_GetError());
  id_ = SDL_GetWindowID(window_);
  int x, y;
  SDL_GetWindowPosition(window_, &x, &y);
  windowedRect_ = {x, y, x + std::max(1, o.width), y + std::max(1, o.height)};
  active_ = !o.hidden;
  ApplyMode(o.monitor);
  TWindowThread::AddWindow(this);
}

TWindow::~TWindow() {
  TWindowThread::RemoveWindow(this);
  SDL_DestroyWindow(window_);
}

TScreenRect TWindow::ClientRect() const {
  int w = 0, h = 0;
  SDL_GetWindowSize(window_, &w, &h);
  return {0, 0, w, h};
}

void TWindow::ScreenOrigin(int& x, int& y) const {
  SDL_GetWindowPosition(window_, &x, &y);
}

int TWindow::MonitorIndex() const {
  return std::max(0, SDL_GetWindowDisplayIndex(window_));
}

void TWindow::ApplyMode(int monitor) {
  switch (mode_) {
    case TWindowMode::FullScreenMonitor: {
      auto monitors = ListMonitors();
      if (monitor < 0 || monitor >= static_cast<int>(monitors.size())) monitor = MonitorIndex();
      TScreenRect r =
          monitor < static_cast<int>(monitors.size()) ? monitors[monitor].rect : ClientRect();
      SDL_SetWindowBordered(window_, SDL_FALSE);
      SDL_SetWindowPosition(window_, r.left, r.top);
      SDL_SetWindowSize(window_, r.Width(), r.Height());
      SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN_DESKTOP);
      break;
    }
    case TWindowMode::FullScreenDesktop: {
      // Spans all monitors, which a per-display full-screen state cannot do.
      TScreenRect r = DesktopRect();
      SDL_SetWindowFullscreen(window_, 0);
      SDL_SetWindowBordered(window_, SDL_FALSE);
      SDL_SetWindowPosition(window_, r.left, r.top);
      SDL_SetWindowSize(window_, r.Width(), r.Height());
      break;
    }
    default:
      SDL_SetWindowFullscreen(window_, 0);
      SDL_SetWindowBordered(window_, mode_ == TWindowMode::Borderless ? SDL_FALSE : SDL_TRUE);
      SDL_SetWindowResizable(window_, mode_ == TWindowMode::FramedResizable ? SDL_TRUE : SDL_FALSE);
      SDL_SetWindowSize(window_, windowedRect_.Width(), windowedRect_.Height());
      SDL_SetWindowPosition(window_, windowedRect_.left, windowedRect_.top);
      break;
  }
}

void TWindow::SetMode(TWindowMode mode, int monitor) {
  if (!FullScreen()) {
    int x, y;
    ScreenOrigin(x, y);
    TScreenRect c = ClientRect();
    windowedRect_ = {x, y, x + c.Width(), y + c.Height()};
  }
  mode_ = mode;
  ApplyMode(monitor);
  if (listener_.geometry) listener_.geometry();
}

void TWindow::SetClientSize(int width, int height) {
  SDL_SetWindowSize(window_, std::max(1, width), std::max(1, height));
  if (listener_.geometry) listener_.geometry();
}

void TWindow::SetPosition(int x, int y) {
  SDL_SetWindowPosition(window_, x, y);
  if (listener_.geometry) listener_.geometry();
}

void TWindow::Minimize() {
  SDL_MinimizeWindow(window_);
  // Some drivers (the offscreen one) never report it, so the state is ours.
  if (!minimized_) {
    minimized_ = true;
    if (listener_.minimized) listener_.minimized(true);
  }
}

void TWindow::Restore() {
  SDL_RestoreWindow(window_);
  if (minimized_) {
    minimized_ = false;
    if (listener_.minimized) listener_.minimized(false);
  }
}

void TWindow::Show(bool raise) {
  if (!Shown()) {
    SDL_ShowWindow(window_);
    // Drivers without a window manager (offscreen) report no focus.
    if (!active_) {
      active_ = true;
      if (listener_.activation) listener_.activation(true);
    }
  }
  if (raise) SDL_RaiseWindow(window_);
}

bool TWindow::Shown() const {
  return (SDL_GetWindowFlags(window_) & SDL_WINDOW_HIDDEN) == 0;
}

void TWindow::SetTitle(const std::string& title) {
  SDL_SetWindowTitle(window_, title.c_str());
}

bool TWindow::HandleEvent(const SDL_Event& e) {
  auto mods = [] { return ModifierBitsOf(static_cast<uint16_t>(SDL_GetModState())); };
  switch (e.type) {
    case SDL_WINDOWEVENT:
      if (e.window.windowID != id_) return false;
      switch (e.window.event) {
        case SDL_WINDOWEVENT_FOCUS_GAINED:
        case SDL_WINDOWEVENT_FOCUS_LOST: {
          bool active = e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED;
          if (active != active_) {
            active_ = active;
            if (listener_.activation) listener_.activation(active);
          }
          break;
        }
        case SDL_WINDOWEVENT_MINIMIZED:
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_MAXIMIZED: {
          bool minimized = e.window.event == SDL_WINDOWEVENT_MINIMIZED;
          if (minimized != minimized_) {
            minimized_ = minimized;
            if (listener_.minimized) listener_.minimized(minimized);
          }
          if (listener_.geometry) listener_.geometry();
          break;
        }
        case SDL_WINDOWEVENT_SIZE_CHANGED:
        case SDL_WINDOWEVENT_MOVED:
          if (listener_.geometry) listener_.geometry();
          break;
        case SDL_WINDOWEVENT_ENTER:
        case SDL_WINDOWEVENT_LEAVE:
          if (listener_.pointerInside) listener_.pointerInside(e.window.event == SDL_WINDOWEVENT_ENTER);
          return true;
        case SDL_WINDOWEVENT_EXPOSED:
          if (listener_.exposed) listener_.exposed();
          break;
        case SDL_WINDOWEVENT_CLOSE:
          if (listener_.close) listener_.close();
          break;
        default:
          break;
      }
      return true;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      if (e.key.windowID != id_) return false;
      uint16_t code = VirtualKeyOf(e.key.keysym.sym, e.key.keysym.scancode);
      if (code != 0 && listener_.key)
        listener_.key(code, ModifierBitsOf(e.key.keysym.mod), e.type == SDL_KEYDOWN,
                      e.key.repeat != 0);
      return true;
    }
    case SDL_TEXTINPUT:
      if (e.text.windowID != id_) return false;
      if (listener_.text) listener_.text(e.text.text);
      return true;
    case SDL_MOUSEMOTION:
      if (e.motion.windowID != id_) return false;
      if (listener_.mouseMove) listener_.mouseMove(e.motion.x, e.motion.y, mods());
      return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (e.button.windowID != id_) return false;
      if (listener_.mouseButton)
        listener_.mouseButton(MouseButtonOf(e.button.button), e.type == SDL_MOUSEBUTTONDOWN,
                              e.type == SDL_MOUSEBUTTONDOWN && e.button.clicks == 2, e.button.x,
                              e.button.y, mods());
      return true;
    case SDL_MOUSEWHEEL: {
      if (e.wheel.windowID != id_) return false;
      double y = e.wheel.preciseY != 0.0f ? e.wheel.preciseY : double(e.wheel.y);
      if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) y = -y;
      const int notches = wheel_.Add(y);
      if (notches != 0 && listener_.wheel) listener_.wheel(notches * 120, mods());
      return true;
    }
    default:
      return false;
  }
}

bool TWindowThread::Init(std::string* error) {
  auto& s = State();
  if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    if (error) *error = SDL_GetError();
    return false;
  }
  // Windows are GL windows: keep the GL library loaded for the process, or
  // SDL unloads the driver with each last window and loads it again.
  static const bool glLoaded = SDL_GL_LoadLibrary(nullptr) == 0;
  (void)glLoaded;
  std::lock_guard lock(s.mutex);
  if (s.requestEvent == 0) s.requestEvent = SDL_RegisterEvents(1);
  s.thread = std::this_thread::get_id();
  const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
  s.blockingWait = driver != "offscreen" && driver != "dummy";
  s.running = true;
  s.quit = false;
  return true;
}

bool TWindowThread::Initialized() {
  std::lock_guard lock(State().mutex);
  return State().running;
}

void TWindowThread::Shutdown() {
  auto& s = State();
  // Requests left in the queue are dropped with their data.
  SDL_Event e;
  while (s.requestEvent && SDL_PeepEvents(&e, 1, SDL_GETEVENT, s.requestEvent, s.requestEvent) > 0)
    delete static_cast<std::function<void()>*>(e.user.data1);
  std::lock_guard lock(s.mutex);
  s.running = false;
}

bool TWindowThread::IsWindowThread() {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  return !s.running || s.thread == std::this_thread::get_id();
}

bool TWindowThread::Post(std::function<void()> request) {
  auto& s = State();
  uint32_t type;
  {
    std::lock_guard lock(s.mutex);
    if (!s.running) return false;
    type = s.requestEvent;
  }
  SDL_Event e{};
  e.type = type;
  e.user.data1 = new std::function<void()>(std::move(request));
  if (SDL_PushEvent(&e) != 1) {
    delete static_cast<std::function<void()>*>(e.user.data1);
    return false;
  }
  Wake();
  return true;
}

void TWindowThread::Wake() {
  auto& s = State();
  {
    std::lock_guard lock(s.mutex);
    ++s.posts;
  }
  s.posted.notify_all();
}

void TWindowThread::AddWindow(TWindow* w) {
  std::lock_guard lock(State().mutex);
  State().windows.push_back(w);
}

void TWindowThread::RemoveWindow(TWindow* w) {
  auto& s = State();
  std::lock_guard lock(s.mutex);
  s.windows.erase(std::remove(s.windows.begin(), s.windows.end(), w), s.windows.end());
}

bool TWindowThread::Pump(int timeoutMs) {
  SDL_Event e;
  if (timeoutMs > 0) {
    if (WaitEvent(State(), e, timeoutMs)) Dispatch(e);
  }
  while (SDL_PollEvent(&e)) Dispatch(e);
  return !State().quit;
}

void TWindowThread::Run() {
  while (Pump(50)) {
  }
}

void TWindowThread::Quit() {
  SDL_Event e{};
  e.type = SDL_QUIT;
  SDL_PushEvent(&e);
  Wake();
}

}  // namespace lum
