// The section a custom transition's effect slide is produced from: a private
// copy of the entry's "effect_" description with the entry's user values and
// background settings applied.
#include "foundation/case_fold.h"
#include "transitions/effect_prop.h"
#include "transitions/lum_effect_manager.h"

namespace lum {

namespace {

void Set(TIniList& list, std::string_view key, std::string_view value) {
  list.FindOrAddItem(key)->SetValue(value);
}

// The "id" field of a ";"-separated property description.
std::string PropertyId(std::string_view description) {
  for (const std::string& field : SplitValue(description, ';')) {
    size_t colon = field.find(':');
    if (colon != std::string::npos && FoldedEquals(field.substr(0, colon), "id"))
      return field.substr(colon + 1);
  }
  return {};
}

bool Listed(const std::vector<std::string>& list, std::string_view name) {
  for (const std::string& s : list)
    if (FoldedEquals(s, name)) return true;
  return false;
}

void CopyUserProperties(const TIniObject* entry, TIniList& section, TIniList& root) {
  int32_t count = ReadInteger(&section, "userprops", 0);
  auto skipped = ReadList(&section, "sectionfield", ',');
  for (int32_t i = 0; i < count && i < 4096; ++i) {
    std::string id = PropertyId(ReadString(&section, "prop" + std::to_string(i), ""));
    if (id.empty() || Listed(skipped, id)) continue;
    TIniItem* value = FindItem(entry, id);
    if (!value) value = FindItem(&section, id);
    if (value) Set(root, id, value->Value());
  }
}

void CopyOwn(const TIniObject* entry, TIniList& section, std::string_view key,
             std::string_view def) {
  Set(section, key, ReadString(entry, key, def));
}

void ApplyBackground(const TIniObject* entry, TIniList& section) {
  TIniItem* styleItem = FindItem(entry, "bstyle");
  int32_t style = styleItem ? ValueToInt(styleItem->Value(), 1) : 0;
  Set(section, "CustomEffBg", style == 4 ? ReadString(entry, "CustomEffBg", "3") : "0");
  if (styleItem) Set(section, "bstyle", IntToValue(style));
  if (style == 1) CopyOwn(entry, section, "bcolor", "0");
  if (style == 2) {
    CopyOwn(entry, section, "bfn", "");
    CopyOwn(entry, section, "bsize", "100");
  }
  if (style == 3) {
    CopyOwn(entry, section, "bcolor1", "16711680");
    CopyOwn(entry, section, "bcolor2", "0");
    CopyOwn(entry, section, "bcolorStyle", "1");
  }
  CopyOwn(entry, section, "TransparentBg", "0");
}

}  // namespace

std::string TEffectProp::VariantSectionName(int32_t k) const {
  std::string name = ReadString(object_, "variant" + std::to_string(k), "");
  return "effect_" + (name.empty() ? std::string(object_->Name()) : name);
}

TRef<TEffectSection> TEffectProp::CustomSection(int32_t k) const {
  if (!object_ || slide_) return nullptr;
  std::string name = VariantSectionName(k);
  TIniList* source = manager_.Document().Section(name);
  if (!source || source == &manager_.Document()) return nullptr;
  TRef<TEffectSection> copy(new TEffectSection);
  TIniList& section = *copy->document.FindOrAddSection(name);
  section.AppendCopy(*source);
  TIniList* root = section.FindObject("Container", "Root");
  if (!root) root = section.AddObject("Container", "Root");
  CopyUserProperties(object_, section, *root);
  ApplyBackground(object_, section);
  Set(section, "CoverMode", "1");
  Set(section, "opt_scr_width", IntToValue(manager_.DesignWidth()));
  Set(section, "opt_scr_height", IntToValue(manager_.DesignHeight()));
  return copy;
}

}  // namespace lum
