#include "text/vect_text_io.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "foundation/utf.h"

namespace lum {

namespace {

// Fields are copied as they lie in memory.
static_assert(std::endian::native == std::endian::little);

// Bytes of the smallest record each count declares, for the plausibility
// check against what is left.
constexpr size_t kPlacedGlyphBytes = 4 + 4 + 2 + 4;
constexpr size_t kGlyphHeaderBytes = 2 + 3 * 4 + 2 * 4 + 4 + 4;
constexpr size_t kPointBytes = 4 + 4 + 4;

class TReader {
 public:
  explicit TReader(std::string_view b) : b_(b) {}
  size_t Left() const { return b_.size() - pos_; }
  bool I32(int32_t& v) { return Raw(&v, 4); }
  bool U16(uint16_t& v) { return Raw(&v, 2); }
  bool F32(float& v) { return Raw(&v, 4); }
  // A count that must be >= 0 and fit in the bytes left at `unit` each.
  bool Count(int32_t& n, size_t unit) {
    if (!I32(n) || n < 0) return false;
    return size_t(n) <= Left() / unit;
  }
  bool Utf16(int32_t chars, std::string& out) {
    if (chars < 0 || size_t(chars) > Left() / 2) return false;
    out = Utf16LeBytesToUtf8(b_.substr(pos_, size_t(chars) * 2));
    pos_ += size_t(chars) * 2;
    return true;
  }

 private:
  bool Raw(void* v, size_t n) {
    if (Left() < n) return false;
    std::memcpy(v, b_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  std::string_view b_;
  size_t pos_ = 0;
};

class TWriter {
 public:
  void I32(int32_t v) { Raw(&v, 4); }
  void U16(uint16_t v) { Raw(&v, 2); }
  void F32(float v) { Raw(&v, 4); }
  void Utf16(std::string_view utf8) {
    std::u16string s = Utf8ToUtf16(utf8);
    I32(int32_t(s.size()));
    for (char16_t c : s) U16(uint16_t(c));
  }
  std::string Take() { return std::move(out_); }

 private:
  void Raw(const void* v, size_t n) { out_.append(static_cast<const char*>(v), n); }
  std::string out_;
};

bool InRange(double v) {
  return std::isfinite(v) && std::fabs(v) <= kMaxTextUnits;
}

bool Fail(std::string* why, const char* message) {
  if (why) *why = message;
  return false;
}

}  // namespace

bool GlyphOutlineUsable(const TGlyphOutline& g) {
  if (!InRange(g.a) || !InRange(g.b) || !InRange(g.c) || !InRange(g.ascent) || !InRange(g.descent))
    return false;
  if (!(g.captureSize > 0) || !InRange(g.captureSize)) return false;
  for (const TGlyphPoint& p : g.points) {
    switch (p.command) {
      case pcClose:
        continue;  // coordinates ignored
      case pcMoveTo:
      case pcLineTo:
      case pcQuadTo:
      case pcCubicTo:
        if (!InRange(p.x) || !InRange(p.y)) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

bool ReadVectText(std::string_view bytes, TVectText& out, std::string* why) {
  out = TVectText();
  TReader r(bytes);
  int32_t lineCount = 0;
  if (!r.Count(lineCount, 4)) return Fail(why, "line count past the end");
  if (lineCount > kMaxTextLines) return Fail(why, "too many lines");
  TVectText t;
  if (!r.I32(t.ascent) || !r.I32(t.descent)) return Fail(why, "truncated header");
  for (float& m : t.metrics)
    if (!r.F32(m)) return Fail(why, "truncated header");
  if (!InRange(t.ascent) || !InRange(t.descent)) return Fail(why, "implausible ascent or descent");
  for (float& m : t.metrics)
    if (!InRange(m)) m = 0;  // unusable metrics fall back to the derived bars
  t.lines.resize(size_t(lineCount));
  int64_t total = 0;
  for (auto& line : t.lines) {
    int32_t glyphCount = 0;
    if (!r.Count(glyphCount, kPlacedGlyphBytes)) return Fail(why, "glyph count past the end");
    total += glyphCount;
    if (total > kMaxTextGlyphs) return Fail(why, "too many glyphs");
    line.reserve(size_t(glyphCount));
    for (int32_t k = 0; k < glyphCount; ++k) {
      TPlacedGlyph g;
      int32_t keyLength = 0;
      if (!r.I32(g.x) || !r.F32(g.size) || !r.U16(g.index) || !r.I32(keyLength))
        return Fail(why, "truncated glyph");
      if (!r.Utf16(keyLength, g.cacheKey)) return Fail(why, "glyph key past the end");
      if (!InRange(g.x) || !(g.size > 0) || !InRange(g.size)) continue;  // cannot be placed
      line.push_back(std::move(g));
    }
  }
  out = std::move(t);
  return true;
}

bool ReadGlyphCache(std::string_view bytes, TGlyphCache& out, std::string* why) {
  out = TGlyphCache();
  TReader r(bytes);
  int32_t glyphCount = 0, keyLength = 0;
  if (!r.I32(glyphCount) || glyphCount < 0) return Fail(why, "bad glyph count");
  TGlyphCache c;
  if (!r.I32(keyLength) || !r.Utf16(keyLength, c.key)) return Fail(why, "key past the end");
  if (size_t(glyphCount) > r.Left() / kGlyphHeaderBytes)
    return Fail(why, "glyph count past the end");
  c.glyphs.reserve(size_t(glyphCount));
  for (int32_t k = 0; k < glyphCount; ++k) {
    TGlyphOutline g;
    int32_t pointCount = 0;
    if (!r.U16(g.index) || !r.I32(g.a) || !r.I32(g.b) || !r.I32(g.c) || !r.I32(g.ascent) ||
        !r.I32(g.descent) || !r.F32(g.captureSize))
      return Fail(why, "truncated glyph");
    if (!r.Count(pointCount, kPointBytes)) return Fail(why, "point count past the end");
    g.points.resize(size_t(pointCount));
    for (TGlyphPoint& p : g.points)
      if (!r.F32(p.x) || !r.F32(p.y) || !r.I32(p.command)) return Fail(why, "truncated point");
    if (GlyphOutlineUsable(g)) c.glyphs.push_back(std::move(g));
  }
  out = std::move(c);
  return true;
}

std::string WriteVectText(const TVectText& text) {
  TWriter w;
  w.I32(int32_t(text.lines.size()));
  w.I32(text.ascent);
  w.I32(text.descent);
  for (float m : text.metrics) w.F32(m);
  for (const auto& line : text.lines) {
    w.I32(int32_t(line.size()));
    for (const TPlacedGlyph& g : line) {
      w.I32(g.x);
      w.F32(g.size);
      w.U16(g.index);
      w.Utf16(g.cacheKey);
    }
  }
  return w.Take();
}

std::string WriteGlyphCache(const TGlyphCache& cache) {
  TWriter w;
  w.I32(int32_t(cache.glyphs.size()));
  w.Utf16(cache.key);
  for (const TGlyphOutline& g : cache.glyphs) {
    w.U16(g.index);
    w.I32(g.a);
    w.I32(g.b);
    w.I32(g.c);
    w.I32(g.ascent);
    w.I32(g.descent);
    w.F32(g.captureSize);
    w.I32(int32_t(g.points.size()));
    for (const TGlyphPoint& p : g.points) {
      w.F32(p.x);
      w.F32(p.y);
      w.I32(p.command);
    }
  }
  return w.Take();
}

}  // namespace lum
