#pragma once
// Live vectorisation: texts laid out and turned into outlines from the
// installed fonts when a show carries no stored outlines for them.
// fontconfig finds the face (and faces for characters it lacks), HarfBuzz
// shapes each line, FreeType gives outlines and metrics.
//
// Outline units are pixels at kLiveCaptureSize: every placed glyph has size
// kLiveCaptureSize and every outline that capture size, so a glyph is drawn
// at its nominal size. Metrics follow what stored texts carry:
// - a glyph's A, B, C come from its outline's bounding box and advance; its
//   ascent and descent are its face's;
// - the text's ascent and descent (an empty line's) are the requested face's;
// - metrics[] hold the underline's and the strike-out's middle (y up from
//   the baseline, negative below it) and thickness, from the face's tables.
//
// Glyph-cache keys name the font actually used: GlyphCacheKey(name, style),
// where name is the requested family when it is installed, else a family
// name of the face fontconfig chose instead (so a substitute never shares a
// key, and glyph indices, with stored outlines of the font it stands in for).
#include <string>
#include <vector>

#include "text/font_cache.h"
#include "text/text_picture.h"
#include "text/vector_text.h"

namespace lum {

inline constexpr float kLiveCaptureSize = 256;

// Lays the lines out into `out` (replacing what it held) and adds every
// outline it needs that `cache` lacks. style: TTextStyle bits. False (and
// logged) when the text is too large (over kMaxTextLines lines or
// kMaxTextGlyphs characters) or no usable font is installed. Thread-safe.
bool LiveVectorize(const std::string& font, int style, const std::vector<std::string>& lines,
                   TVectText& out, TFontCache& cache);

// The hook text pictures use: LiveVectorize into TFontCache::Instance().
TLiveVectorizer MakeLiveVectorizer();

// The face a font name and style resolve to.
struct TLiveFont {
  std::string file;
  int faceIndex = 0;
  std::string family;           // the face's first family name
  std::string keyName;          // the name its glyph-cache keys use
  bool requestedFound = false;  // the requested family itself is installed
  bool syntheticBold = false, syntheticItalic = false;
};
bool ResolveLiveFont(const std::string& font, int style, TLiveFont& out);

}  // namespace lum
