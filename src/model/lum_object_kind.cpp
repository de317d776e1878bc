#include "model/lum_object_kind.h"

#include <string>

#include "foundation/case_fold.h"
#include "foundation/errors.h"
#include "document/ini_file.h"

namespace lum {

namespace {

// Indexed by kind; 0 has no name and 5 comes from "Image" with "AnimEnable".
constexpr const char* kKindNames[kLumKindCount] = {
    "",     "Frame",  "Box",   "Splitter", "Image",       "",
    "Text", "Button", "Video", "ViewPort", "MaskStencil", "MaskContent"};

int Match(std::string_view name, std::initializer_list<int> kinds) {
  for (int kind : kinds)
    if (FoldedEquals(name, kKindNames[kind])) return kind;
  return kKindNone;
}

}  // namespace

int LumKindFromName(std::string_view name) {
  if (name.empty()) return kKindNone;
  switch (name[0]) {
    case 'F':
    case 'f':
      return Match(name, {kKindFrame});
    case 'B':
    case 'b':
      return Match(name, {kKindBox, kKindButton});
    case 'S':
    case 's':
      return Match(name, {kKindSplitter});
    case 'I':
    case 'i':
      return Match(name, {kKindImage});
    case 'A':
    case 'a':
      return FoldedEquals(name, "AniImage") ? kKindAniImage : kKindNone;
    case 'T':
    case 't':
      return Match(name, {kKindText});
    case 'V':
    case 'v':
      return Match(name, {kKindVideo, kKindViewport});
    case 'M':
    case 'm':
      return Match(name, {kKindMaskStencil, kKindMaskContent});
    default:
      return kKindNone;
  }
}

int LumKindOfSection(const TIniList* section) {
  if (!section || section->Kind() != TIniKind::Object) return kKindNone;
  int kind = LumKindFromName(section->Value());
  if (kind == kKindImage && ReadInteger(section, "AnimEnable", 0) == 1) kind = kKindAniImage;
  return kind;
}

const char* LumKindName(int kind) {
  return kind >= 0 && kind < kLumKindCount ? kKindNames[kind] : "";
}

void CheckLumKindTable() {
  for (int kind = 0; kind < kLumKindCount; ++kind)
    if (*kKindNames[kind] && LumKindFromName(kKindNames[kind]) != kind)
      AssertFailed("lum_object_kind", "Invalid object kind table");
}

uint8_t GroupMaskForKind(int kind) {
  switch (kind) {
    case kKindSplitter:
    case kKindMaskStencil:
    case kKindMaskContent:
      return 0;
    case kKindImage:
    case kKindVideo:
      return 0xFF;
    case kKindAniImage:
    case kKindText:
    case kKindButton:
      return 0x7F;
    default:
      return 0x3F;
  }
}

}  // namespace lum
