// Sound through the plugin against ffmpeg's own decode of the same file, and
// `lumshow audio` playing music that only the plugin decodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "support/lumshow_run.h"
#include "video/video_fixtures.h"

namespace lum {
namespace {

using test::Ffmpeg;
using test::FfmpegPcm;
using test::Plugin;
using test::TOpenMedia;
using test::TTempDir;

// The largest sample difference between a and b shifted by `shift` frames,
// over b's length (less a margin at the end for encoder tails).
int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int64_t shift) {
  int worst = 0;
  for (size_t i = 0; i + 2 * 2048 < b.size(); ++i) {
    int64_t j = int64_t(i) + 2 * shift;
    if (j < 0 || size_t(j) >= a.size()) return 1 << 20;
    worst = std::max(worst, std::abs(int(a[size_t(j)]) - int(b[i])));
  }
  return worst;
}

struct TSound {
  const char* file;
  std::vector<std::string> codec;
};

class PluginAudio : public ::testing::TestWithParam<TSound> {
 protected:
  std::string Make() {
    std::string path = dir / GetParam().file;
    // A rising tone: no period for a misplaced seek to hide in.
    std::vector<std::string> args{
        "-f",   "lavfi",
        "-i",   "aevalsrc=sin(2*PI*(200+300*t)*t)|0.5*sin(2*PI*(200+300*t)*t):s=48000:d=3",
        "-b:a", "192k"};
    args.insert(args.end(), GetParam().codec.begin(), GetParam().codec.end());
    args.push_back(path);
    Ffmpeg(args);
    return path;
  }
  TTempDir dir;
};

TEST_P(PluginAudio, DecodesAsFfmpegDoesFromTheStartAndAfterSeeks) {
  std::string path = Make();
  std::vector<int16_t> want = FfmpegPcm(path);
  TOpenMedia m(path);
  ASSERT_TRUE(m.Handle());
  TRef<TFFMpegDll> lib = Plugin();
  LumVideoAudioInfo ai{};
  ASSERT_EQ(lib->GetAudioInfo(m.Handle(), &ai), 0);
  EXPECT_EQ(ai.sampleRate, 48000);
  EXPECT_EQ(ai.channels, 2);
  EXPECT_NEAR(double(ai.durationUs), 3e6, 60e3);
  EXPECT_EQ(m.Info().videoDurationUs, -1);
  ASSERT_EQ(lib->OpenAudioStream(m.Handle()), 0);
  std::vector<int16_t> got = m.ReadAllAudio();
  EXPECT_NEAR(double(got.size()), double(want.size()), 2 * 2048);
  EXPECT_LE(MaxDifference(got, want, 0), 2);
  // A seek delivers the sound from its time, as the converter asks for it:
  // the very samples a decode from the start has there (containers stamping
  // whole milliseconds and decoders holding back their first frames included).
  for (int64_t ms : {1500, 250, 2000, 0, 1234}) {
    ASSERT_EQ(lib->SeekFile(m.Handle(), -1, ms * 1000, 0), 0);
    lib->AfterAudioSeek(m.Handle());
    std::vector<int16_t> tail = m.ReadAllAudio();
    std::vector<int16_t> from(want.begin() + ms * 441 / 10 * 2, want.end());
    EXPECT_EQ(tail.size(), from.size()) << ms;
    tail.resize(std::min(tail.size(), size_t(44100)));
    from.resize(tail.size() + 2 * 4096);
    EXPECT_LE(MaxDifference(from, tail, 0), 64) << "after a seek to " << ms << " ms";
  }
  lib->CloseAudioStream(m.Handle());
  std::vector<uint8_t> block(64);
  EXPECT_EQ(lib->GetNextAudioFrame(m.Handle(), block.data(), 64), -1);
}

INSTANTIATE_TEST_SUITE_P(Codecs, PluginAudio,
                         ::testing::Values(TSound{"a.m4a", {"-c:a", "aac"}},
                                           TSound{"a.wma", {"-c:a", "wmav2"}},
                                           TSound{"a.mkv", {"-c:a", "libvorbis"}},
                                           TSound{"a.mp3", {"-c:a", "libmp3lame"}}),
                         [](const auto& info) {
                           std::string n = info.param.file;
                           return n.substr(n.find('.') + 1);
                         });

// A clip's sound is read through its own handle while video is ignored.
TEST(PluginAudioOfVideo, ClipSoundWithoutItsPictures) {
  TTempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=160x120:r=25:d=2", "-f", "lavfi", "-i",
          "sine=frequency=300:d=2", "-c:v", "libx264", "-c:a", "aac", "-shortest", dir / "v.mp4"});
  TOpenMedia m(dir / "v.mp4");
  ASSERT_TRUE(m.Handle());
  EXPECT_GT(m.Info().audioDurationUs, 1900000);
  EXPECT_GT(m.Info().videoDurationUs, 1900000);
  TRef<TFFMpegDll> lib = Plugin();
  ASSERT_EQ(lib->OpenAudioStream(m.Handle()), 0);
  std::vector<int16_t> want = FfmpegPcm(dir / "v.mp4");
  std::vector<int16_t> got = m.ReadAllAudio();
  EXPECT_NEAR(double(got.size()), double(want.size()), 2 * 2048);
  EXPECT_LE(MaxDifference(got, want, 0), 2);
}

// Music the built-in decoders do not handle plays through the plugin found
// beside lumshow.
TEST(LumshowVideoSound, AacAndWmaMusicInTheMix) {
  TTempDir dir;
  for (std::string f : {"m.m4a", "m.wma"})
    Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:d=3", "-ac", "2", "-b:a",
            "192k", dir / f});
  for (std::string f : {"m.m4a", "m.wma"}) {
    SCOPED_TRACE(f);
    std::string show = dir.Write("Project.lum",
                                 "[Main]\nopt_syncmode=0\nobject Music:Music\n"
                                 " object T:TMusicTrack\n  object I:TMusicItem\n   FileName=" +
                                     f +
                                     "\n   Duration=3000\n  end\n end\nend\n"
                                     "[Times]\nopt_slidescount=1\nopt_synchpos1=3000\n");
    auto r = test::Lumshow({"audio", show, "-o", dir / "out.wav", "--from", "500", "--to", "2500"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<int16_t> got = FfmpegPcm(dir / "out.wav");
    std::vector<int16_t> want = FfmpegPcm(dir / f);
    ASSERT_EQ(got.size(), size_t(88200) * 2) << f;
    want.erase(want.begin(), want.begin() + 22050 * 2);
    int best = 1 << 20;
    for (int64_t s = -40; s <= 40; ++s) best = std::min(best, MaxDifference(want, got, s));
    EXPECT_LE(best, 64);
  }
}

}  // namespace
}  // namespace lum
