// Faults while a show plays: the sound device going away and coming back,
// and a picture file cut short under the running player.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/player_run.h"
#include "support/temp_dir.h"
#include "support/viewer_show.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TPixels;
using test::TPlayer;
using test::TRgb;
using test::TTempDir;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Position(const json& s) {
  return s.at("position").get<double>();
}

bool MusicHeard(const json& s) {
  return s.at("musicPositionMs").is_number();
}

double Music(const json& s) {
  return s.at("musicPositionMs").get<double>();
}

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// A 320 x 240 windowed show of one-second slides; slideObjects[i] goes on slide i.
std::string ShowText(const std::vector<std::string>& slideObjects, const std::string& main) {
  std::string s =
      "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
      "opt_withoutborder=1\nopt_repeat=repeat\n" +
      main + "[Times]\nopt_slidescount=" + std::to_string(slideObjects.size()) + "\n";
  for (size_t i = 0; i < slideObjects.size(); ++i)
    s += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string(1000 * (i + 1)) + "\n";
  for (size_t i = 0; i < slideObjects.size(); ++i)
    s += "[Slide" + std::to_string(i + 1) + "]\nbstyle=1\nbcolor=4210752\nobject Container:Root\n" +
         slideObjects[i] + "end\n";
  return s;
}

// The show is on the system clock at the wall's pace while there is no device.
void ExpectSilentOnTheSystemClock(TPlayer& p) {
  json s = p.Expect([](const json& s) { return !MusicHeard(s); }, "the music silent");
  const double from = Position(s);
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  s = p.Status();
  const double wall = SecondsSince(t0) * 1000;
  EXPECT_EQ(s["soundDevice"], "lost");
  EXPECT_TRUE(s["active"]) << s.dump();
  // Request and reply take a few ms on either side.
  EXPECT_NEAR(Position(s) - from, wall, 120) << s.dump();
  EXPECT_GE(s["slide"].get<int>(), int(from / 1000) + 1) << "slides change on time: " << s.dump();
}

// The music comes back where the show is, and stays with it.
void ExpectTheMusicBackInStep(TPlayer& p) {
  json s = p.Expect([](const json& s) { return s["soundDevice"] == "open" && MusicHeard(s); },
                    "the music back");
  double lastMusic = Music(s);
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    s = p.Status();
    ASSERT_TRUE(MusicHeard(s)) << s.dump();
    EXPECT_GT(Music(s), lastMusic + 100) << s.dump();
    EXPECT_NEAR(Music(s) - Position(s), 0, 100) << s.dump();
    EXPECT_LT(std::fabs(s["audioOffsetMs"].get<double>()), 30) << s.dump();
    lastMusic = Music(s);
  }
}

// No device when the show starts, one plugged in, pulled out, and back.
TEST(LumviewerFaults, WithoutASoundDeviceTheShowRunsOnTheSystemClockUntilOneComes) {
  TTempDir dir;
  // 20 s of tone from an independent encoder, as synchronised music of a 20 s show.
  test::RunTool({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", dir / "m.wav", "synth", "20",
                 "sine", "440", "gain", "-12"});
  const std::string show = dir.Write(
      "Project.lum",
      ShowText(std::vector<std::string>(20),
               "opt_syncmode=1\nobject Music:Music\n object T:TMusicTrack\n"
               "  object I:TMusicItem\n   FileName=m.wav\n   Duration=20000\n  end\n end\nend\n"));
  const std::string unplugged = dir / "unplugged";
  dir.Write("unplugged", "");
  TPlayer p(dir.Path(), show, {}, {"LUM_TEST_SOUND_UNPLUGGED=" + unplugged});
  START(p);

  json s = p.Expect([](const json& s) { return s["active"] == true && Position(s) > 300; },
                    "the show playing");
  EXPECT_EQ(s["soundDevice"], "lost");
  ExpectSilentOnTheSystemClock(p);
  EXPECT_NE(p.Log().find("No sound device: the show plays silently on the system clock"),
            std::string::npos)
      << p.LogTail();

  fs::remove(unplugged);
  ExpectTheMusicBackInStep(p);

  dir.Write("unplugged", "");
  p.Expect([](const json& s) { return s["soundDevice"] == "lost"; }, "the device lost");
  ExpectSilentOnTheSystemClock(p);
  EXPECT_NE(p.Log().find("Sound device lost: the show goes on silently on the system clock"),
            std::string::npos)
      << p.LogTail();

  fs::remove(unplugged);
  ExpectTheMusicBackInStep(p);
  EXPECT_NE(p.Log().find("Sound device back"), std::string::npos) << p.LogTail();
  EXPECT_EQ(p.Stop(), 0) << p.LogTail();
}

// What a picture at the centre of a frame looks like.
TRgb Centre(const TPixels& frame) {
  return frame.At(frame.width / 2, frame.height / 2);
}

TEST(LumviewerFaults, APictureCutShortWhilePlayingGivesItsSlideThePlaceholderAndPlaysOn) {
  TTempDir dir;
  // Every slide shows a green picture over its middle, on dark grey.
  TPixels green;
  green.width = 64, green.height = 48;
  green.px.assign(size_t(64 * 48), TRgb{0, 200, 0});
  std::vector<std::string> objects;
  for (int i = 1; i <= 8; ++i) {
    const std::string name = "p" + std::to_string(i) + ".jpg";
    dir.Write(name, test::CjpegFile(green, {"-quality", "95"}));
    objects.push_back("object P:Image\nGUID={" + std::to_string(i) + "}\nImageName=" + name +
                      "\nobject K:KeyPoint\nTime=0\nend\nend\n");
  }
  const std::string show = dir.Write("Project.lum", ShowText(objects, ""));
  TPlayer p(dir.Path(), show);
  START(p);
  p.Expect([](const json& s) { return s["framesDrawn"].get<int64_t>() > 0; }, "a first frame");

  // Away from slide 3, so that its picture is read again on the way back.
  p.Request({{"command", "seek"}, {"position", 6000}});
  p.Expect([](const json& s) { return s["slide"] == 6 && s["active"] == true; }, "slide 7 playing");
  fs::resize_file(dir / "p3.jpg", 100);
  p.Request({{"command", "seek"}, {"position", 1500}});
  p.Expect([](const json& s) { return Position(s) > 1500 && Position(s) < 3000; }, "slide 2");
  // Played through slide 3 into slide 5.
  const json s = p.Expect(
      [](const json& s) { return s["active"] == true && s["slide"] == 4 && Position(s) > 4200; },
      "slide 5 reached");
  // The line any broken picture gives.
  EXPECT_NE(p.Log().find("JPEG \"p3.jpg\" refused"), std::string::npos) << p.LogTail();

  // Slide 3 paused: the placeholder with its message, as lumshow draws the cut
  // file; slide 5 with its picture.
  auto frameAt = [&](int ms, const std::string& name) {
    p.Request({{"command", "pause"}});
    const int64_t drawn = p.Status()["framesDrawn"].get<int64_t>();
    p.Request({{"command", "seek"}, {"position", ms}});
    p.Expect(
        [&](const json& s) { return Position(s) == ms && s["framesDrawn"].get<int64_t>() > drawn; },
        "paused at " + std::to_string(ms));
    const json r = p.Request({{"command", "screenshot"}, {"path", dir / name}});
    EXPECT_EQ(r["ok"], true) << r.dump();
    return test::ReadPicture(dir / name);
  };
  const TPixels cut = frameAt(2500, "cut.png");
  const test::TCommandResult r = test::Lumshow(
      {"render", show, "--time", "2500", "--size", "320x240", "-o", dir / "expected.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  const TPixels expected = test::ReadPicture(dir / "expected.png");
  EXPECT_LE(test::MaxDifference(cut, expected), 24);
  EXPECT_FALSE(Centre(cut).g > 150 && Centre(cut).r < 60) << "the cut picture was drawn";

  const TPixels later = frameAt(4500, "later.png");
  EXPECT_NEAR(Centre(later).g, 200, 12);
  EXPECT_LT(Centre(later).r, 30);
  EXPECT_EQ(p.Stop(), 0) << p.LogTail();
}

}  // namespace
}  // namespace lum
