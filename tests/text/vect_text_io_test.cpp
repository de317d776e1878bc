// Stored text members: reading hand-made bytes, hostile members, and the
// writers reading back.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "text/member_bytes.h"
#include "text/vect_text_io.h"

namespace lum {
namespace {

using test::TMemberBytes;

TEST(VectTextReader, ReadsLinesGlyphsAndKeys) {
  TMemberBytes m;
  m.I32(2).I32(80).I32(20).F32(-10).F32(5).F32(30).F32(4);
  m.I32(2).Placed(0, 100, 36, u"Arial:Bold").Placed(55, 100, 0x101, u"Arial:Bold");
  m.I32(1).Placed(-3, 50.5f, 7, u"D\u00e9j\u00e0:");
  TVectText t;
  std::string why;
  ASSERT_TRUE(ReadVectText(m.Bytes(), t, &why)) << why;
  EXPECT_EQ(t.ascent, 80);
  EXPECT_EQ(t.descent, 20);
  EXPECT_EQ(t.metrics[0], -10);
  EXPECT_EQ(t.metrics[3], 4);
  ASSERT_EQ(t.lines.size(), 2u);
  ASSERT_EQ(t.lines[0].size(), 2u);
  EXPECT_EQ(t.lines[0][1].x, 55);
  EXPECT_EQ(t.lines[0][1].index, 0x101);
  EXPECT_EQ(t.lines[0][1].cacheKey, "Arial:Bold");
  EXPECT_EQ(t.lines[1][0].x, -3);
  EXPECT_EQ(t.lines[1][0].size, 50.5f);
  EXPECT_EQ(t.lines[1][0].cacheKey, "D\xC3\xA9j\xC3\xA0:");  // UTF-16 keys come back as UTF-8
  // Our writer produces the same bytes.
  EXPECT_EQ(WriteVectText(t), m.Bytes());
}

TEST(GlyphCacheReader, ReadsOutlinesAndMetrics) {
  TMemberBytes m;
  m.I32(2).Key(u"F:Italic");
  m.Glyph(3, -1, 40, 2, 70, 15, 64, 3).Point(0, 0, 0).Point(1.5f, -2, 2).Point(3, 0, 2);
  m.Glyph(9, 0, 0, 30, 0, 0, 64, 0);  // a space: no points
  TGlyphCache c;
  std::string why;
  ASSERT_TRUE(ReadGlyphCache(m.Bytes(), c, &why)) << why;
  EXPECT_EQ(c.key, "F:Italic");
  ASSERT_EQ(c.glyphs.size(), 2u);
  const TGlyphOutline* g = c.Find(3);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->a, -1);
  EXPECT_EQ(g->b, 40);
  EXPECT_EQ(g->c, 2);
  EXPECT_EQ(g->ascent, 70);
  EXPECT_EQ(g->descent, 15);
  EXPECT_EQ(g->captureSize, 64);
  ASSERT_EQ(g->points.size(), 3u);
  EXPECT_EQ(g->points[1].x, 1.5f);
  EXPECT_EQ(g->points[1].y, -2);
  EXPECT_EQ(g->points[1].command, pcQuadTo);
  EXPECT_TRUE(c.Find(9)->points.empty());
  EXPECT_EQ(c.Find(4), nullptr);
  EXPECT_EQ(WriteGlyphCache(c), m.Bytes());
}

TEST(VectTextReader, RefusesCountsAndKeysPastTheEnd) {
  auto refused = [](const std::string& bytes) {
    TVectText t;
    bool ok = ReadVectText(bytes, t);
    return !ok && t.lines.empty();
  };
  auto header = [](int64_t lines) {
    TMemberBytes m;
    m.I32(lines).I32(10).I32(2).F32(0).F32(0).F32(0).F32(0);
    return m;
  };
  EXPECT_TRUE(refused(""));
  EXPECT_TRUE(refused(header(-1).Bytes()));
  EXPECT_TRUE(refused(header(0x7fffffff).Bytes()));            // far more lines than bytes
  EXPECT_TRUE(refused(header(1).Bytes()));                     // line missing
  EXPECT_TRUE(refused(TMemberBytes().I32(0).I32(1).Bytes()));  // truncated header
  EXPECT_TRUE(refused(header(1).I32(-5).Bytes()));
  EXPECT_TRUE(refused(header(1).I32(1 << 30).Bytes()));
  EXPECT_TRUE(refused(header(1).I32(1).I32(0).F32(10).U16(1).I32(1000).Bytes()));  // key
  EXPECT_TRUE(refused(header(1).I32(1).I32(0).F32(10).U16(1).I32(-1).Bytes()));
  EXPECT_TRUE(refused(header(1).I32(2).Placed(0, 10, 1, u"k").Bytes()));  // second glyph missing
  TMemberBytes many = header(kMaxTextLines + 1);
  for (int i = 0; i <= kMaxTextLines; ++i) many.I32(0);
  EXPECT_TRUE(refused(many.Bytes()));
  // Empty lines, and bytes left over after the last line, are fine.
  TMemberBytes empty = header(3).I32(0).I32(0).I32(0).Raw("trailing");
  TVectText t;
  ASSERT_TRUE(ReadVectText(empty.Bytes(), t));
  EXPECT_EQ(t.lines.size(), 3u);
}

TEST(VectTextReader, DropsGlyphsThatCannotBePlaced) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  TMemberBytes m;
  m.I32(1).I32(10).I32(2).F32(nan).F32(INFINITY).F32(1).F32(2);
  m.I32(6)
      .Placed(0, nan, 1, u"k")
      .Placed(0, INFINITY, 2, u"k")
      .Placed(0, 0, 3, u"k")
      .Placed(0, -4, 4, u"k")
      .Placed(0x7fffffff, 10, 5, u"k")
      .Placed(-7, 10, 6, u"k");
  TVectText t;
  ASSERT_TRUE(ReadVectText(m.Bytes(), t));
  ASSERT_EQ(t.lines[0].size(), 1u);
  EXPECT_EQ(t.lines[0][0].index, 6);
  EXPECT_EQ(t.metrics[0], 0);  // unusable metrics read as none
  EXPECT_EQ(t.metrics[1], 0);
  EXPECT_EQ(t.metrics[2], 1);
}

TEST(GlyphCacheReader, HostileMembers) {
  auto refused = [](const std::string& bytes) {
    TGlyphCache c;
    return !ReadGlyphCache(bytes, c) && c.glyphs.empty() && c.key.empty();
  };
  EXPECT_TRUE(refused(""));
  EXPECT_TRUE(refused(TMemberBytes().I32(-1).Key(u"k").Bytes()));
  EXPECT_TRUE(refused(TMemberBytes().I32(1).I32(50).Bytes()));  // key past the end
  EXPECT_TRUE(refused(TMemberBytes().I32(1).I32(-2).Bytes()));
  EXPECT_TRUE(refused(TMemberBytes().I32(1 << 28).Key(u"k").Bytes()));  // glyphs past the end
  EXPECT_TRUE(refused(TMemberBytes().I32(1).Key(u"k").Glyph(1, 0, 0, 0, 0, 0, 1, -1).Bytes()));
  EXPECT_TRUE(refused(TMemberBytes().I32(1).Key(u"k").Glyph(1, 0, 0, 0, 0, 0, 1, 1 << 30).Bytes()));
  EXPECT_TRUE(refused(
      TMemberBytes().I32(1).Key(u"k").Glyph(1, 0, 0, 0, 0, 0, 1, 2).Point(0, 0, 0).Bytes()));

  // Glyphs that cannot be drawn are dropped; the others stay.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  TMemberBytes m;
  m.I32(7).Key(u"k");
  m.Glyph(1, 0, 1, 0, 1, 0, 10, 1).Point(nan, 0, 0);
  m.Glyph(2, 0, 1, 0, 1, 0, 10, 1).Point(0, 1e30f, 0);
  m.Glyph(3, 0, 1, 0, 1, 0, 10, 1).Point(0, 0, 5);  // unknown command
  m.Glyph(4, 0, 1, 0, 1, 0, 0, 1).Point(0, 0, 0);   // capture size 0
  m.Glyph(5, 0, 1, 0, 1, 0, nan, 1).Point(0, 0, 0);
  m.Glyph(6, 0x7fffffff, 1, 0, 1, 0, 10, 0);  // bearing beyond any picture
  m.Glyph(7, 0, 1, 0, 1, 0, 10, 3).Point(1, 0, 1).Point(nan, nan, 9).Point(0, 0, 0);
  TGlyphCache c;
  ASSERT_TRUE(ReadGlyphCache(m.Bytes(), c));
  ASSERT_EQ(c.glyphs.size(), 1u);
  // A path that does not start with a move is kept: the rasteriser stops at
  // that point; the close's coordinates do not matter.
  EXPECT_EQ(c.glyphs[0].index, 7);
}

TEST(VectTextWriter, RoundTripsNonAsciiKeys) {
  TVectText t;
  t.ascent = 5;
  t.descent = 1;
  t.lines.resize(2);
  t.lines[1].push_back({12, 32, 65535, "\xE6\x97\xA5\xE6\x9C\xAC:Bold"});  // 日本
  t.lines[1].push_back({13, 32, 1, "\xF0\x9F\x98\x80:"});                  // outside the BMP
  TVectText back;
  ASSERT_TRUE(ReadVectText(WriteVectText(t), back));
  ASSERT_EQ(back.lines[1].size(), 2u);
  EXPECT_EQ(back.lines[1][0].cacheKey, t.lines[1][0].cacheKey);
  EXPECT_EQ(back.lines[1][0].index, 65535);
  EXPECT_EQ(back.lines[1][1].cacheKey, t.lines[1][1].cacheKey);
}

}  // namespace
}  // namespace lum
