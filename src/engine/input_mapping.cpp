#include "engine/input_mapping.h"

#include <cstdlib>

#include "document/ini_file.h"

namespace lum {

namespace {

// Default entries ignore the Windows key: Shift, Alt and Ctrl must be as required.
constexpr uint8_t kDefaultMask = kModShift | kModAlt | kModCtrl;

struct TMouseOption {
  std::string_view value;
  uint8_t action;
};

constexpr TMouseOption kMouseOptions[] = {
    {"Exit", kActionExit}, {"Next slide", kActionNextSlide}, {"Prev. slide", kActionPrevSlide},
    {"Help", kActionHelp}, {"Pause", kActionPause},          {"Go to first", kActionGotoSlide},
};

constexpr uint16_t kPauseKeys[] = {vk::kSpace, vk::kPause, vk::kMediaPlayPause};
constexpr uint16_t kPrevKeys[] = {vk::kLeft, vk::kPrior, vk::kBrowserBack, vk::kMediaPrevTrack,
                                  vk::kUp};
constexpr uint16_t kNextKeys[] = {vk::kRight, vk::kNext, vk::kBrowserForward, vk::kMediaNextTrack,
                                  vk::kDown};
constexpr uint16_t kKeyP = 'P';

}  // namespace

uint8_t PointerButtonCode(TMouseButton button) {
  switch (button) {
    case TMouseButton::Left:
      return kPointerLeft;
    case TMouseButton::Right:
      return kPointerRight;
    case TMouseButton::Middle:
      return kPointerMiddle;
    default:
      return kPointerNone;
  }
}

TLumActionInfo MouseOptionAction(std::string_view value) {
  for (const TMouseOption& o : kMouseOptions) {
    if (o.value == value) return {o.action, 0, {}};  // "Go to first" is slide 0
  }
  return {};
}

bool TMouseMoveDetector::Moved(int x, int y, int64_t tick) {
  if (!reference_) {
    reference_.emplace(x, y);
    return false;
  }
  // 64-bit so positions far apart cannot overflow the distance.
  int64_t distance =
      std::llabs(int64_t{x} - reference_->first) + std::llabs(int64_t{y} - reference_->second);
  if (distance < kMoveDistance) return false;
  reference_.emplace(x, y);
  lastMoveTick_ = tick;
  ++moves_;
  return true;
}

bool TMouseMoveDetector::Idle(int64_t tick) const {
  return !suspended_ && tick - lastMoveTick_ > idleMs_;
}

void TMouseMoveDetector::Resume(int64_t tick) {
  suspended_ = false;
  lastMoveTick_ = tick;
}

TInputMappingClass::TInputMappingClass(const TIniFile& document) {
  AddDefaultKeys(document);
  ReadMouseActions(document);
  screenSaver_ = document.ReadBool("main", "opt_ssaver", false);
  if (screenSaver_ || document.ReadBool("main", "opt_exitonmove", false)) EnableMoveDetector();
}

void TInputMappingClass::AddKey(uint32_t code, uint8_t mask, uint8_t required, uint8_t kind,
                                uint8_t action, int32_t arg) {
  if (code >= kKeyCount) return;
  auto entry = std::make_unique<TKeyMap>(TKeyMap{nullptr, mask, required, kind, action, arg});
  entry->next = std::move(keys_[code]);
  keys_[code] = std::move(entry);
}

void TInputMappingClass::SetMouseActions(TLumActionInfo left, TLumActionInfo right,
                                         TLumActionInfo dblClick) {
  leftClick_ = std::move(left);
  rightClick_ = std::move(right);
  dblClick_ = std::move(dblClick);
}

void TInputMappingClass::AddDefaultKeys(const TIniFile& document) {
  AddKey(vk::kEscape, kDefaultMask, 0, kKeyEventDown, kActionExit);
  controlPermitted_ = document.ReadBool("main", "opt_synchpermitcontrol", true);
  if (controlPermitted_) AddNavigationKeys(document.ReadInteger("Times", "opt_slidescount", 0));
  if (!document.ReadBool("main", "opt_lockf1", false)) {
    AddKey(vk::kF1, kDefaultMask, 0, kKeyEventDown, kActionHelp);
  }
}

void TInputMappingClass::AddNavigationKeys(int32_t slideCount) {
  auto add = [this](uint16_t code, uint8_t action, int32_t arg = 0, uint8_t required = 0) {
    AddKey(code, kDefaultMask, required, kKeyEventDown, action, arg);
  };
  for (uint16_t code : kPauseKeys) add(code, kActionPause);
  add(kKeyP, kActionPause, 0, kModCtrl);
  add(vk::kMediaStop, kActionStop);
  for (uint16_t code : kPrevKeys) add(code, kActionPrevSlide);
  for (uint16_t code : kNextKeys) add(code, kActionNextSlide);
  add(vk::kHome, kActionGotoSlide, 0);
  // Passed as is, even when the show has fewer slides.
  add(vk::kEnd, kActionGotoSlide, slideCount);
}

void TInputMappingClass::ReadMouseActions(const TIniFile& document) {
  SetMouseActions(MouseOptionAction(document.ReadString("main", "opt_leftmouse", "")),
                  MouseOptionAction(document.ReadString("main", "opt_rightmouse", "")),
                  MouseOptionAction(document.ReadString("main", "opt_dblclick", "")));
}

const TKeyMap* TInputMappingClass::Key(uint32_t modifiers, uint32_t keyCode,
                                       uint8_t eventKind) const {
  if (screenSaver_) return &catchAll_;
  if (keyCode >= kKeyCount) return nullptr;
  for (const TKeyMap* e = keys_[keyCode].get(); e; e = e->next.get()) {
    if (e->Matches(modifiers, eventKind)) return e;
  }
  return nullptr;
}

TLumActionInfo TInputMappingClass::Mouse(bool buttonDown, int x, int y, uint8_t eventType,
                                         uint8_t button, int64_t tick) {
  if (screenSaver_ && buttonDown) return {kActionExit, 0, {}};
  if (detector_ && detector_->Moved(x, y, tick)) return {kActionExit, 0, {}};
  if (eventType == kMouseEventDown) {
    if (button == kPointerLeft) return leftClick_;
    if (button == kPointerRight) return rightClick_;
  } else if (eventType == kMouseEventDouble && button == kPointerLeft) {
    return dblClick_;
  }
  return {};
}

}  // namespace lum
