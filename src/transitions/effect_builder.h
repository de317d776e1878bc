#pragma once
// Builds the TLumEffect of a description by its kind, with the variant flags
// and numeric parameters of that kind.
#include <optional>
#include <string_view>

#include "transitions/effect_prop.h"
#include "transitions/lum_effect.h"

namespace lum {

// TLumEffect type of a kind number (0 for the special kinds and unknown ones).
int32_t TypeOfKind(int32_t kind);
// Kind number of a built-in transition name, or -1.
int32_t KindOfName(std::string_view name);

// The transition of a built-in type (1-11) read from the description; none
// when it has no enabled variant.
std::optional<TLumEffect> BuildEffect(const TEffectProp& desc, int32_t type);
// A custom transition with the section of variant k (none when missing).
TLumEffect BuildCustomEffect(const TEffectProp& entry, int32_t k);

}  // namespace lum
