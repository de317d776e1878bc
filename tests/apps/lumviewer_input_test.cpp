// Input behind the show's dialogs: while one is open only Escape (closing
// it) and F1 act, in the order keys came, however fast they come; the
// control socket's action runs dialogs, help and print as a click would;
// the cursor stays while the pointer rests on the navigation panel; the
// player's own keys act only on keys the show leaves free, where the show
// permits control; the playback figures of i and I cover only the frame's
// top left.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_fixtures.h"
#include "support/player_run.h"
#include "support/temp_dir.h"
#include "support/viewer_show.h"

namespace lum {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::this_thread::sleep_for;
using test::TPlayer;
using test::TTempDir;

constexpr int kPatienceMs = 20000;

json WaitFor(TPlayer& p, const std::function<bool(const json&)>& done, const char* what) {
  return p.Expect(done, what, kPatienceMs);
}

json Key(TPlayer& p, const std::string& key) {
  return p.Request({{"command", "key"}, {"key", key}});
}

json Action(TPlayer& p, const std::string& text) {
  return p.Request({{"command", "action"}, {"text", text}});
}

// Ten slides of a second; the help dialog (pausing) and Info (not pausing),
// each a box in the middle. CanRestore gives the print dialog its Save.
std::string DialogShow(const std::string& main = "") {
  std::string s =
      "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
      "opt_withoutborder=1\nopt_repeat=repeat\nopt_customdialogscount=2\ncustom_dialog1=Info\n"
      "custom_dialog2=Manual\n" +
      main + "[Times]\nopt_slidescount=10\n";
  for (int i = 1; i <= 10; ++i)
    s += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(1000 * i) + "\n";
  for (int i = 1; i <= 10; ++i)
    s += "[Slide" + std::to_string(i) + "]\nbstyle=1\nbcolor=" + std::to_string(0x101010 * i) +
         "\nobject Container:Root\nend\n";
  const std::string box =
      "object Card:Box\nGUID={C}\nSize=60,60\nFitMode=None\nColor1=255,255,255\n"
      "object K:KeyPoint\nTime=0\nend\nend\n";
  return s + "[dialog_1_]\nDialogPause=0\nobject Container:Root\n" + box +
         "end\n[dialog_2_]\nhelp=1\nobject Container:Root\n" + box + "end\n";
}

TEST(LumviewerInput, WhileADialogIsOpenOnlyEscapeAndF1Act) {
  TTempDir dir;
  const std::string show = dir.Write("s/Project.lum", DialogShow());
  TPlayer p(dir.Path(), show, {"-slide", "3"});
  START(p);
  WaitFor(
      p, [](const json& s) { return s["active"] == true; }, "playing");
  ASSERT_EQ(Key(p, "F1")["ok"], true);
  // The help dialog holds the show where it is.
  const json held = WaitFor(
      p, [](const json& s) { return s["showDialogs"] == 1 && s["active"] == false; }, "help open");
  // Navigation, pause and the show's own keys wait behind it.
  for (const char* key : {"Right", "End", "Space", "Home", "A"}) ASSERT_EQ(Key(p, key)["ok"], true);
  sleep_for(milliseconds(300));
  const json s = p.Status();
  EXPECT_EQ(s["showDialogs"], 1);
  EXPECT_EQ(s["position"], held["position"]);
  EXPECT_FALSE(s["paused"]);
  // Escape closes the dialog instead of ending the show; F1 toggles it.
  ASSERT_EQ(Key(p, "Escape")["ok"], true);
  WaitFor(
      p, [](const json& s) { return s["showDialogs"] == 0; }, "closed by Escape");
  ASSERT_EQ(Key(p, "F1")["ok"], true);
  WaitFor(
      p, [](const json& s) { return s["showDialogs"] == 1; }, "open again");
  ASSERT_EQ(Key(p, "F1")["ok"], true);
  WaitFor(
      p, [](const json& s) { return s["showDialogs"] == 0; }, "closed by F1");
  EXPECT_TRUE(p.Running());
  // With no dialog, the keys act again.
  ASSERT_EQ(Key(p, "End")["ok"], true);
  WaitFor(
      p, [](const json& s) { return s["slide"] == 9; }, "End");
  EXPECT_EQ(p.Stop(), 0);
}

// 1,000 keys as fast as the socket takes them. Escape only comes while the
// rules say a dialog is open (else it would end the show), so the state
// they leave is known: the player must end in exactly that state.
TEST(LumviewerInput, AStormOfKeysEndsInTheStateTheRulesGive) {
  TTempDir dir;
  const std::string show = dir.Write("s/Project.lum", DialogShow());
  TPlayer p(dir.Path(), show);
  START(p);
  WaitFor(
      p, [](const json& s) { return s["active"] == true; }, "playing");
  std::mt19937 random(30);
  const std::vector<std::string> keys = {"F1", "Escape", "Space", "Right", "Left", "Home", "A"};
  bool open = false, paused = false;
  int sent = 0;
  while (sent < 1000) {
    const std::string& key = keys[random() % keys.size()];
    if (key == "Escape" && !open) continue;
    ASSERT_EQ(Key(p, key)["ok"], true) << sent;
    ++sent;
    if (key == "F1" || key == "Escape")
      open = key == "F1" ? !open : false;
    else if (key == "Space" && !open)
      paused = !paused;
  }
  const json s = WaitFor(
      p, [&](const json& s) { return s["showDialogs"] == (open ? 1 : 0) && s["paused"] == paused; },
      "the state of the last key");
  sleep_for(milliseconds(300));
  EXPECT_EQ(p.Status()["showDialogs"], open ? 1 : 0);
  EXPECT_TRUE(p.Running());
  EXPECT_EQ(p.Stop(), 0) << s.dump();
}

TEST(LumviewerInput, TheControlSocketsActionRunsDialogsHelpAndPrint) {
  TTempDir dir;
  const std::string show = dir.Write("s/Project.lum", DialogShow());
  TPlayer p(dir.Path(), show);
  START(p);
  WaitFor(
      p, [](const json& s) { return s["active"] == true; }, "playing");
  auto dialogs = [&](int n, const char* what) {
    WaitFor(
        p, [n](const json& s) { return s["showDialogs"] == n; }, what);
  };
  ASSERT_EQ(Action(p, "help")["ok"], true);
  dialogs(1, "help");
  ASSERT_EQ(Action(p, "opendialog(\"Info\")")["ok"], true);
  dialogs(2, "Info over help");
  ASSERT_EQ(Action(p, "closedialog")["ok"], true);
  dialogs(1, "the top one closed");
  ASSERT_EQ(Action(p, "help")["ok"], true);
  dialogs(0, "help toggled off");
  // Print captures the frame and opens the print dialog.
  ASSERT_EQ(Action(p, "print")["ok"], true);
  const json d = WaitFor(
      p, [](const json& s) { return !s["dialog"].is_null(); }, "print dialog")["dialog"];
  EXPECT_EQ(d["caption"], "Print");
  ASSERT_EQ(Key(p, "Escape")["ok"], true);
  WaitFor(
      p, [](const json& s) { return s["dialog"].is_null(); }, "print dialog closed");
  EXPECT_TRUE(p.Running());
  EXPECT_EQ(p.Stop(), 0);
}

TEST(LumviewerInput, TheCursorStaysWhileThePointerRestsOnThePanel) {
  TTempDir dir;
  // The panel's skin: one 40 x 20 cell with a forward and a pause button,
  // at the bottom, 120 x 60 at (100, 180).
  test::TPixels btn{40, 20, std::vector<test::TRgb>(800, test::TRgb{0, 0, 255})};
  dir.Write("s/btn.bmp", test::WriteBmp(btn, {}));
  dir.Write("s/nav.ini",
            "[Common]\nColsCount=1\nRowsCount=1\n[CellWithObjects]\nCell=1,1\n"
            "[Cell(1:1)]\nBounds=0,0,40,20\nflnm_Texture=btn.bmp\n[Objects]\nCount=2\n"
            "[Action-forward]\nBgTextureNormalBounds=0,0,20,20\nBtnTextureNormalBounds=0,0,20,20\n"
            "flnm_BgTextureNormal=btn.bmp\nflnm_BtnTextureNormal=btn.bmp\n"
            "[Action-pause]\nBgTextureNormalBounds=20,0,20,20\nBtnTextureNormalBounds=20,0,20,20\n"
            "flnm_BgTextureNormal=btn.bmp\nflnm_BtnTextureNormal=btn.bmp\n");
  const std::string show =
      dir.Write("s/Project.lum",
                "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
                "opt_withoutborder=1\nopt_fcp=1\nopt_nav_inifile=nav.ini\nopt_cp=Bottom\n"
                "opt_nav_usevideoscale=1\nopt_nav_viewscale=25\nopt_newnavbuttons_count=3\n"
                "opt_newnavbutton1=forward\nopt_newnavbutton2=zoom\nopt_newnavbutton3=pause\n"
                "opt_hidecursor=2\nopt_hc2_hideinterval=0.5\n"
                "[Times]\nopt_slidescount=1\nopt_synchpos1=600000\n[Slide1]\nbstyle=1\nbcolor=0\n");
  TPlayer p(dir.Path(), show);
  START(p);
  WaitFor(
      p, [](const json& s) { return s["framesDrawn"] > 0; }, "drawn");
  // Pointer events of the first second after the window appeared are ignored.
  sleep_for(milliseconds(1100));
  // On the panel (its pause button): the cursor stays however long it rests.
  ASSERT_EQ(p.Request({{"command", "click"}, {"x", 190}, {"y", 210}})["ok"], true);
  WaitFor(
      p, [](const json& s) { return s["hoverClass"] == "NavPanel"; }, "over the panel");
  sleep_for(milliseconds(1500));
  EXPECT_EQ(p.Status()["cursorHidden"], false);
  // Off the panel it goes after half a second.
  ASSERT_EQ(p.Request({{"command", "click"}, {"x", 40}, {"y", 40}})["ok"], true);
  WaitFor(
      p, [](const json& s) { return s["cursorHidden"] == true; }, "hidden off the panel");
  EXPECT_EQ(p.Stop(), 0);
}

// Width and height from a PNG's header, read here rather than by our decoders.
std::pair<int, int> PngSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char h[24] = {};
  in.read(reinterpret_cast<char*>(h), sizeof h);
  if (!in || std::string(reinterpret_cast<char*>(h) + 1, 3) != "PNG") return {0, 0};
  auto be = [&](int at) { return h[at] << 24 | h[at + 1] << 16 | h[at + 2] << 8 | h[at + 3]; };
  return {be(16), be(20)};
}

TEST(LumviewerInput, ThePlayersOwnKeysActWhereTheShowPermitsControl) {
  TTempDir dir;
  const std::string shots = dir.Path() + "/home/Shots";
  std::filesystem::create_directories(shots);
  dir.Write("config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Shots\"\n");
  const std::vector<std::string> env = {"HOME=" + dir.Path() + "/home",
                                        "XDG_CONFIG_HOME=" + dir.Path() + "/config"};
  TPlayer p(dir.Path(), dir.Write("s/Project.lum", DialogShow()), {}, env);
  START(p);
  json s = WaitFor(
      p, [](const json& s) { return s["active"] == true && s["framesDrawn"] > 5; }, "playing");
  // The playback figures come with every status (plain slides: no textures,
  // no video, no frames while nothing changes).
  for (const char* key : {"textureBytes", "pictureBytes", "maxFrameIntervalMs", "audioOffsetMs",
                          "lateVideoFrames"})
    EXPECT_TRUE(s[key].is_number()) << key << " in " << s.dump();
  EXPECT_GT(s["rssBytes"], 10 << 20);
  Key(p, "M");
  WaitFor(
      p, [](const json& s) { return s["muted"] == true && s["volume"] == 0; }, "muted");
  Key(p, "0");  // unmutes, then up (no higher than full)
  Key(p, "9");
  WaitFor(
      p,
      [](const json& s) {
        return s["muted"] == false && std::abs(double(s["volume"]) - 0.9) < 1e-3;
      },
      "unmuted, a step down");
  Key(p, "F");
  WaitFor(
      p, [](const json& s) { return s["fullscreen"] == true; }, "full screen");
  Key(p, "F");
  WaitFor(
      p,
      [](const json& s) {
        return s["fullscreen"] == false && s["window"] == json{320, 240};
      },
      "back to the show's window");
  Key(p, "S");
  std::string shot;
  for (int i = 0; i < 100 && shot.empty(); ++i, sleep_for(milliseconds(100)))
    for (const auto& e : std::filesystem::directory_iterator(shots))
      if (e.path().filename().string().rfind("Project ", 0) == 0) shot = e.path().string();
  ASSERT_FALSE(shot.empty()) << "no screenshot in " << shots;
  EXPECT_EQ(PngSize(shot), std::make_pair(320, 240)) << shot;
  EXPECT_EQ(p.Stop(), 0);

  // A show that keeps control to itself keeps these keys too.
  TPlayer locked(dir.Path(), dir.Write("t/Project.lum", DialogShow("opt_synchpermitcontrol=0\n")),
                 {}, env);
  START(locked);
  WaitFor(
      locked, [](const json& s) { return s["active"] == true; }, "playing");
  Key(locked, "M");
  Key(locked, "F");
  Key(locked, "I");
  sleep_for(milliseconds(500));
  s = locked.Status();
  EXPECT_EQ(s["muted"], false);
  EXPECT_EQ(s["fullscreen"], false);
  EXPECT_EQ(s["statsShown"], false);
  EXPECT_EQ(locked.Stop(), 0);
}

// The box around the pixels where two frames differ by more than 8 in a
// channel, and how many differ; empty when none does.
struct TChange {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  int count = 0;
};
TChange ChangeBetween(const test::TPixels& a, const test::TPixels& b) {
  TChange c;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const test::TRgb p = a.At(x, y), q = b.At(x, y);
      if (std::max({std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)}) <= 8) continue;
      c.left = std::min(c.left, x), c.top = std::min(c.top, y);
      c.right = std::max(c.right, x + 1), c.bottom = std::max(c.bottom, y + 1);
      ++c.count;
    }
  return c;
}

TEST(LumviewerInput, TheStatsKeysDrawTheFiguresOverTheTopLeftOnly) {
  TTempDir dir;
  // A still light grey slide: nothing but the figures moves.
  const std::string show = dir.Write(
      "s/Project.lum",
      "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
      "opt_withoutborder=1\n[Times]\nopt_slidescount=1\nopt_synchpos1=600000\n"
      "[Slide1]\nbstyle=1\nbcolor=12632256\nobject Container:Root\nend\n");
  TPlayer p(dir.Path(), show);
  START(p);
  WaitFor(
      p, [](const json& s) { return s["active"] == true && s["framesDrawn"] > 0; }, "playing");
  auto shot = [&](const std::string& name) {
    const std::string path = dir / name;
    EXPECT_EQ(p.Request({{"command", "screenshot"}, {"path", path}})["ok"], true) << p.LogTail();
    return test::ReadPicture(path);
  };
  auto shift = [&](const std::string& key) {
    return p.Request({{"command", "key"}, {"key", key}, {"mods", {"shift"}}});
  };
  const test::TPixels plain = shot("plain.png");
  ASSERT_EQ(plain.width, 320);

  ASSERT_EQ(shift("I")["ok"], true);
  const int64_t frames = WaitFor(
      p, [](const json& s) { return s["statsShown"] == true; }, "shown by I")["framesDrawn"];
  // The still slide is redrawn for the numbers a few times a second, no more.
  sleep_for(milliseconds(1500));
  const int64_t redrawn = int64_t(p.Status()["framesDrawn"]) - frames;
  EXPECT_GE(redrawn, 2);
  EXPECT_LE(redrawn, 10);
  const test::TPixels shown = shot("shown.png");
  const TChange c = ChangeBetween(plain, shown);
  // A dark panel from near the top left corner, the rest of the frame as it was.
  EXPECT_LE(c.left, 16);
  EXPECT_LE(c.top, 16);
  EXPECT_GT(c.right, 100);
  EXPECT_GT(c.bottom, 60);
  EXPECT_LT(c.right, 300);
  EXPECT_LT(c.bottom, 220);
  EXPECT_GT(c.count, (c.right - c.left) * (c.bottom - c.top) / 2) << "a panel, not scattered pixels";
  const test::TRgb corner = shown.At(c.left + 2, c.top + 2);
  EXPECT_LT(corner.r + corner.g + corner.b, 3 * 100) << "dark panel";
  int light = 0;
  for (int y = c.top; y < c.bottom; ++y)
    for (int x = c.left; x < c.right; ++x)
      if (const test::TRgb q = shown.At(x, y); std::min({q.r, q.g, q.b}) > 200) ++light;
  EXPECT_GT(light, 100) << "light text on the panel";

  // I again: gone, the frame as it was.
  ASSERT_EQ(shift("I")["ok"], true);
  WaitFor(
      p, [](const json& s) { return s["statsShown"] == false; }, "hidden by I");
  EXPECT_EQ(ChangeBetween(plain, shot("hidden.png")).count, 0);

  // i: shown for five seconds.
  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_EQ(Key(p, "I")["ok"], true);
  WaitFor(
      p, [](const json& s) { return s["statsShown"] == true; }, "shown by i");
  WaitFor(
      p, [](const json& s) { return s["statsShown"] == false; }, "hidden after five seconds");
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - pressed).count();
  EXPECT_GE(took, 4.9);
  EXPECT_LE(took, 9);
  EXPECT_EQ(ChangeBetween(plain, shot("after.png")).count, 0);
  EXPECT_EQ(p.Stop(), 0);
}

}  // namespace
}  // namespace lum
