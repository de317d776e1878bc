// Skinned buttons in the player: the skin is drawn from the show's theme
// folder and a click on the button gives its action.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "imaging/image_fixtures.h"
#include "support/player_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TPixels;
using test::TPlayer;
using test::TRgb;
using test::TTempDir;

// One green 10 x 10 block serves as every piece of every state.
std::string SkinIni() {
  std::string pieces;
  for (const char* key : {"LeftTop", "Top", "RightTop", "Left", "Center", "Right", "LeftBottom",
                          "Bottom", "RightBottom"})
    pieces += std::string(key) + "=skin.bmp,0,0,10,10\n";
  return "[NormalState]\n" + pieces + "[HoverState]\n" + pieces + "[ClickState]\n" + pieces;
}

// Two 320 x 240 slides; the first holds a button as high as the window.
std::string Show() {
  const std::string button =
      "object B:Button\nGUID={1}\nTheme=aqua\nAction=gotoslide(2)\n"
      "object K:KeyPoint\nTime=0\nPosition=50,50\nScaleX=100\nScaleY=100\nend\n"
      "object C:Text\nGUID={2}\nText=Go\nend\nend\n";
  return "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
         "opt_withoutborder=1\n[Times]\nopt_slidescount=2\nopt_synchpos1=60000\n"
         "opt_synchpos2=120000\n[Slide1]\nbstyle=1\nbcolor=0\nobject Container:Root\n" +
         button + "end\n[Slide2]\nbstyle=1\nbcolor=0\nobject Container:Root\nend\n";
}

TEST(LumviewerButtons, ASkinnedButtonIsDrawnAndItsClickGivesItsAction) {
  TTempDir dir;
  dir.Write("s/aqua/btn.ini", SkinIni());
  TPixels green{10, 10, std::vector<TRgb>(100, TRgb{0, 200, 0})};
  dir.Write("s/aqua/skin.bmp", test::WriteBmp(green, {}));
  const std::string show = dir.Write("s/Project.lum", Show());
  TPlayer p(dir.Path(), show);
  std::string error;
  ASSERT_TRUE(p.Start(&error)) << error;
  bool met = false;
  p.WaitFor([](const json& s) { return s["framesDrawn"].get<int>() > 3; }, 5000, &met);
  const std::string shot = dir / "shot.png";
  ASSERT_EQ(p.Request({{"command", "screenshot"}, {"path", shot}})["ok"], true) << p.LogTail();
  TPixels f = test::ReadPicture(shot);
  ASSERT_GT(f.width, 0);
  EXPECT_GT(f.At(20, 120).g, 150) << "the skin's green beside the caption";
  // Pointer events of the first second after the window appeared are ignored.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(p.Request({{"command", "click"}, {"x", 20}, {"y", 120}})["ok"], true);
  json s = p.WaitFor([](const json& st) { return st["slide"] == 1; }, 3000, &met);
  EXPECT_TRUE(met) << s.dump();
  EXPECT_EQ(p.Stop(), 0);
}

}  // namespace
}  // namespace lum
