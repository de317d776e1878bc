// Live vectorisation with the installed fonts: face choice and fallback,
// shaping (right to left, joining, marks), outlines and metrics compared
// with FreeType reading the font file directly, limits and threads.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "foundation/utf.h"
#include "support/environment.h"
#include "text/live_vectorizer.h"
#include "text/text_params.h"
#include "text/text_picture.h"

namespace lum {
namespace {

// FreeType on a font file, at the capture size, independent of the code under test.
class TDirectFace {
 public:
  explicit TDirectFace(const std::string& file, int index = 0) {
    if (FT_Init_FreeType(&lib_) == 0 && FT_New_Face(lib_, file.c_str(), index, &face_) == 0)
      FT_Set_Pixel_Sizes(face_, 0, FT_UInt(kLiveCaptureSize));
  }
  ~TDirectFace() {
    if (face_) FT_Done_Face(face_);
    if (lib_) FT_Done_FreeType(lib_);
  }
  bool Ok() const { return face_ != nullptr; }
  uint16_t Index(char32_t c) const { return uint16_t(FT_Get_Char_Index(face_, c)); }
  // Unhinted advance in pixels.
  double Advance(uint16_t index) const {
    FT_Load_Glyph(face_, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP);
    return face_->glyph->linearHoriAdvance / 65536.0;
  }
  FT_Face face() const { return face_; }

 private:
  FT_Library lib_ = nullptr;
  FT_Face face_ = nullptr;
};

// The file of an installed family and style, "" when there is none.
std::string InstalledFile(const char* family, const char* style) {
  return test::InstalledFontFile(family, style);
}

struct TMade {
  TFontCache cache;
  TVectText text;
  bool ok = false;
  TMade(const std::string& font, int style, const std::vector<std::string>& lines) {
    ok = LiveVectorize(font, style, lines, text, cache);
  }
  // The cache keeps the outline alive.
  const TGlyphOutline* Outline(const TPlacedGlyph& g) const {
    return cache.Find(g.cacheKey, g.index).get();
  }
};

std::string LiberationSans() {
  return InstalledFile("Liberation Sans", "Regular");
}

TEST(LiveVectorizer, ArialIsLiberationSansWhenInstalled) {
  std::string file = LiberationSans();
  if (file.empty()) GTEST_SKIP() << "Liberation Sans is not installed";
  TLiveFont resolved;
  ASSERT_TRUE(ResolveLiveFont("Arial", 0, resolved));
  EXPECT_EQ(resolved.file, file);
  if (!InstalledFile("Arial", "Regular").empty()) GTEST_SKIP() << "a real Arial is installed";
  EXPECT_FALSE(resolved.requestedFound);
  // The substitute's glyph indices are its own: its key names it, not Arial.
  EXPECT_EQ(resolved.keyName, "Liberation Sans");

  TMade made("Arial", 0, {"Hello"});
  ASSERT_TRUE(made.ok);
  TDirectFace direct(file);
  ASSERT_TRUE(direct.Ok());
  ASSERT_EQ(made.text.lines.size(), 1u);
  const std::vector<TPlacedGlyph>& line = made.text.lines[0];
  ASSERT_EQ(line.size(), 5u);
  double pen = 0;
  std::u32string hello = U"Hello";
  for (size_t i = 0; i < 5; ++i) {
    uint16_t index = direct.Index(hello[i]);
    EXPECT_EQ(line[i].index, index) << i;
    EXPECT_EQ(line[i].cacheKey, "Liberation Sans:");
    EXPECT_EQ(line[i].size, kLiveCaptureSize);
    EXPECT_NEAR(line[i].x, pen, 2 + 0.02 * pen) << i;  // kerning may move a glyph a little
    const TGlyphOutline* o = made.Outline(line[i]);
    ASSERT_TRUE(o) << i;
    EXPECT_EQ(o->captureSize, kLiveCaptureSize);
    EXPECT_NEAR(o->a + o->b + o->c, direct.Advance(index), 1.0) << i;
    pen += direct.Advance(index);
  }
  EXPECT_EQ(made.text.ascent, int32_t(std::ceil(direct.face()->size->metrics.ascender / 64.0)));
  EXPECT_EQ(made.text.descent, int32_t(std::ceil(-direct.face()->size->metrics.descender / 64.0)));
}

TEST(LiveVectorizer, OutlinesArePathsInPixelsWithYDownwards) {
  TMade made("Arial", 0, {"HO"});
  ASSERT_TRUE(made.ok);
  ASSERT_EQ(made.text.lines[0].size(), 2u);
  const TGlyphOutline* h = made.Outline(made.text.lines[0][0]);
  const TGlyphOutline* o = made.Outline(made.text.lines[0][1]);
  ASSERT_TRUE(h && o);
  for (const TGlyphOutline* g : {h, o}) {
    ASSERT_FALSE(g->points.empty());
    EXPECT_EQ(g->points.front().command, pcMoveTo);
    EXPECT_EQ(g->points.back().command, pcClose);
    float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
    for (size_t i = 0; i < g->points.size(); ++i) {
      const TGlyphPoint& p = g->points[i];
      // Every contour closes before the next starts; curve points come in their groups.
      if (p.command == pcMoveTo && i > 0) {
        EXPECT_EQ(g->points[i - 1].command, pcClose);
      }
      if (p.command == pcClose) continue;
      minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
      minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
    // A capital stands on the baseline and reaches up (negative y), about
    // 0.7 of the capture size; its box matches A and B.
    EXPECT_NEAR(maxY, 0, 0.02 * kLiveCaptureSize);
    EXPECT_LT(minY, -0.6 * kLiveCaptureSize);
    EXPECT_GT(minY, -0.8 * kLiveCaptureSize);
    EXPECT_NEAR(minX, g->a, 1.0);
    EXPECT_NEAR(maxX, g->a + g->b, 1.0);
    EXPECT_EQ(g->ascent, made.text.ascent);
  }
  // "O" is made of curves.
  EXPECT_TRUE(std::any_of(o->points.begin(), o->points.end(), [](const TGlyphPoint& p) {
    return p.command == pcQuadTo || p.command == pcCubicTo;
  }));
  // A second text finds its outlines in the cache and adds none.
  size_t glyphs = made.cache.Snapshot("Liberation Sans:").glyphs.size();
  TVectText again;
  ASSERT_TRUE(LiveVectorize("Arial", 0, {"OH"}, again, made.cache));
  EXPECT_EQ(made.cache.Snapshot("Liberation Sans:").glyphs.size(), glyphs);
}

TEST(LiveVectorizer, StylesPickTheirFaces) {
  if (LiberationSans().empty()) GTEST_SKIP() << "Liberation Sans is not installed";
  TLiveFont bold, italic, both;
  ASSERT_TRUE(ResolveLiveFont("Arial", tsBold | tsUnderline, bold));
  ASSERT_TRUE(ResolveLiveFont("Arial", tsItalic, italic));
  ASSERT_TRUE(ResolveLiveFont("Arial", tsBold | tsItalic, both));
  EXPECT_EQ(bold.file, InstalledFile("Liberation Sans", "Bold"));
  EXPECT_EQ(italic.file, InstalledFile("Liberation Sans", "Italic"));
  EXPECT_EQ(both.file, InstalledFile("Liberation Sans", "Bold Italic"));
  EXPECT_FALSE(bold.syntheticBold || italic.syntheticItalic);

  TMade regular("Arial", 0, {"H"}), heavy("Arial", tsBold | tsUnderline, {"H"});
  ASSERT_TRUE(regular.ok && heavy.ok);
  const TPlacedGlyph& hb = heavy.text.lines[0][0];
  EXPECT_EQ(hb.cacheKey, "Liberation Sans:Bold,Underline");
  // The bold stem is thicker: the box grows although the letter is the same.
  EXPECT_GT(heavy.Outline(hb)->b, regular.Outline(regular.text.lines[0][0])->b);
}

TEST(LiveVectorizer, FamilyWithoutBoldFaceIsEmboldened) {
  std::string file = InstalledFile("DejaVu Math TeX Gyre", "Regular");
  if (file.empty()) GTEST_SKIP() << "DejaVu Math TeX Gyre (fonts-dejavu-extra) is not installed";
  TLiveFont f;
  ASSERT_TRUE(ResolveLiveFont("DejaVu Math TeX Gyre", tsBold, f));
  EXPECT_EQ(f.file, file);
  EXPECT_TRUE(f.syntheticBold);
  TMade regular("DejaVu Math TeX Gyre", 0, {"HH"}), bold("DejaVu Math TeX Gyre", tsBold, {"HH"});
  ASSERT_TRUE(regular.ok && bold.ok);
  const TGlyphOutline* r = regular.Outline(regular.text.lines[0][0]);
  const TGlyphOutline* b = bold.Outline(bold.text.lines[0][0]);
  ASSERT_TRUE(r && b);
  EXPECT_GT(b->b, r->b);
  // The emboldened advance moves the next glyph on.
  EXPECT_GT(bold.text.lines[0][1].x, regular.text.lines[0][1].x);
  EXPECT_NE(regular.text.lines[0][0].cacheKey, bold.text.lines[0][0].cacheKey);
}

TEST(LiveVectorizer, MissingFamilyFallsBackToAnInstalledFace) {
  TLiveFont f;
  ASSERT_TRUE(ResolveLiveFont("No Such Family Xq7", 0, f));
  EXPECT_FALSE(f.requestedFound);
  EXPECT_NE(f.keyName, "No Such Family Xq7");
  TMade made("No Such Family Xq7", 0, {"Abc"});
  ASSERT_TRUE(made.ok);
  ASSERT_EQ(made.text.lines[0].size(), 3u);
  for (const TPlacedGlyph& g : made.text.lines[0]) {
    EXPECT_NE(g.index, 0);
    EXPECT_EQ(g.cacheKey, f.keyName + ":");
    EXPECT_TRUE(made.Outline(g));
  }
  TDirectFace direct(f.file, f.faceIndex);
  ASSERT_TRUE(direct.Ok());
  EXPECT_EQ(made.text.lines[0][0].index, direct.Index(U'A'));
}

TEST(LiveVectorizer, RightToLeftAndJoiningScripts) {
  const std::string file = InstalledFile("DejaVu Sans", "Book");
  if (file.empty()) GTEST_SKIP() << "DejaVu Sans is not installed";
  TLiveFont f;
  ASSERT_TRUE(ResolveLiveFont("DejaVu Sans", 0, f));
  ASSERT_TRUE(f.requestedFound);
  TDirectFace direct(f.file, f.faceIndex);
  ASSERT_TRUE(direct.Ok());
  // DejaVu Sans has both scripts.
  ASSERT_TRUE(direct.Index(U'\u05D0') && direct.Index(U'\u0628'));
  // Hebrew: the first letter read stands rightmost.
  std::u32string shalom = U"\u05E9\u05DC\u05D5\u05DD";
  TMade hebrew("DejaVu Sans", 0, {Utf16ToUtf8(u"\u05E9\u05DC\u05D5\u05DD")});
  ASSERT_TRUE(hebrew.ok);
  const std::vector<TPlacedGlyph>& line = hebrew.text.lines[0];
  ASSERT_EQ(line.size(), 4u);
  std::vector<int32_t> xs;
  for (char32_t c : shalom) {
    auto it = std::find_if(line.begin(), line.end(),
                           [&](const TPlacedGlyph& g) { return g.index == direct.Index(c); });
    ASSERT_NE(it, line.end());
    xs.push_back(it->x);
  }
  EXPECT_TRUE(std::is_sorted(xs.rbegin(), xs.rend())) << xs[0] << " " << xs[3];
  EXPECT_GT(xs[0], xs[3]);

  // Latin words and numbers inside right-to-left text read left to right,
  // and the other way round; runs are ordered by the line's first letter.
  auto xOf = [&](const std::vector<TPlacedGlyph>& glyphs, char32_t c) {
    auto it = std::find_if(glyphs.begin(), glyphs.end(),
                           [&](const TPlacedGlyph& g) { return g.index == direct.Index(c); });
    EXPECT_NE(it, glyphs.end()) << uint32_t(c);
    return it == glyphs.end() ? -1 : it->x;
  };
  TMade mixed("DejaVu Sans", 0,
              {Utf16ToUtf8(u"\u05E9\u05DC\u05D5\u05DD abc 123"),
               Utf16ToUtf8(u"ab \u05E9\u05DC\u05D5\u05DD cd")});
  ASSERT_TRUE(mixed.ok);
  std::vector<int32_t> order;
  for (char32_t c : std::u32string(U"abc123\u05DD\u05D5\u05DC\u05E9"))
    order.push_back(xOf(mixed.text.lines[0], c));
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  order.clear();
  for (char32_t c : std::u32string(U"ab\u05DD\u05D5\u05DC\u05E9cd"))
    order.push_back(xOf(mixed.text.lines[1], c));
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));

  // Arabic: three joined beh take contextual forms, not the isolated one.
  TMade arabic("DejaVu Sans", 0, {Utf16ToUtf8(u"\u0628\u0628\u0628")});
  ASSERT_TRUE(arabic.ok);
  ASSERT_EQ(arabic.text.lines[0].size(), 3u);
  for (const TPlacedGlyph& g : arabic.text.lines[0]) EXPECT_NE(g.index, direct.Index(U'\u0628'));
}

TEST(LiveVectorizer, CombiningMarksArePlacedOnTheirBase) {
  TMade made("Arial", 0, {Utf16ToUtf8(u"e\u0301"), Utf16ToUtf8(u"x\u0301")});
  ASSERT_TRUE(made.ok);
  TLiveFont f;
  ASSERT_TRUE(ResolveLiveFont("Arial", 0, f));
  TDirectFace direct(f.file, f.faceIndex);
  // e + acute composes when the face has the precomposed letter.
  const std::vector<TPlacedGlyph>& e = made.text.lines[0];
  if (direct.Index(U'\u00E9')) {
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].index, direct.Index(U'\u00E9'));
  }
  // x + acute has no precomposed form: the mark's ink sits over the x.
  const std::vector<TPlacedGlyph>& x = made.text.lines[1];
  ASSERT_EQ(x.size(), 2u);
  const TGlyphOutline* base = made.Outline(x[0]);
  const TGlyphOutline* mark = made.Outline(x[1]);
  ASSERT_TRUE(base && mark);
  EXPECT_NE(x[1].index, 0);
  double markMid = x[1].x + mark->a + mark->b / 2.0;
  EXPECT_GT(markMid, x[0].x + base->a);
  EXPECT_LT(markMid, x[0].x + base->a + base->b);
}

TEST(LiveVectorizer, CharactersTheFontLacksComeFromAnotherFont) {
  if (LiberationSans().empty()) GTEST_SKIP() << "Liberation Sans is not installed";
  const std::string dejavu = InstalledFile("DejaVu Sans", "Book");
  if (dejavu.empty()) GTEST_SKIP() << "DejaVu Sans is not installed";
  TDirectFace liberation(LiberationSans()), other(dejavu);
  ASSERT_TRUE(liberation.Ok() && other.Ok());
  char32_t missing = 0;
  for (char32_t c : {U'\u2603', U'\u263A', U'\u2654', U'\u2318', U'\u4E2D'})
    if (!liberation.Index(c) && other.Index(c)) {
      missing = c;
      break;
    }
  // The snowman, for one, is in DejaVu Sans and not in Liberation Sans.
  ASSERT_NE(missing, 0u);
  std::string line = "a";
  AppendUtf8(line, missing);
  line += "b";
  TMade made("Arial", 0, {line});
  ASSERT_TRUE(made.ok);
  const std::vector<TPlacedGlyph>& g = made.text.lines[0];
  ASSERT_EQ(g.size(), 3u);
  EXPECT_EQ(g[0].cacheKey, "Liberation Sans:");
  EXPECT_EQ(g[2].cacheKey, "Liberation Sans:");
  EXPECT_NE(g[1].index, 0);
  EXPECT_NE(g[1].cacheKey, "Liberation Sans:");
  const TGlyphOutline* o = made.Outline(g[1]);
  ASSERT_TRUE(o);
  EXPECT_FALSE(o->points.empty());
  // Positions run on across the font change.
  EXPECT_GT(g[1].x, g[0].x);
  EXPECT_GE(g[2].x, g[1].x + o->a + o->b - 2);

  // A code point no font has keeps the requested face's missing glyph.
  std::string none = "a";
  AppendUtf8(none, U'\U0010FFFD');
  TMade nobody("Arial", 0, {none});
  ASSERT_TRUE(nobody.ok);
  ASSERT_EQ(nobody.text.lines[0].size(), 2u);
  EXPECT_EQ(nobody.text.lines[0][1].index, 0);
  EXPECT_EQ(nobody.text.lines[0][1].cacheKey, "Liberation Sans:");
}

TEST(LiveVectorizer, EmptyLinesAndFaceMetrics) {
  TMade made("Arial", tsUnderline | tsStrikeOut, {"", "A", ""});
  ASSERT_TRUE(made.ok);
  ASSERT_EQ(made.text.lines.size(), 3u);
  EXPECT_TRUE(made.text.lines[0].empty());
  EXPECT_EQ(made.text.lines[1].size(), 1u);
  EXPECT_TRUE(made.text.lines[2].empty());
  EXPECT_GT(made.text.ascent, 0.8 * kLiveCaptureSize);
  EXPECT_GT(made.text.descent, 0.1 * kLiveCaptureSize);
  // Underline below the baseline, strike-out through the lower case, both visible.
  const float* m = made.text.metrics;
  EXPECT_LT(m[0], 0);
  EXPECT_GT(m[0], -0.3 * kLiveCaptureSize);
  EXPECT_GT(m[1], 0);
  EXPECT_GT(m[2], 0.1 * kLiveCaptureSize);
  EXPECT_LT(m[2], 0.5 * kLiveCaptureSize);
  EXPECT_GT(m[3], 0);

  TMade nothing("Arial", 0, {});
  ASSERT_TRUE(nothing.ok);
  EXPECT_TRUE(nothing.text.lines.empty());
  EXPECT_EQ(nothing.text.ascent, made.text.ascent);
}

TEST(LiveVectorizer, AbsurdTextsAreRefused) {
  TFontCache cache;
  TVectText out;
  out.lines.resize(3);
  EXPECT_FALSE(LiveVectorize("Arial", 0, std::vector<std::string>(10001), out, cache));
  EXPECT_TRUE(out.lines.empty());
  EXPECT_FALSE(
      LiveVectorize("Arial", 0, {std::string(600000, 'a'), std::string(400001, 'b')}, out, cache));
  EXPECT_EQ(cache.CacheCount(), 0u);
  // At the limits it is done; characters are counted, not bytes.
  EXPECT_TRUE(LiveVectorize("Arial", 0, std::vector<std::string>(10000), out, cache));
  std::string wide;
  for (int i = 0; i < 400000; ++i) wide += "\xc3\xa9";  // 800000 bytes, 400000 characters
  EXPECT_TRUE(LiveVectorize("Arial", 0, {wide, std::string(600000, ' ')}, out, cache));
}

TEST(LiveVectorizer, ThreadsShareTheCache) {
  TFontCache cache;
  std::vector<std::string> texts = {"Hello", "World", "Shared", "Cache"};
  std::vector<TVectText> serial(texts.size()), parallel(texts.size());
  {
    TFontCache own;
    for (size_t i = 0; i < texts.size(); ++i)
      ASSERT_TRUE(LiveVectorize("Arial", tsBold, {texts[i]}, serial[i], own));
  }
  std::vector<std::thread> threads;
  std::vector<int> ok(texts.size());
  for (size_t i = 0; i < texts.size(); ++i)
    threads.emplace_back([&, i] {
      for (int k = 0; k < 5; ++k)
        ok[i] = LiveVectorize("Arial", tsBold, {texts[i]}, parallel[i], cache);
    });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_TRUE(ok[i]);
    ASSERT_EQ(parallel[i].lines[0].size(), serial[i].lines[0].size());
    for (size_t k = 0; k < serial[i].lines[0].size(); ++k) {
      EXPECT_EQ(parallel[i].lines[0][k].x, serial[i].lines[0][k].x);
      EXPECT_TRUE(cache.HasGlyph(parallel[i].lines[0][k].cacheKey, parallel[i].lines[0][k].index));
    }
  }
}

TEST(LiveVectorizer, TextPictureWithoutStoredOutlines) {
  TTextParams params = DefaultTextParams();
  params.font = "Arial";
  params.scale = 0.25;
  params.lines = {"Hi", "", "there"};
  TRef<TTextPictureStore> store =
      MakeTextPicture(BuildTextDescription(params), nullptr, MakeLiveVectorizer());
  ASSERT_TRUE(store);
  EXPECT_EQ(store->LineRects().size(), 3u);
  // The empty middle line keeps the full line height.
  EXPECT_NEAR(store->LineRects()[1].Height(), store->LineRects()[0].Height(), 1e-9);
  TRef<TBitmap> bmp = store->GetMipLevel(0, TPixelFormat::Bgra32);
  ASSERT_TRUE(bmp);
  int covered = 0;
  for (int y = 0; y < bmp->Height(); ++y)
    for (int x = 0; x < bmp->Width(); ++x) covered += bmp->Row(y)[x * 4 + 3] > 128;
  EXPECT_GT(covered, 50);
}

}  // namespace
}  // namespace lum
