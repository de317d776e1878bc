// Text pictures: stored and live outlines, lookups by escaped key, layout
// (line boxes, empty lines, alignment, spacing, bars), the picture and its
// metrics, and the limits.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <unordered_map>

#include "container/file_accessor.h"
#include "foundation/case_fold.h"
#include "foundation/memory_stream.h"
#include "imaging/bitmap.h"
#include "text/member_bytes.h"
#include "text/text_picture.h"
#include "text/vect_text_io.h"

namespace lum {
namespace {

using test::TMemberBytes;

// Members by name, looked up without regard to case as a container does.
class TMemberSource : public TFileSource {
 public:
  std::unique_ptr<TStream> Open(std::string_view name) override {
    std::lock_guard<std::mutex> guard(lock_);
    opened.emplace_back(name);
    auto it = members.find(std::string(name));
    if (it == members.end()) return nullptr;
    return std::make_unique<TMemoryStream>(it->second);
  }
  std::unordered_map<std::string, std::string, TFoldedHash, TFoldedEqual> members;
  std::vector<std::string> opened;
};

// Glyph n of font "F" is a box 40 units wide (A 0, B 40, C 10) standing
// 40 units above the baseline, captured at 100; its descent is 10.
std::string BoxCache(std::initializer_list<unsigned> indexes, const std::u16string& key = u"F:") {
  TMemberBytes m;
  m.I32(int64_t(indexes.size())).Key(key);
  for (unsigned i : indexes) {
    m.Glyph(i, 0, 40, 10, 40, 10, 100, 5);
    m.Point(0, 0, 0).Point(0, -40, 1).Point(40, -40, 1).Point(40, 0, 1).Point(0, 0, 9);
  }
  return m.Bytes();
}

// A laid-out text: per line, the glyph indexes 60 units apart, size 100.
std::string Layout(std::vector<std::vector<unsigned>> lines, const std::u16string& key = u"F:") {
  TMemberBytes m;
  m.I32(int64_t(lines.size())).I32(80).I32(20).F32(-15).F32(6).F32(30).F32(6);
  for (const auto& line : lines) {
    m.I32(int64_t(line.size()));
    int x = 0;
    for (unsigned i : line) {
      m.Placed(x, 100, i, key);
      x += 60;
    }
  }
  return m.Bytes();
}

std::string Description(std::vector<std::string> lines, int style = 0, uint8_t align = taLeft,
                        double spacing = 0) {
  TTextParams p = DefaultTextParams();
  p.font = "F";
  p.scale = 0.5;
  p.style = style;
  p.align = align;
  p.lineSpacing = spacing;
  p.lines = std::move(lines);
  return BuildTextDescription(p);
}

class TextPicture : public ::testing::Test {
 protected:
  void SetUp() override {
    TFontCache::Instance().Clear();
    source_ = MakeRef<TMemberSource>();
    accessor_ = MakeRef<TFileAccessor>(source_, "");
    source_->members["VectTextCache: F:"] = BoxCache({1, 2, 3});
  }
  void TearDown() override { TFontCache::Instance().Clear(); }
  void Add(const std::string& description, std::string layout) {
    source_->members[VectTextKey(description)] = std::move(layout);
  }
  uint8_t Alpha(TTextPictureStore& s, int x, int y) { return s.GetMipLevel(0)->Row(y)[4 * x + 3]; }
  TRef<TMemberSource> source_;
  TRef<TFileAccessor> accessor_;
};

TEST_F(TextPicture, StoredTextIsLaidOutAndFilled) {
  std::string d = Description({"ab"});
  Add(d, Layout({{1, 2}}));
  TRef<TTextPictureStore> s = MakeTextPicture(d, accessor_.Get());
  ASSERT_TRUE(s);
  // Line box 0..110 units wide, 40 + 10 high, at scale 0.5, plus a pixel all round.
  EXPECT_EQ(s->Params().width, 57);
  EXPECT_EQ(s->Params().height, 27);
  EXPECT_EQ(s->Params().format, TPixelFormat::Bgra32);
  ASSERT_EQ(s->LineRects().size(), 1u);
  EXPECT_EQ(s->LineRects()[0], (TTextRect{1, 1, 56, 26}));
  EXPECT_EQ(s->GlyphBounds(), (TTextRect{1, 1, 51, 26}));
  EXPECT_EQ(s->FontSize(), 50);
  EXPECT_EQ(s->LineHeight(), 50);  // the text's (80 + 20) x 0.5
  TRef<TBitmap> b = s->GetMipLevel(0);
  ASSERT_EQ(b->Format(), TPixelFormat::Bgra32);
  EXPECT_EQ(b->Level(), 0);
  // Glyph 1 covers x 1..21 and y 1..21 (baseline at 1 + 40 x 0.5), glyph 2 from x 31.
  EXPECT_EQ(Alpha(*s, 10, 10), 255);
  EXPECT_EQ(Alpha(*s, 25, 10), 0);
  EXPECT_EQ(Alpha(*s, 40, 20), 255);
  EXPECT_EQ(Alpha(*s, 40, 22), 0);
  EXPECT_EQ(Alpha(*s, 0, 0), 0);
  // White throughout, coverage as alpha.
  EXPECT_EQ(b->Row(10)[40], 255);
  EXPECT_EQ(b->Row(0)[0], 255);
  // Lower levels are halved from level 0.
  EXPECT_EQ(s->GetMipLevel(1)->Width(), 29);
  // The stored layout was found by its escaped key; the glyph cache once.
  EXPECT_EQ(source_->opened.front(), "VectTxt2: F::\"ab\"");
  EXPECT_TRUE(TFontCache::Instance().Has("F:"));
}

TEST_F(TextPicture, TextsDifferingInCaseFindTheirOwnMembers) {
  std::string lower = Description({"hi"}), upper = Description({"Hi"});
  EXPECT_NE(FoldCase(VectTextKey(lower)), FoldCase(VectTextKey(upper)));
  Add(lower, Layout({{1}}));
  Add(upper, Layout({{1, 2, 3}}));
  TRef<TTextPictureStore> a = MakeTextPicture(lower, accessor_.Get());
  TRef<TTextPictureStore> b = MakeTextPicture(upper, accessor_.Get());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Params().width, 27);
  EXPECT_EQ(b->Params().width, 87);
}

TEST_F(TextPicture, EmptyLinesKeepTheDefaultHeight) {
  std::string d = Description({"a", "", "b"});
  Add(d, Layout({{1}, {}, {2}}));
  TRef<TTextPictureStore> s = MakeTextPicture(d, accessor_.Get());
  ASSERT_TRUE(s);
  ASSERT_EQ(s->LineRects().size(), 3u);
  EXPECT_EQ(s->LineRects()[0].Height(), 25);
  EXPECT_EQ(s->LineRects()[1].Height(), 50);  // (80 + 20) x 0.5
  EXPECT_EQ(s->LineRects()[1].top, 26);
  EXPECT_EQ(s->LineRects()[2].top, 76);
  EXPECT_EQ(s->Params().height, 25 + 50 + 25 + 2);
  // Glyphs missing from their cache count as no glyphs too.
  std::string m = Description({"x"});
  Add(m, Layout({{77}}));
  s = MakeTextPicture(m, accessor_.Get());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->LineRects()[0].Height(), 50);
  EXPECT_EQ(s->GlyphBounds(), TTextRect());
  EXPECT_EQ(s->FontSize(), 0);
}

TEST_F(TextPicture, AlignmentAndLineSpacing) {
  for (uint8_t align : {taLeft, taCentre, taRight}) {
    std::string d = Description({"abc", "a"}, 0, align, 50);
    Add(d, Layout({{1, 2, 3}, {1}}));
    TRef<TTextPictureStore> s = MakeTextPicture(d, accessor_.Get());
    ASSERT_TRUE(s);
    const auto& r = s->LineRects();
    EXPECT_EQ(r[0].left, 1);
    EXPECT_EQ(r[0].right, 86);
    double expected = align == taLeft ? 1 : align == taCentre ? 1 + (85 - 25) / 2.0 : 61;
    EXPECT_EQ(r[1].left, expected) << int(align);
    // Half the text's line height (50) between the lines.
    EXPECT_EQ(r[1].top, r[0].bottom + 25);
    EXPECT_EQ(s->Params().height, 25 + 25 + 25 + 2);
    EXPECT_EQ(Alpha(*s, int(expected) + 5, 60), 255);
  }
  // Negative spacing overlaps lines, but never moves one above the previous.
  std::string d = Description({"a", "a"}, 0, taLeft, -1000);
  Add(d, Layout({{1}, {1}}));
  TRef<TTextPictureStore> s = MakeTextPicture(d, accessor_.Get());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->LineRects()[1].top, 1);
}

TEST_F(TextPicture, UnderlineAndStrikeOutBars) {
  std::string d = Description({"ab"}, tsUnderline | tsStrikeOut);
  Add(d, Layout({{1, 2}}));
  TRef<TTextPictureStore> s = MakeTextPicture(d, accessor_.Get());
  ASSERT_TRUE(s);
  const auto& bars = s->Layout().bars;
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_EQ(s->Params().height, 31);  // the underline reaches below the line box
  // Underline 15 units below the baseline (21), 6 thick; strike-out 30 above.
  EXPECT_EQ(bars[0], (TTextRect{1, 27, 56, 30}));
  EXPECT_EQ(bars[1], (TTextRect{1, 4.5, 56, 7.5}));
  EXPECT_EQ(Alpha(*s, 25, 5), 255);  // between the glyphs, on the strike-out
  EXPECT_EQ(Alpha(*s, 25, 4), 128);
  EXPECT_EQ(Alpha(*s, 25, 10), 0);
}

TEST_F(TextPicture, LiveVectorisationWhenNothingIsStored) {
  std::vector<std::string> seenLines;
  int seenStyle = -1;
  std::string seenFont;
  TLiveVectorizer live = [&](const std::string& font, int style,
                             const std::vector<std::string>& lines, TVectText& out) {
    seenFont = font;
    seenStyle = style;
    seenLines = lines;
    TGlyphOutline g;
    g.index = 5;
    g.b = 40;
    g.ascent = 40;
    g.captureSize = 100;
    g.points = {{0, 0, pcMoveTo}, {0, -40, pcLineTo}, {40, -40, pcLineTo}, {40, 0, pcLineTo}};
    TFontCache::Instance().AddGlyph("Live:Italic", g);
    out.ascent = 80;
    out.descent = 20;
    out.lines.resize(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) out.lines[i].push_back({0, 100, 5, "Live:Italic"});
    return true;
  };
  std::string d = Description({"A<B", "x:y"}, tsItalic);
  EXPECT_FALSE(MakeTextPicture(d, accessor_.Get()));  // no member, no vectoriser
  TRef<TTextPictureStore> s = MakeTextPicture(d, accessor_.Get(), live);
  ASSERT_TRUE(s);
  EXPECT_EQ(seenFont, "F");
  EXPECT_EQ(seenStyle, tsItalic);
  EXPECT_EQ(seenLines, std::vector<std::string>({"A<B", "x:y"}));  // unescaped
  EXPECT_EQ(s->LineRects().size(), 2u);
  EXPECT_EQ(Alpha(*s, 10, 10), 255);
  // Without any file source at all.
  EXPECT_TRUE(MakeTextPicture(d, nullptr, live));
  // Outlines the rasteriser cannot take never enter the cache, wherever they come from.
  TGlyphOutline bad;
  bad.index = 6;
  bad.captureSize = 100;
  bad.points = {{0, 0, pcMoveTo}, {1, 1, 4}};
  TFontCache::Instance().AddGlyph("Live:Italic", bad);
  EXPECT_FALSE(TFontCache::Instance().HasGlyph("Live:Italic", 6));

  // A stored layout whose glyph cache member is missing is vectorised too.
  std::string stored = Description({"q"});
  Add(stored, Layout({{1}}, u"Gone:"));
  seenLines.clear();
  s = MakeTextPicture(stored, accessor_.Get(), live);
  ASSERT_TRUE(s);
  EXPECT_EQ(seenLines, std::vector<std::string>({"q"}));
  // A damaged stored layout falls back to it as well.
  std::string damaged = Description({"z"});
  Add(damaged, std::string("\x01\x00\x00", 3));
  seenLines.clear();
  EXPECT_TRUE(MakeTextPicture(damaged, accessor_.Get(), live));
  EXPECT_EQ(seenLines, std::vector<std::string>({"z"}));
  // A vectoriser that fails gives no picture.
  EXPECT_FALSE(
      MakeTextPicture(Description({"w"}), accessor_.Get(), [](auto&&...) { return false; }));
}

TEST_F(TextPicture, HostileTextsAreRefusedNotAllocated) {
  // Too many lines or characters: refused before anything is opened.
  std::vector<std::string> many(kMaxTextLines + 1, "a");
  source_->opened.clear();
  EXPECT_FALSE(MakeTextPicture(Description(many), accessor_.Get()));
  EXPECT_FALSE(
      MakeTextPicture(Description({std::string(kMaxTextGlyphs + 1, 'a')}), accessor_.Get()));
  EXPECT_TRUE(source_->opened.empty());
  // A picture past the budget: refused at layout, no pixels taken.
  TMemberBytes wide;
  wide.I32(1).I32(80).I32(20).F32(0).F32(0).F32(0).F32(0).I32(2);
  wide.Placed(-16000000, 100, 1, u"F:").Placed(16000000, 100, 2, u"F:");
  std::string d = Description({"ab"});
  Add(d, wide.Bytes());
  EXPECT_FALSE(MakeTextPicture(d, accessor_.Get()));
  // A huge line spacing is clamped to ten line heights.
  std::string spaced = Description({"a", "a"}, 0, taLeft, 1e300);
  Add(spaced, Layout({{1}, {1}}));
  TRef<TTextPictureStore> s = MakeTextPicture(spaced, accessor_.Get());
  ASSERT_TRUE(s);
  EXPECT_EQ(s->LineRects()[1].top, 26 + 500);
}

TEST_F(TextPicture, PreparedOnSeveralThreadsAtOnce) {
  std::vector<std::string> ds;
  for (int i = 0; i < 8; ++i) {
    ds.push_back(Description({std::string(size_t(i + 1), 'a')}));
    Add(ds.back(), Layout({std::vector<unsigned>(size_t(i + 1), unsigned(1 + i % 3))}));
  }
  std::vector<std::thread> threads;
  std::vector<int> widths(ds.size());
  for (size_t i = 0; i < ds.size(); ++i)
    threads.emplace_back([&, i] {
      TRef<TTextPictureStore> s = MakeTextPicture(ds[i], accessor_.Get());
      if (s && s->GetMipLevel(0)->Row(10)[4 * 10 + 3] == 255) widths[i] = s->Params().width;
    });
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < ds.size(); ++i) EXPECT_EQ(widths[i], int(30 * (i + 1) - 5 + 2)) << i;
}

}  // namespace
}  // namespace lum
