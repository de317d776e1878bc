#include "transitions/lum_effect.h"

namespace lum {

double NormalizedSmoothness(double s) {
  return s < 0.1 ? 0.001 : s;
}

TCheckedState FlagStringState(std::string_view flags) {
  bool one = flags.find('1') != std::string_view::npos;
  bool zero = flags.find('0') != std::string_view::npos;
  if (!one) return kCheckedOff;
  return flags.front() == '1' && !zero ? kCheckedAll : kCheckedPartly;
}

bool FlagChar(std::string_view flags, size_t i) {
  return i < flags.size() && flags[i] == '1';
}

TEffectFlagLayout FlagLayout(int32_t type) {
  switch (type) {
    case kEffectHourHand:
      return {2, 9, 0};
    case kEffectShapes:
      return {2, 3, 0};
    case kEffectGates:
    case kEffectPage:
      return {0, 8, 0};
    case kEffectPush:
    case kEffectSlide:
    case kEffectSwap:
      return {0, 4, 0};
    case kEffectCurling:
      return {2, 8, 2};
    case kEffectFlip:
      return {0, 4, 2};
    default:
      return {0, 1, 0};  // dissolve, mosaic, custom: one flag
  }
}

namespace {

int32_t CountOn(const std::vector<bool>& flags, int32_t from, int32_t count) {
  int32_t n = 0;
  for (int32_t i = from; i < from + count && i < int32_t(flags.size()); ++i) n += flags[i];
  return n;
}

// Index of the k-th set flag in [from, from + count), or -1.
int32_t NthOn(const std::vector<bool>& flags, int32_t from, int32_t count, int32_t k) {
  for (int32_t i = from; i < from + count && i < int32_t(flags.size()); ++i)
    if (flags[i] && k-- == 0) return i;
  return -1;
}

}  // namespace

int32_t CountVariants(const TLumEffect& effect) {
  TEffectFlagLayout l = FlagLayout(effect.type);
  int32_t directions = CountOn(effect.flags, l.actions, l.directions);
  if (l.actions == 0) return directions;
  return CountOn(effect.flags, 0, l.actions) * directions;
}

TLumEffect KeepVariant(const TLumEffect& effect, int32_t v) {
  TLumEffect copy = effect;
  copy.variantCount = 1;
  TEffectFlagLayout l = FlagLayout(effect.type);
  int32_t keep[2] = {-1, -1};
  if (l.actions == 0) {
    keep[0] = NthOn(effect.flags, 0, l.directions, v);
  } else {
    int32_t directions = CountOn(effect.flags, l.actions, l.directions);
    if (directions > 0) {
      keep[0] = NthOn(effect.flags, 0, l.actions, v / directions);
      keep[1] = NthOn(effect.flags, l.actions, l.directions, v % directions);
    }
  }
  // Options after the variant flags keep their state.
  for (int32_t i = 0; i < l.actions + l.directions && i < int32_t(copy.flags.size()); ++i)
    copy.flags[i] = copy.flags[i] && (i == keep[0] || i == keep[1]);
  return copy;
}

}  // namespace lum
