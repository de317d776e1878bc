#pragma once
// Keys and pointer events of the show window turned into actions, according to
// the options of the show's project document. Rebuilt for every show opened;
// used on the window thread only.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "project/lum_action_info.h"
#include "toolkit/key_codes.h"

namespace lum {

class TIniFile;

// Event kinds of key entries. Only key-down is mapped by default.
inline constexpr uint8_t kKeyEventDown = 1;

// Pointer event types passed to TInputMappingClass::Mouse.
inline constexpr uint8_t kMouseEventMove = 1;
inline constexpr uint8_t kMouseEventDown = 2;
inline constexpr uint8_t kMouseEventDouble = 3;
inline constexpr uint8_t kMouseEventUp = 4;  // never mapped; screen saver still exits

// Pointer button codes of the mapping (one bit each, as button-state masks write them).
inline constexpr uint8_t kPointerNone = 0;
inline constexpr uint8_t kPointerLeft = 1;
inline constexpr uint8_t kPointerMiddle = 2;
inline constexpr uint8_t kPointerRight = 4;

// The mapping's code of a toolkit button; the extra buttons give kPointerNone.
uint8_t PointerButtonCode(TMouseButton button);

// The action of a mouse option value ("Exit", "Next slide", ...), compared
// exactly; anything else gives no action.
TLumActionInfo MouseOptionAction(std::string_view value);

// One entry of a key chain: matches an event of its kind when
// (modifiers AND mask) equals the required modifiers.
struct TKeyMap {
  std::unique_ptr<TKeyMap> next;
  uint8_t mask = 0;
  uint8_t required = 0;
  uint8_t kind = kKeyEventDown;
  uint8_t action = kActionNone;
  int32_t arg = 0;

  bool Matches(uint32_t modifiers, uint8_t eventKind) const {
    return kind == eventKind && (modifiers & mask) == required;
  }
  TLumActionInfo Action() const { return {action, arg, {}}; }
};

// Pointer-move detection: positions closer than 6 (|dx| + |dy|) to the
// reference are jitter. Ticks are milliseconds from any common origin.
class TMouseMoveDetector {
 public:
  explicit TMouseMoveDetector(int64_t idleMs = 0, int64_t startTick = 0)
      : idleMs_(idleMs), lastMoveTick_(startTick) {}

  // True when the position is a move; it then becomes the reference and its
  // tick the last move. The first position only becomes the reference.
  // Suspension does not affect move detection.
  bool Moved(int x, int y, int64_t tick);
  // True, unless suspended, when more than the idle interval has passed since
  // the last move (or the start, or the last Resume).
  bool Idle(int64_t tick) const;
  // While suspended the pointer never counts as idle.
  void Suspend() { suspended_ = true; }
  // Ends a suspension; the idle interval restarts at the tick.
  void Resume(int64_t tick);

  int MoveCount() const { return moves_; }
  int64_t LastMoveTick() const { return lastMoveTick_; }
  int64_t IdleInterval() const { return idleMs_; }
  void SetIdleInterval(int64_t ms) { idleMs_ = ms; }
  bool Suspended() const { return suspended_; }

 private:
  static constexpr int kMoveDistance = 6;
  std::optional<std::pair<int, int>> reference_;
  int moves_ = 0;
  int64_t idleMs_;
  int64_t lastMoveTick_;
  bool suspended_ = false;
};

class TInputMappingClass {
 public:
  static constexpr uint32_t kKeyCount = 256;

  // An empty mapping: no keys, no mouse actions, control permitted.
  TInputMappingClass() = default;
  // The default mapping of a show, built from its project document's options.
  explicit TInputMappingClass(const TIniFile& document);

  // Adds an entry in front of the code's chain, so it is searched before the
  // earlier ones. Codes of 256 or more are ignored.
  void AddKey(uint32_t code, uint8_t mask, uint8_t required, uint8_t kind, uint8_t action,
              int32_t arg = 0);
  // Screen-saver mode: every key query answers the catch-all exit entry.
  void SetScreenSaver(bool on) { screenSaver_ = on; }
  void SetMouseActions(TLumActionInfo left, TLumActionInfo right, TLumActionInfo dblClick);
  // Pointer moves end the show while a detector exists.
  void EnableMoveDetector(int64_t idleMs = 0) { detector_.emplace(idleMs); }

  // The entry for a key event, or null. Valid until the mapping changes.
  const TKeyMap* Key(uint32_t modifiers, uint32_t keyCode, uint8_t eventKind) const;
  // The action of a pointer event (type kPointer*, button kPointerLeft etc.).
  // Feeds the move detector, when there is one, with the position and tick.
  TLumActionInfo Mouse(bool buttonDown, int x, int y, uint8_t eventType, uint8_t button,
                       int64_t tick);

  bool ScreenSaver() const { return screenSaver_; }
  // Whether the standard navigation keys were mapped.
  bool ControlPermitted() const { return controlPermitted_; }
  TMouseMoveDetector* Detector() { return detector_ ? &*detector_ : nullptr; }

 private:
  void AddDefaultKeys(const TIniFile& document);
  void AddNavigationKeys(int32_t slideCount);
  void ReadMouseActions(const TIniFile& document);

  std::array<std::unique_ptr<TKeyMap>, kKeyCount> keys_;
  TLumActionInfo leftClick_, rightClick_, dblClick_;
  bool screenSaver_ = false;
  TKeyMap catchAll_{nullptr, 0, 0, kKeyEventDown, kActionExit, 0};
  bool controlPermitted_ = true;
  std::optional<TMouseMoveDetector> detector_;
};

}  // namespace lum
