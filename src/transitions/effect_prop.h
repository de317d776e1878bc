#pragma once
// One transition description: a slide's "TheEffect" object or an entry of the
// project's transition catalogue (possibly one of the three special names).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/ini_file.h"
#include "transitions/lum_effect.h"

namespace lum {

class TLUMEffectManager;

// Kind numbers ("stdidx") of catalogue entries.
enum TEffectKind : int32_t {
  kKindDefault = 0,
  kKindDefOwnTime = 1,
  kKindDissolve = 2,
  kKindQuick = 3,
  kKindHourHand = 4,
  kKindShapes = 5,
  kKindGates = 6,
  kKindPage = 7,
  kKindMosaic = 8,
  kKindPush = 9,
  kKindSlide = 10,
  kKindCurling = 11,
  kKindFlip = 12,
  kKindSwap = 13,
};

// Upper bound of the variants of a custom entry; longer flag strings are
// absurd and their extra variants are ignored.
inline constexpr int32_t kMaxCustomVariants = 1024;

class TEffectProp {
 public:
  // A description in the document; object may be null for a slide that has
  // none on a read-only manager (it then reads as "default").
  TEffectProp(TLUMEffectManager& manager, TIniObject* object, bool slide);
  // One of the special entries "default", "defowntime", "quick".
  TEffectProp(TLUMEffectManager& manager, std::string_view specialName);

  TIniObject* Object() const { return object_; }
  bool IsSlide() const { return slide_; }
  bool IsSpecial() const { return !slide_ && object_ == nullptr; }
  // Lower-cased: the slide's "ref" or the entry's name.
  const std::string& Name() const { return name_; }
  std::string_view ClassName() const;
  bool IsCustom() const;

  // The parameter through the lookup chain; none when nobody has it.
  std::optional<std::string> Param(std::string_view name) const;
  std::string ParamText(std::string_view name) const { return Param(name).value_or(""); }
  double ParamFloat(std::string_view name, double def) const;
  int32_t ParamInt(std::string_view name, int32_t def) const;

  // Duration in ms (0: no transition).
  int32_t Duration() const;
  TCheckedState CheckedState() const;
  int32_t Kind() const;
  const std::vector<std::string>& VariantKeys() const { return keys_; }

  // Custom entries: variants over the key parameters' flag strings.
  int32_t CustomVariantCount() const;
  bool CustomVariantEnabled(int32_t k) const;
  // A private copy of variant k's "effect_" section prepared for the effect
  // slide; none when the document lacks it.
  TRef<TEffectSection> CustomSection(int32_t k) const;

 private:
  std::optional<std::string> EntryParam(std::string_view name) const;
  std::optional<std::string> OwnItem(std::string_view name) const;
  std::string VariantSectionName(int32_t k) const;

  TLUMEffectManager& manager_;
  TIniObject* object_;
  bool slide_;
  std::string name_;
  std::vector<std::string> keys_;
};

}  // namespace lum
