#include "model/object_filter.h"

#include <cctype>
#include <cmath>
#include <numbers>

#include "document/ini_file.h"
#include "document/ini_values.h"
#include "foundation/case_fold.h"
#include "model/lum_object_mod.h"

namespace lum {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && uint8_t(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && uint8_t(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

uint8_t ClampByte(long v) {
  return uint8_t(std::clamp(v, 0L, 255L));
}

// A whole-number parameter from text: rounded and clamped to its range;
// false (value untouched) when the text is no number.
bool ParamFromText(std::string_view text, const TFilterParamInfo& info, int& value) {
  const double v = ValueToFloat(Trim(text), std::nan(""));
  if (!std::isfinite(v)) {
    if (std::isnan(v)) return false;
    value = int(v > 0 ? info.max : info.min);
    return true;
  }
  value = int(std::lround(std::clamp(v, info.min, info.max)));
  return true;
}

// Reads a whole-number parameter; a missing key gives the default, one that
// is no number the default and a failure.
bool ReadParam(const TIniList* section, const TFilterParamInfo& info, int& value) {
  value = int(info.def);
  const TIniItem* item = FindItem(section, info.key);
  if (!item) return true;
  return ParamFromText(item->Value(), info, value);
}

// Calls f(b, g, r) -> (b, g, r) for every pixel; alpha becomes 255.
template <typename F>
void ForEachPixel(uint8_t* pixels, int width, int rows, size_t pitch, F f) {
  for (int y = 0; y < rows; ++y) {
    uint8_t* p = pixels + size_t(y) * pitch;
    for (int x = 0; x < width; ++x, p += 4) {
      f(p[0], p[1], p[2]);
      p[3] = 255;
    }
  }
}

void ApplyTable(const uint8_t (&table)[256], uint8_t* pixels, int width, int rows, size_t pitch) {
  ForEachPixel(pixels, width, rows, pitch, [&](uint8_t& b, uint8_t& g, uint8_t& r) {
    b = table[b], g = table[g], r = table[r];
  });
}

TFilterParamInfo IntParam(std::string key, std::string display, double min, double max,
                          double def) {
  return {std::move(key), std::move(display), TFilterParamType::Int, min, max, def, {}};
}

}  // namespace

bool ParseFilterColor(std::string_view text, TFilterColor& color) {
  text = Trim(text);
  if (!text.empty() && text[0] == '#') {
    if (text.size() != 7) return false;
    uint32_t rgb = 0;
    for (char c : text.substr(1)) {
      const int d = std::isdigit(uint8_t(c)) ? c - '0'
                    : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                             : -1;
      if (d < 0) return false;
      rgb = rgb << 4 | uint32_t(d);
    }
    color = (rgb >> 16) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
    return true;
  }
  std::vector<std::string> parts = SplitValue(text, ',');
  if (parts.size() != 3) return false;
  uint32_t c = 0;
  for (int i = 0; i < 3; ++i) {
    const double v = ValueToFloat(Trim(parts[i]), std::nan(""));
    if (std::isnan(v)) return false;
    c |= uint32_t(ClampByte(std::lround(std::clamp(v, -1.0, 256.0)))) << (8 * i);
  }
  color = c;
  return true;
}

std::string FilterColorText(TFilterColor color) {
  return std::to_string(color & 0xFF) + "," + std::to_string((color >> 8) & 0xFF) + "," +
         std::to_string((color >> 16) & 0xFF);
}

void TObjectFilter::Load(const TIniObject* section) {
  const std::string id = ReadString(section, "id", "");
  const bool hasRevision = FindItem(section, "$rev") != nullptr;
  const int64_t revision = ReadInt64(section, "$rev", 0);
  disabled_ = ReadBool(section, "Disable", false);
  // Saved again under the same revision: the parameters are those we hold.
  if (loaded_ && !id.empty() && id == id_ && hasRevision && revision == revision_) return;
  loaded_ = true;
  id_ = id.empty() ? NewGuidText() : id;
  revision_ = revision;
  ++paramLoads_;
  paramsFailed_ = !LoadParams(section);
}

// Linear family.

void TLinearGenerator::Apply(uint8_t* pixels, int width, int rows, size_t pitch) const {
  uint8_t table[256];
  for (int c = 0; c < 256; ++c) table[c] = ClampByte(std::lround(c * k_ + d_));
  ApplyTable(table, pixels, width, rows, pitch);
}

const TFilterParamInfoArray& TBrightContrastGenerator::ParamInfo() const {
  static const TFilterParamInfoArray info = {IntParam("Bright", "Brightness", -100, 100, 0),
                                             IntParam("Contrast", "Contrast", -100, 100, 0)};
  return info;
}

bool TBrightContrastGenerator::LoadParams(const TIniList* section) {
  const bool ok = ReadParam(section, ParamInfo()[0], bright_) &
                  ReadParam(section, ParamInfo()[1], contrast_);
  Update();
  return ok;
}

std::string TBrightContrastGenerator::GetParam(int index) const {
  return index == 0 ? std::to_string(bright_) : index == 1 ? std::to_string(contrast_) : "";
}

bool TBrightContrastGenerator::SetParam(int index, std::string_view text) {
  if (index < 0 || index > 1) return false;
  const bool ok = ParamFromText(text, ParamInfo()[index], index == 0 ? bright_ : contrast_);
  Update();
  return ok;
}

void TBrightContrastGenerator::Update() {
  const double a = (100 - contrast_) * std::numbers::pi * 0.0025;
  // Contrast 100 makes the line vertical: a threshold at mid grey.
  double k = std::abs(a) <= 0.001 ? 10000 : std::clamp(1 / std::tan(a), 0.0, 10000.0);
  // Contrast -100 is a flat line at mid grey, not one a rounding error off it.
  if (k < 1e-12) k = 0;
  SetLine(k, ((1 - k) * 0.5 + k * bright_ / 255.0) * 255);
}

const TFilterParamInfoArray& TInvertColor::ParamInfo() const {
  static const TFilterParamInfoArray none;
  return none;
}

// Levels.

const TFilterParamInfoArray& TLevelsGenerator::ParamInfo() const {
  static const TFilterParamInfoArray info = {IntParam("Min", "Input black", 0, 255, 0),
                                             IntParam("Med", "Midtones", -100, 100, 0),
                                             IntParam("Max", "Input white", 0, 255, 255)};
  return info;
}

bool TLevelsGenerator::LoadParams(const TIniList* section) {
  const bool ok = ReadParam(section, ParamInfo()[0], min_) &
                  ReadParam(section, ParamInfo()[1], med_) &
                  ReadParam(section, ParamInfo()[2], max_);
  Update();
  return ok;
}

std::string TLevelsGenerator::GetParam(int index) const {
  const int* v[3] = {&min_, &med_, &max_};
  return index >= 0 && index < 3 ? std::to_string(*v[index]) : "";
}

bool TLevelsGenerator::SetParam(int index, std::string_view text) {
  int* v[3] = {&min_, &med_, &max_};
  if (index < 0 || index > 2) return false;
  const bool ok = ParamFromText(text, ParamInfo()[index], *v[index]);
  Update();
  return ok;
}

void TLevelsGenerator::Update() {
  const double s = max_ == min_ ? 1.0 : 1.0 / (max_ - min_);
  gamma_ = med_ == -100 ? 10.0 : std::clamp((100.0 - med_) / (med_ + 100.0), 0.1, 10.0);
  for (int c = 0; c < 256; ++c) {
    // Min above Max makes s negative: such inputs go black rather than NaN.
    const double base = std::max(0.0, std::max(0, c - min_) * s);
    table_[c] = ClampByte(std::lround(std::min(std::pow(base, gamma_) * 255, 1e6)));
  }
}

void TLevelsGenerator::Apply(uint8_t* pixels, int width, int rows, size_t pitch) const {
  ApplyTable(table_, pixels, width, rows, pitch);
}

// HSL.

namespace {

// a / b rounded to the nearest, halves away from zero; b > 0.
int RoundDiv(int a, int b) {
  return a >= 0 ? (a + b / 2) / b : -((b / 2 - a) / b);
}

// The channel at hue position x (sixths of a step) between p and q.
int HueChannel(int p, int q, int x) {
  x = ((x % 1536) + 1536) % 1536;
  if (x < 256) return p + RoundDiv((q - p) * x, 256);
  if (x < 768) return q;
  if (x < 1024) return p + RoundDiv((q - p) * (1024 - x), 256);
  return p;
}

}  // namespace

THsl RgbToHsl(int r, int g, int b) {
  const int mx = std::max({r, g, b}), mn = std::min({r, g, b}), d = mx - mn;
  THsl hsl;
  hsl.l2 = mx + mn;
  if (d == 0) return hsl;
  hsl.s = RoundDiv(255 * d, hsl.l2 <= 255 ? hsl.l2 : 510 - hsl.l2);
  int x;
  if (mx == r)
    x = RoundDiv(256 * (g - b), d);
  else if (mx == g)
    x = 512 + RoundDiv(256 * (b - r), d);
  else
    x = 1024 + RoundDiv(256 * (r - g), d);
  hsl.h6 = (x + 1536) % 1536;
  return hsl;
}

void HslToRgb(const THsl& hsl, int& r, int& g, int& b) {
  const int l2 = std::clamp(hsl.l2, 0, 510), s = std::clamp(hsl.s, 0, 255);
  const int q = std::clamp(l2 <= 255 ? RoundDiv(l2 * (255 + s), 510)
                                     : RoundDiv(l2 * (255 - s) + 510 * s, 510),
                           0, 255);
  const int p = std::clamp(l2 - q, 0, 255);
  const int x = ((hsl.h6 % 1536) + 1536) % 1536;
  r = std::clamp(HueChannel(p, q, x + 512), 0, 255);
  g = std::clamp(HueChannel(p, q, x), 0, 255);
  b = std::clamp(HueChannel(p, q, x - 512), 0, 255);
}

const TFilterParamInfoArray& THSLGenerator::ParamInfo() const {
  static const TFilterParamInfoArray info = {IntParam("Hue", "Hue", -180, 180, 0),
                                             IntParam("Saturation", "Saturation", -100, 100, 0),
                                             IntParam("Lightness", "Lightness", -100, 100, 0)};
  return info;
}

bool THSLGenerator::LoadParams(const TIniList* section) {
  return ReadParam(section, ParamInfo()[0], hue_) &
         ReadParam(section, ParamInfo()[1], saturation_) &
         ReadParam(section, ParamInfo()[2], lightness_);
}

std::string THSLGenerator::GetParam(int index) const {
  const int* v[3] = {&hue_, &saturation_, &lightness_};
  return index >= 0 && index < 3 ? std::to_string(*v[index]) : "";
}

bool THSLGenerator::SetParam(int index, std::string_view text) {
  int* v[3] = {&hue_, &saturation_, &lightness_};
  return index >= 0 && index < 3 && ParamFromText(text, ParamInfo()[index], *v[index]);
}

void THSLGenerator::Apply(uint8_t* pixels, int width, int rows, size_t pitch) const {
  // Whole steps of the 0..255 scales, in the finer units the conversion keeps.
  const int dh6 = 6 * int(std::lround(hue_ / 360.0 * 256));
  const int ds = int(std::lround(saturation_ * 2.56));
  const int dl2 = 2 * int(std::lround(lightness_ * 2.56));
  ForEachPixel(pixels, width, rows, pitch, [&](uint8_t& b, uint8_t& g, uint8_t& r) {
    THsl hsl = RgbToHsl(r, g, b);
    hsl.h6 = (hsl.h6 + dh6 % 1536 + 1536) % 1536;
    hsl.s = std::clamp(hsl.s + ds, 0, 255);
    hsl.l2 = std::clamp(hsl.l2 + dl2, 0, 510);
    int nr, ng, nb;
    HslToRgb(hsl, nr, ng, nb);
    r = uint8_t(nr), g = uint8_t(ng), b = uint8_t(nb);
  });
}

// Colourisation.

const TFilterParamInfoArray& TColorizationGenerator::ParamInfo() const {
  static const TFilterParamInfoArray info = {
      {"Color", "Color", TFilterParamType::Color, 0, 0, 0,
       {"GrayScale;#808080", "Sepia;155,130,99", "Cyan;#6B7E92", "Custom"}},
      IntParam("Amount", "Amount", 0, 100, 100)};
  return info;
}

bool TColorizationGenerator::LoadParams(const TIniList* section) {
  color_ = 0x808080;
  bool ok = ReadParam(section, ParamInfo()[1], amount_);
  if (const TIniItem* item = FindItem(section, "Color"))
    ok = ParseFilterColor(item->Value(), color_) && ok;
  return ok;
}

std::string TColorizationGenerator::GetParam(int index) const {
  return index == 0 ? FilterColorText(color_) : index == 1 ? std::to_string(amount_) : "";
}

bool TColorizationGenerator::SetParam(int index, std::string_view text) {
  if (index == 0) return ParseFilterColor(text, color_);
  return index == 1 && ParamFromText(text, ParamInfo()[1], amount_);
}

void TColorizationGenerator::Apply(uint8_t* pixels, int width, int rows, size_t pitch) const {
  const int a = int(std::lround(amount_ / 100.0 * 256));
  const int kr = color_ & 0xFF, kg = (color_ >> 8) & 0xFF, kb = (color_ >> 16) & 0xFF;
  auto step = [&](uint8_t& c, int k, int y) {
    const int product = a * (Target(c, k, y) - c);
    // The bias makes the shift of a negative product round towards zero.
    c = uint8_t(std::min(255, c + ((product < 0 ? product + 255 : product) >> 8)));
  };
  ForEachPixel(pixels, width, rows, pitch, [&](uint8_t& b, uint8_t& g, uint8_t& r) {
    const int y = (r * 13933 + g * 46871 + b * 7471) >> 16;
    step(b, kb, y), step(g, kg, y), step(r, kr, y);
  });
}

// Registry.

namespace {

struct TFilterEntry {
  std::string name;
  TRef<TObjectFilter> (*make)();
};

template <typename T>
TRef<TObjectFilter> Make() {
  return TRef<TObjectFilter>(MakeRef<T>());
}

const std::vector<TFilterEntry>& Registry() {
  static const std::vector<TFilterEntry> entries = {
      {"Levels", Make<TLevelsGenerator>},
      {"Colorization", Make<TColorizationGenerator>},
      {"BrightContrast", Make<TBrightContrastGenerator>},
      {"HSL", Make<THSLGenerator>},
      {"Colorisation2", Make<TColorMultiply>},
      {"Colorisation3", Make<TDoubleColorMultiply>},
      {"Invert", Make<TInvertColor>},
  };
  return entries;
}

}  // namespace

const std::vector<std::string>& FilterNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const TFilterEntry& e : Registry()) n.push_back(e.name);
    return n;
  }();
  return names;
}

TRef<TObjectFilter> CreateFilter(std::string_view name) {
  name = Trim(name);
  for (const TFilterEntry& e : Registry())
    if (FoldedEquals(e.name, name)) return e.make();
  return nullptr;
}

// Chains.

TFilterKind TFilterChain::Kind() const {
  TFilterKind kind = TFilterKind::None;
  for (const auto& f : filters_)
    if (!f->Disabled()) kind = std::max(kind, f->Kind());
  return kind;
}

void TFilterChain::Apply(uint8_t* pixels, int width, int rows, size_t pitch) const {
  for (const auto& f : filters_)
    if (!f->Disabled()) f->Apply(pixels, width, rows, pitch);
}

int64_t TFilterChain::RevisionSum() const {
  uint64_t sum = 0;  // wraps rather than overflowing
  for (const auto& f : filters_) sum += uint64_t(f->Revision());
  return int64_t(sum);
}

std::string TFilterChain::Check() const {
  bool values = false, colours = false;
  for (const auto& f : filters_) {
    if (f->Disabled()) continue;
    (f->Kind() == TFilterKind::Value ? values : colours) |= f->Kind() != TFilterKind::None;
  }
  return values && colours ? "Error: Value filters can`t be combined" : "";
}

}  // namespace lum
