#include "transitions/effect_builder.h"

#include <array>

namespace lum {

namespace {

struct TKindName {
  const char* name;
  int32_t kind;
};
constexpr std::array<TKindName, 11> kKindNames = {{{"dissolve", kKindDissolve},
                                                   {"hourhand", kKindHourHand},
                                                   {"shapes", kKindShapes},
                                                   {"gates", kKindGates},
                                                   {"page", kKindPage},
                                                   {"mosaic", kKindMosaic},
                                                   {"push", kKindPush},
                                                   {"slide", kKindSlide},
                                                   {"curling", kKindCurling},
                                                   {"flip", kKindFlip},
                                                   {"swap", kKindSwap}}};

// Characters of a flag string, in the order the effect takes them (1-based).
void AddChars(std::vector<bool>& flags, std::string_view text, std::initializer_list<int> chars) {
  for (int c : chars) flags.push_back(FlagChar(text, size_t(c - 1)));
}

void AddRange(std::vector<bool>& flags, std::string_view text, int count) {
  for (int c = 0; c < count; ++c) flags.push_back(FlagChar(text, size_t(c)));
}

void AddOption(std::vector<bool>& flags, const TEffectProp& d, std::string_view name) {
  flags.push_back(d.ParamText(name) == "1");
}

void AddFloat(TLumEffect& e, const TEffectProp& d, std::string_view name, double def) {
  e.floats.push_back(float(d.ParamFloat(name, def)));
}

void AddInt(TLumEffect& e, const TEffectProp& d, std::string_view name, int32_t def) {
  e.ints.push_back(d.ParamInt(name, def));
}

void ReadFlags(TLumEffect& e, const TEffectProp& d) {
  std::string action = d.ParamText("action"), direction = d.ParamText("direction");
  switch (e.type) {
    case kEffectDissolve:
    case kEffectMosaic: {
      auto checked = d.Param("checked");
      e.flags.push_back(checked ? ValueToBool(*checked, true) : true);
      break;
    }
    case kEffectHourHand:
      AddRange(e.flags, action, 2);
      AddRange(e.flags, direction, 9);
      break;
    case kEffectShapes:
      AddRange(e.flags, action, 2);
      AddRange(e.flags, direction, 3);
      break;
    case kEffectGates:
    case kEffectPage:
      AddRange(e.flags, direction, 8);
      break;
    case kEffectPush:
    case kEffectSlide:
    case kEffectSwap:
      AddChars(e.flags, direction, {2, 1, 3, 4});
      break;
    case kEffectCurling:
      AddRange(e.flags, action, 2);
      AddChars(e.flags, direction, {8, 7, 6, 5, 4, 3, 2, 1});
      AddOption(e.flags, d, "usecolor");
      AddOption(e.flags, d, "usevolume");
      break;
    case kEffectFlip:
      AddChars(e.flags, direction, {2, 1, 3, 4});
      AddOption(e.flags, d, "spin_center");
      AddOption(e.flags, d, "nonlinear_speed");
      break;
  }
}

void ReadParameters(TLumEffect& e, const TEffectProp& d) {
  switch (e.type) {
    case kEffectHourHand:
      AddFloat(e, d, "offset", 0);
      break;
    case kEffectShapes:
      AddInt(e, d, "centerx", 50);
      AddInt(e, d, "centery", 50);
      break;
    case kEffectMosaic:
      AddInt(e, d, "cols", 1);
      AddInt(e, d, "rows", 1);
      AddInt(e, d, "appearence", 0);
      e.ints.push_back(0);  // the seed, set when the transition is chosen
      break;
    case kEffectCurling:
      AddInt(e, d, "pipe", 1);
      AddInt(e, d, "color", 0);
      AddFloat(e, d, "radius", 0);
      AddFloat(e, d, "3dvolume", 0.125);
      break;
    case kEffectFlip:
      AddFloat(e, d, "3dvolume", 0.5);
      break;
    case kEffectSwap:
      AddFloat(e, d, "depth", 4);
      AddFloat(e, d, "distance", 1);
      AddFloat(e, d, "angle", 60);
      break;
  }
  e.smoothness =
      NormalizedSmoothness(d.ParamFloat("smoothline", e.type == kEffectHourHand ? 0.35 : 0));
}

}  // namespace

int32_t TypeOfKind(int32_t kind) {
  if (kind == kKindDissolve) return kEffectDissolve;
  if (kind >= kKindHourHand && kind <= kKindSwap) return kind - 2;
  return kEffectNone;
}

int32_t KindOfName(std::string_view name) {
  for (const TKindName& k : kKindNames)
    if (name == k.name) return k.kind;
  return -1;
}

std::optional<TLumEffect> BuildEffect(const TEffectProp& desc, int32_t type) {
  if (type < kEffectDissolve || type > kEffectSwap) return std::nullopt;
  TLumEffect e;
  e.type = type;
  ReadFlags(e, desc);
  ReadParameters(e, desc);
  e.variantCount = CountVariants(e);
  if (e.variantCount == 0) return std::nullopt;
  return e;
}

TLumEffect BuildCustomEffect(const TEffectProp& entry, int32_t k) {
  TLumEffect e;
  e.type = kEffectCustom;
  e.variantCount = 1;
  e.flags = {true};
  e.text = entry.Name();
  e.section = entry.CustomSection(k);
  return e;
}

}  // namespace lum
