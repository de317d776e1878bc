#pragma once
// Object kinds of a slide, decided from the class name in an object section's
// header, and which animated groups each kind carries.
#include <cstdint>
#include <string_view>

namespace lum {

class TIniList;

enum TLumObjectKind : int {
  kKindNone = 0,  // no object is made for the node
  kKindFrame = 1,
  kKindBox = 2,
  kKindSplitter = 3,
  kKindImage = 4,
  kKindAniImage = 5,
  kKindText = 6,
  kKindButton = 7,
  kKindVideo = 8,
  kKindViewport = 9,
  kKindMaskStencil = 10,
  kKindMaskContent = 11,
};
inline constexpr int kLumKindCount = 12;

// The kind of a class name: first letter, then the whole name, both
// case-insensitively; 0 for anything else ("Root", "KeyPoint", ...).
int LumKindFromName(std::string_view className);

// The kind of an object section: its class name, and an "Image" whose
// "AnimEnable" is 1 is kind 5. 0 for a list that is not an object.
int LumKindOfSection(const TIniList* section);

// The name of a kind as the table holds it ("" for 0 and 5, "ViewPort" for 9).
const char* LumKindName(int kind);

// Raises EAssertion unless every non-empty name of the table classifies as its
// own index. Run once at start-up (LumModelSelfCheck does).
void CheckLumKindTable();

// Groups (bit g = group g) a key frame of an object of that kind may set:
// none for Splitter, stencil and content; all for image and video; all but
// "Frame" for animated image, text and button; all but "Color" and "Frame"
// otherwise.
uint8_t GroupMaskForKind(int kind);

}  // namespace lum
