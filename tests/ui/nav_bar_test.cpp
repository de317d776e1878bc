// The navigation bar's skin reading, layout, placement, pointer rules and
// auto-hide fade, against values worked out by hand.
#include <gtest/gtest.h>

#include "document/ini_file.h"
#include "ui/nav_bar_picture.h"
#include "ui/nav_layout.h"
#include "ui/nav_skin.h"
#include "ui/lum_dialog.h"
#include "ui/third_slide.h"

namespace lum {
namespace {

// A 3 x 1 grid: caps of 10 x 40 around the objects cell (2, 1); buttons of
// 30 x 24 with 4 pixels between, offsets 5/6/7/8.
std::string SkinText(const std::string& extra = "") {
  return "[Common]\nColsCount=3\nRowsCount=1\n"
         "[CellWithObjects]\nCell=2,1\nLeftOffset=5\nTopOffset=6\nRightOffset=7\nBottomOffset=8\n"
         "[Cell(1:1)]\nBounds=0,0,10,40\nflnm_Texture=bar.png\n"
         "[Cell(2:1)]\nBounds=10,0,20,40\nTextureType=Repeat\nflnm_Texture=bar.png\n"
         "[Cell(3:1)]\nBounds=30,0,10,40\nflnm_Texture=bar.png\n"
         "[Objects]\nCount=2\n[Object1]\nSpace=4\nShiftPressed=1\n[Object2]\nSpace=4\n"
         "[Action-pause]\nActionType=Pause\nBgTextureNormalBounds=0,0,30,24\n"
         "BtnTextureNormalBounds=0,24,20,20\nBtnTextureHoverBounds=20,24,20,20\n"
         "flnm_BtnTextureNormal=btn.png\nflnm_BtnTextureNormalPlay=play.png\n"
         "[ACTION-EXIT]\nActionType=exit\nBgTextureNormalBounds=0,0,30,24\n"
         "BtnTextureNormalBounds=40,24,20,20\n"
         "[Action-zoom]\nBgTextureNormalBounds=0,0,30,24\nBtnTextureNormalBounds=0,0,1,1\n" +
         extra;
}

TNavSkin Skin(const std::string& text) {
  TIniFile ini;
  ini.LoadText(text);
  return ReadNavSkin(ini);
}

std::string SkinError(const std::string& text) {
  try {
    Skin(text);
  } catch (const ENavSkinError& e) {
    return e.what();
  }
  return "no error";
}

TEST(NavSkin, ReadsCellsObjectsAndButtonsWithTheirDefaults) {
  const TNavSkin s = Skin(SkinText());
  EXPECT_EQ(s.cols, 3);
  EXPECT_EQ(s.objectsCol, 2);
  EXPECT_TRUE(s.Cell(2, 1).tiled);
  EXPECT_FALSE(s.Cell(1, 1).tiled);
  EXPECT_EQ(s.Cell(3, 1).bounds, (TNavBounds{30, 0, 10, 40}));
  ASSERT_EQ(s.objects.size(), 2u);
  EXPECT_EQ(s.objects[0].shiftPressed, 1);
  // Known names only, whatever the prefix's case.
  ASSERT_EQ(s.actions.size(), 2u);
  const TNavActionSpec& pause = s.actions.at("pause");
  EXPECT_EQ(pause.actionType, 4);
  EXPECT_EQ(s.actions.at("exit").actionType, 7);
  // Hover given; pressed and disabled fall back to the normal ones.
  EXPECT_EQ(pause.button.bounds[kNavHover], (TNavBounds{20, 24, 20, 20}));
  EXPECT_EQ(pause.button.bounds[kNavPressed], (TNavBounds{0, 24, 20, 20}));
  EXPECT_EQ(pause.button.files[kNavDisabled], "btn.png");
  EXPECT_TRUE(pause.hasPlay);
  EXPECT_EQ(pause.playFiles[kNavPressed], "play.png");
  EXPECT_FALSE(s.actions.at("exit").hasPlay);
}

TEST(NavSkin, RequestedButtonsTheSkinHasInRequestOrder) {
  const TNavSkin s = Skin(SkinText());
  EXPECT_EQ(ShownNavButtons(s, {"pause", "exit", "zoom"}), (std::vector<std::string>{"pause", "exit"}));
  EXPECT_EQ(ShownNavButtons(s, {"Exit", "home", "pause"}), (std::vector<std::string>{"exit", "pause"}));
  EXPECT_EQ(NavActionType("FORWARD"), 3);
  EXPECT_EQ(NavActionType("zoom"), 0);
}

TEST(NavSkin, MalformedValuesFailWithTheirMessages) {
  EXPECT_EQ(SkinError("[Common]\n[CellWithObjects]\nCell=1,2,3\n"),
            "Incorrect number of parameters in field \"Cell\"");
  EXPECT_EQ(SkinError("[Common]\nColsCount=2\nRowsCount=1\n[Cell(1:1)]\nBounds=0,0,1,1\n"
                      "[Cell(2:1)]\nBounds=0,0,1\n"),
            "Incorrect number of parameters in field \"Bounds\" in [Cell(2:1)]");
  EXPECT_EQ(SkinError("[Action-home]\nBgTextureNormalBounds=0,0,30,24\n"
                      "BtnTextureNormalBounds=1,2\n"),
            "Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. "
            "But LUM found only 2 values.");
  // A hover value given but malformed is an error too, not a fallback.
  EXPECT_NE(SkinError(SkinText("[Action-home]\nBgTextureNormalBounds=0,0,30,24\n"
                               "BtnTextureNormalBounds=0,0,1,1\nBtnTextureHoverBounds=5\n")),
            "no error");
  // Absurd grids are refused before anything is sized by them.
  EXPECT_NE(SkinError("[Common]\nColsCount=10000\nRowsCount=10000\n").find("too large"),
            std::string::npos);
}

TEST(NavLayout, ObjectsCellSizesItsColumnAndRow) {
  const TNavSkin s = Skin(SkinText());
  const TNavLayout l = LayoutNavBar(s, {"pause", "exit"});
  // 5 + 7 + (30 + 4) x 2 = 80 wide; 6 + 8 + 24 = 38 high.
  EXPECT_EQ(l.colW, (std::vector<int32_t>{10, 80, 10}));
  EXPECT_EQ(l.rowH, (std::vector<int32_t>{38}));
  EXPECT_EQ(l.width, 100);
  EXPECT_EQ(l.height, 38);
  ASSERT_EQ(l.buttons.size(), 2u);
  EXPECT_EQ(l.buttons[0], (TRect{15, 6, 45, 30}));
  EXPECT_EQ(l.buttons[1], (TRect{49, 6, 79, 30}));
}

TEST(NavPlacement, AnchorsAndOffsets) {
  const TRect area{0, 0, 1000, 600};
  EXPECT_EQ(PlaceInArea(area, 300, 60, TNavAnchor::Bottom, 10), (TRect{350, 510, 650, 570}));
  EXPECT_EQ(PlaceInArea(area, 300, 60, TNavAnchor::Center, 10), (TRect{350, 270, 650, 330}));
  EXPECT_EQ(PlaceInArea(area, 300, 60, TNavAnchor::LeftTop, 0), (TRect{0, 0, 300, 60}));
  EXPECT_EQ(PlaceInArea({100, 50, 1100, 650}, 300, 60, TNavAnchor::RightBottom, 0),
            (TRect{800, 590, 1100, 650}));
  EXPECT_EQ(NavAnchorOfName("Right-Top"), TNavAnchor::RightTop);
  EXPECT_EQ(NavAnchorOfName("right-top"), TNavAnchor::Center);
  EXPECT_EQ(NavAnchorOfCode(3), TNavAnchor::Bottom);
  EXPECT_EQ(NavAnchorOfCode(8), TNavAnchor::LeftBottom);
  EXPECT_EQ(NavAnchorOfCode(9), TNavAnchor::Center);
}

TEST(NavPointer, PressCaptureAndRelease) {
  TNavPointer p({{0, 0, 10, 10}, {20, 0, 30, 10}}, 40, 10);
  p.Move(5, 5, false);
  EXPECT_EQ(p.State(0), kNavHover);
  EXPECT_EQ(p.TakeDirty(), (TRect{0, 0, 10, 10}));
  p.Down(5, 5);
  EXPECT_EQ(p.State(0), kNavPressed);
  // Dragged off the button: normal while away, pressed again when back.
  p.Move(25, 5, true);
  EXPECT_EQ(p.State(0), kNavNormal);
  EXPECT_EQ(p.State(1), kNavNormal);
  p.Move(5, 5, true);
  EXPECT_EQ(p.State(0), kNavPressed);
  EXPECT_EQ(p.Up(5, 5), 0);
  EXPECT_EQ(p.State(0), kNavHover);
  // Released elsewhere: no click.
  p.Down(5, 5);
  EXPECT_EQ(p.Up(25, 5), -1);
  EXPECT_EQ(p.State(1), kNavHover);
  p.Down(5, 5);
  EXPECT_EQ(p.Up(100, 100), -1);
  EXPECT_EQ(p.State(0), kNavNormal);
  // Left button held from outside: nothing changes; leaving clears hover.
  p.Move(5, 5, true);
  EXPECT_EQ(p.State(0), kNavNormal);
  p.Move(5, 5, false);
  p.Leave();
  EXPECT_EQ(p.State(0), kNavNormal);
}

TEST(NavPointer, DisabledButtonsIgnoreThePointer) {
  TNavPointer p({{0, 0, 10, 10}}, 10, 10);
  p.SetDisabled(0, true);
  p.Move(5, 5, false);
  p.Down(5, 5);
  EXPECT_EQ(p.State(0), kNavDisabled);
  EXPECT_EQ(p.Up(5, 5), -1);
  p.SetDisabled(0, false);
  EXPECT_EQ(p.State(0), kNavNormal);
}

TEST(NavFader, HiddenAtFirstFadesInAndOutFromWhereItIs) {
  TNavFader f(true, 2000, 1000, 500);
  EXPECT_EQ(f.Opacity(0), 0);
  f.Update(100, 100, false);  // the pointer moved: fade in over 500 ms
  EXPECT_NEAR(f.Opacity(350), 50, 1e-9);
  f.Update(350, 100, false);  // still awake (idle after 2000 ms)
  EXPECT_NEAR(f.Opacity(600), 100, 1e-9);
  f.Update(2100, 100, false);  // idle: fade out over 1000 ms
  EXPECT_NEAR(f.Opacity(2600), 50, 1e-9);
  f.Update(2600, 2600, false);  // moved mid-fade: back up from 50 %
  EXPECT_NEAR(f.Opacity(2600), 50, 1e-9);
  EXPECT_NEAR(f.Opacity(2725), 75, 1e-9);
  // Over the panel it never goes idle.
  f.Update(9000, 2600, true);
  EXPECT_EQ(f.Opacity(9000), 100);
  TNavFader always(false, 0, 1000, 500);
  EXPECT_EQ(always.Opacity(0), 100);
}


// Pictures for SkinText: cells.png has red, green and blue columns; btn.png
// a white background and black, yellow and magenta glyphs; play.png cyan.
TRef<TBitmap> Solid(int w, int h, uint32_t rgb) {
  auto b = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
  b->Fill(uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 255);
  return b;
}

void Paint(TBitmap& b, const TRect& r, uint32_t rgb) {
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      uint8_t* p = b.Row(y) + x * 4;
      p[0] = uint8_t(rgb), p[1] = uint8_t(rgb >> 8), p[2] = uint8_t(rgb >> 16), p[3] = 255;
    }
}

TRef<TBitmap> SkinPicture(const std::string& file) {
  if (file == "bar.png") {
    auto b = Solid(40, 40, 0xFF0000);
    Paint(*b, {10, 0, 30, 40}, 0x00FF00);
    Paint(*b, {30, 0, 40, 40}, 0x0000FF);
    return b;
  }
  if (file == "btn.png") {
    auto b = Solid(60, 44, 0xFFFFFF);
    Paint(*b, {0, 24, 20, 44}, 0x000000);
    Paint(*b, {20, 24, 40, 44}, 0xFFFF00);
    Paint(*b, {40, 24, 60, 44}, 0xFF00FF);
    return b;
  }
  if (file == "play.png") return Solid(60, 44, 0x00FFFF);
  return nullptr;
}

uint32_t Rgb(const TBitmap& b, int x, int y) {
  const uint8_t* p = b.Row(y) + x * 4;
  return p[3] == 0 ? 0xFF000000u : uint32_t(p[2]) << 16 | p[1] << 8 | p[0];
}

class NavBarPicture : public ::testing::Test {
 protected:
  TNavBarPicture Bar(const std::string& extra = "", TNavBarOptions o = {true, 0}) {
    // Every button picture comes from btn.png.
    TNavSkin skin = Skin(SkinText(extra));
    for (auto& [name, a] : skin.actions) {
      for (auto& f : a.background.files) f = "btn.png";
      for (auto& f : a.button.files) f = "btn.png";
    }
    return TNavBarPicture(skin, {"pause", "exit"}, SkinPicture, o);
  }
  std::vector<int> normal{kNavNormal, kNavNormal};
};

TEST_F(NavBarPicture, CellsStretchedOrTiledAndButtonsCentred) {
  TNavBarPicture bar = Bar();
  bar.Redraw({0, 0, 100, 38}, normal, true);
  const TBitmap& b = bar.Bitmap();
  EXPECT_EQ(Rgb(b, 5, 20), 0xFF0000u);   // cap, stretched
  EXPECT_EQ(Rgb(b, 12, 2), 0x00FF00u);   // objects cell, tiled
  EXPECT_EQ(Rgb(b, 95, 37), 0x0000FFu);  // cap
  EXPECT_EQ(Rgb(b, 16, 7), 0xFFFFFFu);   // button background
  EXPECT_EQ(Rgb(b, 20, 8), 0x000000u);   // the glyph centred: 20..40, 8..28
  EXPECT_EQ(Rgb(b, 19, 8), 0xFFFFFFu);
  EXPECT_EQ(Rgb(b, 59, 17), 0xFF00FFu);  // exit's glyph
  // Without the background option only the buttons are drawn.
  TNavBarPicture bare = Bar("", {false, 0});
  bare.Redraw({0, 0, 100, 38}, normal, true);
  EXPECT_EQ(Rgb(bare.Bitmap(), 5, 20), 0xFF000000u);
}

TEST_F(NavBarPicture, StatesPlayPicturesGreyAndHue) {
  TNavBarPicture bar = Bar("[Object2]\nSpace=4\nGrayNormal=1\n");
  bar.Redraw({0, 0, 100, 38}, {kNavHover, kNavNormal}, false);
  const TBitmap& b = bar.Bitmap();
  EXPECT_EQ(Rgb(b, 30, 18), 0x00FFFFu);  // stopped: the play picture
  bar.Redraw({15, 6, 45, 30}, {kNavHover, kNavNormal}, true);
  EXPECT_EQ(Rgb(b, 30, 18), 0xFFFF00u);  // hover glyph
  // Pressed: moved one pixel right and down.
  bar.Redraw({15, 6, 45, 30}, {kNavPressed, kNavNormal}, true);
  EXPECT_EQ(Rgb(b, 20, 8), 0xFFFFFFu);
  EXPECT_EQ(Rgb(b, 21, 9), 0x000000u);
  // Grey normal: magenta's luminance.
  const uint32_t g = Rgb(b, 59, 17);
  EXPECT_EQ(g >> 16, g & 0xFF);
  EXPECT_NEAR(double(g & 0xFF), (255 * 29 + 255 * 77) >> 8, 1);
  TNavBarPicture shifted = Bar("", {true, 120});
  shifted.Redraw({0, 0, 100, 38}, normal, true);
  EXPECT_EQ(Rgb(shifted.Bitmap(), 5, 20), 0x00FF00u);  // red turned green
}

TEST_F(NavBarPicture, MissingPicturesLeaveTheirPartsEmpty) {
  TNavSkin skin = Skin(SkinText());
  TNavBarPicture bar(skin, {"pause", "exit"}, [](const std::string&) { return nullptr; }, {true, 0});
  bar.Redraw({0, 0, 100, 38}, normal, true);
  EXPECT_EQ(Rgb(bar.Bitmap(), 30, 18), 0xFF000000u);
}

TEST(Overlay, OptionsSizesAndButtonActions) {
  TIniFile ini;
  ini.LoadText("[Main]\nopt_fcp=1\nopt_newnavbuttons_count=2\nopt_newnavbutton1=home\n"
               "opt_newnavbutton2=exit\nopt_cp=Right-Top\nopt_nav_hidefadeout=-5\n");
  const TOverlayOptions o = ReadOverlayOptions(ini);
  EXPECT_TRUE(o.panel);
  EXPECT_EQ(o.buttons, (std::vector<std::string>{"home", "exit"}));
  EXPECT_EQ(o.position, "Right-Top");
  EXPECT_EQ(o.fadeOutMs, 0);
  EXPECT_EQ(o.fadeInMs, 500);
  EXPECT_TRUE(o.windowArea);
  // 10 % of a 600-pixel area, the bar's aspect kept; or the bar's pixels at 1080.
  EXPECT_EQ(NavPanelSize(300, 30, 600, 10, true), (std::pair<int, int>{600, 60}));
  EXPECT_EQ(NavPanelSize(300, 30, 540, 10, false), (std::pair<int, int>{150, 15}));
  EXPECT_EQ(NavPanelSize(0, 30, 540, 10, false), (std::pair<int, int>{0, 0}));
  EXPECT_EQ(NavButtonAction("home").type, kActionGotoSlide);
  EXPECT_EQ(NavButtonAction("home").intArg, 0);
  EXPECT_EQ(NavButtonAction("forward").type, kActionNextSlide);
  EXPECT_EQ(NavButtonAction("print").type, kActionPrint);
  EXPECT_EQ(NavButtonAction("exit").type, kActionExit);
}

TEST(Dialogs, SectionsByNumberByNameAndHelp) {
  TIniFile ini;
  ini.LoadText("[Main]\nopt_customdialogscount=2\ncustom_dialog1=Menu\ncustom_dialog2=Info\n"
               "[dialog_1_]\nhelp=0\n[dialog_2_]\nhelp=0\n[dialog_Credits]\n[dialog_4_]\nhelp=1\n");
  EXPECT_EQ(FindDialogSection(ini, "Info"), ini.Section("dialog_2_"));
  EXPECT_EQ(FindDialogSection(ini, "Credits"), ini.Section("dialog_Credits"));
  EXPECT_EQ(FindDialogSection(ini, "Missing"), nullptr);
  // The help search stops at the first missing numbered section (3).
  EXPECT_EQ(FindDialogSection(ini, "help"), nullptr);
  ini.LoadText("[Main]\n[dialog_1_]\n[dialog_2_]\nhelp=1\n");
  EXPECT_EQ(FindDialogSection(ini, "help"), ini.Section("dialog_2_"));
  // An unnamed numbered dialog is "NotFound", which nothing opens by number.
  ini.LoadText("[Main]\nopt_customdialogscount=1\n[dialog_1_]\n[dialog_NotFound]\n");
  EXPECT_EQ(FindDialogSection(ini, "NotFound"), ini.Section("dialog_1_"));
}

}  // namespace
}  // namespace lum
