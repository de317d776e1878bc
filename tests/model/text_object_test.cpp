// Text objects in slides built from documents: keys and their defaults, the
// comment flag, the resolution text pictures are made at, colours per
// pointer state, sizing by the container, button captions, hit testing on
// the lines and texts that cannot be made. Live fonts only.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "container/file_accessor.h"
#include "container/file_source.h"
#include "foundation/case_fold.h"
#include "foundation/memory_stream.h"
#include "imaging/image_fixtures.h"
#include "model/lum_text.h"
#include "model/shadow.h"
#include "model/slide_producer.h"
#include "project/lum_source.h"
#include "show_fixture.h"
#include "support/environment.h"
#include "support/live_font.h"
#include "text/live_vectorizer.h"
#include "text/text_picture.h"

namespace lum {
namespace {

using test::Key;

std::string Object(const std::string& name, const std::string& keys, const std::string& inner = "",
                   const std::string& cls = "Text") {
  static int guid = 0;
  return "object " + name + ":" + cls + "\nGUID={" + std::to_string(++guid) + "}\n" + keys + inner +
         "end\n";
}

std::string Scale(int time, int x, int y) {
  return Key(time, "ScaleX=" + std::to_string(x) + "\nScaleY=" + std::to_string(y) + "\n");
}

// A show of design size 800 x 400 shown 1:1.
struct TShow : test::TModelShow {
  TShow() : TModelShow(800, 400) {}
};

template <class T = TLumText>
T& Find(TLumSlide& slide, const std::string& name) {
  for (TLumObject* o : slide.AllObjects())
    if (o != &slide && o->Name() == name) return dynamic_cast<T&>(*o);
  throw std::runtime_error("no object " + name);
}

// Where a point of the text picture (pixels of level 0) lands in the window.
TVec3 WindowPoint(const TLumText& t, double px, double py) {
  const TTextRect& b = t.TextStore()->GlyphBounds();
  const auto c = t.ScreenCorners();
  const double fx = (px - b.left) / b.Width(), fy = (py - b.top) / b.Height();
  return c[0] + (c[1] - c[0]) * fx + (c[3] - c[0]) * fy;
}

class TextObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_LIBERATION_SANS();
  }
  TShow show;
};

// ---- keys ---------------------------------------------------------------------

TEST_F(TextObjects, KeysAndDefaults) {
  TLumSlide& s = show.Slide(
      Object("Plain", "Text=x\n", Scale(0, 20, 20)) +
      Object("Lines", "Text=one\\ntwo \\\\ three\\n\n", Scale(0, 20, 20)) +
      Object("Path", "Text=C:\\Photos\\new\n", Scale(0, 20, 20)) +
      Object("Keys",
             "Text=x\nTextColor=255,0,0\nTextColorClick=0,0,255\nFontName=Liberation Sans\n"
             "FontStyle=Bold,Italic,Underline,StrikeOut\nTextAlign=Right\nLineSpacing=25\n"
             "Antialiased=1\n",
             Scale(0, 20, 20)) +
      Object("Lower", "Text=x\nFontStyle=bold,Italic,STRIKEOUT\nTextAlign=Left\nFontName=\n") +
      Object("Empty", "Text=\\n\\n\n") + Object("None", ""));

  TLumText& plain = Find(s, "Plain");
  EXPECT_EQ(plain.Lines(), std::vector<std::string>{"x"});
  EXPECT_EQ(plain.FontName(), "Arial");
  EXPECT_EQ(plain.Style(), 0);
  EXPECT_EQ(plain.Align(), taCentre);
  EXPECT_EQ(plain.LineSpacing(), 0);
  EXPECT_FALSE(plain.Rasterized());
  EXPECT_FALSE(plain.IsComment());
  EXPECT_EQ(plain.PointerState(), 0);
  EXPECT_TRUE(plain.Shadow().enabled);
  EXPECT_FALSE(plain.TranspForClick());
  for (int state = 0; state < 3; ++state) EXPECT_EQ(plain.Color(state), 0xFFFFFFu) << state;
  TImageDrawParams p;
  plain.FillDrawParams(p);
  EXPECT_FALSE(p.antialiased);
  EXPECT_TRUE(p.hasTextColor);

  // "\n" breaks lines and "\\" is one backslash; a trailing break leaves an
  // empty last line.
  EXPECT_EQ(Find(s, "Lines").Lines(), (std::vector<std::string>{"one", "two \\ three", ""}));
  // A backslash before anything else: not an escaped value, kept as written.
  EXPECT_EQ(Find(s, "Path").Lines(), std::vector<std::string>{"C:\\Photos\\new"});

  TLumText& keys = Find(s, "Keys");
  EXPECT_EQ(keys.Color(0), 0x0000FFu);
  EXPECT_EQ(keys.Color(1), 0x0000FFu);  // hover follows the normal colour
  EXPECT_EQ(keys.Color(2), 0xFF0000u);
  EXPECT_EQ(keys.FontName(), "Liberation Sans");
  EXPECT_EQ(keys.Style(), tsBold | tsItalic | tsUnderline | tsStrikeOut);
  EXPECT_EQ(keys.Align(), taRight);
  EXPECT_EQ(keys.LineSpacing(), 25);
  keys.FillDrawParams(p);
  EXPECT_FALSE(p.antialiased);
  // The picture was asked for with the keys.
  ASSERT_TRUE(keys.TextStore());
  EXPECT_EQ(keys.Params().font, "Liberation Sans");
  EXPECT_EQ(keys.Params().style, tsBold | tsItalic | tsUnderline | tsStrikeOut);
  EXPECT_EQ(keys.Params().align, taRight);
  EXPECT_EQ(keys.Params().lineSpacing, 25);

  // Style words count only as written; an empty font name is the default.
  TLumText& lower = Find(s, "Lower");
  EXPECT_EQ(lower.Style(), tsItalic);
  EXPECT_EQ(lower.Align(), taLeft);
  EXPECT_EQ(lower.FontName(), "Arial");

  // Nothing to show is one blank line.
  EXPECT_EQ(Find(s, "Empty").Lines(), std::vector<std::string>{" "});
  EXPECT_EQ(Find(s, "None").Lines(), std::vector<std::string>{" "});
}

TEST_F(TextObjects, OnlyTheCommentLoadedLastKeepsTheFlag) {
  TLumSlide& s =
      show.Slide(Object("A", "Text=a\nIsComment=1\n") +
                 Object("Box", "Size=10,10\n", Object("B", "Text=b\nIsComment=1\n"), "Box") +
                 Object("C", "Text=c\nIsComment=0\n"));
  EXPECT_FALSE(Find(s, "A").IsComment());
  EXPECT_TRUE(Find(s, "B").IsComment());
  EXPECT_FALSE(Find(s, "C").IsComment());
}

// ---- the text picture ------------------------------------------------------------

TEST_F(TextObjects, RenderedAtTheLargestScaleOfItsKeyFrames) {
  const std::string longLine(8, 'W');
  TLumSlide& s = show.Slide(
      Object("Fixed", "Text=Hi\n", Scale(0, 100, 100)) +
      Object("Grows", "Text=Hi\n", Scale(0, 100, 100) + Scale(1000, 100, 400)) +
      Object("Wide", "Text=" + longLine + "\n", Scale(0, 100, 100)) +
      Object("WideGrows", "Text=" + longLine + "\n", Scale(0, 100, 100) + Scale(1000, -400, 50)));
  TLumText& fixed = Find(s, "Fixed");
  TLumText& grows = Find(s, "Grows");
  ASSERT_TRUE(fixed.TextStore());
  ASSERT_TRUE(grows.TextStore());
  // At scale 100 the text fills the slide's 400-unit height: so does its picture.
  EXPECT_NEAR(fixed.TextStore()->GlyphBounds().Height(), 400, 1.5);
  EXPECT_DOUBLE_EQ(grows.Params().scale, 4 * fixed.Params().scale);
  EXPECT_NEAR(grows.TextStore()->GlyphBounds().Height(), 1600, 4);
  // Shown at scale 100 now: a quarter of its picture's size on screen. The
  // picture stays while the text grows.
  EXPECT_NEAR(grows.ScreenCorners()[3].y - grows.ScreenCorners()[0].y, 400, 1e-6);
  const TImage* picture = grows.Picture().Get();
  s.SetTimeAndLayout(true, 1000);
  EXPECT_NEAR(grows.ScreenCorners()[3].y - grows.ScreenCorners()[0].y, 1600, 1e-6);
  EXPECT_EQ(grows.Picture().Get(), picture);

  // The longer line fits at scale 100, but four times as large (mirrored:
  // the size counts) it would be too big: halved until it fits, no further.
  TLumText& wide = Find(s, "Wide");
  TLumText& wideGrows = Find(s, "WideGrows");
  ASSERT_TRUE(wide.TextStore());
  ASSERT_TRUE(wideGrows.TextStore());
  EXPECT_NEAR(wide.TextStore()->GlyphBounds().Height(), 400, 1.5);
  const TTextRect& b = wideGrows.TextStore()->GlyphBounds();
  auto fits = [](double w, double h) {
    return w <= kMaxTextPictureSide && h <= kMaxTextPictureSide && w * h <= kMaxTextPicturePixels;
  };
  ASSERT_FALSE(fits(b.Width() * 4 * wide.Params().scale / wideGrows.Params().scale,
                    b.Height() * 4 * wide.Params().scale / wideGrows.Params().scale));
  EXPECT_TRUE(fits(b.Width(), b.Height()));
  EXPECT_FALSE(fits(2 * b.Width(), 2 * b.Height()));
  const TTextRect& w = wide.TextStore()->GlyphBounds();
  int halvings = 0;
  while (!fits(4 * w.Width() / (1 << halvings), 4 * w.Height() / (1 << halvings))) ++halvings;
  EXPECT_GE(halvings, 1);
  EXPECT_DOUBLE_EQ(wideGrows.Params().scale, 4 * wide.Params().scale / (1 << halvings));

  // The limits themselves (the parent shows 400 units high: a text of
  // height 1 at scale 100 would be made 400 times its size).
  EXPECT_DOUBLE_EQ(fixed.RenderScale(60, 1), 400);      // 24000 x 400
  EXPECT_DOUBLE_EQ(fixed.RenderScale(72.5, 1), 200);    // 29000 x 400 is too many pixels
  EXPECT_DOUBLE_EQ(fixed.RenderScale(1, 0.01), 20000);  // 40000 pixels wide
  EXPECT_DOUBLE_EQ(fixed.RenderScale(0, 1), 0);
}

TEST_F(TextObjects, ColourPerPointerStateOverAWhitePicture) {
  TLumSlide& s = show.Slide(
      Object("T", "Text=Hi\nTextColor=255,0,0\nTextColorHover=0,255,0\n", Scale(0, 50, 50)) +
      Object("Same", "Text=Hi\nTextColor=1,2,3\n", Scale(0, 50, 50)));
  TLumText& t = Find(s, "T");
  const uint32_t expected[] = {0x0000FF, 0x00FF00, 0x0000FF};
  TImageDrawParams p;
  for (int state : {1, 2, 0, 1}) {
    t.SetPointerState(state);
    EXPECT_EQ(t.PointerState(), state);
    t.FillDrawParams(p);
    EXPECT_TRUE(p.hasTextColor);
    EXPECT_EQ(p.textColor, expected[state]) << state;
  }
  t.SetPointerState(7);
  EXPECT_EQ(t.PointerState(), 2);
  // The picture is white, its coverage in alpha: the colour comes when drawn.
  TLumText& same = Find(s, "Same");
  same.FillDrawParams(p);
  EXPECT_EQ(p.textColor, 0x030201u);
  for (TLumText* text : {&t, &same}) {
    ASSERT_TRUE(text->Picture());
    TRef<TBitmap> bmp = text->Picture()->GetMipLevel(0, TPixelFormat::Bgra32);
    int solid = 0, notWhite = 0;
    for (int y = 0; y < bmp->Height(); ++y)
      for (int x = 0; x < bmp->Width(); ++x) {
        const uint8_t* px = bmp->Row(y) + 4 * x;
        solid += px[3] == 255;
        notWhite += px[3] > 0 && (px[0] != 255 || px[1] != 255 || px[2] != 255);
      }
    EXPECT_GT(solid, 100);
    EXPECT_EQ(notWhite, 0);
  }
}

TEST_F(TextObjects, SizedByTheContainersHeight) {
  TLumSlide& s = show.Slide(
      Object("Q", "Text=Size\n", Scale(0, 50, 25)) +
      Object("Box", "Size=400,200\n",
             Scale(0, 50, 50) + Object("Inner", "Text=Size\n", Scale(0, 100, 100)), "Box"));
  TLumText& q = Find(s, "Q");
  ASSERT_TRUE(q.TextStore());
  const TTextRect& b = q.TextStore()->GlyphBounds();
  EXPECT_DOUBLE_EQ(q.Width(), b.Width());
  EXPECT_DOUBLE_EQ(q.Height(), b.Height());
  EXPECT_NEAR(q.EffScaleY() * q.Height(), 0.25 * 400, 1e-9);
  EXPECT_NEAR(q.EffScaleX() * q.Width(), 0.5 * 400 * b.Width() / b.Height(), 1e-9);
  // On screen at 1:1: 100 units high, twice as wide as its own proportions,
  // centred on the slide.
  const auto c = q.ScreenCorners();
  EXPECT_NEAR(c[3].y - c[0].y, 100, 1e-6);
  EXPECT_NEAR(c[1].x - c[0].x, 200 * b.Width() / b.Height(), 1e-6);
  EXPECT_NEAR((c[0].x + c[2].x) / 2, 400, 1e-6);
  EXPECT_NEAR((c[0].y + c[2].y) / 2, 200, 1e-6);
  // Inside a box, the box's height is the container's.
  const auto ic = Find(s, "Inner").ScreenCorners();
  TLumObject& box = Find<TLumObject>(s, "Box");
  const auto bc = box.ScreenCorners();
  EXPECT_NEAR(ic[3].y - ic[0].y, bc[3].y - bc[0].y, 1e-6);
}

TEST_F(TextObjects, TheShadowsSoftnessFollowsTheFontSizeNotTheLineCount) {
  // Three lines three times as high as one: the same letters.
  TLumSlide& s = show.Slide(Object("One", "Text=Shadow\n", Scale(0, 20, 20)) +
                            Object("Three", "Text=Shadow\\nShadow\\nShadow\n", Scale(0, 60, 60)));
  TLumText& one = Find(s, "One");
  TLumText& three = Find(s, "Three");
  ASSERT_TRUE(one.TextStore() && three.TextStore());
  for (TLumText* t : {&one, &three})
    EXPECT_DOUBLE_EQ(t->ShadowBlurScale(), TextBlurScale(t->TextStore()->FontSize(), t->MipLevel()));
  EXPECT_GT(three.Height(), 2.5 * one.Height());
  EXPECT_NEAR(three.ShadowBlurScale() / one.ShadowBlurScale(), 1, 0.2);
}

TEST_F(TextObjects, AButtonsCaptionIsItsFirstChild) {
  TLumSlide& s = show.Slide(Object("Btn", "",
                                   Scale(0, 50, 50) + Object("Caption", "Text=First\\nSecond\n") +
                                       Object("Other", "Text=A\\nB\n"),
                                   "Button") +
                            Object("Box", "Size=10,10\n", Object("Free", "Text=A\\nB\n"), "Box"));
  TLumText& caption = Find(s, "Caption");
  EXPECT_EQ(caption.Lines(), std::vector<std::string>{"First"});
  EXPECT_TRUE(caption.TranspForClick());
  EXPECT_FALSE(ClickFilter(caption));
  EXPECT_FALSE(caption.Shadow().enabled);
  for (const char* name : {"Other", "Free"}) {
    TLumText& t = Find(s, name);
    EXPECT_EQ(t.Lines(), (std::vector<std::string>{"A", "B"})) << name;
    EXPECT_FALSE(t.TranspForClick()) << name;
    EXPECT_TRUE(t.Shadow().enabled) << name;
  }
  // The button's state reaches its texts.
  Find<TLumObject>(s, "Btn").SetPointerState(2);
  EXPECT_EQ(caption.PointerState(), 2);
}

TEST_F(TextObjects, HitsOnlyInsideTheLines) {
  show.files->Add("r.bmp", test::WriteBmp(test::MakeTestPicture(200, 100), {}));
  TLumSlide& s = show.Slide(
      Object("T", "Text=I\\nIIIIIIIIIIII\n", Scale(0, 50, 50)) +
      Object("R", "Text=I\\nIIIIIIIIIIII\nRasterize=1\nImageName=r.bmp\n", Scale(0, 50, 50)));
  TLumText& t = Find(s, "T");
  ASSERT_TRUE(t.TextStore());
  const std::vector<TTextRect>& lines = t.TextStore()->LineRects();
  ASSERT_EQ(lines.size(), 2u);
  const TTextRect& b = t.TextStore()->GlyphBounds();
  const TTextRect& shortLine = lines[0];
  const double midY = (shortLine.top + shortLine.bottom) / 2;
  ASSERT_LT(shortLine.right, b.right - 20);
  for (const TTextRect& r : lines) {
    TVec3 in = WindowPoint(t, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    EXPECT_TRUE(t.HitTest(in.x, in.y));
  }
  // Beside the short line, inside the object's rectangle: nothing there.
  TVec3 beside = WindowPoint(t, b.right - 10, midY);
  EXPECT_FALSE(t.HitTest(beside.x, beside.y));
  EXPECT_NE(s.FindObjectAt(beside.x, beside.y, ClickFilter), &t);
  TVec3 outside = WindowPoint(t, b.right + 10, midY);
  EXPECT_FALSE(t.HitTest(outside.x, outside.y));

  // A rasterised text shows its picture as it is and takes the whole rectangle.
  TLumText& r = Find(s, "R");
  ASSERT_TRUE(r.Picture());
  EXPECT_FALSE(r.TextStore());
  EXPECT_EQ(r.Width(), 200);
  EXPECT_EQ(r.Height(), 100);
  TImageDrawParams p;
  r.FillDrawParams(p);
  EXPECT_FALSE(p.hasTextColor);
  const auto c = r.ScreenCorners();
  EXPECT_NEAR(c[3].y - c[0].y, 200, 1e-6);
  TVec3 corner = c[0] + (c[2] - c[0]) * 0.05;
  EXPECT_TRUE(r.HitTest(corner.x, corner.y));
}

TEST_F(TextObjects, ATextThatCannotBeMadeShowsNothing) {
  std::string many = "Text=a";
  for (int i = 1; i < 20000; ++i) many += "\\na";
  TLumSlide& s = show.Slide(Object("Many", many + "\n", Scale(0, 50, 50)) +
                            Object("Ok", "Text=ok\n", Scale(0, 50, 50)));
  TLumText& t = Find(s, "Many");
  EXPECT_EQ(t.Lines().size(), 20000u);
  EXPECT_FALSE(t.Picture());
  EXPECT_EQ(t.Width(), 0);
  EXPECT_EQ(t.Height(), 0);
  EXPECT_FALSE(t.InView());
  // Laying out again neither makes it nor disturbs the others.
  s.SetTimeAndLayout(true, 100);
  EXPECT_FALSE(t.Picture());
  EXPECT_TRUE(Find(s, "Ok").Picture());
}

}  // namespace
}  // namespace lum
