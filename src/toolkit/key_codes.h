#pragma once
// Keyboard and pointer codes as the show's key maps write them: Windows
// virtual-key values and modifier bits, so maps made for the original platform
// work unchanged. SDL codes are translated here and nowhere else.
#include <SDL.h>

#include <cstdint>

namespace lum {

namespace vk {
inline constexpr uint16_t kBack = 0x08, kTab = 0x09, kReturn = 0x0D, kShift = 0x10, kControl = 0x11,
                          kMenu = 0x12, kPause = 0x13, kCapital = 0x14, kEscape = 0x1B,
                          kSpace = 0x20, kPrior = 0x21, kNext = 0x22, kEnd = 0x23, kHome = 0x24,
                          kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28, kSnapshot = 0x2C,
                          kInsert = 0x2D, kDelete = 0x2E, kLWin = 0x5B, kRWin = 0x5C, kApps = 0x5D,
                          kNumpad0 = 0x60, kMultiply = 0x6A, kAdd = 0x6B, kSeparator = 0x6C,
                          kSubtract = 0x6D, kDecimal = 0x6E, kDivide = 0x6F, kF1 = 0x70,
                          kF24 = 0x87, kNumLock = 0x90, kScroll = 0x91, kBrowserBack = 0xA6,
                          kBrowserForward = 0xA7, kBrowserRefresh = 0xA8, kBrowserStop = 0xA9,
                          kBrowserSearch = 0xAA, kBrowserFavorites = 0xAB, kBrowserHome = 0xAC,
                          kVolumeMute = 0xAD, kVolumeDown = 0xAE, kVolumeUp = 0xAF,
                          kMediaNextTrack = 0xB0, kMediaPrevTrack = 0xB1, kMediaStop = 0xB2,
                          kMediaPlayPause = 0xB3, kLaunchMail = 0xB4, kLaunchMediaSelect = 0xB5,
                          kOem1 = 0xBA, kOemPlus = 0xBB, kOemComma = 0xBC, kOemMinus = 0xBD,
                          kOemPeriod = 0xBE, kOem2 = 0xBF, kOem3 = 0xC0, kOem4 = 0xDB, kOem5 = 0xDC,
                          kOem6 = 0xDD, kOem7 = 0xDE;
}  // namespace vk

// Modifier bits of key and pointer events.
inline constexpr uint32_t kModWin = 1, kModShift = 2, kModAlt = 4, kModCtrl = 8;

// Virtual-key value of an SDL key; 0 for keys the maps cannot name.
uint16_t VirtualKeyOf(SDL_Keycode key, SDL_Scancode scan);
// Modifier bits of an SDL modifier state.
uint32_t ModifierBitsOf(uint16_t sdlMod);

// Pointer buttons as events report them.
enum class TMouseButton : uint8_t { None = 0, Left = 1, Right = 2, Middle = 3, X1 = 4, X2 = 5 };
TMouseButton MouseButtonOf(uint8_t sdlButton);

// Wheel notches are 120 units each. High-resolution wheels and touchpads
// report fractions of a notch; they add up here into whole notches, the
// remainder kept for the next event.
class TWheelAccumulator {
 public:
  // Adds movement in notches (signed); returns the whole notches it completed.
  int Add(double notches);
  // The fraction of a notch held back, in notches.
  double Remainder() const;

 private:
  // Kept in exact fixed point so that many small steps add up without drift.
  static constexpr int64_t kUnitsPerNotch = 120000;
  int64_t units_ = 0;
};

}  // namespace lum
