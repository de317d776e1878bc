// The video-style bar: its skin, the layout worked out by hand for a known
// skin, fitting to a height, the read-out, redraw flags and the pointer.
#include <gtest/gtest.h>

#include <map>

#include "document/ini_file.h"
#include "model/lum_slide.h"
#include "ui/nav_skin.h"
#include "ui/video_nav_bar.h"
#include "ui/video_nav_panel.h"

namespace lum {
namespace {

// Bar 400 x 40, buttons 30 x 30, digit cells 8 x 12, volume 60, gaps
// 5/7/3/4/6/9 from left to right; the knob picture is 10 x 20.
std::string SkinText(const std::string& barSize = "400,40") {
  return "[Common]\nBgLeft=10\nBgRight=10\nTrackLineLeft=5\nTrackLineRight=5\nflnm_back=back.bmp\n"
         "[Pixel positions]\nBarSize=" +
         barSize +
         "\nTrackHeight=10\nBtnSize=30,30\n"
         "DigitSize=8,12\nVolumeControlLength=60\nLeftSpace=5\nButtonsTrackSpace=7\n"
         "TrackDigitsSpace=3\nDigitsSoundBtnSpace=4\nSoundBtnTrackSpace=6\nRightSpace=9\n"
         "[Trackbar]\nflnm_Line=line.bmp\nflnm_Polzun=knob.bmp\n"
         "[Buttons]\nflnm_Normal=n.bmp\nflnm_Hover=h.bmp\nflnm_Click=c.bmp\n";
}

TRef<TBitmap> Solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  auto bmp = MakeRef<TBitmap>(w, h, TPixelFormat::Bgra32);
  bmp->Fill(r, g, b, 255);
  return bmp;
}

// Button image i of strip state s is red 10 + 20 i, green 100 s.
TRef<TBitmap> Strip(int state) {
  auto bmp = Solid(210, 30, 0, 0, 0);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 210; ++x) {
      bmp->Row(y)[x * 4 + 2] = uint8_t(10 + 20 * (x / 30));
      bmp->Row(y)[x * 4 + 1] = uint8_t(100 * state);
    }
  return bmp;
}

TRef<TBitmap> Picture(const std::string& file) {
  if (file == "skin/back.bmp") return Solid(40, 40, 0, 0, 200);
  if (file == "skin/line.bmp") return Solid(20, 4, 255, 255, 255);
  if (file == "skin/knob.bmp") return Solid(10, 20, 0, 255, 0);
  if (file == "skin/n.bmp") return Strip(0);
  if (file == "skin/h.bmp") return Strip(1);
  if (file == "skin/c.bmp") return Strip(2);
  return nullptr;
}

struct Heard {
  std::vector<double> times, volumes;
  std::vector<std::string> commands;
  std::vector<TRect> repaints;
};

class VideoNavBar : public ::testing::Test {
 protected:
  void Make(double totalMs, int width = 600, const std::string& text = SkinText()) {
    bar = std::make_unique<TVideoNavBar>(
        TVideoNavHost{[this](double t) { heard.times.push_back(t); },
                      [this](double v) { heard.volumes.push_back(v); },
                      [this](const std::string& c) { heard.commands.push_back(c); },
                      [this](const TRect& r, bool) { heard.repaints.push_back(r); },
                      [totalMs] { return totalMs; }});
    TIniFile ini;
    ini.LoadText(text);
    bar->Load(ini, "skin/", Picture);
    bar->SetButtons({"backward", "forward", "zoom"});
    bar->SetWidth(width);
    bar->Flush();
  }
  // Red and green of a bar pixel.
  std::pair<int, int> Pixel(int x, int y) const {
    const uint8_t* p = bar->Bitmap()->Row(y) + x * 4;
    return {p[2], p[1]};
  }

  Heard heard;
  std::unique_ptr<TVideoNavBar> bar;
};

TEST_F(VideoNavBar, LaysOutTheKnownSkinAtScaleOne) {
  Make(10000);
  const TVideoNavLayout& l = bar->Layout();
  EXPECT_EQ(l.height, 40);
  EXPECT_EQ(l.play, (TRect{5, 5, 35, 35}));
  ASSERT_EQ(l.commands.size(), 2u) << "unknown command names are left out";
  EXPECT_EQ(l.commands[1], (TRect{65, 5, 95, 35}));
  EXPECT_EQ(l.trackStart, 30 * 3 + 5 + 7);
  EXPECT_EQ(l.volumeEnd, 600 - 9);
  EXPECT_EQ(l.volumeStart, 531);
  EXPECT_EQ(l.digitsRight, 531 - 6 - 30 - 4);
  EXPECT_EQ(l.sound, (TRect{495, 5, 525, 35}));
  EXPECT_EQ(l.trackEnd, 491 - 8 * 12);
  // Drawn: the background in a gap, the paused play image (0), the knob at
  // the track's start, sound on (2) while there is no volume.
  EXPECT_EQ(Pixel(2, 20), std::make_pair(0, 0));
  EXPECT_EQ(Pixel(20, 20), std::make_pair(10, 0));
  EXPECT_EQ(Pixel(80, 20), std::make_pair(110, 0)) << "forward is image 5";
  EXPECT_EQ(Pixel(bar->SliderCentre(0), 12), std::make_pair(0, 255));
  EXPECT_EQ(bar->SliderCentre(0), 102 + 5);
  EXPECT_EQ(Pixel(510, 20), std::make_pair(50, 0));
  int lit = 0;  // the read-out's glyphs in its cells, none in the gap below
  for (int y = 0; y < 40; ++y)
    for (int x = 395; x < 491; ++x)
      if (Pixel(x, y).second > 200) lit += y >= 14 && y < 26 ? 1 : 1000;
  EXPECT_GT(lit, 20);
  EXPECT_LT(lit, 1000);
}

TEST_F(VideoNavBar, ReadoutShowsHoursFromSixtyMinutesAndShortensTheTrack) {
  Make(3599000);
  EXPECT_EQ(bar->Readout(61500), "01:01/59:59");
  EXPECT_EQ(bar->Layout().trackEnd, 395);
  Make(3600000);
  EXPECT_EQ(bar->Readout(61500), "00:01:01/01:00:00");
  EXPECT_EQ(bar->Layout().trackEnd, 395 - 6 * 8);
  // Whole seconds of the time modulo the length.
  EXPECT_EQ(bar->Readout(3600000 + 2999), "00:00:02/01:00:00");
  EXPECT_EQ(bar->Readout(-5), "00:00:00/01:00:00");
}

TEST_F(VideoNavBar, FitsAHeightByHalvingOrHides) {
  Make(10000, 600);
  EXPECT_EQ(bar->FitHeight(40), 600);
  EXPECT_DOUBLE_EQ(bar->Scale(), 1);
  // 400 wide: at scale 1 the track keeps 400 - 317 = 83 px beside the knob,
  // at 0.5 it keeps 400 - 174.
  Make(10000, 400);
  EXPECT_EQ(bar->FitHeight(40), 400);
  EXPECT_DOUBLE_EQ(bar->Scale(), 0.5);
  EXPECT_EQ(bar->Layout().height, 20);
  EXPECT_FALSE(bar->Hidden());
  // 300 wide: no track at all at the height asked.
  Make(10000, 300);
  EXPECT_EQ(bar->FitHeight(40), 0);
  EXPECT_TRUE(bar->Hidden());
  // 120 wide at 1 px: some track, but the unscaled gaps never leave 100 px
  // however far the scale is halved.
  Make(10000, 120);
  EXPECT_EQ(bar->FitHeight(1), 0);
  EXPECT_TRUE(bar->Hidden());
}

TEST_F(VideoNavBar, RedrawsOnlyWhatChanged) {
  Make(3599000);  // 283 px of knob travel for an hour: 12.7 s a pixel
  heard.repaints.clear();
  bar->SetTime(1000);
  EXPECT_EQ(bar->Pending(), TVideoNavBar::kRedrawTrack) << "the second changed";
  bar->Flush();
  ASSERT_EQ(heard.repaints.size(), 1u);
  EXPECT_EQ(heard.repaints[0], (TRect{102, 0, 491, 40}));
  bar->SetTime(1900);
  EXPECT_EQ(bar->Pending(), 0u) << "same second, same knob pixel";
  Make(10000);  // 28.3 px a second
  bar->SetTime(1000);
  bar->Flush();
  bar->SetTime(1100);
  EXPECT_EQ(bar->Pending(), TVideoNavBar::kRedrawTrack) << "the knob moved";
  bar->Flush();
  bar->SetVolume(0.5);
  EXPECT_EQ(bar->Pending(), TVideoNavBar::kRedrawVolume);
  bar->Flush();
  bar->SetVolume(0.501);
  EXPECT_EQ(bar->Pending(), 0u);
  bar->SetVolume(0);
  EXPECT_EQ(bar->Pending(), TVideoNavBar::kRedrawVolume | TVideoNavBar::kRedrawSound);
  bar->Flush();
  EXPECT_EQ(Pixel(510, 20), std::make_pair(70, 0)) << "sound off is image 3";
  bar->SetPlaying(true);
  EXPECT_EQ(bar->Pending(), TVideoNavBar::kRedrawPlay | TVideoNavBar::kRedrawCentre);
  bar->Flush();
  EXPECT_EQ(Pixel(20, 20), std::make_pair(30, 0));
  ASSERT_NE(bar->Centre(), nullptr);
  EXPECT_EQ(bar->Centre()->Row(0)[2], 10 + 20 * 6);
}

TEST_F(VideoNavBar, DragsTheVolumeFromWhereTheKnobWasCaught) {
  Make(10000);
  bar->SetVolume(0.5);
  EXPECT_EQ(bar->VolumeCentre(0.5), 531 + 5 + 25);
  bar->MouseDown(563, 20);  // on the knob, 2 px right of its centre
  EXPECT_TRUE(heard.volumes.empty()) << "catching the knob moves nothing";
  bar->MouseMove(573, 20);
  bar->MouseUp(573, 20);
  ASSERT_EQ(heard.volumes.size(), 1u);
  EXPECT_DOUBLE_EQ(heard.volumes[0], (573 - 2 - 531 - 5) / 50.0);
  bar->MouseDown(546, 20);  // on the track: no grab offset
  bar->MouseMove(400, 20);  // far left: clamped
  EXPECT_DOUBLE_EQ(heard.volumes.at(1), (546 - 531 - 5) / 50.0);
  EXPECT_DOUBLE_EQ(heard.volumes.at(2), 0);
}

TEST_F(VideoNavBar, ClicksSeekAndRunCommands) {
  Make(10000);
  bar->MouseDown(200, 20);
  bar->MouseUp(200, 20);
  ASSERT_EQ(heard.times.size(), 1u);
  EXPECT_NEAR(heard.times[0], (200 - 102 - 5) / 283.0 * 10000, 1e-6);
  bar->MouseDown(200, 2);  // above the track area
  EXPECT_EQ(heard.times.size(), 1u);
  bar->MouseUp(200, 2);
  bar->MouseDown(20, 20);
  EXPECT_EQ(bar->Pending() & TVideoNavBar::kRedrawPlay, TVideoNavBar::kRedrawPlay);
  bar->Flush();
  EXPECT_EQ(Pixel(20, 20), std::make_pair(10, 200)) << "pressed strip";
  bar->MouseUp(20, 20);
  bar->MouseDown(80, 20);
  bar->MouseUp(300, 20);  // released away from it: no click
  bar->MouseDown(510, 20);
  bar->MouseUp(510, 20);
  EXPECT_EQ(heard.commands, (std::vector<std::string>{"play", "sound"}));
  bar->MouseMove(50, 20);
  bar->Flush();
  EXPECT_EQ(Pixel(50, 20), std::make_pair(90, 100)) << "backward (4) hovered";
}

TEST(VideoNavPanel, TurnsThePointerIntoTheEnginesActions) {
  TIniFile ini;
  ini.LoadText(SkinText());
  double volume = 0.8;
  TVideoNavPanel panel(ini, "skin/", Picture,
                       {10000, [&] { return volume; }, [&](double v) { volume = v; }});
  // The bar at scale 1 across the bottom of 600 x 200.
  ASSERT_TRUE(panel.Place({0, 0, 600, 200}, {0, 0, 600, 200}, 40, TNavAnchor::Bottom, 0));
  EXPECT_EQ(panel.Rect(), (TRect{0, 160, 600, 200}));
  panel.Update(0, true);
  auto click = [&](int x, int y) {
    std::optional<TLumActionInfo> pressed, released;
    panel.Pointer(x, y, kPointerPress, true, &pressed);
    panel.Pointer(x, y, kPointerRelease, true, &released);
    return released ? *released : pressed.value_or(TLumActionInfo{});
  };
  EXPECT_EQ(click(2, 180).type, kActionPanelPointer) << "inside, on no part";
  EXPECT_EQ(click(20, 180).type, kActionPause);
  EXPECT_EQ(click(80, 180).type, kActionNextSlide);
  EXPECT_EQ(click(200, 180), (TLumActionInfo{kActionSeek, 3286, ""}));
  click(510, 180);
  EXPECT_EQ(volume, 0) << "the sound button mutes";
  click(510, 180);
  EXPECT_EQ(volume, 0.8) << "and brings the volume back";
  std::optional<TLumActionInfo> none;
  EXPECT_FALSE(panel.Pointer(300, 100, kPointerPress, true, &none))
      << "no centre button while playing";
  panel.Update(0, false);
  EXPECT_EQ(click(300, 100).type, kActionPause) << "the centre button plays";
  EXPECT_FALSE(panel.Pointer(300, 180, kPointerPress, false, &none)) << "faded out";
}

std::string LoadError(const std::string& text, const std::string& folder = "skin/") {
  TVideoNavBar bar({});
  TIniFile ini;
  ini.LoadText(text);
  try {
    bar.Load(ini, folder, Picture);
  } catch (const ENavSkinError& e) {
    return e.what();
  }
  return "no error";
}

TEST(VideoNavSkin, MalformedSkinsFailWithTheirMessage) {
  EXPECT_EQ(LoadError(SkinText(), "skin"), "Path delimiter nof found!");
  EXPECT_EQ(LoadError(SkinText(), "skin\\"), "Skin picture \"skin\\back.bmp\" could not be loaded");
  EXPECT_EQ(LoadError(SkinText("400")), "Incorrect number of parameters in field \"BarSize\"");
  EXPECT_EQ(LoadError(SkinText("100000,40")),
            "Skin value out of range: BarSize=100000 (1 to 4096)");
  EXPECT_EQ(LoadError(SkinText("400,0")), "Skin value out of range: BarSize=0 (1 to 4096)");
  std::string noKnob = SkinText();
  noKnob.replace(noKnob.find("knob.bmp"), 8, "gone.bmp");
  EXPECT_EQ(LoadError(noKnob), "Skin picture \"skin/gone.bmp\" could not be loaded");
  EXPECT_EQ(LoadError(SkinText()), "no error");
}

}  // namespace
}  // namespace lum
