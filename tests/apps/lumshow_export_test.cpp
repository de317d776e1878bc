// lumshow export of shows made here, checked with the ffmpeg tools: the
// streams ffprobe sees, frames decoded by ffmpeg against lumshow render at
// the same times, the sound against lumshow audio, and the failures that
// must leave no file behind.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lumshow/job_queue.h"
#include "lumshow/progress_bar.h"
#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

namespace fs = std::filesystem;
using test::Lumshow;
using test::RunCommand;
using test::TTempDir;

// Three slides of 2 s on plain colours, the second one fading in over a
// second, a white box crossing slide 3, and a 440 Hz tone throughout.
std::string ShowText() {
  return "[Main]\nMinorVersion=13\nopt_scr_width=640\nopt_scr_height=360\nopt_syncmode=0\n"
         "object TheEffect:AnEffect\ntime=1000\ncustom_count=0\n"
         "object dissolve:dissolve\ncaption=Dissolve\nkey=checked\nchecked=1\n"
         "group=GroupBasic\nstdidx=2\nend\nend\n"
         "object Music:Music\n object T:TMusicTrack\n  object I:TMusicItem\n"
         "   FileName=tone.wav\n   Duration=6000\n  end\n end\nend\n"
         "[Times]\nopt_slidescount=3\nopt_synchpos1=2000\nopt_synchpos2=4000\nopt_synchpos3=6000\n"
         "[Slide1]\nbstyle=1\nbcolor=255\n"
         "[Slide2]\nbstyle=1\nbcolor=16711680\n"
         "object TheEffect:AnEffect\nref=dissolve\ntime=1000\nend\n"
         "[Slide3]\nbstyle=1\nbcolor=65280\nobject Container:Root\n"
         "object B:Box\nGUID={B1}\nSize=80,80\nFitMode=None\nColor1=255,255,255\nPosMode=Percent\n"
         "object K0:KeyPoint\nTime=0\nPosition=10,50\nend\n"
         "object K1:KeyPoint\nTime=2000\nPosition=90,50\nend\nend\nend\n";
}

nlohmann::json Probe(const std::string& file) {
  auto r = RunCommand({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_streams",
                       "-show_format", "-of", "json", file});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.status == 0 ? nlohmann::json::parse(r.out) : nlohmann::json::object();
}

const nlohmann::json& Stream(const nlohmann::json& probe, const std::string& type) {
  static const nlohmann::json none = nlohmann::json::object();
  if (!probe.contains("streams")) return none;
  for (const auto& s : probe["streams"])
    if (s.value("codec_type", "") == type) return s;
  return none;
}

double Number(const nlohmann::json& j, const char* key) {
  return j.contains(key) ? std::stod(j[key].get<std::string>()) : -1;
}

// Mean channel difference of two pictures of one size.
double MeanDifference(const test::TPixels& a, const test::TPixels& b) {
  if (a.width != b.width || a.height != b.height || a.width == 0) return 1e9;
  double sum = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const test::TRgb p = a.At(x, y), q = b.At(x, y);
      sum += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
    }
  return sum / (3.0 * a.width * a.height);
}

std::vector<int16_t> Pcm(const std::vector<std::string>& decode) {
  auto r = RunCommand(decode);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<int16_t> s(r.out.size() / 2);
  std::memcpy(s.data(), r.out.data(), s.size() * 2);
  return s;
}

// The best normalised correlation of b against a over small shifts.
double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  double best = -1;
  for (int lag = -2048; lag <= 2048; lag += 2) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 4410; i + 4410 < a.size(); i += 2) {
      const ptrdiff_t j = ptrdiff_t(i) + lag;
      if (j < 0 || size_t(j) >= b.size()) continue;
      ab += double(a[i]) * b[size_t(j)];
      aa += double(a[i]) * a[i];
      bb += double(b[size_t(j)]) * b[size_t(j)];
    }
    if (aa > 0 && bb > 0) best = std::max(best, ab / std::sqrt(aa * bb));
  }
  return best;
}

class LumshowExport : public ::testing::Test {
 protected:
  void SetUp() override {
    show = dir.Write("s/Project.lum", ShowText());
    auto r = RunCommand({"/usr/bin/sox", "-n", "-r", "44100", "-c", "2", "-b", "16",
                         dir / "s/tone.wav", "synth", "6", "sine", "440", "vol", "0.5"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  // Small and fast unless the test asks otherwise.
  test::TCommandResult Export(const std::string& out, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"export", show, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    for (std::string option : {"--size", "--preset"})
      if (std::find(extra.begin(), extra.end(), option) == extra.end())
        args.insert(args.end(), {option, option == "--size" ? "640x360" : "ultrafast"});
    return Lumshow(args);
  }
  // The picture ffmpeg shows at the 30 fps frame of time t (s): held
  // stretches count as frames of their own.
  test::TPixels Decoded(const std::string& file, double t) {
    const std::string png = dir / ("f" + std::to_string(int(t * 1000)) + ".png");
    auto r = RunCommand({"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", file, "-vf", "fps=30",
                         "-ss", std::to_string(t - 0.005), "-frames:v", "1", png});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadPicture(png);
  }
  test::TPixels Rendered(double ms) {
    const std::string png = dir / ("r" + std::to_string(int(ms)) + ".png");
    auto r = Lumshow({"render", show, "--time", std::to_string(ms), "--size", "640x360", "-o", png});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadPicture(png);
  }
  bool Exists(const std::string& path) { return fs::exists(path); }
  // Whether the ".OUT.part-XXXXXX" file being written beside out is there.
  bool PartExists(const std::string& out) {
    const fs::path o(out);
    if (!fs::is_directory(o.parent_path())) return false;
    const std::string prefix = "." + o.filename().string() + ".part-";
    for (const auto& e : fs::directory_iterator(o.parent_path()))
      if (e.path().filename().string().rfind(prefix, 0) == 0) return true;
    return false;
  }

  TTempDir dir;
  std::string show;
};

TEST_F(LumshowExport, Mp4StreamsAsDescribed) {
  const std::string out = dir / "show.mp4";
  auto r = Export(out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no progress bar without a terminal
  EXPECT_FALSE(PartExists(out));
  nlohmann::json p = Probe(out);
  const auto& v = Stream(p, "video");
  EXPECT_EQ(v.value("codec_name", ""), "h264");
  EXPECT_EQ(v.value("width", 0), 640);
  EXPECT_EQ(v.value("height", 0), 360);
  EXPECT_EQ(v.value("pix_fmt", ""), "yuv420p");
  EXPECT_EQ(v.value("color_primaries", ""), "bt709");
  EXPECT_EQ(v.value("color_space", ""), "bt709");
  EXPECT_EQ(v.value("r_frame_rate", ""), "30/1");
  EXPECT_NEAR(Number(v, "duration"), 6.0, 1.0 / 30 + 1e-3);
  const auto& a = Stream(p, "audio");
  EXPECT_EQ(a.value("codec_name", ""), "aac");
  EXPECT_EQ(a.value("sample_rate", ""), "44100");
  EXPECT_EQ(a.value("channels", 0), 2);
  EXPECT_NEAR(Number(a, "duration"), 6.0, 0.05);
  // Still stretches are held, not repeated: the fade-in of the first slide,
  // the fade into the second, the fade into the third and its moving box.
  const double frames = Number(v, "nb_read_frames");
  EXPECT_GT(frames, 30 + 30 + 60 - 2);
  EXPECT_LT(frames, 140);
  // The index comes first (+faststart): "moov" before "mdat".
  const std::string bytes = test::ReadFile(out);
  EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
}

TEST_F(LumshowExport, FramesMatchRenderAndSoundMatchesAudio) {
  const std::string out = dir / "show.mp4";
  ASSERT_EQ(Export(out).status, 0);
  // The first fade, a held still, mid-fade, the box moving, the last frame.
  for (int n : {15, 45, 75, 140, 179}) {
    const double ms = n * 1000.0 / 30;
    EXPECT_LT(MeanDifference(Decoded(out, n / 30.0), Rendered(ms)), 2.5) << "frame " << n;
  }
  auto r = Lumshow({"audio", show, "-o", dir / "mix.wav"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto want = Pcm({"/usr/bin/sox", dir / "mix.wav", "-t", "raw", "-e", "signed-integer", "-b",
                   "16", "-"});
  auto got = Pcm({"/usr/bin/ffmpeg", "-v", "error", "-i", out, "-f", "s16le", "-ac", "2", "-ar",
                  "44100", "-"});
  EXPECT_NEAR(double(got.size()), double(want.size()), 2 * 2048);
  EXPECT_GT(Correlation(want, got), 0.99);
}

TEST_F(LumshowExport, ConstantRateRepeatsEveryFrameAndARangeIsCut) {
  const std::string out = dir / "cfr.mp4";
  auto r = Export(out, {"--cfr", "--fps", "25", "--from", "1000", "--to", "5000"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json p = Probe(out);
  const auto& v = Stream(p, "video");
  EXPECT_EQ(v.value("avg_frame_rate", ""), "25/1");
  EXPECT_NEAR(Number(v, "nb_read_frames"), 100, 1);
  EXPECT_NEAR(Number(Stream(p, "audio"), "duration"), 4.0, 0.05);
  // 2500 ms into the range is show time 3500: mid-fade is over, slide 2.
  EXPECT_LT(MeanDifference(Decoded(out, 2.5), Rendered(3500)), 2.5);
  // A range ending on a still picture: its last frame once, like every other.
  const std::string still = dir / "still.mp4";
  r = Export(still, {"--cfr", "--fps", "25", "--to", "1000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Number(Stream(Probe(still), "video"), "nb_read_frames"), 25);
}

// Reordered pictures (B-frames) with a held picture at the end: the video
// still lasts to the end of the range.
TEST_F(LumshowExport, ReorderedPicturesLastToTheEnd) {
  const std::string out = dir / "medium.mp4";
  ASSERT_EQ(Export(out, {"--preset", "medium", "--to", "1800"}).status, 0);
  const nlohmann::json p = Probe(out);
  EXPECT_NEAR(Number(Stream(p, "video"), "duration"), 1.8, 1.0 / 30 + 1e-3);
  EXPECT_LT(MeanDifference(Decoded(out, 1.7), Rendered(1700)), 2.5);
}

// Seconds a stream lasts: its duration, or Matroska's DURATION tag.
double StreamSeconds(const nlohmann::json& s) {
  if (s.contains("duration")) return Number(s, "duration");
  const std::string tag = s.contains("tags") ? s["tags"].value("DURATION", "") : "";
  int h = 0, m = 0;
  double sec = -1;
  return std::sscanf(tag.c_str(), "%d:%d:%lf", &h, &m, &sec) == 3 ? h * 3600 + m * 60 + sec : -1;
}

// What ffmpeg says decoding every frame: nothing when the file is sound.
std::string DecodeErrors(const std::string& file) {
  auto r = RunCommand({"/usr/bin/ffmpeg", "-v", "error", "-i", file, "-f", "null", "-"});
  return r.err + (r.status == 0 ? "" : "exit " + std::to_string(r.status));
}

// The container and both tracks say the show's length, within a frame, and
// constant rate output has a frame for every 1/fps of it.
TEST_F(LumshowExport, EveryFormatAndRateStatesTheShowsDuration) {
  for (const char* ext : {"mp4", "webm"})
    for (int fps : {24, 25, 30})
      for (bool cfr : {false, true}) {
        const std::string out = dir / ("d" + std::to_string(fps) + (cfr ? "c." : ".") + ext);
        SCOPED_TRACE(out);
        std::vector<std::string> extra{"--fps", std::to_string(fps), "--size", "320x180"};
        if (cfr) extra.push_back("--cfr");
        auto r = Export(out, extra);
        ASSERT_EQ(r.status, 0) << r.err;
        const nlohmann::json p = Probe(out);
        const double frame = 1.0 / fps + 1e-3;
        EXPECT_NEAR(std::stod(p["format"].value("duration", "0")), 6.0, frame);
        EXPECT_NEAR(StreamSeconds(Stream(p, "video")), 6.0, frame);
        EXPECT_NEAR(StreamSeconds(Stream(p, "audio")), 6.0, frame);
        if (cfr) {
          EXPECT_EQ(Number(Stream(p, "video"), "nb_read_frames"), 6 * fps);
        }
        EXPECT_EQ(DecodeErrors(out), "");
      }
}

// A show ending on a picture held for a minute: the file ends with the show
// (it once doubled), holds the picture as one frame and decodes cleanly, with
// the encoder reordering pictures (medium) or not.
TEST_F(LumshowExport, ALongStillEndIsHeldOnceAndEndsWithTheShow) {
  std::string text = ShowText();
  text.replace(text.find("opt_synchpos3=6000"), 18, "opt_synchpos3=62000");
  const std::string longShow = dir.Write("s/Long.lum", text);
  for (const char* ext : {"mp4", "webm"})
    for (const char* preset : {"ultrafast", "medium"}) {
      const std::string out = dir / (std::string("long-") + preset + "." + ext);
      SCOPED_TRACE(out);
      auto r = Lumshow({"export", longShow, "-o", out, "--size", "320x180", "--preset", preset});
      ASSERT_EQ(r.status, 0) << r.err;
      const nlohmann::json p = Probe(out);
      EXPECT_NEAR(std::stod(p["format"].value("duration", "0")), 62.0, 1.0 / 30 + 1e-3);
      EXPECT_NEAR(StreamSeconds(Stream(p, "video")), 62.0, 1.0 / 30 + 1e-3);
      EXPECT_NEAR(StreamSeconds(Stream(p, "audio")), 62.0, 1.0 / 30 + 1e-3);
      // The frames of the first 6 s, then the still one once.
      EXPECT_LT(Number(Stream(p, "video"), "nb_read_frames"), 6 * 30 + 2);
      EXPECT_EQ(DecodeErrors(out), "");
      // Sound (a tone, then silence) is most of it: a minute of frames would be megabytes.
      EXPECT_LT(fs::file_size(out), 2'000'000u);
    }
}

TEST_F(LumshowExport, WebmIsVp9AndOpus) {
  const std::string out = dir / "show.webm";
  auto r = Export(out, {"--to", "2500"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json p = Probe(out);
  EXPECT_EQ(Stream(p, "video").value("codec_name", ""), "vp9");
  EXPECT_EQ(Stream(p, "audio").value("codec_name", ""), "opus");
  EXPECT_NEAR(std::stod(p["format"].value("duration", "0")), 2.5, 0.1);
  EXPECT_LT(MeanDifference(Decoded(out, 0.5), Rendered(500)), 2.5);
}

TEST_F(LumshowExport, OddSizesGrowToEven) {
  const std::string out = dir / "odd.mp4";
  ASSERT_EQ(Export(out, {"--size", "321x181", "--to", "300"}).status, 0);
  const nlohmann::json p = Probe(out);
  const auto& v = Stream(p, "video");
  EXPECT_EQ(v.value("width", 0), 322);
  EXPECT_EQ(v.value("height", 0), 182);
}

TEST_F(LumshowExport, WrongArgumentsAreUsageErrorsAndWriteNothing) {
  const std::string out = dir / "x.mp4";
  for (std::vector<std::string> extra :
       {std::vector<std::string>{"--fps", "0"}, {"--fps", "1000"}, {"--size", "99999x100"},
        {"--size", "8194x100"}, {"--from", "6000"}, {"--from", "-5"}, {"--crf", "52"},
        {"--preset", "warp"}}) {
    auto r = Export(out, extra);
    EXPECT_EQ(r.status, 2) << extra[0] << " " << extra[1] << ": " << r.err;
    EXPECT_EQ(r.err.rfind("lumshow: ", 0), 0u) << r.err;
    EXPECT_FALSE(Exists(out) || PartExists(out));
  }
}

TEST_F(LumshowExport, WriteFailuresLeaveNoFile) {
  auto r = Export(dir / "no/such/folder/x.mp4");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
  // A full disk, as a file-size limit of 64 KB makes it.
  const std::string out = dir / "big.mp4";
  r = RunCommand({"/usr/bin/prlimit", "--fsize=65536", LUMSHOW_PATH, "export", show, "-o", out,
                  "--size", "640x360", "--preset", "ultrafast", "--crf", "0"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("lumshow: "), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(out) || PartExists(out));
}

TEST_F(LumshowExport, InterruptionLeavesNoFile) {
  const std::string out = dir / "stop.mp4";
  // Started in the background, interrupted once the partial file exists.
  const std::string script =
      "\"$0\" export \"$1\" -o \"$2\" --size 1280x720 --cfr --preset veryslow & pid=$!\n"
      "part=\"$(dirname \"$2\")/.$(basename \"$2\").part-*\"\n"
      "for i in $(seq 1 400); do compgen -G \"$part\" >/dev/null && break; sleep 0.05; done\n"
      "sleep 0.3; kill -INT $pid; wait $pid; echo $?";
  auto r = RunCommand({"/bin/bash", "-c", script, LUMSHOW_PATH, show, out});
  EXPECT_EQ(r.out, "1\n") << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(out) || PartExists(out));
}

TEST_F(LumshowExport, BrokenSlidesExportBlankWithAWarning) {
  std::string text = ShowText();
  text.replace(text.find("GUID={B1}\n"), 10, "");
  const std::string broken = dir.Write("b/Project.lum", text);
  const std::string out = dir / "broken.mp4";
  auto r = Lumshow({"export", broken, "-o", out, "--size", "160x90", "--preset", "ultrafast"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: slide 2 could not be prepared"), std::string::npos) << r.err;
  const nlohmann::json p = Probe(out);
  EXPECT_NEAR(Number(Stream(p, "video"), "duration"), 6.0, 0.05);
}

TEST_F(LumshowExport, ALibraryWithoutEncoderIsReported) {
  auto r = RunCommand({"/usr/bin/env", "LUM_VIDEO_PLUGIN=" FAKE_CLIP_PLUGIN, LUMSHOW_PATH,
                       "export", show, "-o", dir / "x.mp4"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("has no encoder"), std::string::npos) << r.err;
  EXPECT_FALSE(Exists(dir / "x.mp4") || PartExists(dir / "x.mp4"));
}

// A clip made by ffmpeg on a slide: its pictures and its sound reach the file.
TEST_F(LumshowExport, VideoClipsExportTheirFramesAndSound) {
  auto r = RunCommand({"/usr/bin/ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                       "testsrc=size=320x240:rate=25:duration=4", "-f", "lavfi", "-i",
                       "sine=f=660:d=4", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac",
                       "-shortest", dir / "s/clip.mp4"});
  ASSERT_EQ(r.status, 0) << r.err;
  show = dir.Write("s/Project.lum",
                   "[Main]\nMinorVersion=13\nopt_scr_width=640\nopt_scr_height=360\n"
                   "[Times]\nopt_slidescount=1\nopt_synchpos1=4000\n[Tracks]\n"
                   "[Slide1]\nbstyle=1\nbcolor=255\nobject Container:Root\nobject V:Video\n"
                   "GUID={V}\nFitMode=None\nFileName=clip.mp4\nDuration=4000\n"
                   "object K:KeyPoint\nTime=0\nend\nend\nend\n");
  const std::string out = dir / "clip.mp4";
  r = Export(out);
  ASSERT_EQ(r.status, 0) << r.err;
  for (int n : {10, 61, 110})
    EXPECT_LT(MeanDifference(Decoded(out, n / 30.0), Rendered(n * 1000.0 / 30)), 2.5) << n;
  auto got = Pcm({"/usr/bin/ffmpeg", "-v", "error", "-i", out, "-f", "s16le", "-ac", "2", "-ar",
                  "44100", "-"});
  double energy = 0;
  for (int16_t v : got) energy += double(v) * v;
  EXPECT_GT(std::sqrt(energy / std::max<size_t>(got.size(), 1)), 1000);  // the 660 Hz tone
}

// The bundled demo (text, a zooming photo, a clip, dissolves) as the player draws it.
TEST(LumshowExportDemo, LooksLikeRender) {
  TTempDir dir;
  const std::string out = dir / "demo.mp4";
  auto r = Lumshow({"export", DEMO_SHOW_PATH, "-o", out, "--size", "320x180", "--preset",
                    "ultrafast", "--crf", "12"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (int n : {45, 135, 250, 330}) {
    const std::string want = dir / ("r" + std::to_string(n) + ".png");
    const std::string got = dir / ("d" + std::to_string(n) + ".png");
    r = Lumshow({"render", DEMO_SHOW_PATH, "--time", std::to_string(n * 1000.0 / 30), "--size",
                 "320x180", "-o", want});
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunCommand({"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", out, "-vf", "fps=30", "-ss",
                    std::to_string(n / 30.0 - 0.005), "-frames:v", "1", got});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_LT(MeanDifference(test::ReadPicture(got), test::ReadPicture(want)), 3.0) << n;
  }
}

TEST(ProgressBar, FramesTimesAndSpeed) {
  lumshow::TProgressBar bar(300, 10000, false);
  EXPECT_EQ(bar.Line(0, 0), "[..............................] 0/300 frames  0:00 elapsed");
  // Half the frames of 10 s in 2 s: 2 s left at 2.5 times real time.
  EXPECT_EQ(bar.Line(150, 2),
            "[###############...............] 150/300 frames  0:02 elapsed  0:02 left  "
            "2.5x real time");
  EXPECT_EQ(bar.Line(300, 3725).substr(33), "300/300 frames  1:02:05 elapsed  0:00 left  0.0x real time");
}

TEST(JobQueue, RunsInOrderAndHandsBackTheFirstFailure) {
  std::vector<int> ran;
  {
    lumshow::TJobQueue q(2);
    for (int i = 0; i < 50; ++i) q.Push([&ran, i] { ran.push_back(i); });
    q.Drain();
    EXPECT_EQ(ran.size(), 50u);
    EXPECT_TRUE(std::is_sorted(ran.begin(), ran.end()));
    q.Push([] { throw std::runtime_error("disk full"); });
    // Whichever call first sees the failure throws it.
    EXPECT_THROW(
        {
          q.Push([&ran] { ran.push_back(-1); });
          q.Push([&ran] { ran.push_back(-2); });
          q.Drain();
        },
        std::runtime_error);
  }
  // Nothing runs after a failure.
  EXPECT_EQ(ran.size(), 50u);
}

}  // namespace
}  // namespace lum
