// The engine's pointer, keys and actions.
#include "engine/lum_engine.h"

#include "model/lum_slide.h"
#include "toolkit/key_codes.h"

namespace lum {

namespace {

// Button bits of a pointer event besides the left one (kLeftButton).
constexpr uint32_t kRightButtonHeld = 2, kMiddleButtonHeld = 16;

}  // namespace

void TLumEngine::Pointer(const TMouseData& m) {
  lastPointer_ = std::make_pair(m.x, m.y);
  std::optional<TLumActionInfo> action;
  const int type = m.type == kMouseEventDown ? kPointerPress
                   : m.type == kMouseEventUp ? kPointerRelease
                                             : kPointerMove;
  // The panel and dialogs lie above the slides and see the pointer first.
  const bool left = m.type != kMouseEventDown || m.button == kPointerLeft;
  if (overlay_ && left && overlay_->Pointer(m.x, m.y, type, &action)) {
    const bool hover = overlay_->Hovered();
    figures_.SetHover(hover, hover ? kNavPanelHoverClass : "");
    if (action) RunAction(*action);
    return;
  }
  if (root_.Current() && root_.Current()->slide) {
    // The buttons held, as the slide reads them: only the left one presses
    // slide buttons; the others are left to the mouse options.
    const uint32_t held = m.type != kMouseEventDown ? 0
                          : m.button == kPointerLeft ? kLeftButton
                          : m.button == kPointerRight ? kRightButtonHeld
                                                      : kMiddleButtonHeld;
    TLumObject* o = root_.Current()->slide->PointerInput(m.x, m.y, held, type, &action);
    const bool hover = o && !o->ActionText().empty();
    figures_.SetHover(hover, hover ? o->ClassName() : "");
  }
  if (action && action->type != kActionNone)
    RunAction(*action);
  else if (m.defaultAction)
    RunAction(*m.defaultAction);
}

void TLumEngine::Key(const TKeyData& k) {
  if (overlay_ && overlay_->OpenDialogs() > 0) {
    if (k.key == vk::kEscape)
      overlay_->CloseTopDialog();
    else if (k.key == vk::kF1)
      RunAction(k.action);
    return;
  }
  RunAction(k.action);
  if (k.continues) halted_ = false;
}

bool TLumEngine::RouteToOverlay(const TLumActionInfo& a) {
  switch (a.type) {
    case kActionHelp:
      overlay_->ToggleDialog("help");
      return true;
    case kActionOpenDialog:
      overlay_->ToggleDialog(a.textArg);
      return true;
    case kActionCloseDialog:
      return overlay_->CloseTopDialog();
    case kActionPrevSlide:
    case kActionNextSlide:
    case kActionGotoSlide:
    case kActionRunPresentation:
      // Moving the show on closes what holds it.
      overlay_->ClosePausingDialogs();
      return false;
    default:
      return false;
  }
}

void TLumEngine::RunAction(const TLumActionInfo& a) {
  if (a.type == kActionNone) return;
  if (overlay_ && RouteToOverlay(a)) return;
  auto e = MakeRef<TLumEventData>();
  e->code = kEventAction;
  e->ints = {a.type, a.intArg};
  e->text = a.textArg;
  PostEvent(e);
}

}  // namespace lum
