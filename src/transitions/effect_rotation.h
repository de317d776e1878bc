#pragma once
// The transitions that "default" slides rotate through and the chooser that
// picks one transition and one of its variants for a slide.
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

#include "transitions/lum_effect.h"
#include "transitions/lum_effect_manager.h"

namespace lum {

struct TTransitionChoice {
  std::optional<TLumEffect> effect;
  double duration = 0;  // ms
  double smoothness = 0;
};

class TEffectRotation {
 public:
  // The random source starts from seed, so a run can be reproduced.
  explicit TEffectRotation(uint32_t seed = std::random_device{}());

  // Fills the rotation from the checked catalogue entries and shuffles it.
  void Build(TLUMEffectManager& manager);
  const std::vector<TLumEffect>& Effects() const { return effects_; }
  const std::vector<int32_t>& Order() const { return order_; }

  // Deterministic mode: the choice depends on the slide index only.
  void SetDeterministic(bool on);
  bool Deterministic() const { return deterministic_; }

  // A transition of the rotation reduced to one variant, or none.
  std::optional<TLumEffect> Choose(int32_t slide);
  // The transition of a slide with its duration and smoothness.
  TTransitionChoice TransitionForSlide(TLUMEffectManager& manager, int32_t slide,
                                       int32_t slideCount);

  // A number in [0, n).
  int32_t Random(int32_t n);

 private:
  void Shuffle();
  int32_t ChooseVariant(int32_t slide, int32_t count);
  TTransitionChoice ByName(TLUMEffectManager& manager, const TEffectProp& desc, int32_t slide);

  std::mutex lock_;
  std::mt19937 random_;
  std::vector<TLumEffect> effects_;
  std::vector<int32_t> order_;
  bool deterministic_ = false;
  int64_t counter_ = 0;
  int32_t seed_ = 0;
  bool parity_ = false;
};

}  // namespace lum
