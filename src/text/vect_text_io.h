#pragma once
// Readers and writers of the two stored forms of text: "VectTxt2" members
// (laid-out glyphs) and "VectTextCache" members (outlines of one font and
// style). Little-endian, UTF-16 keys, single-precision reals.
//
// Members come from show files, so the readers trust nothing: a count that
// is negative or larger than the bytes left can hold, or a key running past
// the end, refuses the whole member (nothing after it can be found again).
// A glyph whose values cannot be drawn (non-finite or beyond kMaxTextUnits,
// a size or capture size that is not positive, an unknown path command) is
// dropped and the rest is read. Memory stays bounded by the member's size.
#include <cstdint>
#include <string>
#include <string_view>

#include "text/vector_text.h"

namespace lum {

// Largest magnitude of a position, metric or outline coordinate.
inline constexpr double kMaxTextUnits = 16777216.0;  // 2^24
// A laid-out text holds at most this many lines and glyphs.
inline constexpr int32_t kMaxTextLines = 10000;
inline constexpr int64_t kMaxTextGlyphs = 1000000;

// False (and `out` left empty, `why` set when given) for a broken member.
bool ReadVectText(std::string_view bytes, TVectText& out, std::string* why = nullptr);
bool ReadGlyphCache(std::string_view bytes, TGlyphCache& out, std::string* why = nullptr);

std::string WriteVectText(const TVectText& text);
std::string WriteGlyphCache(const TGlyphCache& cache);

// True when a glyph can be drawn as stored (the reader's per-glyph check).
bool GlyphOutlineUsable(const TGlyphOutline& glyph);

}  // namespace lum
