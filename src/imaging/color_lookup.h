#pragma once
// Colour look-up tables as pictures: the 32 x 32 x 32 volume of colour
// grading laid out as a 32 x 1024 BGRA bitmap (column = red index, row =
// green index + 32 x blue index), and its bases for pictures and video.
#include <string>

#include "imaging/bitmap.h"

namespace lum {

inline constexpr int kLookupSize = 32;
inline constexpr int kLookupRows = kLookupSize * kLookupSize;

// Index n (0..31) spread over 0..255.
constexpr int LookupLevel(int n) {
  return 8 * n + n / 4;
}

enum class TLookupBase : uint8_t {
  Identity,  // cell (i, j, k): blue v(i), green v(j), red v(k)
  Video,     // indexed (V, U, Y): BT.601 video range to RGB
};

// The unconverted base, a new bitmap.
TRef<TBitmap> MakeLookupBase(TLookupBase base);

// The base as the display sees it: converted from its source profile to the
// display profile while colour management is active, else unconverted.
// Shared between callers (cached per display profile name): copy before
// changing it.
TRef<const TBitmap> DisplayLookupBase(TLookupBase base);
// Forgets the converted bases (tests; a changed engine or factory).
void ClearLookupBaseCache();

// The look-up of a picture with an embedded profile: its colours converted
// to the display profile. Nothing while colour management is off, for an
// empty profile, or when no transform exists.
TRef<TBitmap> BuildProfileLookup(const std::string& icc, const std::string& name);

}  // namespace lum
