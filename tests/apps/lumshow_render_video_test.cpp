// lumshow render of video slides over the stand-in video library: which
// frame each show time shows (start in the slide, start in the file, speed,
// clips running on across slides), the chroma key, and the placeholders for
// a missing file or an absent library. Frame n of a stand-in clip is solid
// grey of luma 16 + 8 n, so a drawn pixel tells the frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/image_fixtures.h"
#include "support/environment.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Lumshow;
using test::TTempDir;

// 5 frames a second, 28 frames: every frame has a grey of its own.
constexpr const char* kClip = "FAKECLIP 200 100 5 1 28 0";

// keyFrame: what the key frame holds beyond its time (filters).
std::string Video(const std::string& keys, const std::string& keyFrame = "") {
  return "object V:Video\nGUID={V}\nFitMode=None\n" + keys + "object K:KeyPoint\nTime=0\n" +
         keyFrame + "end\nend\n";
}

// Two slides (0..3000 and 3000..20000) on a red background, 800 x 400.
std::string Show(const std::string& slide1, const std::string& slide2 = "",
                 const std::string& tracks = "") {
  return "[Main]\nMinorVersion=13\nopt_scr_width=800\nopt_scr_height=400\n"
         "[Times]\nopt_slidescount=2\nopt_synchpos1=3000\nopt_synchpos2=20000\n"
         "[Tracks]\n" +
         tracks + "[Slide1]\nbstyle=1\nbcolor=255\nobject Container:Root\n" + slide1 +
         "end\n[Slide2]\nbstyle=1\nbcolor=255\nobject Container:Root\n" + slide2 + "end\n";
}

class RenderVideo : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LUM_VIDEO_PLUGIN", FAKE_CLIP_PLUGIN, 1);
    dir.Write("s/clip.fake", kClip);
  }
  void TearDown() override { unsetenv("LUM_VIDEO_PLUGIN"); }
  test::TRgb Centre(const std::string& show, double ms, int x = 400) {
    const std::string path = dir.Write("s/Project.lum", show);
    const std::string out = dir / "frame.png";
    test::TCommandResult r =
        Lumshow({"render", path, "--time", std::to_string(ms), "--size", "800x400", "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    test::TPixels p = test::ReadPicture(out);
    return p.width == 800 ? p.At(x, 200) : test::TRgb{};
  }
  // The frame a grey pixel shows; -1 for anything else.
  int FrameAt(const std::string& show, double ms) {
    const test::TRgb c = Centre(show, ms);
    if (std::abs(c.r - c.g) > 6 || std::abs(c.g - c.b) > 6) return -1;
    return int(std::lround(c.g / 1.164 / 8));
  }
  TTempDir dir;
};

TEST_F(RenderVideo, StartInTheSlideAndLength) {
  const std::string s = Show(Video("FileName=clip.fake\nStartLUMTime=1000\nDuration=4000\n"));
  EXPECT_EQ(FrameAt(s, 500), 0);  // before the start: the first frame
  EXPECT_EQ(FrameAt(s, 1600), 3);
  EXPECT_EQ(FrameAt(s, 2900), 10);
}

TEST_F(RenderVideo, StartInTheFileAndSpeed) {
  const std::string later =
      Show("", Video("FileName=clip.fake\nStartVideoTime=2000\nDuration=3000\n"));
  EXPECT_EQ(FrameAt(later, 3000), 10);
  EXPECT_EQ(FrameAt(later, 4000), 15);
  EXPECT_EQ(FrameAt(later, 12000), 25);  // past the end the last frame stays
  const std::string fast = Show("", Video("FileName=clip.fake\nFPSMultiplier=2\nDuration=5000\n"));
  EXPECT_EQ(FrameAt(fast, 4000), 10);
  EXPECT_EQ(FrameAt(fast, 5500), 25);
  EXPECT_EQ(FrameAt(fast, 7000), 25);
}

TEST_F(RenderVideo, ClipRunsOnAcrossSlides) {
  const std::string clip =
      "object {C}:TVideoClip2\nClipGUID={C}\nFileName=clip.fake\nStartSlideIdx=0\n"
      "StartLUMTime=200\nDuration=5000\nend\n";
  const std::string s =
      Show(Video("ClipGUID={C}\n"), Video("ClipGUID={C}\nFileName=other.fake\n"), clip);
  EXPECT_EQ(FrameAt(s, 1200), 5);
  // On slide 2 it continues where slide 1 left it, not from the start.
  EXPECT_EQ(FrameAt(s, 4200), 20);
  // A link to no clip falls back to the object's own keys.
  const std::string unlinked =
      Show("", Video("ClipGUID={nothing}\nFileName=clip.fake\nDuration=9000\n"), clip);
  EXPECT_EQ(FrameAt(unlinked, 4200), 6);
}

TEST_F(RenderVideo, ChromaKeyCoversTheKeyColour) {
  const std::string keys =
      "FileName=clip.fake\nStartVideoTime=4000\nDuration=1000\nChromaEnable=1\n";
  // Grey frames keyed by grey: the red background shows through.
  const test::TRgb keyed = Centre(Show(Video(keys + "Chromakey=8421504\nChromaDelta=0.1\n")), 500);
  EXPECT_GT(keyed.r, 200);
  EXPECT_LT(keyed.g, 30);
  // Keyed by green: the frame stays.
  const test::TRgb kept = Centre(Show(Video(keys + "Chromakey=65280\nChromaDelta=0.1\n")), 500);
  EXPECT_NEAR(kept.r, kept.g, 6);
  EXPECT_GT(kept.g, 100);
}

// Colour filters and drop shadows apply to videos as to pictures.
TEST_F(RenderVideo, FiltersGradeTheFramesAndShadowsFall) {
  const std::string keys = "FileName=clip.fake\nDuration=5000\n";
  // Frame 5 is grey 47; inverted, 208.
  const test::TRgb plain = Centre(Show(Video(keys)), 1000);
  EXPECT_NEAR(plain.g, 47, 3);
  const test::TRgb inverted = Centre(Show(Video(keys, "object Invert:Filter\nend\n")), 1000);
  EXPECT_NEAR(inverted.r, 208, 4);
  EXPECT_NEAR(inverted.g, 208, 4);
  const test::TRgb disabled =
      Centre(Show(Video(keys, "object Invert:Filter\nDisable=1\nend\n")), 1000);
  EXPECT_NEAR(disabled.g, 47, 3);
  // The 200 x 100 frame spans x 300..500; its blue shadow, turned to the
  // right, shows just past its edge.
  const std::string shadow =
      "ShadowEnable=1\nShadowColor=0,0,255\nShadowAngle=0\nShadowDistance=40\n"
      "ShadowOpacity=100\nShadowSize=4\n";
  const test::TRgb beside = Centre(Show(Video(keys + shadow)), 1000, 505);
  EXPECT_GT(beside.b, 150);
  EXPECT_LT(beside.r, 100);
  const test::TRgb none = Centre(Show(Video(keys)), 1000, 505);
  EXPECT_GT(none.r, 200);
  EXPECT_LT(none.b, 30);
}

TEST_F(RenderVideo, TurnedVideosHaveThePicturesSmoothEdges) {
  // Frame 5 (grey 47) turned by 30 degrees beside a picture of that grey
  // turned alike: ImageMagick finds their edges alike, unless the video's
  // "AntialiasedBorder" is off.
  test::TPixels grey;
  grey.width = 200, grey.height = 100;
  grey.px.assign(size_t(grey.width) * grey.height, test::TRgb{47, 47, 47});
  dir.Write("s/grey.bmp", test::WriteBmp(grey, {}));
  auto render = [&](const std::string& object, const std::string& out) {
    const std::string path = dir.Write("s/Project.lum", Show(object));
    EXPECT_EQ(
        Lumshow({"render", path, "--time", "1000", "--size", "800x400", "-o", dir / out}).status,
        0);
    return dir / out;
  };
  const std::string turn = "Angle=30\n";
  const std::string picture = render(
      "object P:Image\nGUID={P}\nImageName=grey.bmp\nFitMode=None\nobject K:KeyPoint\n"
      "Time=0\nAngle=30\nend\nend\n",
      "picture.png");
  const std::string smooth = render(Video("FileName=clip.fake\nDuration=5000\n", turn), "v.png");
  const std::string hard =
      render(Video("FileName=clip.fake\nDuration=5000\nAntialiasedBorder=0\n", turn), "h.png");
  auto apart = [](const std::string& a, const std::string& b) {
    const test::TCommandResult r = test::RunCommand(
        {test::FindProgram("compare"), "-metric", "AE", "-fuzz", "2%", a, b, "null:"});
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.err;
    return std::atoi(r.err.c_str());
  };
  EXPECT_LE(apart(picture, smooth), 10);
  EXPECT_GT(apart(picture, hard), 300);
}

TEST_F(RenderVideo, DeinterlaceShowsTheChosenField) {
  // 25 fps, odd rows brighter: the even field of frame 10 is luma 96 (grey
  // 93), the odd one 160 (grey 168). Frame 10 spans 380..420 ms.
  dir.Write("s/fields.fake", "FAKECLIP 200 100 25 1 250 11");
  dir.Write("s/bff.fake", "FAKECLIP 200 100 25 1 250 9");
  auto grey = [&](const std::string& file, const std::string& type, double videoMs) {
    const std::string keys = "FileName=" + file + "\nDuration=5000\nDeinterlaceType=" + type + "\n";
    return int(Centre(Show(Video(keys)), videoMs).g);
  };
  EXPECT_NEAR(grey("fields.fake", "Auto", 390), 93, 2);  // top field first
  EXPECT_NEAR(grey("fields.fake", "Auto", 410), 168, 2);
  EXPECT_NEAR(grey("bff.fake", "Auto", 390), 168, 2);
  EXPECT_NEAR(grey("fields.fake", "BobEven", 390), 93, 2);
  EXPECT_NEAR(grey("fields.fake", "BobOdd", 390), 168, 2);  // the second field first
  EXPECT_NEAR(grey("fields.fake", "BobOdd", 410), 93, 2);
}

TEST_F(RenderVideo, HostileKeysAndFilesStillRender) {
  const std::string keys =
      "FileName=clip.fake\nFPSMultiplier=nan\nDuration=-5\nStartVideoTime=1e308\n"
      "StartLUMTime=-1e300\nChromaEnable=1\nChromaDelta=-3\nDeinterlaceType=Sideways\n"
      "Chromakey=abc\n";
  EXPECT_EQ(FrameAt(Show(Video(keys)), 1000), 27);  // the start is past the end: last frame
  // A cut or damaged file shows the placeholder; the slide still renders.
  dir.Write("s/cut.fake", "FAKECLIP 200");
  const test::TRgb cut = Centre(Show(Video("FileName=cut.fake\nDuration=1000\n")), 500);
  EXPECT_EQ(cut.g, 100);
}

TEST_F(RenderVideo, PlaceholderForAMissingFile) {
  const test::TRgb c = Centre(Show(Video("FileName=missing.fake\nDuration=1000\n")), 500);
  EXPECT_EQ(c.r, 100);
  EXPECT_EQ(c.g, 100);
  EXPECT_EQ(c.b, 100);
}

TEST_F(RenderVideo, PlaceholderWithoutTheLibrary) {
  // A copy of lumshow in a folder of its own, so that no library beside it is found.
  namespace fs = std::filesystem;
  const fs::path alone = fs::path(dir / "alone") / "lumshow";
  fs::create_directories(alone.parent_path());
  fs::copy_file(LUMSHOW_PATH, alone);
  setenv("LUM_VIDEO_PLUGIN", "/nonexistent/liblumvideo.so", 1);
  const std::string show =
      dir.Write("s/Project.lum", Show(Video("FileName=clip.fake\nDuration=1000\n")));
  const std::string out = dir / "frame.png";
  test::TCommandResult r = test::RunCommand(
      {alone.string(), "render", show, "--time", "500", "--size", "800x400", "-o", out});
  ASSERT_EQ(r.status, 0) << r.err;
  test::TPixels p = test::ReadPicture(out);
  ASSERT_EQ(p.width, 800);
  EXPECT_EQ(p.At(400, 200).g, 100);
}

TEST_F(RenderVideo, InfoListsEachClipOnce) {
  dir.Write("s/tff.fake", "FAKECLIP 720 576 25 1 50 3");
  const std::string clip =
      "object {C}:TVideoClip2\nClipGUID={C}\nFileName=clip.fake\nDuration=1000\nend\n";
  const std::string show = dir.Write(
      "s/Project.lum", Show(Video("ClipGUID={C}\n") + Video("FileName=tff.fake\n"),
                            Video("ClipGUID={C}\n") + Video("FileName=gone.fake\n"), clip));
  const nlohmann::json info = test::Json(Lumshow({"info", show, "--json"}));
  const nlohmann::json& clips = info["clips"];
  ASSERT_EQ(clips.size(), 3u) << clips.dump();
  EXPECT_EQ(clips[0]["file"], "clip.fake");
  EXPECT_EQ(clips[0]["width"], 200);
  EXPECT_EQ(clips[0]["frame_rate"], "5/1");
  EXPECT_EQ(clips[0]["interlaced"], "progressive");
  EXPECT_EQ(clips[1]["codec"], "OTHER");
  EXPECT_EQ(clips[1]["interlaced"], "top field first");
  EXPECT_EQ(clips[2]["file"], "gone.fake");
  EXPECT_TRUE(clips[2].contains("error"));
  const test::TCommandResult text = Lumshow({"info", show});
  EXPECT_NE(text.out.find("clip          tff.fake: OTHER 720x576 25/1 fps, top field first"),
            std::string::npos)
      << text.out;
}

// The ffmpeg program on the search path; "" when there is none.
std::string Ffmpeg() {
  return test::FindProgram("ffmpeg");
}

// Clips made by the ffmpeg program and decoded by the video library built
// beside lumshow: frame n is luma 16 + 8 n, as with the stand-in.
class RenderRealClips : public RenderVideo {
 protected:
  void SetUp() override {
#ifndef LUMVIDEO_PATH
    GTEST_SKIP() << "this build has no video library (no FFmpeg development files)";
#endif
    if (Ffmpeg().empty()) GTEST_SKIP() << "no ffmpeg program";
    // The build copies the library beside lumshow, where the binding looks.
    const std::filesystem::path lib =
        std::filesystem::path(LUMSHOW_PATH).parent_path() / "liblumvideo.so";
    ASSERT_TRUE(std::filesystem::exists(lib)) << lib << " is missing";
    RenderVideo::SetUp();
    unsetenv("LUM_VIDEO_PLUGIN");
  }
  void Make(const std::string& name, const std::vector<std::string>& codec, int rate,
            const char* format = "") {
    std::vector<std::string> args = {Ffmpeg(),
                                     "-v",
                                     "error",
                                     "-y",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "nullsrc=s=160x120:r=" + std::to_string(rate) +
                                         ":d=3,geq=lum='16+8*mod(N\\,28)':cb=128:cr=128" + format};
    args.insert(args.end(), codec.begin(), codec.end());
    args.push_back(dir / ("s/" + name));
    test::TCommandResult r = test::RunCommand(args);
    ASSERT_EQ(r.status, 0) << r.err;
  }
};

TEST_F(RenderRealClips, FrameExactAcrossCodecs) {
  Make("h264.mp4", {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "12", "-bf", "2"}, 10);
  Make("mpeg4.avi", {"-c:v", "mpeg4", "-q:v", "2", "-g", "12"}, 10);
  Make("mjpeg.avi", {"-c:v", "mjpeg", "-q:v", "2", "-pix_fmt", "yuvj420p"}, 10);
  // Constant rate keeps each picture larger than a pack, as in camcorder
  // files: pictures sharing a pack get the muxer's stamps one frame late,
  // and ffmpeg's own decode places them there too.
  Make("mpeg2.mpg",
       {"-c:v", "mpeg2video", "-bf", "2", "-g", "12", "-b:v", "2M", "-minrate", "2M", "-maxrate",
        "2M", "-bufsize", "1M"},
       10);
  for (const char* file : {"h264.mp4", "mpeg4.avi", "mjpeg.avi", "mpeg2.mpg"}) {
    const std::string keys = std::string("FileName=") + file + "\nDuration=3000\n";
    EXPECT_EQ(FrameAt(Show(Video(keys + "StartLUMTime=500\n")), 1200), 7) << file;
    EXPECT_EQ(FrameAt(Show(Video(keys + "StartVideoTime=1000\n")), 900), 19) << file;
    EXPECT_EQ(FrameAt(Show(Video(keys + "FPSMultiplier=2\n")), 600), 12) << file;
  }
}

TEST_F(RenderRealClips, ProgramStreamsPlayToTheirLastFrame) {
  // A second at 25 fps, frame n of luma 16 + 8 n: the muxers' stamps let
  // the demuxer estimate 0.88 s, yet the last frames show at their time.
  for (const char* format : {"vob", "mpeg"}) {
    const std::string name = std::string("ps.") + format;
    const test::TCommandResult made =
        test::RunCommand({Ffmpeg(), "-v", "error", "-y", "-f", "lavfi", "-i",
                          "nullsrc=s=160x120:r=25:d=1,geq=lum='16+8*N':cb=128:cr=128", "-c:v",
                          "mpeg2video", "-q:v", "2", "-f", format, dir / ("s/" + name)});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string s = Show(Video("FileName=" + name + "\nDuration=1000\n"));
    EXPECT_EQ(FrameAt(s, 930), 23) << format;
    EXPECT_EQ(FrameAt(s, 990), 24) << format;
    EXPECT_EQ(FrameAt(s, 2000), 24) << format;  // and it stays
  }
}

TEST_F(RenderRealClips, AKeyedVideosShadowFollowsTheKeyedShape) {
  // A white 40 x 40 square on green, keyed by green, at 320..480 x 140..260:
  // only the square casts the blue shadow, to its right.
  const test::TCommandResult made = test::RunCommand(
      {Ffmpeg(), "-v", "error", "-y", "-f", "lavfi", "-i",
       "color=c=0x00FF00:s=160x120:r=10:d=1,drawbox=x=60:y=40:w=40:h=40:color=white:t=fill", "-c:v",
       "mpeg4", "-q:v", "2", dir / "s/keyed.avi"});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string keys =
      "FileName=keyed.avi\nDuration=1000\nChromaEnable=1\nChromakey=65280\nChromaDelta=0.1\n"
      "ShadowEnable=1\nShadowColor=0,0,255\nShadowAngle=0\nShadowDistance=40\n"
      "ShadowOpacity=100\nShadowSize=2\n";
  const std::string s = Show(Video(keys));
  EXPECT_GT(Centre(s, 500, 400).r, 200);  // the square
  EXPECT_GT(Centre(s, 500, 400).g, 200);
  const test::TRgb beside = Centre(s, 500, 426);
  EXPECT_GT(beside.b, 150) << "no shadow beside the square";
  EXPECT_LT(beside.r, 100);
  // Where the key cut the frame away there is no shadow: the background shows.
  for (int x : {350, 470}) {
    const test::TRgb away = Centre(s, 500, x);
    EXPECT_GT(away.r, 200) << x;
    EXPECT_LT(away.b, 40) << x;
  }
}

TEST_F(RenderRealClips, DamagedClipsShowWhatTheyHoldAndTheShowPlaysOn) {
  // 3 s at 10 fps at a constant rate (filler), so that bytes and frames
  // run alike: cut at 60 %, or with bytes flipped from the middle on.
  const std::vector<std::string> cbr = {"-g", "10",       "-b:v", "1M",       "-minrate",
                                        "1M", "-maxrate", "1M",   "-bufsize", "200k"};
  std::vector<std::string> h264 = {"-c:v",        "libx264",   "-x264-params",
                                   "nal-hrd=cbr", "-movflags", "+faststart"};
  std::vector<std::string> mpeg2 = {"-c:v", "mpeg2video", "-f", "vob"};
  h264.insert(h264.end(), cbr.begin(), cbr.end());
  mpeg2.insert(mpeg2.end(), cbr.begin(), cbr.end());
  Make("whole.mp4", h264, 10);
  Make("whole.vob", mpeg2, 10);
  for (const char* ext : {".mp4", ".vob"}) {
    const std::string bytes = test::ReadFile(dir / ("s/whole" + std::string(ext)));
    dir.Write("s/cut" + std::string(ext), bytes.substr(0, bytes.size() * 6 / 10));
    std::string flipped = bytes;
    for (size_t i = bytes.size() / 2; i < bytes.size(); i += 997) flipped[i] ^= 0x5A;
    dir.Write("s/flipped" + std::string(ext), flipped);
  }
  auto render = [&](const std::string& file, double ms) {
    const std::string path =
        dir.Write("s/Project.lum", Show(Video("FileName=" + file + "\nDuration=3000\n")));
    return Lumshow({"--log", "render", path, "--time", std::to_string(ms), "--size", "800x400",
                    "-o", dir / "frame.png"});
  };
  const std::string whole = Show(Video("FileName=whole.mp4\nDuration=3000\n"));
  for (const char* name : {"cut.mp4", "cut.vob", "flipped.mp4", "flipped.vob"}) {
    SCOPED_TRACE(name);
    const std::string show = Show(Video("FileName=" + std::string(name) + "\nDuration=3000\n"));
    // Before the damage: the frame of the moment, as in the whole file.
    EXPECT_EQ(FrameAt(show, 550), FrameAt(whole, 550));
    // Past it: the show still draws, the background round the clip included.
    const test::TCommandResult r = render(name, 2650);
    EXPECT_EQ(r.status, 0) << r.err;
    const test::TPixels past = test::ReadPicture(dir / "frame.png");
    ASSERT_EQ(past.width, 800);
    EXPECT_GT(past.At(20, 20).r, 200);
    EXPECT_EQ(r.err.find("not shown"), std::string::npos) << r.err;
  }
  // The cut files show their last whole frame from the cut on (ffmpeg
  // decodes 18 or 19 frames of them); an MP4 still claims 3 s, so the log
  // says why its frames stop.
  for (const char* name : {"cut.mp4", "cut.vob"}) {
    const int held =
        FrameAt(Show(Video("FileName=" + std::string(name) + "\nDuration=3000\n")), 2650);
    EXPECT_GE(held, 16) << name;
    EXPECT_LE(held, 19) << name;
  }
  const test::TCommandResult cut = render("cut.mp4", 2650);
  EXPECT_NE(cut.err.find("cut.mp4: frame 27 of 30 cannot be decoded"), std::string::npos)
      << cut.err;
}

TEST_F(RenderRealClips, AnimatedGif) {
  Make("anim.gif", {}, 10, ",format=gray");
  const std::string s = Show(Video("FileName=anim.gif\nDuration=3000\n"));
  // Grey pictures are full range: frame n is grey 16 + 8 n as shown.
  EXPECT_EQ(Centre(s, 500).g, 16 + 8 * 5);
  EXPECT_EQ(Centre(s, 1200).g, 16 + 8 * 12);
}

}  // namespace
}  // namespace lum
