// lumviewer end to end: the real player, headless, driven through its control
// socket. Shows are generated per test; frames are checked against lumshow
// render and the sound the player sends to the device against lumshow audio.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/player_run.h"
#include "support/viewer_show.h"
#include "support/temp_dir.h"
#include "support/test_sound.h"

namespace lum {
namespace {

using nlohmann::json;
using test::BurstNoise;
using test::Lumshow;
using test::TControlClient;
using test::TPlayer;
using test::TTempDir;
using test::WavFile;
using Clock = std::chrono::steady_clock;

void Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// How long a state may take to come: generous, for sanitizer builds on a
// machine busy with other tests. Pace is a figure for bench_player.
constexpr int kPatienceMs = 20000;

// Starts the player or fails the test.
// ---- shows

struct TSlide {
  int end;         // ms
  uint32_t color;  // background, as documents store it (0xBBGGRR)
  std::string keys = "";
  std::string objects = "";
};

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000;

// A 320 x 240 windowed show, designed at that size, of flat-coloured slides.
std::string ShowText(const std::vector<TSlide>& slides, const std::string& main = "") {
  std::string s =
      "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
      "opt_withoutborder=1\n" +
      main + "[Times]\nopt_slidescount=" + std::to_string(slides.size()) + "\n";
  for (size_t i = 0; i < slides.size(); ++i)
    s += "opt_synchpos" + std::to_string(i + 1) + "=" + std::to_string(slides[i].end) + "\n";
  for (size_t i = 0; i < slides.size(); ++i)
    s += "[Slide" + std::to_string(i + 1) +
         "]\nbstyle=1\nbcolor=" + std::to_string(slides[i].color) + "\n" + slides[i].keys +
         "object Container:Root\n" + slides[i].objects + "end\n";
  return s;
}

// The dissolve of the main section's effect list, and a slide's use of it.
const std::string kDissolveEffects =
    "object TheEffect:AnEffect\ntime=1000\ncustom_count=0\n"
    "object dissolve:dissolve\ncaption=Dissolve\nkey=checked\nchecked=1\n"
    "group=GroupBasic\nstdidx=2\nend\nend\n";
std::string DissolveIn(int ms) {
  return "object TheEffect:AnEffect\nref=dissolve\ntime=" + std::to_string(ms) + "\nend\n";
}

double Position(const json& s) {
  return s.at("position").get<double>();
}

// ---- playing

// How fast it plays and draws is a figure for bench_player; here it plays on
// and draws while it does.
TEST(LumviewerPlay, DemoPlaysOnAndDrawsFrames) {
  TTempDir dir;
  TPlayer p(dir.Path(), DEMO_SHOW_PATH);
  START(p);
  bool met = false;
  const json s0 =
      p.WaitFor([](const json& s) { return s["active"] && Position(s) > 300; }, kPatienceMs, &met);
  ASSERT_TRUE(met) << s0.dump() << "\n" << p.LogTail();
  const int64_t frames0 = s0["framesDrawn"].get<int64_t>();
  const json s1 = p.WaitFor(
      [&](const json& s) {
        return Position(s) > Position(s0) + 1000 && s["framesDrawn"].get<int64_t>() > frames0 + 2;
      },
      kPatienceMs, &met);
  EXPECT_TRUE(met) << s1.dump() << "\n" << p.LogTail();
  EXPECT_FALSE(s1["paused"]);
  EXPECT_FALSE(s1["ended"]);
  EXPECT_EQ(s1["duration"], 12000);
  EXPECT_GT(s1["window"][0].get<int>(), 0);
  EXPECT_GT(s1["window"][1].get<int>(), 0);
  EXPECT_EQ(p.Stop(), 0) << p.LogTail();
}

TEST(LumviewerPlay, APauseSlideWaitsAtItsEndUntilAKey) {
  TTempDir dir;
  const std::string show =
      dir.Write("s/Project.lum",
                ShowText({{1000, kRed, "Pers_EndAction=pause\n"}, {2000, kGreen}, {3000, kBlue}},
                         "opt_repeat=stop\n"));
  TPlayer p(dir.Path(), show);
  START(p);
  for (const char* key : {"Right", "Space"}) {
    SCOPED_TRACE(key);
    bool met = false;
    json s = p.WaitFor([](const json& s) { return s["waiting"].get<bool>(); }, kPatienceMs, &met);
    ASSERT_TRUE(met) << s.dump() << "\n" << p.LogTail();
    EXPECT_EQ(Position(s), 1000);
    EXPECT_EQ(s["slide"], 0);
    EXPECT_FALSE(s["paused"]);
    EXPECT_FALSE(s["active"]);
    // It stays there.
    Sleep(400);
    s = p.Status();
    EXPECT_TRUE(s["waiting"]);
    EXPECT_EQ(Position(s), 1000);
    ASSERT_EQ(p.Request({{"command", "key"}, {"key", key}})["ok"], true);
    s = p.WaitFor([](const json& s) { return Position(s) > 1100; }, kPatienceMs, &met);
    EXPECT_TRUE(met) << s.dump() << "\n" << p.LogTail();
    EXPECT_FALSE(s["waiting"]);
    EXPECT_EQ(s["slide"], 1);
    // Seeking back before the stop arms it again.
    ASSERT_EQ(p.Request({{"command", "seek"}, {"position", 600}})["ok"], true);
  }
}

TEST(LumviewerPlay, ALoopSlideReplaysWithoutPassingItsEnd) {
  TTempDir dir;
  // Slide 2 (1000..2000) loops over what follows its 300 ms dissolve: it
  // jumps back to 1300 each time it reaches 2000.
  const std::string show = dir.Write(
      "s/Project.lum",
      ShowText(
          {{1000, kRed}, {2000, kGreen, "Pers_EndAction=loop\n" + DissolveIn(300)}, {3000, kBlue}},
          kDissolveEffects));
  TPlayer p(dir.Path(), show);
  START(p);
  bool met = false;
  json s = p.WaitFor([](const json& s) { return Position(s) >= 1300; }, kPatienceMs, &met);
  ASSERT_TRUE(met) << s.dump() << "\n" << p.LogTail();
  double last = Position(s), low = last, high = last;
  int jumps = 0;
  // Until it has come close to the end and jumped back twice, however slowly.
  const auto t0 = Clock::now();
  while ((jumps < 2 || high <= 1900) && Seconds(t0, Clock::now()) * 1000 < kPatienceMs) {
    s = p.Status();
    const double x = Position(s);
    EXPECT_FALSE(s["waiting"]) << x;
    if (x < last) ++jumps;
    low = std::min(low, x);
    high = std::max(high, x);
    last = x;
    Sleep(25);
  }
  std::cout << "loop: " << jumps << " jumps back, positions " << low << " .. " << high << "\n";
  EXPECT_GE(jumps, 2);
  EXPECT_GE(low, 1300);
  EXPECT_LT(high, 2000);
  EXPECT_GT(high, 1900);
}

TEST(LumviewerPlay, ARepeatingShowRunsOnPastItsDuration) {
  TTempDir dir;
  const std::string show =
      dir.Write("s/Project.lum", ShowText({{700, kRed}, {1400, kGreen}}, "opt_repeat=repeat\n"));
  TPlayer p(dir.Path(), show);
  START(p);
  bool met = false;
  json s = p.WaitFor([](const json& s) { return s["active"].get<bool>(); }, kPatienceMs, &met);
  ASSERT_TRUE(met) << s.dump() << "\n" << p.LogTail();
  // Past the end of the show into its repetition, without going back and
  // without jumping on: between two answers the position moves no more than
  // the wall clock from the first request to the second answer. A jump would
  // skip a slide (700 ms); the slack is for an engine that fell behind.
  auto asked = Clock::now();
  const auto t0 = asked;
  s = p.Status();
  double last = Position(s), biggestLead = -1e9;
  while (last <= 1400 + 500 && Seconds(t0, Clock::now()) * 1000 < kPatienceMs) {
    Sleep(30);
    const auto askedNow = Clock::now();
    s = p.Status();
    const double x = Position(s);
    EXPECT_GE(x, last) << "the position went back";
    biggestLead = std::max(biggestLead, (x - last) - Seconds(asked, Clock::now()) * 1000);
    last = x;
    asked = askedNow;
  }
  std::cout << "repeat: last position " << last << ", most ahead of the wall clock " << biggestLead
            << " ms\n";
  EXPECT_GT(last, 1400 + 500);
  EXPECT_LT(biggestLead, 400);
  EXPECT_FALSE(s["ended"]);
  EXPECT_EQ(s["endReports"], 0);
}

TEST(LumviewerPlay, AShowThatStopsReportsItsEndOnceAndRestsOnItsLastSlide) {
  TTempDir dir;
  const std::string show =
      dir.Write("s/Project.lum", ShowText({{600, kRed}, {1200, kGreen}}, "opt_repeat=stop\n"));
  TPlayer p(dir.Path(), show);
  START(p);
  bool met = false;
  json s = p.WaitFor([](const json& s) { return s["ended"].get<bool>(); }, kPatienceMs, &met);
  ASSERT_TRUE(met) << s.dump() << "\n" << p.LogTail();
  // The end notification reaches the window thread just after the engine's flag.
  s = p.WaitFor([](const json& s) { return s["endReports"] == 1; }, kPatienceMs, &met);
  EXPECT_EQ(s["endReports"], 1);
  EXPECT_EQ(Position(s), 1200);
  EXPECT_EQ(s["duration"], 1200);
  Sleep(700);
  s = p.Status();
  EXPECT_TRUE(s["ended"]);
  EXPECT_FALSE(s["active"]);
  EXPECT_EQ(s["endReports"], 1);
  EXPECT_EQ(Position(s), 1200);
  EXPECT_EQ(s["slide"], 1);
  // It rests on its last slide.
  const std::string out = dir / "end.png";
  const json shot = p.Request({{"command", "screenshot"}, {"path", out}});
  ASSERT_EQ(shot["ok"], true) << shot.dump();
  EXPECT_EQ(test::ReadPicture(out).At(160, 120), (test::TRgb{0, 255, 0}))
      << "the frame at the end is not the last slide's";

  // Sent back into the show, it plays again and is no longer at its end.
  ASSERT_EQ(p.Request({{"command", "seek"}, {"position", 300}})["ok"], true);
  s = p.WaitFor([](const json& s) { return Position(s) > 350 && Position(s) < 1200; }, kPatienceMs,
                &met);
  EXPECT_TRUE(met) << s.dump();
  EXPECT_FALSE(s["ended"]) << "the status still reports the end while the show plays at "
                           << Position(s);
  s = p.WaitFor([](const json& s) { return Position(s) == 1200; }, kPatienceMs, &met);
  EXPECT_TRUE(met) << s.dump();
  EXPECT_TRUE(s["ended"]);
}

TEST(LumviewerPlay, AShowThatClosesEndsThePlayer) {
  TTempDir dir;
  const std::string show =
      dir.Write("s/Project.lum", ShowText({{500, kRed}, {1000, kGreen}}, "opt_repeat=close\n"));
  TPlayer p(dir.Path(), show);
  START(p);
  const auto t0 = Clock::now();
  while (p.Running() && Seconds(t0, Clock::now()) * 1000 < kPatienceMs) Sleep(20);
  EXPECT_FALSE(p.Running()) << "still running long after the start of a 1 s show that closes\n"
                            << p.LogTail(10);
  EXPECT_EQ(p.Stop(), 0);
}

TEST(LumviewerPlay, ASlideThatFailsToPrepareIsPassedOver) {
  TTempDir dir;
  const std::string show = dir.Write(
      "s/Project.lum",
      ShowText(
          {{700, kRed}, {1400, kGreen, "", "object NoGuid:Box\nSize=1,1\nend\n"}, {2100, kBlue}},
          "opt_repeat=stop\n"));
  TPlayer p(dir.Path(), show);
  START(p);
  bool met = false;
  json s = p.WaitFor([](const json& s) { return s["slide"] == 2 && Position(s) > 1500; },
                     kPatienceMs, &met);
  ASSERT_TRUE(met) << s.dump() << "\n" << p.LogTail();
  // The slide after it is on screen.
  ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
  const std::string out = dir / "third.png";
  const json shot = p.Request({{"command", "screenshot"}, {"path", out}});
  ASSERT_EQ(shot["ok"], true) << shot.dump();
  const test::TPixels f = test::ReadPicture(out);
  ASSERT_EQ(f.width, 320);
  EXPECT_EQ(f.At(160, 120), (test::TRgb{0, 0, 255}));
  ASSERT_EQ(p.Request({{"command", "play"}})["ok"], true);
  s = p.WaitFor([](const json& s) { return s["ended"].get<bool>(); }, kPatienceMs, &met);
  EXPECT_TRUE(met) << s.dump();
  EXPECT_EQ(Position(s), 2100);
  // Each slide, the failed one's stand-in included, was drawn.
  EXPECT_GE(s["framesDrawn"].get<int64_t>(), 3);
  EXPECT_NE(p.Log().find("slide 1 could not be prepared"), std::string::npos);
}

TEST(LumviewerPlay, StartsWhereTheCommandLineSaysAndFollowsRequests) {
  TTempDir dir;
  const std::string show =
      dir.Write("s/Project.lum",
                ShowText({{1000, kRed}, {2000, kGreen}, {3000, kBlue}}, "opt_repeat=repeat\n"));
  TPlayer p(dir.Path(), show, {"-slide", "2"});
  START(p);
  bool met = false;
  json s = p.WaitFor([](const json& s) { return s["active"].get<bool>(); }, kPatienceMs, &met);
  ASSERT_TRUE(met) << s.dump();
  EXPECT_GE(Position(s), 1000) << s.dump();
  EXPECT_LT(Position(s), 1800) << s.dump();
  EXPECT_EQ(s["show"], show);
  EXPECT_EQ(s["window"], json::array({320, 240}));
  EXPECT_FALSE(s["fullscreen"]);
  // A slide button's action.
  ASSERT_EQ(p.Request({{"command", "action"}, {"text", "gotoslide(3)"}})["ok"], true);
  s = p.WaitFor([](const json& s) { return s["slide"] == 2; }, kPatienceMs, &met);
  EXPECT_TRUE(met) << s.dump();
  EXPECT_GE(Position(s), 2000);
  EXPECT_LT(Position(s), 2500);
  ASSERT_EQ(p.Request({{"command", "toggle"}})["ok"], true);
  s = p.WaitFor([](const json& s) { return s["paused"] == true && s["active"] == false; }, 3000,
                &met);
  EXPECT_TRUE(met) << s.dump();
  const double held = Position(s);
  Sleep(300);
  EXPECT_EQ(Position(p.Status()), held);
  ASSERT_EQ(p.Request({{"command", "toggle"}})["ok"], true);
  s = p.WaitFor([&](const json& s) { return Position(s) > held + 100; }, kPatienceMs, &met);
  EXPECT_TRUE(met) << s.dump();
  EXPECT_FALSE(s["paused"]);
}

TEST(LumviewerPlay, KeysAndClicksNavigateAndEscapeEnds) {
  TTempDir dir;
  // A button over the whole of slide 1; the right button means "next slide".
  const std::string button =
      "object Button:Box\nGUID={0B1C2D3E-4F50-6172-8394-A5B6C7D8E9F0}\nSize=320,240\n"
      "Color1=255,255,255\nAction=gotoslide(3)\nobject K:KeyPoint\nTime=0\nPosition=0,0\nend\n"
      "end\n";
  const std::string show = dir.Write(
      "s/Project.lum", ShowText({{2000, kRed, "", button}, {4000, kGreen}, {6000, kBlue}},
                                "opt_repeat=repeat\nopt_rightmouse=Next slide\n"));
  TPlayer p(dir.Path(), show);
  START(p);
  bool met = false;
  auto slideIs = [&](int n) {
    return p.WaitFor([n](const json& s) { return s["slide"] == n; }, kPatienceMs, &met);
  };
  // Pointer events of the first second after the window appeared are ignored.
  Sleep(1100);
  ASSERT_EQ(p.Request({{"command", "click"}, {"x", 160}, {"y", 120}})["ok"], true);
  json s = slideIs(2);
  EXPECT_TRUE(met) << "the button's action: " << s.dump();
  ASSERT_EQ(p.Request({{"command", "key"}, {"key", "Home"}})["ok"], true);
  s = slideIs(0);
  EXPECT_TRUE(met) << "Home: " << s.dump();
  ASSERT_EQ(p.Request({{"command", "click"}, {"x", 5}, {"y", 5}, {"button", "right"}})["ok"], true);
  s = slideIs(1);
  EXPECT_TRUE(met) << "right button: " << s.dump();
  ASSERT_EQ(p.Request({{"command", "key"}, {"key", "End"}})["ok"], true);
  s = slideIs(2);
  EXPECT_TRUE(met) << "End: " << s.dump();
  ASSERT_EQ(p.Request({{"command", "key"}, {"key", "Left"}})["ok"], true);
  s = slideIs(1);
  EXPECT_TRUE(met) << "Left: " << s.dump();
  // Escape ends the player as its close button does.
  p.Request({{"command", "key"}, {"key", "Escape"}});
  for (int i = 0; i < 100 && p.Running(); ++i) Sleep(50);
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.Stop(), 0);
}

TEST(LumviewerPlay, AFullScreenShowCoversTheMonitor) {
  TTempDir dir;
  std::string text = ShowText({{1500, kRed}, {3000, kGreen}}, "opt_repeat=repeat\n");
  text.replace(text.find("opt_scr_full=0"), 14, "opt_scr_full=1");
  const std::string show = dir.Write("s/Project.lum", text);
  TPlayer p(dir.Path(), show);
  START(p);
  bool met = false;
  json s =
      p.WaitFor([](const json& s) { return s["framesDrawn"].get<int>() > 2; }, kPatienceMs, &met);
  ASSERT_TRUE(met) << s.dump();
  EXPECT_TRUE(s["fullscreen"].get<bool>()) << s.dump();
  // The 4 : 3 design is fitted into the monitor, letterboxed in black.
  const int w = s["window"][0], h = s["window"][1];
  EXPECT_GE(w, 640);
  EXPECT_GE(h, 480);
  const std::string out = dir / "full.png";
  ASSERT_EQ(p.Request({{"command", "screenshot"}, {"path", out}})["ok"], true);
  test::TPixels f = test::ReadPicture(out);
  ASSERT_EQ(f.width, w);
  ASSERT_EQ(f.height, h);
  const test::TRgb centre = f.At(w / 2, h / 2);
  EXPECT_GT(centre.r + centre.g, 200) << "a slide in the middle";
}

// ---- frames

struct TDifference {
  double meanAbs[3] = {0, 0, 0};
  double withinShare = 0;  // pixels whose channels all lie within the tolerance
  int worst = 0;
};

TDifference Compare(const test::TPixels& a, const test::TPixels& b, int tolerance) {
  TDifference d;
  int64_t within = 0;
  for (size_t i = 0; i < a.px.size(); ++i) {
    const int dr = std::abs(a.px[i].r - b.px[i].r), dg = std::abs(a.px[i].g - b.px[i].g),
              db = std::abs(a.px[i].b - b.px[i].b);
    d.meanAbs[0] += dr;
    d.meanAbs[1] += dg;
    d.meanAbs[2] += db;
    const int m = std::max({dr, dg, db});
    d.worst = std::max(d.worst, m);
    within += m <= tolerance;
  }
  for (double& m : d.meanAbs) m /= double(a.px.size());
  d.withinShare = double(within) / double(a.px.size());
  return d;
}

TEST(LumviewerFrames, ScreenshotsMatchTheRenderedFrames) {
  TTempDir dir;
  // A vertical gradient, a dissolve into a flat slide with a box on it.
  const std::string box =
      "object B:Box\nGUID={1}\nSize=100,60\nFitMode=None\nPosMode=Absolute\n"
      "Color1=255,255,255\nobject K:KeyPoint\nTime=0\nPosition=-60,30\nend\nend\n";
  const std::string show =
      dir.Write("s/Project.lum",
                ShowText({{2000, kRed, "bstyle=3\nbcolorstyle=1\nbcolor1=255\nbcolor2=16711680\n"},
                          {4000, kBlue, DissolveIn(1000), box}},
                         kDissolveEffects + "opt_repeat=stop\n"));
  TPlayer p(dir.Path(), show);
  START(p);
  ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
  for (double t : {1000.0, 2500.0, 3500.0, 600.0}) {
    SCOPED_TRACE("at " + std::to_string(t) + " ms");
    ASSERT_EQ(p.Request({{"command", "seek"}, {"position", t}})["ok"], true);
    bool met = false;
    json s = p.WaitFor([&](const json& s) { return s["paused"] && Position(s) == t; }, kPatienceMs,
                       &met);
    ASSERT_TRUE(met) << s.dump();
    // The capture waits for the slides of the new position to be loaded.
    const std::string out = dir / ("player" + std::to_string(int(t)) + ".png");
    const json shot = p.Request({{"command", "screenshot"}, {"path", out}});
    ASSERT_EQ(shot["ok"], true) << shot.dump() << "\n" << p.LogTail();
    EXPECT_EQ(shot["width"], 320);
    EXPECT_EQ(shot["height"], 240);
    const std::string ref = dir / ("render" + std::to_string(int(t)) + ".png");
    const test::TCommandResult r =
        Lumshow({"render", show, "--time", std::to_string(int(t)), "--size", "320x240", "-o", ref});
    ASSERT_EQ(r.status, 0) << r.err;
    const test::TPixels a = test::ReadPicture(out), b = test::ReadPicture(ref);
    ASSERT_EQ(a.width, b.width);
    ASSERT_EQ(a.height, b.height);
    const TDifference d = Compare(a, b, 8);
    std::cout << "frame at " << t << " ms: mean difference " << d.meanAbs[0]
              << " " << d.meanAbs[1] << " " << d.meanAbs[2] << ", " << d.withinShare * 100
              << " % within 8, worst " << d.worst << "\n";
    for (double m : d.meanAbs) EXPECT_LT(m, 1.5);
    EXPECT_GT(d.withinShare, 0.99);
  }
  // Halfway through the dissolve the top row is half the first slide's red, half blue.
  const test::TPixels mid = test::ReadPicture(dir / "player2500.png");
  EXPECT_NEAR(mid.At(300, 2).b, 128, 6);
}

// ---- sound

// Interleaved 16-bit stereo frames of a WAV file's data chunk.
std::vector<int16_t> WavSamples(const std::string& bytes) {
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    uint32_t size;
    std::memcpy(&size, bytes.data() + pos + 4, 4);
    if (bytes.compare(pos, 4, "data") == 0) {
      const size_t n = std::min<size_t>(size, bytes.size() - pos - 8) / 2;
      std::vector<int16_t> s(n);
      std::memcpy(s.data(), bytes.data() + pos + 8, n * 2);
      return s;
    }
    pos += 8 + size + (size & 1);
  }
  return {};
}

// Mean loudness of each millisecond.
std::vector<double> Envelope(const std::vector<int16_t>& s) {
  std::vector<double> e;
  const size_t frames = s.size() / 2;
  for (size_t k = 0;; ++k) {
    const size_t a = size_t(std::floor(double(k) * 44.1)),
                 b = size_t(std::floor(double(k + 1) * 44.1));
    if (b > frames) break;
    double sum = 0;
    for (size_t f = a; f < b; ++f) sum += std::abs(s[2 * f]) + std::abs(s[2 * f + 1]);
    e.push_back(sum / double(b - a));
  }
  return e;
}

// Pearson correlation of ref with x[lag ...].
template <class T>
double Correlation(const std::vector<T>& ref, const std::vector<T>& x, size_t lag,
                   size_t step = 1) {
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  size_t n = 0;
  for (size_t i = 0; i < ref.size() && lag + i < x.size(); i += step) {
    const double a = ref[i], b = x[lag + i];
    sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
    ++n;
  }
  if (n < 2) return 0;
  const double va = saa - sa * sa / double(n), vb = sbb - sb * sb / double(n);
  return va <= 0 || vb <= 0 ? 0 : (sab - sa * sb / double(n)) / std::sqrt(va * vb);
}

TEST(LumviewerSound, TheDeviceGetsTheShowsMixedSound) {
  TTempDir dir;
  dir.Write("s/m.wav", WavFile(BurstNoise(3000, 7)));
  const std::string show = dir.Write(
      "s/Project.lum",
      ShowText({{1500, kRed}, {3000, kGreen}},
               "opt_repeat=stop\nobject Music:Music\n object T:TMusicTrack\n"
               "  object I:TMusicItem\n   FileName=m.wav\n   Duration=3000\n  end\n end\nend\n"));
  const std::string raw = dir / "device.raw";
  TPlayer p(dir.Path(), show, {}, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + raw});
  const auto started = Clock::now();
  START(p);
  // How far the show clock is ahead of what the device has taken so far.
  std::vector<double> leads;
  std::vector<std::pair<double, double>> samples;  // position, device frames
  json s;
  for (;;) {
    s = p.Status();
    struct stat st {};
    if (s["active"] == true && stat(raw.c_str(), &st) == 0)
      samples.emplace_back(Position(s), double(st.st_size) / 4);
    if (s["ended"] == true || Seconds(started, Clock::now()) > 12) break;
    Sleep(50);
  }
  ASSERT_TRUE(s["ended"]) << s.dump() << "\n" << p.LogTail();
  const double wall = Seconds(started, Clock::now());
  Sleep(300);
  ASSERT_EQ(p.Stop(), 0) << p.LogTail();

  const std::string bytes = test::ReadFile(raw);
  ASSERT_GT(bytes.size(), 44100u * 4 * 3) << "the device got less than the show's 3 s";
  std::vector<int16_t> got(bytes.size() / 2);
  std::memcpy(got.data(), bytes.data(), got.size() * 2);
  const test::TCommandResult r =
      Lumshow({"audio", show, "-o", dir / "ref.wav", "--from", "0", "--to", "3000"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<int16_t> ref = WavSamples(test::ReadFile(dir / "ref.wav"));
  ASSERT_EQ(ref.size(), 3000u * 441 / 10 * 2);

  // Coarse: the loudness envelopes, millisecond by millisecond.
  const std::vector<double> eg = Envelope(got), er = Envelope(ref);
  ASSERT_GT(eg.size(), er.size());
  size_t bestLag = 0;
  double best = -1;
  for (size_t lag = 0; lag + er.size() <= eg.size(); ++lag) {
    const double c = Correlation(er, eg, lag);
    if (c > best) best = c, bestLag = lag;
  }
  // Fine: the left channel sample by sample around it.
  std::vector<int16_t> refLeft, gotLeft;
  for (size_t i = 0; i < ref.size(); i += 2) refLeft.push_back(ref[i]);
  for (size_t i = 0; i < got.size(); i += 2) gotLeft.push_back(got[i]);
  const int64_t centre = int64_t(double(bestLag) * 44.1);
  int64_t bestFrame = centre;
  double bestFine = -1;
  for (int64_t f = std::max<int64_t>(0, centre - 200); f <= centre + 200; ++f) {
    const double c = Correlation(refLeft, gotLeft, size_t(f), 7);
    if (c > bestFine) bestFine = c, bestFrame = f;
  }
  const double offsetMs = double(bestFrame) / 44.1;
  // The clock's lead over the device (the file trails by the writer's buffer).
  for (auto [position, frames] : samples) leads.push_back(position - (frames / 44.1 - offsetMs));
  std::sort(leads.begin(), leads.end());
  const double lead = leads.empty() ? 0 : leads[leads.size() / 2];
  std::cout << "sound: show time 0 at " << offsetMs << " ms of the device stream; envelope "
            << "correlation " << best << ", sample correlation " << bestFine << "; clock ahead of "
            << "the device's intake by " << lead << " ms (median of " << leads.size()
            << "); device stream " << double(got.size() / 2) / 44.1 << " ms in " << wall * 1000
            << " ms of wall clock\n";
  // A wrong or missing mix correlates near 0; a loaded machine's scheduling
  // gaps in the device stream cost the envelope a few hundredths.
  EXPECT_GT(best, 0.9);
  EXPECT_GT(bestFine, 0.95);
  // The whole show went out in one piece: the match holds over its second half too.
  std::vector<int16_t> refTail(refLeft.begin() + 66150, refLeft.end());
  EXPECT_GT(Correlation(refTail, gotLeft, size_t(bestFrame + 66150), 3), 0.95);
}

// ---- control input

TEST(LumviewerControl, HostileInputLeavesThePlayerAnswering) {
  TTempDir dir;
  const std::string a =
      dir.Write("a/Project.lum",
                ShowText({{1000, kRed}, {2000, kGreen}, {3000, kBlue}}, "opt_repeat=repeat\n"));
  TPlayer p(dir.Path(), a);
  START(p);
  auto alive = [&] {
    const json s = p.Status();
    EXPECT_EQ(s["ok"], true) << s.dump();
  };

  TControlClient c;
  ASSERT_TRUE(c.Connect(p.SocketPath()));
  auto ask = [&](const std::string& line) {
    EXPECT_TRUE(c.Send(line));
    return json::parse(c.ReadLine(5000));
  };
  json r = ask("{\"command\":\"status\"\n");
  EXPECT_EQ(r["ok"], false);
  EXPECT_NE(r.value("error", "").find("malformed"), std::string::npos) << r.dump();
  r = ask("{\"command\":\"dance\"}\n");
  EXPECT_EQ(r["ok"], false);
  EXPECT_NE(r.value("error", "").find("unknown command"), std::string::npos) << r.dump();
  r = ask("[1,2,3]\n");
  EXPECT_EQ(r["ok"], false);
  r = ask("{\"command\":\"seek\",\"position\":-5}\n");
  EXPECT_EQ(r["ok"], false);
  r = ask("{\"command\":\"open\",\"show\":\"" + dir / "missing/Project.lum" + "\"}\n");
  EXPECT_EQ(r["ok"], false);
  // The same connection still serves; the failed open left the show playing.
  r = ask("{\"command\":\"status\"}\n");
  EXPECT_EQ(r["ok"], true);
  EXPECT_EQ(r["show"], a);
  EXPECT_FALSE(r["paused"]);

  // A line over the limit: an error, then the connection is closed.
  TControlClient longLine;
  ASSERT_TRUE(longLine.Connect(p.SocketPath()));
  longLine.Send(std::string(70 * 1024, 'x') + "\n");
  r = json::parse(longLine.ReadLine(5000));
  EXPECT_EQ(r["ok"], false);
  EXPECT_NE(r.value("error", "").find("too long"), std::string::npos) << r.dump();
  EXPECT_TRUE(longLine.ClosedByPeer(5000));
  alive();

  // Clients that leave before their reply, one of them mid-screenshot.
  for (int i = 0; i < 5; ++i) {
    TControlClient gone;
    ASSERT_TRUE(gone.Connect(p.SocketPath()));
    gone.Send("{\"command\":\"screenshot\",\"path\":\"" + dir / "gone.png" +
              "\"}\n{\"command\":\"status\"}\n{\"command\":\"status\"");
  }
  alive();

  // More clients than it serves at once: the extra ones are told so.
  std::vector<TControlClient> crowd(20);
  int refused = 0;
  for (TControlClient& k : crowd) {
    ASSERT_TRUE(k.Connect(p.SocketPath()));
  }
  for (TControlClient& k : crowd) {
    k.Send("{\"command\":\"status\"}\n");
    try {
      const json answer = json::parse(k.ReadLine(5000));
      if (answer["ok"] == false) ++refused;
    } catch (const std::exception&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_LT(refused, 20);
  crowd.clear();
  alive();
  EXPECT_EQ(p.Stop(), 0) << p.LogTail();
}

TEST(LumviewerControl, ABurstOfRequestsEndsInTheLastOnesState) {
  TTempDir dir;
  const std::string a =
      dir.Write("a/Project.lum",
                ShowText({{1000, kRed}, {2000, kGreen}, {3000, kBlue}}, "opt_repeat=repeat\n"));
  const std::string b =
      dir.Write("b/Project.lum", ShowText({{1500, kBlue}, {3000, kGreen}}, "opt_repeat=repeat\n"));
  TPlayer p(dir.Path(), a);
  START(p);
  // 2000 requests written without waiting for the replies, with shows being
  // opened in the middle of it.
  std::mt19937 rng(11);
  std::vector<std::string> lines;
  std::string lastShow = a;
  for (int i = 0; i < 2000; ++i) {
    if (i % 400 == 200) {
      lastShow = lastShow == a ? b : a;
      lines.push_back(json{{"command", "open"}, {"show", lastShow}}.dump());
      continue;
    }
    switch (rng() % 3) {
      case 0:
        lines.push_back(json{{"command", "seek"}, {"position", double(rng() % 2900)}}.dump());
        break;
      case 1:
        lines.push_back(R"({"command":"pause"})");
        break;
      default:
        lines.push_back(R"({"command":"play"})");
        break;
    }
  }
  lines.push_back(R"({"command":"seek","position":1234})");
  lines.push_back(R"({"command":"pause"})");
  std::string out;
  for (const std::string& l : lines) out += l + "\n";

  TControlClient burst;
  ASSERT_TRUE(burst.Connect(p.SocketPath()));
  const auto t0 = Clock::now();
  size_t sent = 0, answered = 0, failed = 0;
  std::string in;
  while (answered < lines.size() && Seconds(t0, Clock::now()) < 30) {
    pollfd fd{burst.Fd(), short(POLLIN | (sent < out.size() ? POLLOUT : 0)), 0};
    if (poll(&fd, 1, 1000) <= 0) continue;
    if (fd.revents & POLLOUT) {
      const ssize_t n =
          send(burst.Fd(), out.data() + sent, out.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) sent += size_t(n);
    }
    if (fd.revents & (POLLIN | POLLHUP)) {
      char buf[65536];
      const ssize_t n = recv(burst.Fd(), buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      in.append(buf, size_t(n));
      for (size_t end; (end = in.find('\n')) != std::string::npos;) {
        const json reply = json::parse(in.substr(0, end));
        in.erase(0, end + 1);
        if (reply["ok"] != true) {
          ++failed;
          ADD_FAILURE() << "request " << answered << " " << lines[answered] << ": " << reply.dump();
        }
        ++answered;
      }
    }
  }
  const double took = Seconds(t0, Clock::now());
  std::cout << "burst: " << answered << " of " << lines.size() << " answered in " << took << " s\n";
  ASSERT_EQ(answered, lines.size()) << p.LogTail();
  EXPECT_EQ(failed, 0u);

  bool met = false;
  json s = p.WaitFor(
      [](const json& s) {
        // The final seek comes last: the engine ends exactly there.
        return s["paused"] == true && s["active"] == false && Position(s) == 1234;
      },
      kPatienceMs, &met);
  EXPECT_TRUE(met) << s.dump();
  std::cout << "burst: settled " << Seconds(t0, Clock::now()) - took << " s later at "
            << Position(s) << "\n";
  EXPECT_EQ(s["show"], lastShow);
  Sleep(400);
  const json settled = p.Status();
  EXPECT_EQ(Position(settled), Position(s));
  EXPECT_TRUE(settled["paused"]);
  EXPECT_EQ(p.Stop(), 0) << p.LogTail();
}

// ---- resources

// The paused player's processor time is a figure for bench_player (target
// 2 % of a core); here it only must not spin: a busy loop takes a whole core.
TEST(LumviewerResources, APausedPlayerStandsStillWithoutSpinning) {
  TTempDir dir;
  TPlayer p(dir.Path(), DEMO_SHOW_PATH);
  START(p);
  bool met = false;
  json s =
      p.WaitFor([](const json& s) { return s["active"] && Position(s) > 500; }, kPatienceMs, &met);
  ASSERT_TRUE(met) << s.dump();
  ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
  s = p.WaitFor([](const json& s) { return s["active"] == false; }, kPatienceMs, &met);
  ASSERT_TRUE(met) << s.dump();
  Sleep(300);
  const double before = p.CpuSeconds();
  const auto t0 = Clock::now();
  Sleep(2000);
  const double used = p.CpuSeconds() - before, wall = Seconds(t0, Clock::now());
  ASSERT_GE(before, 0);
  const json after = p.Status();
  std::cout << "paused: " << used * 1000 << " ms of processor time in " << wall * 1000 << " ms ("
            << 100 * used / wall << " % of one core)\n";
  EXPECT_LT(used / wall, 0.5);
  EXPECT_EQ(Position(after), Position(s));
  EXPECT_TRUE(after["paused"]);
}

}  // namespace
}  // namespace lum
