#include "engine/show_viewer.h"

#include "document/ini_file.h"
#include "engine/window_placement.h"
#include "foundation/log.h"
#include "render/render_backends.h"
#include "render/window_draw_device.h"
#include "toolkit/window.h"

namespace lum {

std::unique_ptr<TIniFile> CopyDocument(const TIniFile& document) {
  auto copy = std::make_unique<TIniFile>();
  copy->CopyFrom(document);
  return copy;
}

TLumShowViewer::TLumShowViewer(TWindow& window, TViewerOptions options, TRef<T3DEngine> renderer)
    : window_(window), options_(options), renderer_(std::move(renderer)) {}

TLumShowViewer::~TLumShowViewer() {
  if (engine_) engine_->Stop();
  engine_.reset();
  if (device_) device_->Close();
}

void TLumShowViewer::FollowExposure() {
  // The window may outlive the viewer; the token tells its callbacks.
  std::weak_ptr<bool> alive = alive_;
  auto refresh = [this, alive] {
    if (!alive.expired() && engine_) engine_->DrawController().RequestRefresh();
  };
  TWindowListener& l = window_.Listener();
  l.exposed = [refresh, next = std::move(l.exposed)] {
    refresh();
    if (next) next();
  };
  l.minimized = [refresh, next = std::move(l.minimized)](bool on) {
    if (!on) refresh();
    if (next) next(on);
  };
}

TScreenRect TLumShowViewer::Area() const {
  if (options_.desktopAlign) return DesktopRect();
  auto monitors = ListMonitors();
  const int m = options_.display >= 0 && options_.display < int(monitors.size())
                    ? options_.display
                    : window_.MonitorIndex();
  return m >= 0 && m < int(monitors.size()) ? monitors[size_t(m)].rect : window_.ClientRect();
}

void TLumShowViewer::CreateEngine(const TIniFile& document) {
  device_ = MakeRef<TWindowDrawDevice>(window_.Handle());
  device_->Follow(window_);
  if (!renderer_) renderer_ = CreateRenderEngine();
  engine_ = std::make_unique<TLumEngine>(TRef<TDrawDevice>(device_), renderer_);
  FollowExposure();
  engine_->onFirstFrame = [this](const TLumEventData& e) { Notify(e); };
  engine_->onEvent = [this](const TLumEventData& e) { Notify(e); };
  engine_->onPosition = [this](int request, int64_t position, int64_t duration, bool ended) {
    // The engine may not have taken a newer seek yet: its positions are stale.
    if (request != requestNumber_) return;
    position_ = position;
    duration_ = duration;
    ended_ = ended || ended_;
    if (onPosition) onPosition(position, ended);
  };
  engine_->SetBackgroundOverride(background_);
  engine_->SetRunAppEnabled(runApp_);
  const TScreenRect area = Area();
  engine_->SetScreenSize(area.Width(), area.Height());
  const TIniList* main = document.Section("main");
  windowedWidth_ = ReadInteger(main, "opt_scr_width", 640);
  windowedHeight_ = ReadInteger(main, "opt_scr_height", 480);
  windowedMode_ =
      ReadBool(main, "opt_withoutborder", true) ? kPlacementBorderless : kPlacementFramed;
  if (ReadInteger(main, "opt_scr_full", 1) == 1)
    PlaceWindow(area.Width(), area.Height(), kPlacementFullScreen);
  else
    PlaceWindow(windowedWidth_, windowedHeight_, windowedMode_);
}

void TLumShowViewer::OpenShow(TRef<TFileAccessor> accessor, const TIniFile& document,
                              double position) {
  ended_ = false;
  if (!engine_) CreateEngine(document);
  if (engine_->Running()) {
    auto p = MakeRef<TOpenParams>();
    p->requestNumber = NextRequest();
    p->accessor = std::move(accessor);
    p->document = CopyDocument(document);
    p->position = position;
    p->paused = paused_;
    engine_->Events().Post(kRequestOpen, p);
    return;
  }
  engine_->OpenShow(std::move(accessor), CopyDocument(document), position);
  // The drawer was set up here; the engine thread draws from now on.
  renderer_->ReleaseCurrentContext();
  engine_->Events().Post(kRequestPause, MakeRef<TModeData>(paused_));
  engine_->Start();
}

void TLumShowViewer::Seek(double position) {
  if (position < 0 || !engine_) return;
  auto p = MakeRef<TOpenParams>();
  p->requestNumber = NextRequest();
  p->position = position;
  position_ = int64_t(position);
  ended_ = false;
  engine_->Events().Post(kRequestOpen, p);
}

void TLumShowViewer::SetPause(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  if (engine_) engine_->Events().Post(kRequestPause, MakeRef<TModeData>(paused));
}

void TLumShowViewer::SeekAndPause(double position, bool paused) {
  Seek(position);
  SetPause(paused);
}

void TLumShowViewer::Pointer(TRef<TMouseData> event) {
  if (engine_ && engine_->Running()) engine_->Events().Post(kRequestPointer, event);
}

void TLumShowViewer::Help() {
  if (engine_) engine_->Events().Post(kRequestHelp);
}

void TLumShowViewer::CloseDialog() {
  if (engine_) engine_->Events().Post(kRequestCloseDialog);
}

bool TLumShowViewer::Key(uint16_t key, const TLumActionInfo& action, bool continues) {
  if (!engine_ || !engine_->Running()) return false;
  auto k = MakeRef<TKeyData>();
  k->key = key;
  k->action = action;
  k->continues = continues;
  engine_->Events().Post(kRequestKey, k);
  return true;
}

bool TLumShowViewer::RunAction(const TLumActionInfo& action) {
  if (!engine_ || !engine_->Running()) return false;
  engine_->Events().Post(kRequestAction, MakeRef<TActionData>(action));
  return true;
}

bool TLumShowViewer::Capture() {
  if (!engine_ || !engine_->Running()) return false;
  engine_->Events().Post(kRequestCapture);
  return true;
}

void TLumShowViewer::SetBackgroundColor(TColor c) {
  background_ = c;
  if (engine_) engine_->SetBackgroundOverride(c);
}

void TLumShowViewer::SetRunAppEnabled(bool on) {
  runApp_ = on;
  if (engine_) engine_->SetRunAppEnabled(on);
}

void TLumShowViewer::Notify(const TLumEventData& e) {
  switch (e.code) {
    case kEventFirstFrame:
      firstFrame_ = true;
      if (onFirstFrame) onFirstFrame();
      break;
    case kEventAction:
      if (onAction && e.ints.size() >= 2)
        onAction({uint8_t(e.ints[0]), int32_t(e.ints[1]), e.text});
      break;
    case kEventImage:
      if (onImage) onImage(e.image);
      break;
    case kEventWindowMode:
      if (e.ints.size() >= 3) PlaceWindow(int(e.ints[0]), int(e.ints[1]), int(e.ints[2]));
      if (!e.text.empty()) window_.SetTitle(e.text);
      break;
  }
}

void TLumShowViewer::ToggleFullScreen() {
  if (window_.FullScreen()) {
    PlaceWindow(windowedWidth_, windowedHeight_, windowedMode_);
  } else {
    const TScreenRect area = Area();
    PlaceWindow(area.Width(), area.Height(), kPlacementFullScreen);
  }
}

void TLumShowViewer::PlaceWindow(int width, int height, int mode) {
  if (mode == kPlacementFullScreen) {
    window_.SetMode(options_.desktopAlign ? TWindowMode::FullScreenDesktop
                                          : TWindowMode::FullScreenMonitor,
                    options_.display);
    if (device_) device_->Update();
    return;
  }
  const TWindowMode style = mode != kPlacementFramed ? TWindowMode::Borderless
                            : options_.resize        ? TWindowMode::FramedResizable
                                                     : TWindowMode::Framed;
  if (window_.Mode() != style) window_.SetMode(style);
  TFrameExtents frame;
  if (mode == kPlacementFramed)
    SDL_GetWindowBordersSize(window_.Handle(), &frame.top, &frame.left, &frame.bottom,
                             &frame.right);
  const TWindowPlacement p =
      lum::PlaceWindow(width, height, mode, options_.resize, Area(), frame);
  window_.SetClientSize(p.clientWidth, p.clientHeight);
  window_.SetPosition(p.ClientLeft(), p.ClientTop());
  if (device_) device_->Update();
}

}  // namespace lum
