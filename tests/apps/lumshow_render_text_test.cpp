// lumshow render and lumshow text with text objects: live fonts, stored
// outlines, colours, alignment, macros, and bad input, checked against
// frames of equivalent shows and geometry worked out by hand.
#include <gtest/gtest.h>

#include <string>

#include "imaging/image_fixtures.h"
#include "support/environment.h"
#include "support/live_font.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"
#include "text/font_cache.h"
#include "text/live_vectorizer.h"
#include "text/text_params.h"
#include "text/vect_text_io.h"

namespace lum {
namespace {

using test::Lumshow;
using test::TPixels;
using test::TRgb;
using test::TTempDir;

// A slide of 800 x 400 units on black, shown 1:1.
std::string Show(const std::string& objects, int slides = 1) {
  std::string s =
      "[Main]\nMinorVersion=13\nopt_scr_width=800\nopt_scr_height=400\n"
      "[Times]\nopt_slidescount=" +
      std::to_string(slides) + "\n";
  for (int i = 1; i <= slides; ++i)
    s += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(1000 * i) + "\n";
  for (int i = 1; i <= slides; ++i)
    s += "[Slide" + std::to_string(i) + "]\nbstyle=1\nbcolor=0\nobject Container:Root\n" + objects +
         "end\n";
  return s;
}

std::string TextObject(const std::string& keys,
                       const std::string& frame = "ScaleX=20\nScaleY=20\n") {
  return "object T:Text\nGUID={1}\n" + keys + "object K:KeyPoint\nTime=0\n" + frame + "end\nend\n";
}

class RenderTexts : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_LIBERATION_SANS(); }
  TPixels Frame(const std::string& show, double ms = 100) {
    std::string out = dir / "frame.png";
    test::TCommandResult r =
        Lumshow({"render", show, "--time", std::to_string(ms), "--size", "800x400", "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadPicture(out);
  }
  // The box around every pixel brighter than the threshold in any channel.
  struct TBox {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
  };
  static TBox Lit(const TPixels& f, int threshold = 60) {
    TBox b;
    for (int y = 0; y < f.height; ++y)
      for (int x = 0; x < f.width; ++x) {
        const TRgb p = f.At(x, y);
        if (std::max({p.r, p.g, p.b}) < threshold) continue;
        b.left = std::min(b.left, x), b.right = std::max(b.right, x);
        b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
        ++b.count;
      }
    return b;
  }
  TTempDir dir;
};

TEST_F(RenderTexts, LiveTextInItsColourCentredAndSizedByItsContainer) {
  // "HHHH" at 20 % of the 400-unit slide height: its line box is 80 pixels
  // high, centred on the slide; capitals fill most of it.
  TPixels f = Frame(dir.Write("a/Project.lum",
                              Show(TextObject("Text=HHHH\nTextColor=255,0,0\nFontName=Arial\n"))));
  TBox b = Lit(f);
  ASSERT_GT(b.count, 500);
  EXPECT_NEAR((b.left + b.right) / 2.0, 400, 3);
  EXPECT_GT(b.bottom - b.top, 40);
  EXPECT_LT(b.bottom - b.top, 80);
  EXPECT_GT(b.top, 160);
  EXPECT_LT(b.bottom, 240);
  // Tinted red: no green or blue anywhere.
  int off = 0;
  for (const TRgb& p : f.px) off += p.g > 8 || p.b > 8;
  EXPECT_EQ(off, 0);
  int full = 0;
  for (const TRgb& p : f.px) full += p.r == 255;
  EXPECT_GT(full, 200);  // the insides of the strokes take the colour itself

  // Left alignment keeps the lines' left edges together.
  TPixels l = Frame(dir.Write(
      "l/Project.lum", Show(TextObject("Text=I\\nIIIIIIIII\nTextAlign=Left\nFontName=Arial\n"))));
  TPixels c = Frame(dir.Write(
      "c/Project.lum", Show(TextObject("Text=I\\nIIIIIIIII\nTextAlign=Center\nFontName=Arial\n"))));
  auto firstLit = [](const TPixels& p, int y0, int y1) {
    for (int x = 0; x < p.width; ++x)
      for (int y = y0; y < y1; ++y)
        if (p.At(x, y).r > 60) return x;
    return -1;
  };
  TBox lb = Lit(l);
  const int mid = (lb.top + lb.bottom) / 2;
  EXPECT_NEAR(firstLit(l, lb.top, mid), firstLit(l, mid, lb.bottom + 1), 2);
  TBox cb = Lit(c);
  const int cmid = (cb.top + cb.bottom) / 2;
  EXPECT_GT(firstLit(c, cb.top, cmid), firstLit(c, cmid, cb.bottom + 1) + 20);
}

TEST_F(RenderTexts, FiltersGradeTextsInTheirColour) {
  const std::string text = "Text=HHHH\nTextColor=255,0,0\nFontName=Arial\n";
  const std::string scale = "ScaleX=20\nScaleY=20\n";
  // Pixels whose colour is (near) c at full coverage, and pixels with any red.
  auto count = [](const TPixels& f, TRgb c) {
    int n = 0;
    for (const TRgb& p : f.px)
      n += std::abs(p.r - c.r) <= 3 && std::abs(p.g - c.g) <= 3 && std::abs(p.b - c.b) <= 3;
    return n;
  };
  auto reds = [](const TPixels& f) {
    int n = 0;
    for (const TRgb& p : f.px) n += p.r > 8;
    return n;
  };
  // Red inverted is cyan; a third of a turn of hue makes it green.
  TPixels inv = Frame(
      dir.Write("i/Project.lum", Show(TextObject(text, scale + "object Invert:Filter\nend\n"))));
  EXPECT_GT(count(inv, {0, 255, 255}), 200);
  EXPECT_EQ(reds(inv), 0);
  TPixels hue = Frame(dir.Write(
      "h/Project.lum", Show(TextObject(text, scale + "object HSL:Filter\nHue=120\nend\n"))));
  EXPECT_GT(count(hue, {0, 255, 0}), 200);
  EXPECT_EQ(reds(hue), 0);
  // Between an inverting key frame and a plain one: halfway is mid grey.
  const std::string frames = "object T:Text\nGUID={1}\n" + text + "object K:KeyPoint\nTime=0\n" +
                             scale +
                             "object Invert:Filter\nend\nend\n"
                             "object K:KeyPoint\nTime=1000\n" +
                             scale + "end\nend\n";
  TPixels mid = Frame(dir.Write("m/Project.lum", Show(frames)), 500);
  EXPECT_GT(count(mid, {128, 128, 128}), 200);
  EXPECT_EQ(count(mid, {255, 0, 0}) + count(mid, {0, 255, 255}), 0);
}

TEST_F(RenderTexts, MacrosGiveTheSameFrameAsTheirValues) {
  const std::string keys = "FontName=Arial\nTextColor=255,255,255\n";
  std::string withMacros =
      dir.Write("m/Project.lum",
                Show(TextObject("Text=Slide <%SlideIndex%> of <%slidescount%>\n" + keys), 12));
  std::string literal =
      dir.Write("v/Project.lum", Show(TextObject("Text=Slide 3 of 12\n" + keys), 12));
  // Slide 3 (index 2) runs from 2000 to 3000.
  const TPixels a = Frame(withMacros, 2500), b = Frame(literal, 2500);
  EXPECT_GT(Lit(a).count, 200);
  EXPECT_EQ(test::MaxDifference(a, b), 0);
  // No main picture: a line of nothing but a picture macro is a blank.
  const TPixels blank =
      Frame(dir.Write("n/Project.lum", Show(TextObject("Text=<%MainImg.FileName%>\n" + keys))));
  EXPECT_EQ(Lit(blank).count, 0);
}

// The main picture's tags, written by exiftool into a JPEG and a PNG, drawn
// through the macros exactly as the same words typed in.
TEST_F(RenderTexts, MainPictureMacrosReadItsTagsInJpegAndPng) {
  const std::string exiftool = test::FindProgram("exiftool");
  if (exiftool.empty()) GTEST_SKIP() << "exiftool is not installed";
  const std::string ppm = dir.Write("p.ppm", test::WritePpm(test::MakeTestPicture(64, 32)));
  struct TCase {
    const char* file;
    std::vector<std::string> make;  // the picture's maker, its output last
    const char* macros;
    const char* typed;
  };
  const std::vector<TCase> cases = {
      {"photo.jpg",
       {"cjpeg", "-outfile"},
       "<%MainImg.Exif.Date%> <%MainImg.FileName%>",
       "2015:07:04 photo"},
      {"photo.png",
       {"convert", "-size", "64x32", "xc:blue"},
       "<%MainImg.Exif.Time%> <%MainImg.IPTC.City%>",
       "18:22:05 Paris"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string picture = dir / (std::string("m/") + c.file);
    dir.Write("m/made", "");
    std::vector<std::string> make = c.make;
    make.push_back(picture);
    if (make[0] == "cjpeg") make.push_back(ppm);
    test::RunTool(make);
    const test::TCommandResult tag =
        test::RunCommand({exiftool, "-q", "-overwrite_original",
                          "-EXIF:ModifyDate=2015:07:04 18:22:05", "-IPTC:City=Paris", picture});
    ASSERT_EQ(tag.status, 0) << tag.err;
    dir.Write(std::string("v/") + c.file, test::ReadFile(picture));
    const std::string photo = std::string("object P:Image\nGUID={2}\nImageName=") + c.file +
                              "\nImageIndex=0\nFitMode=None\n"
                              "object K:KeyPoint\nTime=0\nPosition=0,80\nScaleX=10\nScaleY=10\n"
                              "end\nend\n";
    const std::string keys = "FontName=Arial\n";
    const TPixels a = Frame(dir.Write(
        "m/Project.lum", Show(photo + TextObject(std::string("Text=") + c.macros + "\n" + keys))));
    const TPixels b = Frame(dir.Write(
        "v/Project.lum", Show(photo + TextObject(std::string("Text=") + c.typed + "\n" + keys))));
    EXPECT_GT(Lit(a).count, 200);
    EXPECT_EQ(test::MaxDifference(a, b), 0);
  }
}

TEST_F(RenderTexts, StoredOutlinesAreUsedBeforeInstalledFonts) {
  // Outlines taken from Liberation Sans, stored under a family that is not
  // installed: the stored members must draw exactly what live Arial draws.
  TFontCache cache;
  TVectText text;
  ASSERT_TRUE(LiveVectorize("Arial", 0, {"Stored"}, text, cache));
  const std::string liveKey = GlyphCacheKey("Liberation Sans", 0);
  const std::string storedKey = GlyphCacheKey("Stored Face", 0);
  for (auto& line : text.lines)
    for (TPlacedGlyph& g : line) {
      ASSERT_EQ(g.cacheKey, liveKey);
      g.cacheKey = storedKey;
    }
  TGlyphCache glyphs = cache.Snapshot(liveKey);
  glyphs.key = storedKey;
  TTextParams p = DefaultTextParams();
  p.font = "Stored Face";
  p.lines = {"Stored"};
  const std::string vectKey = VectTextKey(BuildTextDescription(p));
  std::string project =
      dir.Write("s/Project.lum", Show(TextObject("Text=Stored\nFontName=Stored Face\n")));
  std::string vt = dir.Write("vt.bin", WriteVectText(text));
  std::string gc = dir.Write("gc.bin", WriteGlyphCache(glyphs));
  test::TCommandResult pack =
      Lumshow({"pack", project, "-o", dir / "stored.lumshow", vectKey + "=" + vt,
               std::string(kGlyphCachePrefix) + storedKey + "=" + gc});
  ASSERT_EQ(pack.status, 0) << pack.err;
  const TPixels stored = Frame(dir / "stored.lumshow");
  const TPixels live =
      Frame(dir.Write("a/Project.lum", Show(TextObject("Text=Stored\nFontName=Arial\n"))));
  EXPECT_GT(Lit(stored).count, 200);
  EXPECT_EQ(test::MaxDifference(stored, live), 0);

  // lumshow text draws the member on its own, and the same text live.
  test::TCommandResult one = Lumshow(
      {"text", "--show", dir / "stored.lumshow", "--member", vectKey, "-o", dir / "one.png"});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_NE(one.out.find("picture "), std::string::npos);
  test::TCommandResult two =
      Lumshow({"text", "Text: Arial:1:0:0::1:1:0:\"<S>tored\"", "-o", dir / "two.png"});
  ASSERT_EQ(two.status, 0) << two.err;
  EXPECT_EQ(
      test::MaxDifference(test::ReadPicture(dir / "one.png"), test::ReadPicture(dir / "two.png")),
      0);
}

TEST_F(RenderTexts, BadTextsAndArguments) {
  // A font nobody has falls back to an installed one; an empty text and a
  // text of 20,000 lines draw nothing, and nothing breaks.
  EXPECT_GT(Lit(Frame(dir.Write("f/Project.lum",
                                Show(TextObject("Text=Fallback\nFontName=No Such Font 123\n")))))
                .count,
            200);
  EXPECT_EQ(Lit(Frame(dir.Write("e/Project.lum", Show(TextObject("Text=\n"))))).count, 0);
  std::string many;
  for (int i = 0; i < 20000; ++i) many += "x\\n";
  EXPECT_EQ(Lit(Frame(dir.Write("h/Project.lum", Show(TextObject("Text=" + many + "\n"))))).count,
            0);
  EXPECT_EQ(Lumshow({"text", "-o", dir / "x.png"}).status, 2);
  EXPECT_EQ(Lumshow({"text", "--member", "VectTxt2: A::\"x\"", "-o", dir / "x.png"}).status, 2);
  test::TCommandResult none =
      Lumshow({"text", "Text: Arial:1:0:0::1:1:0:\"" + many + "\"", "-o", dir / "x.png"});
  EXPECT_EQ(none.status, 1);
}

}  // namespace
}  // namespace lum
