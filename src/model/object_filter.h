#pragma once
// Colour filters of key frames: levels, brightness and contrast,
// colourisation, hue/saturation/lightness and inversion. The filters of one
// key frame form a chain that maps every colour to a new one; the drawer
// bakes chains into look-up textures, so a filter only ever sees look-up
// cells, never the frames of a picture.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/ref_object.h"

namespace lum {

class TIniList;
class TIniObject;

// What a filter does to colours, ordered: a chain's kind is the largest.
enum class TFilterKind : int {
  None = 0,
  Value = 1,       // an expression modifier, no colour work
  PerChannel = 2,  // each channel through its own curve
  Cross = 3,       // channels mixed: needs a full colour volume
};

enum class TFilterParamType : int { Text = 0, Int = 1, Float = 2, Color = 3, Choice = 4 };

struct TFilterParamInfo {
  std::string key;
  std::string displayName;
  TFilterParamType type = TFilterParamType::Int;
  double min = 0, max = 0, def = 0;
  std::vector<std::string> choices;  // "name;value" for choices
};
using TFilterParamInfoArray = std::vector<TFilterParamInfo>;

// A colour as r | g << 8 | b << 16.
using TFilterColor = uint32_t;
// "#RRGGBB" or "r, g, b" (decimal, each clamped to 0..255). False for
// anything else; the colour is then untouched.
bool ParseFilterColor(std::string_view text, TFilterColor& color);
std::string FilterColorText(TFilterColor color);

class TObjectFilter : public TRefObject {
 public:
  // Maps BGRA pixels in place (alpha becomes 255). rows x width pixels,
  // pitch bytes from one row to the next.
  virtual void Apply(uint8_t* pixels, int width, int rows, size_t pitch) const = 0;
  // 0 for colour filters.
  virtual double Value() const { return 0; }
  // Reads the parameters from the section; false when one failed to read
  // (it then keeps its default).
  virtual bool LoadParams(const TIniList* section) = 0;
  virtual TFilterKind Kind() const = 0;
  int ParamCount() const { return int(ParamInfo().size()); }
  virtual const TFilterParamInfoArray& ParamInfo() const = 0;
  virtual std::string GetParam(int index) const = 0;
  // Sets a parameter from text, clamped like a loaded one; false for an
  // unknown index or a text that is no value.
  virtual bool SetParam(int index, std::string_view text) = 0;

  // Reads the section: the parameters only when "id" or "$rev" differ from
  // what was loaded last (a new id is made when the section has none);
  // "Disable" every time.
  void Load(const TIniObject* section);
  const std::string& Id() const { return id_; }
  int64_t Revision() const { return revision_; }
  bool Disabled() const { return disabled_; }
  void SetDisabled(bool on) { disabled_ = on; }
  bool ParamsFailed() const { return paramsFailed_; }
  const std::string& DisplayName() const { return displayName_; }
  // Loads counted (tests see whether parameters were read again).
  int ParamLoads() const { return paramLoads_; }

 protected:
  explicit TObjectFilter(std::string displayName) : displayName_(std::move(displayName)) {}

 private:
  std::string id_, displayName_;
  int64_t revision_ = 0;
  bool loaded_ = false, disabled_ = false, paramsFailed_ = false;
  int paramLoads_ = 0;
};

// Each channel c becomes [c * k + d], clamped.
class TLinearGenerator : public TObjectFilter {
 public:
  void Apply(uint8_t* pixels, int width, int rows, size_t pitch) const override;
  TFilterKind Kind() const override { return TFilterKind::PerChannel; }
  double K() const { return k_; }
  double D() const { return d_; }

 protected:
  using TObjectFilter::TObjectFilter;
  void SetLine(double k, double d) { k_ = k, d_ = d; }

 private:
  double k_ = 1, d_ = 0;
};

class TBrightContrastGenerator : public TLinearGenerator {
 public:
  TBrightContrastGenerator() : TLinearGenerator("Brightness/Contrast") { Update(); }
  bool LoadParams(const TIniList* section) override;
  const TFilterParamInfoArray& ParamInfo() const override;
  std::string GetParam(int index) const override;
  bool SetParam(int index, std::string_view text) override;

 private:
  void Update();
  int bright_ = 0, contrast_ = 0;
};

class TInvertColor : public TLinearGenerator {
 public:
  TInvertColor() : TLinearGenerator("Invert") { SetLine(-1, 255); }
  bool LoadParams(const TIniList*) override { return true; }
  const TFilterParamInfoArray& ParamInfo() const override;
  std::string GetParam(int) const override { return {}; }
  bool SetParam(int, std::string_view) override { return false; }
};

class TLevelsGenerator : public TObjectFilter {
 public:
  TLevelsGenerator() : TObjectFilter("Levels") { Update(); }
  void Apply(uint8_t* pixels, int width, int rows, size_t pitch) const override;
  bool LoadParams(const TIniList* section) override;
  TFilterKind Kind() const override { return TFilterKind::PerChannel; }
  const TFilterParamInfoArray& ParamInfo() const override;
  std::string GetParam(int index) const override;
  bool SetParam(int index, std::string_view text) override;
  double Gamma() const { return gamma_; }

 private:
  void Update();
  int min_ = 0, med_ = 0, max_ = 255;
  double gamma_ = 1;
  uint8_t table_[256] = {};
};

// Hue, saturation and lightness on a 0..255 scale: a full turn of hue in 256
// steps, saturation the colour's range over 2L (or over 510 - 2L when
// L > 127.5) times 255, lightness (max + min) / 2. Hue is kept in sixths of
// a step (0..1535) and lightness in half steps (max + min, 0..510), so that
// the primaries and every unshifted colour come back as they were.
struct THsl {
  int h6 = 0;  // hue, 1536 to the turn
  int s = 0;   // 0..255
  int l2 = 0;  // twice the lightness, 0..510
};
THsl RgbToHsl(int r, int g, int b);
void HslToRgb(const THsl& hsl, int& r, int& g, int& b);

class THSLGenerator : public TObjectFilter {
 public:
  THSLGenerator() : TObjectFilter("Hue/Saturation") {}
  void Apply(uint8_t* pixels, int width, int rows, size_t pitch) const override;
  bool LoadParams(const TIniList* section) override;
  TFilterKind Kind() const override { return TFilterKind::Cross; }
  const TFilterParamInfoArray& ParamInfo() const override;
  std::string GetParam(int index) const override;
  bool SetParam(int index, std::string_view text) override;

 private:
  int hue_ = 0, saturation_ = 0, lightness_ = 0;
};

// Pulls every pixel towards a target made from the colour, by "Amount".
class TColorizationGenerator : public TObjectFilter {
 public:
  TColorizationGenerator() : TColorizationGenerator("Colorization") {}
  void Apply(uint8_t* pixels, int width, int rows, size_t pitch) const override;
  bool LoadParams(const TIniList* section) override;
  TFilterKind Kind() const override { return TFilterKind::Cross; }
  const TFilterParamInfoArray& ParamInfo() const override;
  std::string GetParam(int index) const override;
  bool SetParam(int index, std::string_view text) override;
  TFilterColor Color() const { return color_; }
  int Amount() const { return amount_; }

 protected:
  explicit TColorizationGenerator(std::string displayName)
      : TObjectFilter(std::move(displayName)) {}
  // The target of channel value c with colour component k and luminance y.
  virtual int Target(int, int k, int y) const { return (y * k) >> 7; }

 private:
  TFilterColor color_ = 0x808080;
  int amount_ = 100;
};

class TColorMultiply : public TColorizationGenerator {
 public:
  TColorMultiply() : TColorizationGenerator("Colorisation 2") {}

 protected:
  int Target(int c, int k, int) const override { return k * c / 256; }
};

class TDoubleColorMultiply : public TColorizationGenerator {
 public:
  TDoubleColorMultiply() : TColorizationGenerator("Colorisation 3") {}

 protected:
  int Target(int c, int k, int) const override { return std::min(255, (k * c) >> 7); }
};

// The registered filter names: "Levels", "Colorization", "BrightContrast",
// "HSL", "Colorisation2", "Colorisation3", "Invert".
const std::vector<std::string>& FilterNames();
// A new filter for a registered name (case-insensitive); null otherwise.
TRef<TObjectFilter> CreateFilter(std::string_view name);

// The filters of one key frame, in document order.
class TFilterChain {
 public:
  void Add(TRef<TObjectFilter> filter) { filters_.push_back(std::move(filter)); }
  bool Empty() const { return filters_.empty(); }
  const std::vector<TRef<TObjectFilter>>& Filters() const { return filters_; }
  // The largest kind of the enabled filters (None when all are disabled).
  TFilterKind Kind() const;
  // Applies the enabled filters, oldest first.
  void Apply(uint8_t* pixels, int width, int rows, size_t pitch) const;
  // The sum of the revisions: changes when any filter is saved again.
  int64_t RevisionSum() const;
  // Empty when the chain can be used; else the message of why not (value
  // filters mixed with colour filters).
  std::string Check() const;

 private:
  std::vector<TRef<TObjectFilter>> filters_;
};

}  // namespace lum
