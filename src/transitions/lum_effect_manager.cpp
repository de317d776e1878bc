#include "transitions/lum_effect_manager.h"

#include "foundation/case_fold.h"
#include "foundation/errors.h"

namespace lum {

namespace {

constexpr const char* kSpecialNames[] = {"default", "defowntime", "quick"};

TIniList* DefaultSlideSection(TIniFile& doc, int32_t slide) {
  return doc.Section("Slide" + std::to_string(int64_t(slide) + 1));
}

}  // namespace

TLUMEffectManager::TLUMEffectManager(TIniFile* document, int32_t designWidth, int32_t designHeight)
    : document_(document) {
  if (!document_) AssertFailed("LumEffManager", "There is no IniFile for EffectRuller");
  TIniList* main = document_->Section("Main");
  designWidth_ = designWidth > 0 ? designWidth : ReadInteger(main, "opt_scr_width", 1920);
  designHeight_ = designHeight > 0 ? designHeight : ReadInteger(main, "opt_scr_height", 1080);
  catalogue_ = FindObject(main, "TheEffect", "AnEffect");
  slideSection_ = [doc = document_](int32_t i) { return DefaultSlideSection(*doc, i); };
  if (catalogue_) {
    for (TIniObject* o : catalogue_->Objects())
      entries_.push_back(std::make_unique<TEffectProp>(*this, o, false));
  }
  for (const char* special : kSpecialNames)
    if (!EntryByName(special)) entries_.push_back(std::make_unique<TEffectProp>(*this, special));
}

TLUMEffectManager::~TLUMEffectManager() = default;

TEffectProp* TLUMEffectManager::Entry(int32_t index) const {
  return index >= 0 && index < CatalogueSize() ? entries_[index].get() : nullptr;
}

TEffectProp* TLUMEffectManager::EntryByName(std::string_view name) const {
  for (const auto& e : entries_)
    if (FoldedEquals(e->Name(), name)) return e.get();
  return nullptr;
}

TEffectProp* TLUMEffectManager::SlideProp(int32_t slide) {
  if (slide < 0) return nullptr;
  if (size_t(slide) >= slides_.size()) slides_.resize(size_t(slide) + 1);
  auto& prop = slides_[slide];
  if (prop) return prop.get();
  TIniList* section = slideSection_(slide);
  TIniObject* object = FindObject(section, "TheEffect", "AnEffect");
  if (!object && !readOnly_) {
    if (!section) section = document_->FindOrAddSection("Slide" + std::to_string(slide + 1));
    object = section->AddObject("TheEffect", "AnEffect");
    object->AddItem("ref", "default");
  }
  prop = std::make_unique<TEffectProp>(*this, object, true);
  return prop.get();
}

int32_t TLUMEffectManager::Duration(int32_t slide) {
  TEffectProp* prop = SlideProp(slide);
  return prop ? prop->Duration() : 0;
}

int32_t TLUMEffectManager::DefaultDuration() const {
  return catalogue_ ? ReadInteger(catalogue_, "time", 2000) : 0;
}

std::string TLUMEffectManager::DefaultDurationText() const {
  TIniItem* item = FindItem(catalogue_, "time");
  return item ? std::string(item->Value()) : IntToValue(DefaultDuration());
}

bool TLUMEffectManager::AnyChecked() const {
  if (anyChecked_ < 0) {
    anyChecked_ = 0;
    for (const auto& e : entries_)
      if (!e->IsSpecial() && e->CheckedState() != kCheckedOff) anyChecked_ = 1;
  }
  return anyChecked_ == 1;
}

}  // namespace lum
