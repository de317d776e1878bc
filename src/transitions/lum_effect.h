#pragma once
// A transition as handed to the effects: its kind, one chosen variant, its
// numeric parameters and, for custom transitions, the effect slide's section.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ref_object.h"
#include "document/ini_file.h"

namespace lum {

// Transition types of TLumEffect.
enum TLumEffectType : int32_t {
  kEffectNone = 0,
  kEffectDissolve = 1,
  kEffectHourHand = 2,
  kEffectShapes = 3,
  kEffectGates = 4,
  kEffectPage = 5,
  kEffectMosaic = 6,
  kEffectPush = 7,
  kEffectSlide = 8,
  kEffectCurling = 9,
  kEffectFlip = 10,
  kEffectSwap = 11,
  kEffectCustom = 12,
};

// A private copy of a custom transition's section, shared by copies of the
// effect. The section is the document's only section.
class TEffectSection : public TRefObject {
 public:
  TIniFile document;
  TIniList* Section() const { return document.SectionAt(0); }
};

struct TLumEffect {
  int32_t type = kEffectNone;
  double smoothness = 0.001;
  int32_t variantCount = 0;
  std::vector<bool> flags;
  std::vector<int32_t> ints;
  std::vector<float> floats;
  std::string text;
  TRef<TEffectSection> section;
};

// Smoothness as the effects take it: values below 0.1 become 0.001.
double NormalizedSmoothness(double s);

// Variant flag strings: "0"/"1" characters, one per variant.
enum TCheckedState : int32_t { kCheckedOff = 0, kCheckedPartly = 1, kCheckedAll = 2 };
TCheckedState FlagStringState(std::string_view flags);
// Character i (0-based) of a flag string is "1".
bool FlagChar(std::string_view flags, size_t i);

// How many flags of a type are action flags, direction flags and options.
struct TEffectFlagLayout {
  int32_t actions = 0;
  int32_t directions = 0;
  int32_t options = 0;
};
TEffectFlagLayout FlagLayout(int32_t type);

// Variant count of an effect whose flags are set (0: no enabled variant).
int32_t CountVariants(const TLumEffect& effect);
// A copy that keeps only variant v (0-based, below the variant count).
TLumEffect KeepVariant(const TLumEffect& effect, int32_t v);

}  // namespace lum
