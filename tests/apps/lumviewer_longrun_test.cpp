// A player running for days: a repeating show hours in has position, slide,
// video frame and music where its first pass has them, on both sides of the
// loop point; another show opened takes the old one's resources with it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/player_run.h"
#include "support/temp_dir.h"
#include "support/test_sound.h"

namespace lum {
namespace {

using nlohmann::json;
using test::BurstNoise;
using test::TPlayer;
using test::WavFile;

constexpr double kShowMs = 6000;
constexpr double kFar = 200 * kShowMs;  // 200 passes: 20 minutes in

// Slide 1 (red) shows a 5 fps clip of 15 frames for its 3000 ms, slide 2 is
// green; synchronised music as long as the show repeats with it.
std::string RepeatingShowText() {
  return "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
         "opt_withoutborder=1\nopt_repeat=repeat\nopt_syncmode=1\n"
         "object Music:Music\n object T:TMusicTrack\n  object I:TMusicItem\n   FileName=m.wav\n"
         "   Duration=6000\n  end\n end\nend\n"
         "[Times]\nopt_slidescount=2\nopt_synchpos1=3000\nopt_synchpos2=6000\n"
         "[Slide1]\nbstyle=1\nbcolor=255\nobject Container:Root\n"
         "object V:Video\nGUID={V}\nFitMode=None\nFileName=clip.fake\nDuration=3000\n"
         "object K:KeyPoint\nTime=0\nend\nend\nend\n"
         "[Slide2]\nbstyle=1\nbcolor=65280\nobject Container:Root\nend\n";
}

// Loudness of each millisecond of 16-bit stereo bytes from byte 'from' on.
std::vector<double> Envelope(const std::string& bytes, size_t from) {
  std::vector<double> e;
  const size_t frames = bytes.size() / 4;
  for (size_t k = 0;; ++k) {
    const size_t a = from / 4 + size_t(double(k) * 44.1),
                 b = from / 4 + size_t(double(k + 1) * 44.1);
    if (b > frames) break;
    double sum = 0;
    for (size_t f = a; f < b; ++f) {
      int16_t v[2];
      std::memcpy(v, bytes.data() + 4 * f, 4);
      sum += std::abs(v[0]) + std::abs(v[1]);
    }
    e.push_back(sum / double(b - a));
  }
  return e;
}

// Where x (a stretch of the device stream) lies in ref, in ms, and how well it fits.
std::pair<size_t, double> Locate(const std::vector<double>& x, const std::vector<double>& ref) {
  std::pair<size_t, double> best{0, -1};
  for (size_t lag = 0; lag + x.size() <= ref.size(); ++lag) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (size_t i = 0; i < x.size(); ++i) {
      const double a = x[i], b = ref[lag + i];
      sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
    }
    const double n = double(x.size()), va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    const double c = va <= 0 || vb <= 0 ? 0 : (sab - sa * sb / n) / std::sqrt(va * vb);
    if (c > best.second) best = {lag, c};
  }
  return best;
}

// Whether process pid holds a descriptor on a file of that name.
bool Holds(pid_t pid, const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const fs::path target = fs::read_symlink(fd.path(), ec);
    if (!ec && target.filename() == name) return true;
  }
  return false;
}

int Threads(pid_t pid) {
  std::error_code ec;
  auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec);
  return ec ? -1 : int(std::distance(it, std::filesystem::directory_iterator()));
}

class RepeatingShow : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("s/clip.fake", "FAKECLIP 200 150 5 1 15 0");
    dir.Write("s/m.wav", WavFile(BurstNoise(int(kShowMs), 11)));
    show = dir.Write("s/Project.lum", RepeatingShowText());
  }
  int64_t DeviceFrames() {
    struct stat st {};
    return stat(raw().c_str(), &st) == 0 ? int64_t(st.st_size) / 4 : 0;
  }
  std::string raw() const { return dir / "device.raw"; }
  void SeekPaused(TPlayer& p, double ms) {
    ASSERT_EQ(p.Request({{"command", "seek"}, {"position", ms}})["ok"], true);
    p.Expect([&](const json& s) { return s["paused"] == true && s["position"] == ms; },
             "paused at " + std::to_string(ms));
  }
  // The frame in the middle of the window: a clip frame n (grey of luma
  // 16 + 8 n), or -1 red for slide 1 without video, -2 green for slide 2.
  int Shown(TPlayer& p) {
    const std::string out = dir / "shot.png";
    EXPECT_EQ(p.Request({{"command", "screenshot"}, {"path", out}})["ok"], true);
    const test::TPixels px = test::ReadPicture(out);
    if (px.width <= 0) return -9;
    const test::TRgb c = px.At(px.width / 2, px.height / 2);
    if (c.r > 200 && c.g < 50) return -1;
    if (c.g > 200 && c.r < 50) return -2;
    if (std::abs(c.r - c.g) > 6) return -9;
    return int(std::lround(c.g / 1.164 / 8));
  }
  // What the window shows settles within a few frames of a seek.
  int ShownSettled(TPlayer& p, int want) {
    int got = -9;
    for (int i = 0; i < 20 && got != want; ++i) got = Shown(p);
    return got;
  }
  test::TTempDir dir;
  std::string show;
};

// Paused at the same place of pass 0 and of pass 200 (and of the pass after
// each, just past the loop point): the same slide and the same clip frame.
TEST_F(RepeatingShow, FarPassesShowWhatTheFirstShows) {
  TPlayer p(dir.Path(), show, {}, {std::string("LUM_VIDEO_PLUGIN=") + FAKE_CLIP_PLUGIN});
  std::string error;
  ASSERT_TRUE(p.Start(&error)) << error;
  ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
  struct TCase {
    double at;
    int64_t slide;  // in pass 0
    int shown;
  };
  const TCase cases[] = {{1400, 0, 7}, {2850, 0, 14}, {5950, 1, -2}, {6050, 2, 0}, {6400, 2, 2}};
  for (double base : {0.0, kFar, 1000 * kShowMs}) {
    const int64_t passes = std::llround(base / kShowMs);
    for (const TCase& c : cases) {
      SeekPaused(p, base + c.at);
      // The slide follows the position within a loop of the engine.
      p.Expect(
          [&](const json& s) { return s["slide"] == c.slide + 2 * passes; },
          "slide " + std::to_string(c.slide + 2 * passes) + " at " + std::to_string(base + c.at));
      EXPECT_EQ(ShownSettled(p, c.shown), c.shown) << base + c.at << "\n" << p.LogTail();
    }
  }
  EXPECT_EQ(p.Stop(), 0);
}

// A clip stays open while a slide of the moment may show it; once another
// show plays, the old one's clip file and decoder go.
TEST_F(RepeatingShow, AnotherShowLetsGoOfTheOldOnesClip) {
  const std::string plain =
      dir.Write("t/Project.lum",
                "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
                "opt_withoutborder=1\n[Times]\nopt_slidescount=1\nopt_synchpos1=3000\n"
                "[Slide1]\nbstyle=1\nbcolor=16711680\nobject Container:Root\nend\n");
  TPlayer p(dir.Path(), show, {}, {std::string("LUM_VIDEO_PLUGIN=") + FAKE_CLIP_PLUGIN});
  std::string error;
  ASSERT_TRUE(p.Start(&error)) << error;
  ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
  SeekPaused(p, kFar + 1400);
  ASSERT_EQ(ShownSettled(p, 7), 7);
  ASSERT_TRUE(Holds(p.Pid(), "clip.fake"));
  const int threads = Threads(p.Pid());
  ASSERT_EQ(p.Request({{"command", "open"}, {"show", plain}})["ok"], true);
  p.Expect([&](const json& s) { return s["show"] == plain && !Holds(p.Pid(), "clip.fake"); },
           "the clip let go");
  EXPECT_LT(Threads(p.Pid()), threads);  // its decoder's among them
  EXPECT_EQ(p.Stop(), 0);
}

// Played across the loop point in pass 0 and in pass 200: the clock runs on
// without a jump, stays with the sound device, the clip shows the frame of the
// clock, and the device plays the music of that moment (found in the show's
// own mix by its loudness), with the same lead over the clock in both passes.
TEST_F(RepeatingShow, MusicAndClipKeepStepAcrossTheLoopPoint) {
  TPlayer p(dir.Path(), show, {},
            {std::string("LUM_VIDEO_PLUGIN=") + FAKE_CLIP_PLUGIN, "SDL_AUDIODRIVER=disk",
             "SDL_DISKAUDIOFILE=" + raw()});
  std::string error;
  ASSERT_TRUE(p.Start(&error)) << error;
  ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
  const test::TCommandResult mix =
      test::Lumshow({"audio", show, "-o", dir / "ref.wav", "--from", "4000", "--to", "8000"});
  ASSERT_EQ(mix.status, 0) << mix.err;
  const std::string wav = test::ReadFile(dir / "ref.wav");
  const size_t data = wav.find("data");
  ASSERT_NE(data, std::string::npos);
  const std::vector<double> ref = Envelope(wav, data + 8);  // show time 4000 on

  std::vector<double> leads;
  // The first play of a process starts the sound device's clock, which
  // shifts it by a few ms once: it only warms up.
  for (double base : {0.0, 0.0, kFar}) {
    SeekPaused(p, base + 5300);
    const int64_t f0 = DeviceFrames();
    std::vector<std::pair<double, int64_t>> samples;  // position, device frames
    ASSERT_EQ(p.Request({{"command", "play"}})["ok"], true);
    json s;
    for (int i = 0; i < 200; ++i) {
      s = p.Status();
      if (s["active"] == true) {
        // The clock before smoothing: what the music is measured against.
        samples.emplace_back(s["position"].get<double>() - s["audioOffsetMs"].get<double>(),
                             DeviceFrames());
        // Within 20 ms, the bound itself included.
        EXPECT_LE(std::fabs(s["audioOffsetMs"].get<double>()), 20 + 1e-6) << s.dump();
      }
      if (s["position"].get<double>() > base + 6700) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    ASSERT_EQ(p.Request({{"command", "pause"}})["ok"], true);
    s = p.Expect([](const json& s) { return s["active"] == false; }, "stopped");
    const double at = s["position"].get<double>();
    ASSERT_GT(at, base + 6700) << s.dump();
    ASSERT_LT(at, base + 9000) << s.dump();
    p.Expect([&](const json& s) { return s["slide"] == 2 + 2 * std::llround(base / kShowMs); },
             "the first slide of the next pass");
    const int frame = int(std::lround((at - base - kShowMs) * 5 / 1000));
    EXPECT_EQ(ShownSettled(p, frame), frame) << at;

    // The device's stream from the play request on, found in the mix.
    const std::string bytes = test::ReadFile(raw());
    const std::vector<double> got = Envelope(bytes, size_t(f0) * 4);
    ASSERT_GT(got.size(), 1300u);
    const std::vector<double> excerpt(got.begin() + 300, got.begin() + 1300);
    const auto [lag, fit] = Locate(excerpt, ref);
    // A wrong stretch correlates near 0; the fades where channels start
    // and the loop point cost a good one a little.
    EXPECT_GT(fit, 0.75) << base;
    // Show time at device frame f: 4000 + lag + (f - f0) / 44.1 - 300.
    std::vector<double> lead;
    for (auto [position, frames] : samples)
      lead.push_back(position - base - (4000 + double(lag) + double(frames - f0) / 44.1 - 300));
    ASSERT_FALSE(lead.empty());
    std::nth_element(lead.begin(), lead.begin() + lead.size() / 2, lead.end());
    leads.push_back(lead[lead.size() / 2]);
    std::cout << "pass " << std::llround(base / kShowMs) << ": the device's music fits the mix "
              << fit << " at " << 4000 + lag - 300 << " ms; the clock leads it by " << leads.back()
              << " ms\n";
  }
  // What the device writes trails its intake by its buffer: the same in both,
  // but for the clock's own play of up to 20 ms either side of the sound on a
  // loaded machine. Drift would grow with the 800 passes between them.
  EXPECT_LE(std::fabs(leads[2] - leads[1]), 40) << leads[1] << " " << leads[2];
  EXPECT_EQ(p.Stop(), 0);
}

}  // namespace
}  // namespace lum
