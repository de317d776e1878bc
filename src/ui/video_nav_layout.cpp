#include "ui/video_nav_layout.h"

#include <algorithm>
#include <cmath>

#include "document/ini_file.h"
#include "document/ini_values.h"
#include "ui/nav_skin.h"

namespace lum {

namespace {

constexpr const char* kCommon = "Common";
constexpr const char* kPixels = "Pixel positions";
// The track keeps at least this many pixels beside the knob once fitted.
constexpr int32_t kMinTrack = 100;
// Halving stops here: every skin size has rounded to nothing by then.
constexpr double kMinScale = 1.0 / (4 * kMaxVideoNavExtent);

int32_t Checked(const char* key, int32_t v, int32_t least) {
  if (v < least || v > kMaxVideoNavExtent)
    throw ENavSkinError("Skin value out of range: " + std::string(key) + "=" + std::to_string(v) +
                        " (" + std::to_string(least) + " to " + std::to_string(kMaxVideoNavExtent) +
                        ")");
  return v;
}

int32_t Size(const TIniFile& ini, const char* section, const char* key) {
  return Checked(key, ini.ReadInteger(section, key, 0), 0);
}

int32_t Gap(const TIniFile& ini, const char* key) {
  return Checked(key, ini.ReadInteger(kPixels, key, 0), -kMaxVideoNavExtent);
}

// A "w,h" pair; least is the smallest value allowed.
std::pair<int32_t, int32_t> Pair(const TIniFile& ini, const char* key, int32_t least) {
  const std::string value = ini.ReadString(kPixels, key, "");
  std::vector<std::string> parts;
  if (!value.empty()) parts = SplitValue(value, ',');
  if (parts.size() != 2)
    throw ENavSkinError("Incorrect number of parameters in field \"" + std::string(key) + "\"");
  return {Checked(key, ValueToInt(parts[0], 0), least),
          Checked(key, ValueToInt(parts[1], 0), least)};
}

std::string File(const TIniFile& ini, const char* section, const char* key,
                 const std::string& folder) {
  const std::string name = ini.ReadString(section, key, "");
  if (name.empty())
    throw ENavSkinError("The skin names no picture for \"" + std::string(key) + "\"");
  return folder + name;
}

}  // namespace

TVideoNavSkin ReadVideoNavSkin(const TIniFile& ini, const std::string& folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/')
    throw ENavSkinError("Path delimiter nof found!");
  TVideoNavSkin s;
  s.folder = folder;
  s.defaultScale = ini.ReadFloat(kCommon, "DefaultScale", 10);
  if (!(s.defaultScale > 0 && s.defaultScale <= 1000)) s.defaultScale = 10;
  s.bgLeft = Size(ini, kCommon, "BgLeft");
  s.bgRight = Size(ini, kCommon, "BgRight");
  s.lineLeft = Size(ini, kCommon, "TrackLineLeft");
  s.lineRight = Size(ini, kCommon, "TrackLineRight");
  s.back = File(ini, kCommon, "flnm_back", folder);
  std::tie(s.barW, s.barH) = Pair(ini, "BarSize", 1);
  s.trackH = Size(ini, kPixels, "TrackHeight");
  std::tie(s.btnW, s.btnH) = Pair(ini, "BtnSize", 0);
  std::tie(s.digitW, s.digitH) = Pair(ini, "DigitSize", 0);
  s.volumeLength = Size(ini, kPixels, "VolumeControlLength");
  s.leftSpace = Gap(ini, "LeftSpace");
  s.buttonsTrackSpace = Gap(ini, "ButtonsTrackSpace");
  s.trackDigitsSpace = Gap(ini, "TrackDigitsSpace");
  s.digitsSoundBtnSpace = Gap(ini, "DigitsSoundBtnSpace");
  s.soundBtnTrackSpace = Gap(ini, "SoundBtnTrackSpace");
  s.rightSpace = Gap(ini, "RightSpace");
  s.line = File(ini, "Trackbar", "flnm_Line", folder);
  s.knob = File(ini, "Trackbar", "flnm_Polzun", folder);
  s.strips = {File(ini, "Buttons", "flnm_Normal", folder),
              File(ini, "Buttons", "flnm_Hover", folder),
              File(ini, "Buttons", "flnm_Click", folder)};
  return s;
}

int32_t ScaledSize(int32_t size, double s) {
  return int32_t(std::lround(size * s));
}

TRect TVideoNavLayout::Centred(int32_t x, int32_t w, int32_t h) const {
  const int32_t top = (height - h) / 2;
  return {x, top, x + w, top + h};
}

TVideoNavLayout LayoutVideoNavBar(const TVideoNavSkin& skin, double s, int32_t width,
                                  int32_t commands, bool hours) {
  TVideoNavLayout l;
  l.width = width;
  l.height = ScaledSize(skin.barH, s);
  l.btnW = ScaledSize(skin.btnW, s);
  l.btnH = ScaledSize(skin.btnH, s);
  l.digitW = ScaledSize(skin.digitW, s);
  l.digitH = ScaledSize(skin.digitH, s);
  l.knobW = ScaledSize(skin.knobW, s);
  l.knobH = ScaledSize(skin.knobH, s);
  l.trackH = ScaledSize(skin.trackH, s);
  const int32_t volume = ScaledSize(skin.volumeLength, s);
  l.play = l.Centred(skin.leftSpace, l.btnW, l.btnH);
  for (int32_t i = 0; i < commands; ++i)
    l.commands.push_back(l.Centred(skin.leftSpace + l.btnW * (i + 1), l.btnW, l.btnH));
  l.trackStart = l.btnW * (commands + 1) + skin.leftSpace + skin.buttonsTrackSpace;
  l.volumeEnd = width - skin.rightSpace;
  l.volumeStart = l.volumeEnd - volume;
  l.digitsRight = l.volumeStart - skin.soundBtnTrackSpace - l.btnW - skin.digitsSoundBtnSpace;
  l.sound = l.Centred(l.digitsRight + skin.digitsSoundBtnSpace, l.btnW, l.btnH);
  l.cells = hours ? kReadoutCellsHours : kReadoutCells;
  l.trackEnd = l.digitsRight - l.digitW * l.cells;
  return l;
}

std::optional<double> FitVideoNavScale(const TVideoNavSkin& skin, int32_t width, int32_t h,
                                       int32_t commands, bool hours) {
  if (skin.barH <= 0 || h <= 0) return std::nullopt;
  double s = double(h) / skin.barH;
  auto room = [&](double scale) {
    const TVideoNavLayout l = LayoutVideoNavBar(skin, scale, width, commands, hours);
    return int64_t(l.trackEnd) - l.trackStart - l.knobW;
  };
  if (room(s) <= 0) return std::nullopt;
  // The gaps do not scale: a bar whose gaps alone leave no track never fits.
  while (room(s) <= kMinTrack) {
    s /= 2;
    if (s < kMinScale) return std::nullopt;
  }
  return s;
}

}  // namespace lum
