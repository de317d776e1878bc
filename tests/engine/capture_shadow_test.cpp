// A screenshot taken right after a seek, through the player's control
// socket: the slides of the new position come with their drop shadows, so
// the capture matches lumshow render's frame instead of showing the object
// bare while its shadow is still being made.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/player_run.h"
#include "support/temp_dir.h"
#include "support/viewer_show.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TPlayer;
using test::TTempDir;

// Six black one-second slides, 640 x 480; slide 5 holds a white box
// (x 220-420, y 190-290) casting a soft red shadow 40 pixels to the right.
std::string ShadowShow() {
  std::string s =
      "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=640\nopt_scr_height=480\n"
      "opt_withoutborder=1\nopt_repeat=stop\n[Times]\nopt_slidescount=6\n";
  for (int i = 1; i <= 6; ++i)
    s += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(1000 * i) + "\n";
  for (int i = 1; i <= 6; ++i) {
    s += "[Slide" + std::to_string(i) + "]\nbstyle=1\nbcolor=0\n";
    if (i == 5)
      s += "object Container:Root\nobject B:Box\nGUID={1}\nSize=200,100\nFitMode=None\n"
           "Color1=255,255,255\nShadowEnable=1\nShadowColor=255,0,0\nShadowAngle=0\n"
           "ShadowDistance=40\nShadowOpacity=100\nShadowSize=24\n"
           "object K:KeyPoint\nTime=0\nend\nend\nend\n";
  }
  return s;
}

// Red along row 240 just right of the box, where only the shadow falls.
int ShadowRed(const test::TPixels& p) {
  int sum = 0;
  for (int x = 423; x < 438; ++x) sum += p.At(x, 240).r;
  return sum / 15;
}

TEST(CaptureAfterSeek, ShowsEveryShadowOfTheNewPosition) {
  TTempDir dir;
  const std::string show = dir.Write("s/Project.lum", ShadowShow());
  const std::string ref = dir / "render.png";
  const test::TCommandResult r =
      test::Lumshow({"render", show, "--time", "4500", "--size", "640x480", "-o", ref});
  ASSERT_EQ(r.status, 0) << r.err;
  const int want = ShadowRed(test::ReadPicture(ref));
  ASSERT_GT(want, 100);  // the reference has the shadow

  TPlayer p(dir.Path(), show);
  START(p);
  ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
  // Each seek lands where no slide is held yet: slide 5 is made anew.
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(p.Request({{"command", "seek"}, {"position", 500}})["ok"], true);
    ASSERT_EQ(p.Request({{"command", "screenshot"}, {"path", dir / "first.png"}})["ok"], true);
    ASSERT_EQ(p.Request({{"command", "seek"}, {"position", 4500}})["ok"], true);
    const std::string out = dir / ("shot" + std::to_string(round) + ".png");
    const json shot = p.Request({{"command", "screenshot"}, {"path", out}});
    ASSERT_EQ(shot["ok"], true) << shot.dump() << "\n" << p.LogTail();
    const test::TPixels got = test::ReadPicture(out);
    ASSERT_EQ(got.width, 640);
    EXPECT_EQ(got.At(320, 240).r, 255);  // the box itself
    EXPECT_NEAR(ShadowRed(got), want, 12);
  }
}

}  // namespace
}  // namespace lum
