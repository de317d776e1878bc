// The navigation panel in the player: drawn where the placement rule puts
// it, its buttons running their actions (the grid bar's and the video-style
// bar's), auto-hide, and a malformed skin costing the show its panel only.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>

#include "imaging/image_fixtures.h"
#include "support/player_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::this_thread::sleep_for;

// How long a state may take to come: generous, for sanitizer builds on a
// machine busy with other tests.
constexpr int kPatienceMs = 20000;
using test::TPixels;
using test::TPlayer;
using test::TRgb;
using test::TTempDir;

// A 1 x 1 grid whose only cell holds the buttons; forward is the blue half
// of btn.bmp, pause the red half.
std::string SkinIni(const std::string& cell = "1,1") {
  return "[Common]\nColsCount=1\nRowsCount=1\n[CellWithObjects]\nCell=" + cell +
         "\n[Cell(1:1)]\nBounds=0,0,40,20\nflnm_Texture=btn.bmp\n[Objects]\nCount=2\n"
         "[Action-forward]\nBgTextureNormalBounds=0,0,20,20\nBtnTextureNormalBounds=0,0,20,20\n"
         "flnm_BgTextureNormal=btn.bmp\nflnm_BtnTextureNormal=btn.bmp\n"
         "[Action-pause]\nBgTextureNormalBounds=20,0,20,20\nBtnTextureNormalBounds=20,0,20,20\n"
         "flnm_BgTextureNormal=btn.bmp\nflnm_BtnTextureNormal=btn.bmp\n";
}

// Two 320 x 240 slides of a minute; the panel at the bottom, 25 % of the
// window high: 120 x 60 at (100, 180).
std::string Show(const std::string& extra = "") {
  return "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
         "opt_withoutborder=1\nopt_fcp=1\nopt_nav_inifile=nav.ini\nopt_cp=Bottom\n"
         "opt_nav_usevideoscale=1\nopt_nav_viewscale=25\nopt_newnavbuttons_count=3\n"
         "opt_newnavbutton1=forward\nopt_newnavbutton2=zoom\nopt_newnavbutton3=pause\n" +
         extra +
         "[Times]\nopt_slidescount=2\nopt_synchpos1=60000\nopt_synchpos2=120000\n"
         "[Slide1]\nbstyle=1\nbcolor=0\n[Slide2]\nbstyle=1\nbcolor=0\n";
}

class LumviewerNav : public ::testing::Test {
 protected:
  void Write(const std::string& show, const std::string& skin) {
    TPixels btn{40, 20, {}};
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 40; ++x) btn.px.push_back(x < 20 ? TRgb{0, 0, 255} : TRgb{255, 0, 0});
    dir.Write("s/btn.bmp", test::WriteBmp(btn, {}));
    dir.Write("s/nav.ini", skin);
    path = dir.Write("s/Project.lum", show);
  }
  void Start() {
    player = std::make_unique<TPlayer>(dir.Path(), path);
    std::string error;
    ASSERT_TRUE(player->Start(&error)) << error;
    bool met = false;
    // Playing, with its first frame drawn (still slides draw no more).
    const json s = player->WaitFor(
        [](const json& s) { return s["active"] == true && s["framesDrawn"].get<int>() > 0; },
        kPatienceMs, &met);
    ASSERT_TRUE(met) << s.dump() << "\n" << player->LogTail();
    // Pointer events of the first second after the window appeared are ignored.
    sleep_for(milliseconds(1100));
  }
  // Takes screenshots until the pixel's blue is done with; the last one's blue.
  int WaitForBlue(int x, int y, const std::function<bool(int)>& done) {
    const auto t0 = std::chrono::steady_clock::now();
    int blue = Shot().At(x, y).b;
    while (!done(blue) && std::chrono::steady_clock::now() - t0 < milliseconds(kPatienceMs)) {
      sleep_for(milliseconds(20));
      blue = Shot().At(x, y).b;
    }
    return blue;
  }
  TPixels Shot() {
    const std::string shot = dir / "shot.png";
    EXPECT_EQ(player->Request({{"command", "screenshot"}, {"path", shot}})["ok"], true);
    return test::ReadPicture(shot);
  }
  json Click(int x, int y) { return player->Request({{"command", "click"}, {"x", x}, {"y", y}}); }

  TTempDir dir;
  std::string path;
  std::unique_ptr<TPlayer> player;
};

TEST_F(LumviewerNav, ThePanelIsDrawnAndItsButtonsRunTheirActions) {
  // With a half-transparent logo at the top left, a quarter of the slide high.
  Write(Show("opt_logo=1\nopt_logo_fn=logo.bmp\nopt_logo_pos=5\nopt_logo_size=25\n"
             "opt_logo_opacity=50\n"),
        SkinIni());
  dir.Write("s/logo.bmp", test::WriteBmp({20, 10, std::vector<TRgb>(200, TRgb{0, 250, 0})}, {}));
  Start();
  TPixels f = Shot();
  ASSERT_EQ(f.width, 320);
  EXPECT_GT(f.At(130, 210).b, 200) << "forward";
  EXPECT_GT(f.At(190, 210).r, 200) << "pause";
  EXPECT_LT(f.At(90, 210).b + f.At(90, 210).r, 20) << "left of the panel";
  EXPECT_LT(f.At(130, 170).b, 20) << "above the panel";
  EXPECT_NEAR(f.At(110, 50).g, 125, 12) << "the logo: 120 x 60 at the top left, 50 %";
  EXPECT_LT(f.At(130, 70).g, 10) << "below the logo";
  // Pause: the show stops; the pointer is over the panel.
  ASSERT_EQ(Click(190, 210)["ok"], true);
  bool met = false;
  json s = player->WaitFor([](const json& st) { return st["paused"] == true; }, kPatienceMs, &met);
  EXPECT_TRUE(met) << s.dump();
  EXPECT_EQ(s["hover"], true);
  EXPECT_EQ(s["hoverClass"], "NavPanel");
  // Forward: the next slide.
  ASSERT_EQ(Click(130, 210)["ok"], true);
  s = player->WaitFor([](const json& st) { return st["slide"] == 1; }, kPatienceMs, &met);
  EXPECT_TRUE(met) << s.dump();
  EXPECT_EQ(player->Stop(), 0);
}

TEST_F(LumviewerNav, AutoHideShowsThePanelWhileThePointerMoves) {
  Write(Show("opt_hidenavbar=1\nopt_nav_hideinterval=1\nopt_nav_hidefadeout=100\n"
             "opt_nav_fadein=100\n"),
        SkinIni());
  Start();
  EXPECT_LT(Shot().At(130, 210).b, 20) << "hidden at first";
  ASSERT_EQ(Click(20, 20)["ok"], true);  // a move away from the panel wakes it
  EXPECT_GT(WaitForBlue(130, 210, [](int b) { return b > 200; }), 200) << "shown after the move";
  // With the pointer still, it goes after its second and the fade.
  EXPECT_LT(WaitForBlue(130, 210, [](int b) { return b < 20; }), 20) << "hidden again when idle";
  EXPECT_EQ(player->Stop(), 0);
}

TEST_F(LumviewerNav, AMalformedSkinCostsOnlyThePanel) {
  Write(Show(), SkinIni("1,1,1"));
  Start();
  EXPECT_LT(Shot().At(130, 210).b, 20);
  EXPECT_GT(player->Status()["framesDrawn"].get<int>(), 0);
  EXPECT_NE(player->Log().find("Incorrect number of parameters in field \"Cell\""), std::string::npos)
      << player->LogTail();
  EXPECT_EQ(player->Stop(), 0);
}

// A video-style skin for a 320 x 240 window: bar 24 high at the bottom,
// buttons 20 x 20 from x 2 (play, backward, forward), track 66 .. 182
// with a 6 x 16 knob, digit cells 5 wide, sound button at 244, volume
// track 266 .. 316. Button image i is red 40 + 30 i, green 80 per state.
void WriteVideoSkin(TTempDir& dir) {
  dir.Write("s/skin/video.ini",
            "[Common]\nVideoStyle=1\nBgLeft=2\nBgRight=2\nflnm_back=back.bmp\n"
            "[Pixel positions]\nBarSize=320,24\nTrackHeight=8\nBtnSize=20,20\nDigitSize=5,10\n"
            "VolumeControlLength=50\nLeftSpace=2\nButtonsTrackSpace=4\nDigitsSoundBtnSpace=2\n"
            "SoundBtnTrackSpace=2\nRightSpace=4\n"
            "[Trackbar]\nflnm_Line=line.bmp\nflnm_Polzun=knob.bmp\n"
            "[Buttons]\nflnm_Normal=n.bmp\nflnm_Hover=h.bmp\nflnm_Click=c.bmp\n");
  auto solid = [](int w, int h, TRgb c) {
    return TPixels{w, h, std::vector<TRgb>(size_t(w * h), c)};
  };
  dir.Write("s/skin/back.bmp", test::WriteBmp(solid(8, 24, {0, 0, 200}), {}));
  dir.Write("s/skin/line.bmp", test::WriteBmp(solid(8, 4, {255, 255, 255}), {}));
  dir.Write("s/skin/knob.bmp", test::WriteBmp(solid(6, 16, {0, 255, 0}), {}));
  const char* strips[] = {"s/skin/n.bmp", "s/skin/h.bmp", "s/skin/c.bmp"};
  for (int state = 0; state < 3; ++state) {
    TPixels strip{140, 20, {}};
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 140; ++x)
        strip.px.push_back({uint8_t(40 + 30 * (x / 20)), uint8_t(80 * state), 0});
    dir.Write(strips[state], test::WriteBmp(strip, {}));
  }
}

TEST_F(LumviewerNav, TheVideoStyleBarSeeksPausesAndSetsTheVolume) {
  WriteVideoSkin(dir);
  std::string show = Show();
  show.replace(show.find("opt_nav_inifile=nav.ini"), 23, "opt_nav_inifile=skin\\video.ini");
  show.replace(show.find("opt_nav_viewscale=25"), 20, "opt_nav_viewscale=10");
  path = dir.Write("s/Project.lum", show);
  Start();
  TPixels f = Shot();
  EXPECT_GT(f.At(0, 228).b, 150) << "the bar's background at the bottom left";
  EXPECT_NEAR(f.At(12, 228).r, 70, 12) << "the play button showing pause (image 1)";
  EXPECT_LT(f.At(12, 212).r + f.At(12, 212).b, 20) << "above the bar";
  bool met = false;
  // The middle of the track: (124 - 66 - 3) / 110 of two minutes.
  ASSERT_EQ(Click(124, 228)["ok"], true);
  json s = player->WaitFor([](const json& st) { return st["slide"] == 1; }, kPatienceMs, &met);
  EXPECT_TRUE(met) << s.dump();
  EXPECT_NEAR(s["position"].get<double>(), 60000, 1500);
  // Half way along the volume track, then the sound button mutes and unmutes.
  auto volume = [&](double v) {
    s = player->WaitFor(
        [v](const json& st) { return std::abs(st["volume"].get<double>() - v) < 0.01; },
        kPatienceMs, &met);
    EXPECT_TRUE(met) << v << ": " << s.dump();
  };
  ASSERT_EQ(Click(291, 228)["ok"], true);
  volume(0.5);
  ASSERT_EQ(Click(254, 228)["ok"], true);
  volume(0);
  EXPECT_NEAR(Shot().At(254, 228).r, 130, 12) << "sound off (image 3)";
  ASSERT_EQ(Click(254, 228)["ok"], true);
  volume(0.5);
  // Play button: paused, and the centre button (image 6, 40 x 40) shows.
  ASSERT_EQ(Click(12, 228)["ok"], true);
  s = player->WaitFor([](const json& st) { return st["paused"] == true; }, kPatienceMs, &met);
  EXPECT_TRUE(met) << s.dump();
  f = Shot();
  EXPECT_NEAR(f.At(160, 120).r, 220, 12) << "the centre button";
  EXPECT_LT(f.At(135, 120).r, 20) << "beside it";
  ASSERT_EQ(Click(160, 120)["ok"], true);
  s = player->WaitFor([](const json& st) { return st["paused"] == false; }, kPatienceMs, &met);
  EXPECT_TRUE(met) << s.dump();
  EXPECT_EQ(player->Stop(), 0);
}

std::string Box(const std::string& name, int x, const std::string& colour,
                const std::string& action = "") {
  return "object " + name + ":Box\nGUID={" + name + "}\nSize=60,60\nFitMode=None\nColor1=" + colour +
         "\nPosMode=Percent\n" + action + "object K:KeyPoint\nTime=0\nPosition=" +
         std::to_string(x) + ",0\nend\nend\n";
}

// Info (not pausing) opens from a box on the slide (left of the centre);
// the help dialog (the second numbered one) pauses the show unless told
// otherwise. Positions are percent of the half size from the centre. The
// dialogs' boxes may have actions; the help dialog may have more objects.
std::string DialogShow(const std::string& cardAction = "", const std::string& pageAction = "",
                       const std::string& helpExtra = "") {
  return "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
         "opt_withoutborder=1\nopt_customdialogscount=2\ncustom_dialog1=Info\n"
         "custom_dialog2=Manual\n"
         "[Times]\nopt_slidescount=1\nopt_synchpos1=600000\n"
         "[Slide1]\nbstyle=1\nbcolor=0\nobject Container:Root\n" +
         Box("Opener", -60, "0,0,255", "Action=opendialog(\"Info\")\n") +
         "end\n[dialog_1_]\nDialogPause=0\nobject Container:Root\n" +
         Box("Card", 0, "255,255,255", cardAction) + "end\n[dialog_2_]\nhelp=1\n" + helpExtra +
         "object Container:Root\n" + Box("Page", 0, "0,255,0", pageAction) + "end\n";
}

TEST_F(LumviewerNav, DialogsOpenPauseToggleAndClose) {
  path = dir.Write("s/Project.lum", DialogShow());
  Start();
  auto dialogs = [&](int n) {
    bool met = false;
    json s =
        player->WaitFor([n](const json& st) { return st["showDialogs"] == n; }, kPatienceMs, &met);
    EXPECT_TRUE(met) << n << " dialogs: " << s.dump();
    sleep_for(milliseconds(400));  // past the fade
    return s;
  };
  // F1: the help dialog, and the show stands.
  ASSERT_EQ(player->Request({{"command", "key"}, {"key", "F1"}})["ok"], true);
  dialogs(1);
  TPixels page = Shot();
  EXPECT_GT(page.At(160, 120).g, 200) << "the help dialog's page";
  EXPECT_GT(page.At(64, 120).b, 200) << "the slide beneath: a dialog without background";
  bool met = false;
  json stood =
      player->WaitFor([](const json& st) { return st["active"] == false; }, kPatienceMs, &met);
  EXPECT_TRUE(met) << stood.dump();
  const double held = stood["position"].get<double>();
  sleep_for(milliseconds(500));
  EXPECT_EQ(player->Status()["position"].get<double>(), held);
  // Escape closes it (the show goes on instead of ending).
  ASSERT_EQ(player->Request({{"command", "key"}, {"key", "Escape"}})["ok"], true);
  dialogs(0);
  EXPECT_LT(Shot().At(160, 120).g, 20);
  auto movesOn = [&](double from) {
    const json st = player->WaitFor(
        [from](const json& st) { return st["position"].get<double>() > from + 200; }, kPatienceMs,
        &met);
    EXPECT_TRUE(met) << "the show stands at " << st["position"];
  };
  movesOn(held);
  // The slide's box opens Info, which does not pause; the same box closes it.
  ASSERT_EQ(Click(64, 120)["ok"], true);
  dialogs(1);
  TPixels f = Shot();
  EXPECT_GT(f.At(160, 120).r + f.At(160, 120).g + f.At(160, 120).b, 700) << "Info's card";
  movesOn(player->Status()["position"].get<double>());
  ASSERT_EQ(Click(64, 120)["ok"], true);
  dialogs(0);
  EXPECT_TRUE(player->Running());
  EXPECT_EQ(player->Stop(), 0);
}

// Info's card opens the help dialog and the help page opens Info: each
// opening of a dialog already open closes it, so the loop stays two deep.
// The help dialog's left box opens the help dialog itself.
TEST_F(LumviewerNav, DialogsOpeningEachOtherOrThemselvesStayBounded) {
  const std::string self = Box("Again", -60, "255,0,0", "Action=opendialog(\"Manual\")\n");
  std::string show = DialogShow("Action=opendialog(\"Manual\")\n", "Action=opendialog(\"Info\")\n",
                                "DialogPause=0\n");
  show.insert(show.rfind("end\n"), self);  // into the help dialog's root
  path = dir.Write("s/Project.lum", show);
  Start();
  auto open = [&](int n, const char* step) {
    bool met = false;
    json s =
        player->WaitFor([n](const json& st) { return st["showDialogs"] == n; }, kPatienceMs, &met);
    EXPECT_TRUE(met) << step << ": " << s.dump();
    sleep_for(milliseconds(300));  // past the fade
  };
  auto click = [&](int x) { ASSERT_EQ(Click(x, 120)["ok"], true); };
  click(64);
  open(1, "the slide's box opens Info");
  click(160);
  open(2, "Info's card opens the help dialog");
  click(160);
  open(1, "the help page closes Info, which is open");
  click(160);
  open(2, "and opens it again");
  ASSERT_EQ(player->Request({{"command", "key"}, {"key", "Escape"}})["ok"], true);
  open(1, "Escape closes the top one");
  click(64);
  open(0, "the help dialog's own box closes it");
  EXPECT_TRUE(player->Running());
  EXPECT_EQ(player->Stop(), 0);
}

}  // namespace
}  // namespace lum
