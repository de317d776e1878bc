// lumviewer playing a video slide over the stand-in video library: frames
// follow the show clock, and a storm of random seeks through the control
// socket never stalls the extractor or the engine.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "imaging/image_fixtures.h"
#include "support/player_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TPlayer;

// 5 frames a second, 28 frames, frame n of luma 16 + 8 n; on a red slide.
std::string VideoShow() {
  return "[Main]\nMinorVersion=13\nopt_scr_width=800\nopt_scr_height=400\nopt_repeat=stop\n"
         "[Times]\nopt_slidescount=1\nopt_synchpos1=6000\n"
         "[Slide1]\nbstyle=1\nbcolor=255\nobject Container:Root\n"
         "object V:Video\nGUID={V}\nFitMode=None\nFileName=clip.fake\nDuration=5400\n"
         "object K:KeyPoint\nTime=0\nend\nend\nend\n";
}

class PlayVideo : public ::testing::Test {
 protected:
  void SetUp() override { dir.Write("s/clip.fake", "FAKECLIP 400 200 5 1 28 0"); }
  // The frame shown in a screenshot; -1 when the centre is not video grey.
  int ShownFrame(TPlayer& p, const std::string& name) {
    const std::string out = dir / name;
    const json shot = p.Request({{"command", "screenshot"}, {"path", out}});
    EXPECT_EQ(shot["ok"], true) << shot.dump();
    test::TPixels px = test::ReadPicture(out);
    if (px.width <= 0) return -1;
    const test::TRgb c = px.At(px.width / 2, px.height / 2);
    if (std::abs(c.r - c.g) > 6) return -1;
    return int(std::lround(c.g / 1.164 / 8));
  }
  // Seeks, pauses there and returns the frame then shown.
  int FrameAfterSeek(TPlayer& p, double ms) {
    EXPECT_EQ(p.Request({{"command", "seek"}, {"position", ms}})["ok"], true);
    bool met = false;
    p.WaitFor([&](const json& s) { return s["paused"] && s["position"].get<double>() == ms; }, 5000,
              &met);
    EXPECT_TRUE(met);
    // The extractor catches up within a few draws.
    int frame = -1;
    for (int i = 0; i < 20 && frame != int(std::lround(ms * 5 / 1000)); ++i)
      frame = ShownFrame(p, "shot.png");
    return frame;
  }
  test::TTempDir dir;
};

TEST_F(PlayVideo, FramesFollowTheClockAndSurviveSeekStorms) {
  const std::string show = dir.Write("s/Project.lum", VideoShow());
  TPlayer p(dir.Path(), show, {}, {std::string("LUM_VIDEO_PLUGIN=") + FAKE_CLIP_PLUGIN});
  std::string error;
  ASSERT_TRUE(p.Start(&error)) << error;
  bool met = false;
  p.WaitFor([](const json& s) { return s["position"].get<double>() > 1500; }, 10000, &met);
  ASSERT_TRUE(met) << p.LogTail();
  ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
  EXPECT_EQ(FrameAfterSeek(p, 2000), 10) << p.LogTail();

  std::mt19937 rng(18);
  std::uniform_int_distribution<int> pick(0, 6000);
  ASSERT_EQ(p.Request({{"command", "play"}})["ok"], true);
  for (int i = 0; i < 1000; ++i) {
    const json r = p.Request({{"command", "seek"}, {"position", pick(rng)}}, 5000);
    ASSERT_EQ(r["ok"], true) << i << " " << r.dump();
  }
  ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
  EXPECT_EQ(FrameAfterSeek(p, 4200), 21) << p.LogTail();
  EXPECT_EQ(FrameAfterSeek(p, 600), 3) << p.LogTail();
  EXPECT_EQ(p.Stop(), 0);
}

}  // namespace
}  // namespace lum
