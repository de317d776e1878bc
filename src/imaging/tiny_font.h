#pragma once
// A 5 x 7 bitmap font for the few texts the imaging code draws itself (the
// placeholder of a missing picture) before any font engine is up.
#include <string_view>

#include "imaging/bitmap.h"

namespace lum {

// Cell of one character at scale 1 (glyph plus spacing).
inline constexpr int kTinyFontCellWidth = 6;
inline constexpr int kTinyFontCellHeight = 9;

// Draws ASCII text (other characters as '?') with its top-left at (x, y),
// each font pixel a scale x scale square; clipped to the bitmap.
void DrawTinyText(TBitmap& bitmap, int x, int y, std::string_view text, int scale, uint8_t r,
                  uint8_t g, uint8_t b);
// Characters the text takes (UTF-8 sequences count once).
int TinyTextLength(std::string_view text);

}  // namespace lum
