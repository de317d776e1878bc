#pragma once
// The video-style navigation bar's skin document and geometry: a play
// button and command buttons at the left, the time track, the read-out,
// the sound button and the volume track at the right, all at one scale.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "render/3d_types.h"

namespace lum {

class TIniFile;

struct TVideoNavSkin {
  std::string folder;  // ends in a path delimiter, or is empty (top level)
  double defaultScale = 10;
  int32_t bgLeft = 0, bgRight = 0, lineLeft = 0, lineRight = 0;
  std::string back, line, knob;       // picture files, with the folder
  std::array<std::string, 3> strips;  // normal, hover, pressed
  int32_t barW = 0, barH = 0, trackH = 0, btnW = 0, btnH = 0, digitW = 0, digitH = 0;
  int32_t volumeLength = 0;
  int32_t leftSpace = 0, buttonsTrackSpace = 0, trackDigitsSpace = 0, digitsSoundBtnSpace = 0,
          soundBtnTrackSpace = 0, rightSpace = 0;
  int32_t knobW = 0, knobH = 0;  // the knob picture's size, once loaded
};

// Skin sizes and gaps beyond this (in either direction) are refused.
inline constexpr int32_t kMaxVideoNavExtent = 4096;

// Reads the skin document; the folder must end in "\" or "/" unless empty.
// Throws ENavSkinError with the message for the log for a bad folder,
// pairs of other than two numbers, missing picture names and sizes beyond
// kMaxVideoNavExtent.
TVideoNavSkin ReadVideoNavSkin(const TIniFile& skin, const std::string& folder);

// Read-out cells: minutes and seconds, or hours too from 60 minutes on.
inline constexpr int32_t kReadoutCells = 12, kReadoutCellsHours = 18;
inline constexpr double kHoursFromMs = 3600000;

// Positions in bar pixels at one scale.
struct TVideoNavLayout {
  int32_t width = 0, height = 0;
  int32_t btnW = 0, btnH = 0, digitW = 0, digitH = 0, knobW = 0, knobH = 0, trackH = 0;
  TRect play, sound;
  std::vector<TRect> commands;
  int32_t trackStart = 0, trackEnd = 0;
  int32_t digitsRight = 0, cells = kReadoutCells;
  int32_t volumeStart = 0, volumeEnd = 0;

  // A w x h rectangle at x, centred vertically in the bar.
  TRect Centred(int32_t x, int32_t w, int32_t h) const;
};

// A skin size at scale s, rounded.
int32_t ScaledSize(int32_t size, double s);

// The layout for a bar `width` wide with `commands` command buttons; hours
// makes the read-out 18 cells instead of 12.
TVideoNavLayout LayoutVideoNavBar(const TVideoNavSkin& skin, double s, int32_t width,
                                  int32_t commands, bool hours);

// The scale for a bar of height h: h over the skin's bar height, halved
// until the knob and 100 pixels of track fit; none when the bar must hide.
std::optional<double> FitVideoNavScale(const TVideoNavSkin& skin, int32_t width, int32_t h,
                                       int32_t commands, bool hours);

}  // namespace lum
