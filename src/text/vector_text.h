#pragma once
// Text as outlines: laid-out glyphs of a text ("VectTxt2" members) and the
// glyph outlines of one font and style ("VectTextCache" members), as stored
// by the authoring tool or made here from the installed fonts.
#include <cstdint>
#include <string>
#include <vector>

namespace lum {

// Path commands of an outline point.
enum TPathCommand : int32_t {
  pcMoveTo = 0,  // starts a contour
  pcLineTo = 1,
  pcQuadTo = 2,   // this point is the control point, the next the end point
  pcCubicTo = 3,  // three consecutive points: control, control, end
  pcClose = 9,    // closes the contour; its coordinates are ignored
};

struct TGlyphPoint {
  float x = 0, y = 0;  // outline units, y downwards from the baseline
  int32_t command = pcMoveTo;
};

struct TGlyphOutline {
  uint16_t index = 0;           // glyph index in its font
  int32_t a = 0, b = 0, c = 0;  // left bearing, black-box width, right bearing
  int32_t ascent = 0, descent = 0;
  float captureSize = 0;  // the size at which the outline was taken
  std::vector<TGlyphPoint> points;
};

// The outlines of one font and style; key = font name + ":" + style field.
struct TGlyphCache {
  std::string key;
  std::vector<TGlyphOutline> glyphs;
  // Linear lookup by glyph index; null when missing.
  const TGlyphOutline* Find(uint16_t index) const {
    for (const TGlyphOutline& g : glyphs)
      if (g.index == index) return &g;
    return nullptr;
  }
};

struct TPlacedGlyph {
  int32_t x = 0;   // origin on the line, outline units
  float size = 0;  // the outline is scaled by size / capture size
  uint16_t index = 0;
  std::string cacheKey;  // names the glyph cache holding the outline
};

// A laid-out text: lines of placed glyphs.
struct TVectText {
  int32_t ascent = 0, descent = 0;  // of an empty line, outline units
  float metrics[4] = {0, 0, 0, 0};  // underline and strike-out offsets and thicknesses
  std::vector<std::vector<TPlacedGlyph>> lines;
};

}  // namespace lum
