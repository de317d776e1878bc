// Skinned buttons: the width rule, skin files and their pieces, the theme
// fallback, composed pictures (also from broken skins), and buttons on a
// slide switching looks and giving their actions.
#include <gtest/gtest.h>

#include "document/ini_file.h"
#include "imaging/image_fixtures.h"
#include "model/button_producer.h"
#include "model/lum_button.h"
#include "model/lum_text.h"
#include "show_fixture.h"

namespace lum {
namespace {

using test::TPixels;
using test::TRgb;

// Nine 10 x 10 blocks, one colour each, in the order of the piece keys.
const TRgb kBlock[3][3] = {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
                           {{255, 255, 0}, {0, 255, 255}, {255, 0, 255}},
                           {{128, 0, 0}, {0, 128, 0}, {0, 0, 128}}};

std::string SkinPicture() {
  TPixels p{30, 30, std::vector<TRgb>(900)};
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) p.At(x, y) = kBlock[y / 10][x / 10];
  return test::WriteBmp(p, {});
}

std::string Piece(int col, int row) {
  return "skin.bmp," + std::to_string(col * 10) + "," + std::to_string(row * 10) + ",10,10";
}

// A skin whose three states share the blocks; extra lines override pieces.
std::string SkinIni(const std::string& extra = "") {
  std::string pieces = "LeftTop=" + Piece(0, 0) + "\nTop=" + Piece(1, 0) +
                       "\nRightTop=" + Piece(2, 0) + "\nLeft=" + Piece(0, 1) +
                       "\nCenter=" + Piece(1, 1) + "\nRight=" + Piece(2, 1) +
                       "\nLeftBottom=" + Piece(0, 2) + "\nBottom=" + Piece(1, 2) +
                       "\nRightBottom=" + Piece(2, 2) + "\n";
  return "[NormalState]\n" + pieces + extra + "[HoverState]\n" + pieces + "[ClickState]\n" +
         pieces + "[TextParams]\nColor=10,20,30\nBtnMinWidth=150\n";
}

TRgb At(const TBitmap& b, int x, int y) {
  const uint8_t* p = b.Row(y) + 4 * x;
  return {p[2], p[1], p[0]};
}

struct TSkins : test::TModelShow {
  TSkins() : TModelShow(800, 400) {
    files->Add("aqua\\btn.ini", SkinIni());
    files->Add("aqua\\skin.bmp", SkinPicture());
  }
};

TEST(ButtonWidth, FollowsTheCaptionAndTheMinimum) {
  EXPECT_EQ(ButtonWidth(40, 0, 2.0, 100, 100), 120);  // 40 x 2 + 40
  EXPECT_EQ(ButtonWidth(40, 400, 2.0, 100, 100), 160);
  EXPECT_EQ(ButtonWidth(40, 0, 2.0, 50, 100), 80);  // caption at half size
  EXPECT_EQ(ButtonWidth(40, 0, 0.1, 100, 0), 40);   // never narrower than high
  EXPECT_EQ(ButtonWidth(40, 1e9, 1e300, NAN, 100), kMaxSkinSide);
}

TEST(ButtonNames, PiecesAndPictureNamesKeepSeparatorsInNames) {
  TSkinPiece p = ParseSkinPiece("a,b.bmp,1,2,3,4");
  EXPECT_EQ(p.picture, "a,b.bmp");
  EXPECT_EQ(p.left, 1);
  EXPECT_EQ(p.height, 4);
  EXPECT_TRUE(ParseSkinPiece("x.bmp,1,2").picture.empty());
  TButtonRequest r = ParseButtonPictureName(
      ButtonPictureName({"my:theme", 2, 120, -30, 5, 7}).substr(kButtonPrefix.size()));
  EXPECT_EQ(r.theme, "my:theme");
  EXPECT_EQ(r.state, 2);
  EXPECT_EQ(r.width, 120);
  EXPECT_EQ(r.hue, -30);
  EXPECT_EQ(r.lightness, 7);
}

TEST(ButtonProducer, ComposesNinePiecesAtAnyWidth) {
  TSkins show;
  TButtonProducer producer(show.accessor, "", "aqua");
  ASSERT_TRUE(producer.Loaded());
  EXPECT_EQ(producer.Skin().BaseHeight(), 30);
  EXPECT_EQ(producer.Skin().textColor, 10u | 20u << 8 | 30u << 16);
  TRef<TBitmap> b = producer.Draw(0, 100, 0, 0, 0);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Width(), 100);
  EXPECT_EQ(b->Height(), 30);
  EXPECT_EQ(At(*b, 2, 2), kBlock[0][0]);
  EXPECT_EQ(At(*b, 97, 2), kBlock[0][2]);
  EXPECT_EQ(At(*b, 97, 27), kBlock[2][2]);
  for (int x : {20, 50, 80}) {
    EXPECT_EQ(At(*b, x, 2), kBlock[0][1]) << x;  // the top edge stretched
    EXPECT_EQ(At(*b, x, 15), kBlock[1][1]) << x;
  }
  // Narrower than the corners: they share the width, nothing overflows.
  TRef<TBitmap> narrow = producer.Draw(0, 8, 0, 0, 0);
  ASSERT_TRUE(narrow);
  EXPECT_EQ(narrow->Width(), 8);
  // A hue shift of 120 degrees turns red into green.
  TRef<TBitmap> shifted = producer.Draw(0, 100, 120, 0, 0);
  EXPECT_EQ(At(*shifted, 2, 2), (TRgb{0, 255, 0}));
}

TEST(ButtonProducer, BrokenSkinsGiveMessagesNotCrashes) {
  const TRgb blue{0, 0, 255};
  for (const std::string& bad :
       {std::string("LeftTop=missing.bmp,0,0,10,10\n"), std::string("LeftTop=skin.bmp,0,0,0,0\n"),
        std::string("LeftTop=skin.bmp,0,0,100000,100000\n"),
        std::string("Left=skin.bmp,0,0,10,100000\n"),
        std::string("LeftTop=skin.bmp,-5,0,10,10\n")}) {
    TSkins show;
    // The later of two equal keys counts.
    show.files->Add("aqua\\btn.ini", SkinIni(bad));
    TButtonProducer producer(show.accessor, "", "aqua");
    TRef<TBitmap> b = producer.Draw(0, 100, 0, 0, 0);
    ASSERT_TRUE(b) << bad;
    EXPECT_EQ(At(*b, 0, 0), blue) << bad;
  }
}

TEST(ButtonProducer, ThemesFallBackToAqua) {
  TSkins show;
  TButtonProducerHost host(show.accessor, "");
  TButtonProducer* p = host.Find("no such theme");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Theme(), "aqua");
  EXPECT_TRUE(host.Picture("no such theme:1:60:0:0:0"));
  TSkins bare;
  bare.files->files.clear();
  TButtonProducerHost none(bare.accessor, "");
  EXPECT_EQ(none.Find("aqua"), nullptr);
  EXPECT_FALSE(none.Picture("aqua:0:60:0:0:0"));
}

TEST(ButtonOnSlide, PreparesEveryLookAndGivesItsActionOnClick) {
  TSkins show;
  TLumSlide& s =
      show.Slide("object B:Button\nGUID={1}\nTheme=missing\nAction=exit\nPosition=50,50\n" +
                 test::Key(0, "ScaleX=20\nScaleY=20\n") +
                 "object C:Text\nGUID={2}\nText=Play\nFontName=Liberation Sans\nend\nend\n");
  s.SetTimeAndLayout(true, 0);
  auto* button = static_cast<TLumButton*>(s.AllObjects()[1]);
  ASSERT_STREQ(button->ClassName(), "TLumButton");
  ASSERT_TRUE(button->Picture());
  for (int state = 0; state < 3; ++state) EXPECT_TRUE(button->StatePicture(state)) << state;
  EXPECT_EQ(button->SkinHeight(), 30);
  TLumText* caption = button->Caption();
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->Color(1), 10u | 20u << 8 | 30u << 16);  // the theme's text colour
  // The theme's minimum is 150% of the height; a one-word caption needs more.
  const double ratio = caption->Height() > 0 ? caption->Width() / caption->Height() : 0;
  EXPECT_EQ(button->SkinWidth(), ButtonWidth(30, 150, ratio, 100, 100));
  EXPECT_EQ(button->Picture()->Width(), button->SkinWidth());

  // Hover and press switch to the prepared pictures.
  const auto c = button->ScreenCorners();
  const double x = (c[0].x + c[2].x) / 2, y = (c[0].y + c[2].y) / 2;
  std::optional<TLumActionInfo> action;
  EXPECT_EQ(s.PointerInput(x, y, 0, kPointerMove, &action), button);
  EXPECT_EQ(button->Picture().Get(), button->StatePicture(1).Get());
  s.PointerInput(x, y, kLeftButton, kPointerPress, &action);
  EXPECT_EQ(button->Picture().Get(), button->StatePicture(2).Get());
  EXPECT_EQ(caption->PointerState(), 2);
  EXPECT_FALSE(action);
  s.PointerInput(x, y, 0, kPointerRelease, &action);
  EXPECT_TRUE(action);
  EXPECT_EQ(button->Picture().Get(), button->StatePicture(1).Get());
}

TEST(ButtonOnSlide, CaptionTakesTheThemeOffsetAndTheCaptionOpacity) {
  TSkins show;
  std::string ini = SkinIni();
  ini.replace(ini.find("BtnMinWidth=150"), 15, "BtnMinWidth=0\nBtnOffset=20");
  show.files->Add("aqua\\btn.ini", ini);
  TLumSlide& s =
      show.Slide("object B:Button\nGUID={1}\nTheme=aqua\nTxtOpacity=50\nPosition=50,50\n" +
                 test::Key(0, "ScaleX=20\nScaleY=20\nOpacity=80\n") +
                 "object C:Text\nGUID={2}\nText=Play\nFontName=Liberation Sans\n" +
                 test::Key(0, "ScaleX=100\nScaleY=100\nOpacity=50\n") + "end\nend\n");
  s.SetTimeAndLayout(true, 0);
  auto* button = static_cast<TLumButton*>(s.AllObjects()[1]);
  TLumText* caption = button->Caption();
  ASSERT_NE(caption, nullptr);
  // 100 - "BtnOffset", written into the caption's first key frame and in
  // effect from the first frame.
  EXPECT_FLOAT_EQ(caption->Props()->KeyFrames()[0]->Value(4), 80);
  EXPECT_FLOAT_EQ(caption->Props()->KeyFrames()[0]->Value(5), 80);
  EXPECT_FLOAT_EQ(caption->ScaleX(), 80);
  EXPECT_FLOAT_EQ(caption->ScaleY(), 80);
  const double ratio = caption->Height() > 0 ? caption->Width() / caption->Height() : 0;
  EXPECT_EQ(button->SkinWidth(), ButtonWidth(30, 0, ratio, 80, 100));
  // Not written again frame after frame, nor compounded.
  s.SetTimeAndLayout(true, 100);
  EXPECT_FLOAT_EQ(caption->ScaleX(), 80);
  // The caption: its own 50 % x the button's 80 % x "TxtOpacity" 50 %; the
  // skin keeps the button's own opacity.
  EXPECT_NEAR(caption->GetDrawOpacity(), 20, 1e-9);
  TImageDrawParams p;
  caption->FillDrawParams(p);
  EXPECT_NEAR(p.opacity, 0.2, 1e-9);
  EXPECT_NEAR(button->GetDrawOpacity(), 80, 1e-9);
  // A text that is no caption keeps its own opacity.
  TSkins other;
  TLumSlide& plain =
      other.Slide("object T:Text\nGUID={3}\nText=x\n" + test::Key(0, "Opacity=40\n"));
  EXPECT_NEAR(static_cast<TLumText*>(plain.AllObjects()[1])->GetDrawOpacity(), 40, 1e-9);
}

}  // namespace
}  // namespace lum
