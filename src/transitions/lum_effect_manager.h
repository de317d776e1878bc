#pragma once
// The transition descriptions of a show: the catalogue in [Main] "TheEffect",
// each slide's own "TheEffect" object, and the durations they give.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "document/ini_file.h"
#include "transitions/effect_prop.h"

namespace lum {

class TLUMEffectManager {
 public:
  // The section of slide i (0-based); the default is "Slide" + (i + 1).
  using TSlideSectionFn = std::function<TIniList*(int32_t)>;

  // A null document is an assertion failure. A design size of 0 reads
  // "opt_scr_width" / "opt_scr_height" of [Main] (1920 x 1080).
  TLUMEffectManager(TIniFile* document, int32_t designWidth = 0, int32_t designHeight = 0);
  ~TLUMEffectManager();

  TIniFile& Document() const { return *document_; }
  void SetSlideSections(TSlideSectionFn fn) { slideSection_ = std::move(fn); }
  // A read-only manager never adds to the document.
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  bool ReadOnly() const { return readOnly_; }

  TIniObject* Catalogue() const { return catalogue_; }
  // Entries in document order, then the special names the catalogue lacks.
  int32_t CatalogueSize() const { return int32_t(entries_.size()); }
  TEffectProp* Entry(int32_t index) const;
  TEffectProp* EntryByName(std::string_view name) const;

  // The description of slide i's transition (created on first use).
  TEffectProp* SlideProp(int32_t slide);
  // Timeline duration of slide i's transition in ms.
  int32_t Duration(int32_t slide);
  // The catalogue's "time": 2000 when it lacks one, 0 without a catalogue.
  int32_t DefaultDuration() const;
  std::string DefaultDurationText() const;
  // At least one catalogue entry is checked.
  bool AnyChecked() const;

  int32_t DesignWidth() const { return designWidth_; }
  int32_t DesignHeight() const { return designHeight_; }

 private:
  TIniFile* document_;
  TIniObject* catalogue_ = nullptr;
  int32_t designWidth_;
  int32_t designHeight_;
  bool readOnly_ = false;
  TSlideSectionFn slideSection_;
  std::vector<std::unique_ptr<TEffectProp>> entries_;
  std::vector<std::unique_ptr<TEffectProp>> slides_;
  mutable int8_t anyChecked_ = -1;
};

}  // namespace lum
