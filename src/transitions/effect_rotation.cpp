#include "transitions/effect_rotation.h"

#include "transitions/effect_builder.h"

namespace lum {

TEffectRotation::TEffectRotation(uint32_t seed) : random_(seed) {}

int32_t TEffectRotation::Random(int32_t n) {
  if (n <= 1) return 0;
  return std::uniform_int_distribution<int32_t>(0, n - 1)(random_);
}

void TEffectRotation::Build(TLUMEffectManager& manager) {
  std::lock_guard<std::mutex> hold(lock_);
  effects_.clear();
  for (int32_t i = 0; i < manager.CatalogueSize(); ++i) {
    TEffectProp& entry = *manager.Entry(i);
    if (entry.IsSpecial() || entry.CheckedState() == kCheckedOff) continue;
    if (entry.IsCustom()) {
      for (int32_t k = 0; k < entry.CustomVariantCount(); ++k)
        if (entry.CustomVariantEnabled(k)) effects_.push_back(BuildCustomEffect(entry, k));
    } else if (auto e = BuildEffect(entry, TypeOfKind(entry.Kind()))) {
      effects_.push_back(std::move(*e));
    }
  }
  order_.resize(effects_.size());
  for (size_t i = 0; i < order_.size(); ++i) order_[i] = int32_t(i);
  Shuffle();
}

void TEffectRotation::Shuffle() {
  int32_t n = int32_t(order_.size());
  for (int32_t i = 0; i + 1 < n; ++i) {
    int32_t j = Random(n - i);
    if (i != j) std::swap(order_[i], order_[j]);
  }
}

void TEffectRotation::SetDeterministic(bool on) {
  std::lock_guard<std::mutex> hold(lock_);
  deterministic_ = on;
}

// Consecutive choices alternate between odd and even variant numbers.
int32_t TEffectRotation::ChooseVariant(int32_t slide, int32_t count) {
  int32_t v;
  if (deterministic_) {
    v = int32_t(uint32_t(slide ^ seed_) % uint32_t(count));
    if (((slide & 1) ^ int32_t(parity_)) != (v & 1)) v = (v + 1) % count;
  } else {
    v = Random(count);
    if ((v % 2 == 0) != parity_) v = (v + 1) % count;
    parity_ = !parity_;
  }
  return v;
}

std::optional<TLumEffect> TEffectRotation::Choose(int32_t slide) {
  std::lock_guard<std::mutex> hold(lock_);
  int32_t n = int32_t(effects_.size());
  if (n == 0) return std::nullopt;
  int32_t p;
  if (deterministic_) {
    p = int32_t(uint32_t(slide) % uint32_t(n));
  } else {
    p = int32_t(counter_++ % n);
    if (p == 0) Shuffle();
  }
  const TLumEffect& chosen = effects_[order_[p]];
  int32_t count = std::max(chosen.variantCount, 1);
  return KeepVariant(chosen, ChooseVariant(slide, count));
}

TTransitionChoice TEffectRotation::ByName(TLUMEffectManager& manager, const TEffectProp& desc,
                                          int32_t slide) {
  TTransitionChoice c;
  c.duration = desc.ParamFloat("time", 0);
  c.smoothness = desc.ParamFloat("smoothline", 0);
  const std::string& name = desc.Name();
  if (name == "default" || name == "defowntime") {
    c.effect = Choose(slide);
    if (name == "default") c.duration = manager.DefaultDuration();
    c.smoothness = c.effect ? c.effect->smoothness : 0;
  } else if (int32_t kind = KindOfName(name); kind >= 0) {
    c.effect = BuildEffect(desc, TypeOfKind(kind));
    if (c.effect) c.smoothness = c.effect->smoothness;
  } else if (name != "quick") {
    // Unknown names are custom transitions, shown through their first enabled variant.
    TEffectProp* entry = manager.EntryByName(name);
    int32_t k = 0;
    if (entry) {
      while (k < entry->CustomVariantCount() && !entry->CustomVariantEnabled(k)) ++k;
      c.effect = BuildCustomEffect(*entry, k);
    } else {
      c.effect = TLumEffect{kEffectCustom, 0.001, 1, {true}, {}, {}, name, nullptr};
    }
    c.effect->smoothness = NormalizedSmoothness(c.smoothness);
    c.smoothness = c.effect->smoothness;
  }
  return c;
}

TTransitionChoice TEffectRotation::TransitionForSlide(TLUMEffectManager& manager, int32_t slide,
                                                      int32_t slideCount) {
  if (slideCount <= 0 || slide < 0) return {};
  TTransitionChoice c = ByName(manager, *manager.SlideProp(slide % slideCount), slide);
  if (c.effect && c.effect->type == kEffectMosaic && c.effect->ints.size() == 4) {
    std::lock_guard<std::mutex> hold(lock_);
    c.effect->ints[3] = deterministic_ ? (slide ^ seed_) : Random(4096) * 4096 + Random(4096);
  }
  if (!c.effect) c.duration = 0;
  if (c.duration == 0) c.effect.reset();
  return c;
}

}  // namespace lum
