#include "transitions/effect_prop.h"

#include <algorithm>

#include "foundation/case_fold.h"
#include "transitions/lum_effect_manager.h"

namespace lum {

namespace {

std::string Lowered(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return out;
}

std::vector<std::string> TrimmedList(std::string_view text) {
  std::vector<std::string> keys;
  for (std::string& k : SplitValue(text, ',')) {
    size_t b = k.find_first_not_of(" \t"), e = k.find_last_not_of(" \t");
    if (b != std::string::npos) keys.push_back(k.substr(b, e - b + 1));
  }
  return keys;
}

const char* SpecialGroup(std::string_view name) {
  return name == "quick" ? "GroupBasic" : "GroupFromProjectOptions";
}

int32_t SpecialKind(std::string_view name) {
  if (name == "default") return kKindDefault;
  if (name == "defowntime") return kKindDefOwnTime;
  if (name == "quick") return kKindQuick;
  return kKindDissolve;
}

}  // namespace

TEffectProp::TEffectProp(TLUMEffectManager& manager, TIniObject* object, bool slide)
    : manager_(manager), object_(object), slide_(slide) {
  if (slide_) {
    name_ = object_ ? Lowered(ReadString(object_, "ref", "")) : "default";
    TEffectProp* entry = manager_.EntryByName(name_);
    keys_ = entry && !entry->IsSpecial() ? entry->keys_ : std::vector<std::string>{"checked"};
  } else {
    name_ = Lowered(object_->Name());
    keys_ = TrimmedList(ReadString(object_, "key", ""));
  }
}

TEffectProp::TEffectProp(TLUMEffectManager& manager, std::string_view specialName)
    : manager_(manager), object_(nullptr), slide_(false), name_(specialName) {}

std::string_view TEffectProp::ClassName() const {
  return object_ ? object_->ClassName() : std::string_view(name_);
}

bool TEffectProp::IsCustom() const {
  return !slide_ && object_ && FoldedEquals(object_->ClassName(), "custom");
}

std::optional<std::string> TEffectProp::OwnItem(std::string_view name) const {
  TIniItem* item = FindItem(object_, name);
  if (!item) return std::nullopt;
  return std::string(item->Value());
}

// Every catalogue entry shares the catalogue's duration.
std::optional<std::string> TEffectProp::EntryParam(std::string_view name) const {
  if (FoldedEquals(name, "time")) {
    if (IsSpecial()) return manager_.DefaultDurationText();
    TIniItem* item = FindItem(manager_.Catalogue(), "time");
    if (!item) return std::nullopt;
    return std::string(item->Value());
  }
  if (!IsSpecial()) return OwnItem(name);
  if (FoldedEquals(name, "caption")) return name_;
  if (FoldedEquals(name, "group")) return std::string(SpecialGroup(name_));
  if (FoldedEquals(name, "stdidx")) return IntToValue(SpecialKind(name_));
  return std::nullopt;
}

std::optional<std::string> TEffectProp::Param(std::string_view name) const {
  if (!slide_) return EntryParam(name);
  TEffectProp* entry = manager_.EntryByName(name_);
  if (FoldedEquals(name, "caption")) return entry ? entry->EntryParam(name) : std::nullopt;
  if (auto own = OwnItem(name)) return own;
  if (entry) return entry->EntryParam(name);
  TIniItem* item = FindItem(manager_.Catalogue(), name);
  if (!item) return std::nullopt;
  return std::string(item->Value());
}

double TEffectProp::ParamFloat(std::string_view name, double def) const {
  auto v = Param(name);
  return v ? ValueToFloat(*v, def) : def;
}

int32_t TEffectProp::ParamInt(std::string_view name, int32_t def) const {
  auto v = Param(name);
  return v ? ValueToInt(*v, def) : def;
}

int32_t TEffectProp::Duration() const {
  if (!slide_) return ValueToInt(EntryParam("time").value_or(""), manager_.DefaultDuration());
  if (name_ == "quick") return 0;
  if (name_ == "default") return manager_.AnyChecked() ? manager_.DefaultDuration() : 0;
  if (name_ == "defowntime") {
    if (!manager_.AnyChecked()) return 0;
    if (TIniItem* item = FindItem(object_, "time")) return ValueToInt(item->Value(), 0);
    // The slide takes the default from now on; this first answer stays 0.
    if (object_ && !manager_.ReadOnly()) object_->AddItem("time", manager_.DefaultDurationText());
    return 0;
  }
  return ReadInteger(object_, "time", 0);
}

TCheckedState TEffectProp::CheckedState() const {
  if (IsSpecial()) return kCheckedOff;
  if (keys_.empty()) return FlagStringState(ParamText("checked"));
  bool all = true;
  for (const std::string& key : keys_) {
    TCheckedState s = FlagStringState(ParamText(key));
    if (s == kCheckedOff) return kCheckedOff;
    all = all && s == kCheckedAll;
  }
  return all ? kCheckedAll : kCheckedPartly;
}

int32_t TEffectProp::Kind() const {
  if (IsSpecial()) return SpecialKind(name_);
  if (slide_) {
    TEffectProp* entry = manager_.EntryByName(name_);
    return entry ? entry->Kind() : SpecialKind(name_);
  }
  return ReadInteger(object_, "stdidx", kKindDissolve);
}

int32_t TEffectProp::CustomVariantCount() const {
  if (keys_.empty()) return 1;
  int64_t count = 1;
  for (const std::string& key : keys_) {
    count *= int64_t(ParamText(key).size());
    if (count == 0) return 0;
    count = std::min<int64_t>(count, kMaxCustomVariants);
  }
  return int32_t(count);
}

bool TEffectProp::CustomVariantEnabled(int32_t k) const {
  if (k < 0 || k >= CustomVariantCount()) return false;
  if (keys_.empty()) return CheckedState() != kCheckedOff;
  // Mixed radix over the key parameters, the last one fastest.
  for (size_t j = keys_.size(); j-- > 0;) {
    std::string flags = ParamText(keys_[j]);
    if (!FlagChar(flags, size_t(k) % flags.size())) return false;
    k /= int32_t(flags.size());
  }
  return true;
}

}  // namespace lum
