// lumshow audio on shows whose sounds sox makes at test time, against a mix
// computed here from sox's own decodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Lumshow;
using test::RunCommand;
using test::TTempDir;

// Interleaved 16-bit stereo samples of a sound file, decoded by sox.
std::vector<int16_t> SoxSamples(const std::string& path) {
  auto r = RunCommand({"/usr/bin/sox", path, "-t", "raw", "-e", "signed-integer", "-b", "16", "-c",
                       "2", "-r", "44100", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<int16_t> s(r.out.size() / 2);
  std::memcpy(s.data(), r.out.data(), s.size() * 2);
  return s;
}

void Sox(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/usr/bin/sox"};
  argv.insert(argv.end(), args.begin(), args.end());
  auto r = RunCommand(argv);
  ASSERT_EQ(r.status, 0) << r.err;
}

int64_t Frame(double ms) {
  return int64_t(std::floor(ms * 44.1));
}

struct TPiece {
  const std::vector<int16_t>* samples;
  double start;  // show ms
  double gain;
  double tolerance = 2;  // our resampler and sox's differ a little
};

// Compares [from, to) of the rendered samples with the sum of the pieces,
// away from the edges where the 10 ms fades shape the sound.
void ExpectMix(const std::vector<int16_t>& got, double from, double to,
               const std::vector<TPiece>& pieces, const std::vector<double>& edges) {
  ASSERT_EQ(got.size(), size_t(Frame(to) - Frame(from)) * 2);
  int64_t compared = 0;
  for (int64_t f = Frame(from); f < Frame(to); ++f) {
    double ms = double(f) / 44.1;
    bool nearEdge = false;
    for (double e : edges) nearEdge = nearEdge || std::fabs(ms - e) < 25;
    if (nearEdge) continue;
    for (int c = 0; c < 2; ++c) {
      double want = 0, tolerance = 0;
      for (const TPiece& p : pieces) {
        int64_t k = f - Frame(p.start);
        if (k >= 0 && size_t(2 * k + c) < p.samples->size()) {
          want += std::round(p.gain * (*p.samples)[size_t(2 * k + c)]);
          tolerance += p.tolerance;
        }
      }
      int16_t have = got[size_t(2 * (f - Frame(from)) + c)];
      ASSERT_NEAR(have, want, std::max(tolerance, 1.0)) << "at " << ms << " ms, channel " << c;
    }
    ++compared;
  }
  EXPECT_GT(compared, (Frame(to) - Frame(from)) / 2);
}

class LumshowAudio : public ::testing::Test {
 protected:
  void SetUp() override {
    Sox({"-n", "-r", "44100", "-c", "2", "-b", "16", dir / "a.wav", "synth", "3", "sine", "440",
         "vol", "0.5"});
    // The comment is 22 kHz mono: the mixer converts it.
    Sox({"-n", "-r", "22050", "-c", "1", "-b", "16", dir / "b.wav", "synth", "1", "sine", "660",
         "vol", "0.5"});
    Sox({dir / "b.wav", "-r", "44100", "-c", "2", dir / "b44.wav"});
    a = SoxSamples(dir / "a.wav");
    b = SoxSamples(dir / "b44.wav");
  }
  std::string Show(const std::string& main) {
    return dir.Write("Project.lum",
                     "[Main]\n" + main +
                         "object Music:Music\n object T:TMusicTrack\n  object I:TMusicItem\n"
                         "   FileName=a.wav\n   Duration=3000\n  end\n end\nend\n"
                         "[Times]\nopt_slidescount=2\nopt_synchpos1=2000\nopt_synchpos2=4000\n"
                         "[Slide1]\n[Slide2]\nobject Music:Music\n object C:TSoundComment\n"
                         "  FileName=b.wav\n  Duration=1000\n  Volume=50\n end\nend\n");
  }
  std::vector<int16_t> Render(const std::string& show, std::vector<std::string> range) {
    std::vector<std::string> args{"audio", show, "-o", dir / "out.wav"};
    args.insert(args.end(), range.begin(), range.end());
    auto r = Lumshow(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return SoxSamples(dir / "out.wav");
  }

  TTempDir dir;
  std::vector<int16_t> a, b;
};

TEST_F(LumshowAudio, MusicAndASlideCommentMixAsThePlayerPlaysThem) {
  std::string show = Show("opt_syncmode=0\n");
  auto got = Render(show, {});
  ExpectMix(got, 0, 4000, {{&a, 0, 1.0}, {&b, 2000, 0.5, 40}}, {0, 2000, 3000});
}

TEST_F(LumshowAudio, SynchronisedMusicRestartsWithEachShowCycle) {
  std::string show = Show("opt_syncmode=1\nopt_repeat=repeat\n");
  auto got = Render(show, {"--from", "3000", "--to", "6500"});
  // Cycle 1 starts at 4000; its slide 2 comment at 6000.
  ExpectMix(got, 3000, 6500, {{&a, 4000, 1.0}, {&b, 6000, 0.5, 40}}, {3000, 4000, 6000});
}

TEST_F(LumshowAudio, FreeRunningMusicRepeatsOnItsOwnLength) {
  std::string show =
      dir.Write("Project.lum",
                "[Main]\nopt_syncmode=0\nobject Music:Music\n object O:TMusicOptions\n"
                "  IsRepeat=1\n end\n object I:TMusicItem\n  FileName=a.wav\n"
                "  Duration=3000\n end\nend\n[Times]\nopt_slidescount=1\nopt_synchpos1=4000\n");
  auto got = Render(show, {"--from", "2000", "--to", "5000"});
  ExpectMix(got, 2000, 5000, {{&a, 0, 1.0}, {&a, 3000, 1.0}}, {3000});
}

TEST_F(LumshowAudio, BrokenAndMissingSoundsAreSilentAndTheRestPlays) {
  dir.Write("bad.mp3", std::string(5000, '\xff') + "garbage");
  dir.Write("bad.wav", "RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0\x01\0\xff\xff");
  std::string show =
      dir.Write("Project.lum",
                "[Main]\nobject Music:Music\n object T:TMusicTrack\n"
                "  object I:TMusicItem\n   FileName=bad.mp3\n   Duration=1000\n  end\n"
                "  object J:TMusicItem\n   FileName=bad.wav\n   Duration=1000\n  end\n"
                "  object K:TMusicItem\n   FileName=missing.wav\n   Duration=1000\n  end\n"
                " end\nend\n[Times]\nopt_slidescount=2\nopt_synchpos1=2000\nopt_synchpos2=4000\n"
                "[Slide2]\nobject Music:Music\n object C:TSoundComment\n  FileName=b.wav\n"
                "  Duration=1000\n end\nend\n");
  auto got = Render(show, {});
  ExpectMix(got, 0, 4000, {{&b, 2000, 1.0, 40}}, {2000, 3000});
}

TEST_F(LumshowAudio, WrongRangesAreUsageErrors) {
  std::string show = Show("");
  auto r = Lumshow({"audio", show, "-o", dir / "x.wav", "--from", "500", "--to", "100"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("lumshow: "), std::string::npos);
  r = Lumshow({"audio", dir / "missing.lum", "-o", dir / "x.wav"});
  EXPECT_EQ(r.status, 1);
}

// The bundled demo: its one MP3 item at volume 80 through the show, against
// an independent decode of the same file.
TEST(LumshowDemoAudio, MusicPlaysAtItsVolume) {
  TTempDir dir;
  auto r = Lumshow({"extract", DEMO_SHOW_PATH, "-o", dir / "x", "music.mp3"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto mp3 = RunCommand({"/usr/bin/mpg123", "-q", "--no-gapless", "-s", dir / "x/music.mp3"});
  ASSERT_EQ(mp3.status, 0) << mp3.err;
  std::vector<int16_t> music(mp3.out.size() / 2);
  std::memcpy(music.data(), mp3.out.data(), music.size() * 2);
  r = Lumshow({"audio", DEMO_SHOW_PATH, "-o", dir / "demo.wav", "--from", "2000", "--to", "10000"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Away from the fade-in (500 ms) and the fade-out (the last second).
  ExpectMix(SoxSamples(dir / "demo.wav"), 2000, 10000, {{&music, 0, 0.8}}, {});
}

}  // namespace
}  // namespace lum
