// The main form's keys, pointer and wheel, and the pointer watcher.
#include "startup/main_form.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include <SDL.h>

#include "foundation/clock.h"
#include "foundation/log.h"
#include "project/lum_source.h"

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

}  // namespace

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

void TMainForm::Key(uint16_t code, uint32_t mods, bool down) {
  if (ModalCount() > 0 || !input_ || !down) return;
  if (options_.startupMode && code == vk::kReturn) {
    TLumActionInfo end;
    end.type = kActionCloseDialog;
    return Execute(end);
  }
  TLumActionInfo a;
  const TKeyMap* k = input_->Key(mods, code, kKeyEventDown);
  if (k) a = k->Action();
  if (!k && PlayerKey(code, mods)) return;
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

}  // namespace lum
