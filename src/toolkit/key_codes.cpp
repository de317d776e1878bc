#include "toolkit/key_codes.h"

#include <cmath>

namespace lum {

uint16_t VirtualKeyOf(SDL_Keycode key, SDL_Scancode scan) {
  // Letters and digits follow the layout's characters, as the platform's own codes do.
  if (key >= SDLK_a && key <= SDLK_z) return static_cast<uint16_t>('A' + (key - SDLK_a));
  if (key >= SDLK_0 && key <= SDLK_9) return static_cast<uint16_t>('0' + (key - SDLK_0));
  if (scan >= SDL_SCANCODE_A && scan <= SDL_SCANCODE_Z)
    return static_cast<uint16_t>('A' + (scan - SDL_SCANCODE_A));
  if (scan >= SDL_SCANCODE_1 && scan <= SDL_SCANCODE_9)
    return static_cast<uint16_t>('1' + (scan - SDL_SCANCODE_1));
  if (scan == SDL_SCANCODE_0) return '0';
  if (scan >= SDL_SCANCODE_F1 && scan <= SDL_SCANCODE_F12)
    return static_cast<uint16_t>(vk::kF1 + (scan - SDL_SCANCODE_F1));
  if (scan >= SDL_SCANCODE_F13 && scan <= SDL_SCANCODE_F24)
    return static_cast<uint16_t>(vk::kF1 + 12 + (scan - SDL_SCANCODE_F13));
  if (scan >= SDL_SCANCODE_KP_1 && scan <= SDL_SCANCODE_KP_9)
    return static_cast<uint16_t>(vk::kNumpad0 + 1 + (scan - SDL_SCANCODE_KP_1));
  switch (scan) {
    case SDL_SCANCODE_KP_0:
      return vk::kNumpad0;
    case SDL_SCANCODE_KP_MULTIPLY:
      return vk::kMultiply;
    case SDL_SCANCODE_KP_PLUS:
      return vk::kAdd;
    case SDL_SCANCODE_KP_MINUS:
      return vk::kSubtract;
    case SDL_SCANCODE_KP_PERIOD:
      return vk::kDecimal;
    case SDL_SCANCODE_KP_DIVIDE:
      return vk::kDivide;
    case SDL_SCANCODE_KP_ENTER:
      return vk::kReturn;
    case SDL_SCANCODE_KP_COMMA:
      return vk::kSeparator;
    case SDL_SCANCODE_BACKSPACE:
      return vk::kBack;
    case SDL_SCANCODE_TAB:
      return vk::kTab;
    case SDL_SCANCODE_RETURN:
      return vk::kReturn;
    case SDL_SCANCODE_LSHIFT:
    case SDL_SCANCODE_RSHIFT:
      return vk::kShift;
    case SDL_SCANCODE_LCTRL:
    case SDL_SCANCODE_RCTRL:
      return vk::kControl;
    case SDL_SCANCODE_LALT:
    case SDL_SCANCODE_RALT:
      return vk::kMenu;
    case SDL_SCANCODE_PAUSE:
      return vk::kPause;
    case SDL_SCANCODE_CAPSLOCK:
      return vk::kCapital;
    case SDL_SCANCODE_ESCAPE:
      return vk::kEscape;
    case SDL_SCANCODE_SPACE:
      return vk::kSpace;
    case SDL_SCANCODE_PAGEUP:
      return vk::kPrior;
    case SDL_SCANCODE_PAGEDOWN:
      return vk::kNext;
    case SDL_SCANCODE_END:
      return vk::kEnd;
    case SDL_SCANCODE_HOME:
      return vk::kHome;
    case SDL_SCANCODE_LEFT:
      return vk::kLeft;
    case SDL_SCANCODE_UP:
      return vk::kUp;
    case SDL_SCANCODE_RIGHT:
      return vk::kRight;
    case SDL_SCANCODE_DOWN:
      return vk::kDown;
    case SDL_SCANCODE_PRINTSCREEN:
      return vk::kSnapshot;
    case SDL_SCANCODE_INSERT:
      return vk::kInsert;
    case SDL_SCANCODE_DELETE:
      return vk::kDelete;
    case SDL_SCANCODE_LGUI:
      return vk::kLWin;
    case SDL_SCANCODE_RGUI:
      return vk::kRWin;
    case SDL_SCANCODE_APPLICATION:
      return vk::kApps;
    case SDL_SCANCODE_NUMLOCKCLEAR:
      return vk::kNumLock;
    case SDL_SCANCODE_SCROLLLOCK:
      return vk::kScroll;
    case SDL_SCANCODE_AC_BACK:
      return vk::kBrowserBack;
    case SDL_SCANCODE_AC_FORWARD:
      return vk::kBrowserForward;
    case SDL_SCANCODE_AC_REFRESH:
      return vk::kBrowserRefresh;
    case SDL_SCANCODE_AC_STOP:
      return vk::kBrowserStop;
    case SDL_SCANCODE_AC_SEARCH:
      return vk::kBrowserSearch;
    case SDL_SCANCODE_AC_BOOKMARKS:
      return vk::kBrowserFavorites;
    case SDL_SCANCODE_AC_HOME:
      return vk::kBrowserHome;
    case SDL_SCANCODE_MUTE:
    case SDL_SCANCODE_AUDIOMUTE:
      return vk::kVolumeMute;
    case SDL_SCANCODE_VOLUMEDOWN:
      return vk::kVolumeDown;
    case SDL_SCANCODE_VOLUMEUP:
      return vk::kVolumeUp;
    case SDL_SCANCODE_AUDIONEXT:
      return vk::kMediaNextTrack;
    case SDL_SCANCODE_AUDIOPREV:
      return vk::kMediaPrevTrack;
    case SDL_SCANCODE_AUDIOSTOP:
      return vk::kMediaStop;
    case SDL_SCANCODE_AUDIOPLAY:
      return vk::kMediaPlayPause;
    case SDL_SCANCODE_MAIL:
      return vk::kLaunchMail;
    case SDL_SCANCODE_MEDIASELECT:
      return vk::kLaunchMediaSelect;
    case SDL_SCANCODE_SEMICOLON:
      return vk::kOem1;
    case SDL_SCANCODE_EQUALS:
      return vk::kOemPlus;
    case SDL_SCANCODE_COMMA:
      return vk::kOemComma;
    case SDL_SCANCODE_MINUS:
      return vk::kOemMinus;
    case SDL_SCANCODE_PERIOD:
      return vk::kOemPeriod;
    case SDL_SCANCODE_SLASH:
      return vk::kOem2;
    case SDL_SCANCODE_GRAVE:
      return vk::kOem3;
    case SDL_SCANCODE_LEFTBRACKET:
      return vk::kOem4;
    case SDL_SCANCODE_BACKSLASH:
      return vk::kOem5;
    case SDL_SCANCODE_RIGHTBRACKET:
      return vk::kOem6;
    case SDL_SCANCODE_APOSTROPHE:
      return vk::kOem7;
    default:
      break;
  }
  return 0;
}

uint32_t ModifierBitsOf(uint16_t sdlMod) {
  uint32_t bits = 0;
  if (sdlMod & KMOD_GUI) bits |= kModWin;
  if (sdlMod & KMOD_SHIFT) bits |= kModShift;
  if (sdlMod & KMOD_ALT) bits |= kModAlt;
  if (sdlMod & KMOD_CTRL) bits |= kModCtrl;
  return bits;
}

TMouseButton MouseButtonOf(uint8_t sdlButton) {
  switch (sdlButton) {
    case SDL_BUTTON_LEFT:
      return TMouseButton::Left;
    case SDL_BUTTON_RIGHT:
      return TMouseButton::Right;
    case SDL_BUTTON_MIDDLE:
      return TMouseButton::Middle;
    case SDL_BUTTON_X1:
      return TMouseButton::X1;
    case SDL_BUTTON_X2:
      return TMouseButton::X2;
    default:
      return TMouseButton::None;
  }
}

int TWheelAccumulator::Add(double notches) {
  // A broken or absurd value moves nothing; a real wheel gives a few at most.
  constexpr double kMostNotches = 1e6;
  if (!std::isfinite(notches) || std::abs(notches) > kMostNotches) return 0;
  units_ += std::llround(notches * double(kUnitsPerNotch));
  const int64_t whole = units_ / kUnitsPerNotch;  // towards zero: the remainder keeps its sign
  units_ -= whole * kUnitsPerNotch;
  return static_cast<int>(whole);
}

double TWheelAccumulator::Remainder() const {
  return double(units_) / double(kUnitsPerNotch);
}

}  // namespace lum
