// Video through the plugin: clips of every codec the player meets, each
// frame telling its number by its grey level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "video/video_fixtures.h"

namespace lum {
namespace {

using test::Ffmpeg;
using test::NumberedClip;
using test::Plugin;
using test::TOpenMedia;
using test::TTempDir;

struct TClipKind {
  const char* file;
  std::vector<std::string> codec;
  const char* format;
};

const std::vector<TClipKind>& Kinds() {
  static const std::vector<TClipKind> kinds{
      {"mpeg2.mpg", {"-c:v", "mpeg2video", "-g", "12", "-bf", "2", "-q:v", "2"}, "mpeg"},
      {"h264.mp4", {"-c:v", "libx264", "-g", "12", "-crf", "10"}, "mov,mp4,m4a,3gp,3g2,mj2"},
      {"h264.mkv", {"-c:v", "libx264", "-g", "12", "-crf", "10"}, "matroska,webm"},
      {"mpeg4.avi", {"-c:v", "mpeg4", "-g", "12", "-q:v", "2"}, "avi"},
      {"mjpeg.avi", {"-c:v", "mjpeg", "-q:v", "2"}, "avi"},
      {"wmv.asf", {"-c:v", "wmv2", "-g", "12", "-q:v", "2"}, "asf"},
  };
  return kinds;
}

class PluginVideo : public ::testing::TestWithParam<TClipKind> {
 protected:
  TTempDir dir;
};

// Every frame in order with its time stamp, then the end, and the same
// frames again after seeks in any order (frame-exact, not key-frame-exact).
TEST_P(PluginVideo, FramesInOrderAndExactlyAfterSeeks) {
  std::string path = NumberedClip(dir, GetParam().file, GetParam().codec);
  TOpenMedia m(path);
  ASSERT_TRUE(m.Handle());
  EXPECT_EQ(m.FormatName(), GetParam().format);
  EXPECT_EQ(m.Info().width, 160);
  EXPECT_EQ(m.Info().height, 120);
  EXPECT_NEAR(double(m.Info().frameRateNum) / m.Info().frameRateDen, 25.0, 0.01);
  EXPECT_NEAR(double(m.Info().videoDurationUs), 2e6, 80e3);
  EXPECT_EQ(m.Info().audioDurationUs, -1);
  TRef<TFFMpegDll> lib = Plugin();
  for (int n = 0; n < 50; ++n) {
    ASSERT_EQ(lib->GetNextVideoFrame(m.Handle(), m.Frame()), 0) << n;
    int64_t pts = -1;
    ASSERT_EQ(test::FrameOfLuma(m.Luma(&pts)), n);
    EXPECT_NEAR(double(pts), n * 40000.0, 1000) << n;
    EXPECT_EQ(lib->GetCurrentPts(m.Handle()), pts);
  }
  EXPECT_EQ(lib->GetNextVideoFrame(m.Handle(), m.Frame()), LUM_VIDEO_END);
  EXPECT_EQ(lib->GetFrameInfo(m.Frame()), -1) << "no stale frame past the end";
  EXPECT_EQ(lib->GetDtsPts(m.Frame(), nullptr, nullptr), -1);
  for (int n : {30, 5, 45, 0, 17, 18, 49, 11}) {
    ASSERT_EQ(lib->SeekFile(m.Handle(), -1, n * 40000LL, 0), 0);
    lib->FlushVideo(m.Handle());
    EXPECT_EQ(m.NextFrame(), n) << "after a seek to " << n;
    EXPECT_EQ(m.NextFrame(), n + 1 < 50 ? n + 1 : -1);
  }
  // Frame numbers and stream time stamps reach the same frames.
  ASSERT_EQ(lib->SeekFile(m.Handle(), -1, 23, LUM_SEEK_FRAME | LUM_SEEK_BACKWARD), 0);
  lib->Flush(m.Handle());
  EXPECT_EQ(m.NextFrame(), 23);
  int64_t dts = 0, pts = 0;
  ASSERT_EQ(lib->GetDtsPts(m.Frame(), &dts, &pts), 0);
  ASSERT_EQ(lib->SeekFile(m.Handle(), 0, pts, 0), 0);
  EXPECT_EQ(m.NextFrame(), 23);
}

INSTANTIATE_TEST_SUITE_P(Codecs, PluginVideo, ::testing::ValuesIn(Kinds()), [](const auto& info) {
  std::string n = info.param.file;
  return n.substr(0, n.find('.')) + "_" + n.substr(n.find('.') + 1);
});

// The conversions: planes at the caller's pitch, nothing written beyond the
// picture's bytes, greys matching across the three formats.
TEST(PluginConvert, PlanesAndPackedPixelsAtTheCallersPitch) {
  TTempDir dir;
  TOpenMedia m(NumberedClip(dir, "c.mp4", {"-c:v", "libx264", "-crf", "0"}, 30));
  ASSERT_TRUE(m.Handle());
  TRef<TFFMpegDll> lib = Plugin();
  ASSERT_EQ(lib->SeekFile(m.Handle(), -1, 20 * 40000, 0), 0);
  ASSERT_EQ(lib->GetNextVideoFrame(m.Handle(), m.Frame()), 0);
  const int pitch = 200, w = 160, h = 120;
  int32_t size = lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_YUV420P, nullptr, pitch);
  ASSERT_EQ(size, pitch * h + 2 * (pitch / 2) * (h / 2));
  std::vector<uint8_t> yuv(size_t(size) + 16, 0xAB);
  ASSERT_EQ(lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_YUV420P, yuv.data(), pitch), size);
  const uint8_t luma = 16 + 4 * 20;
  EXPECT_EQ(yuv[0], luma);
  EXPECT_EQ(yuv[size_t(pitch) * (h - 1) + w - 1], luma);
  EXPECT_EQ(yuv[w], 0xAB) << "the pitch's padding is the caller's";
  const uint8_t* u = yuv.data() + pitch * h;
  const uint8_t* v = u + (pitch / 2) * (h / 2);
  EXPECT_EQ(u[0], 128);
  EXPECT_EQ(v[(pitch / 2) * (h / 2 - 1) + w / 2 - 1], 128);
  EXPECT_EQ(yuv[size_t(size)], 0xAB);

  const uint8_t grey = uint8_t(std::lround((luma - 16) * 255.0 / 219));
  std::vector<uint8_t> rgb(size_t(w) * 3 * h);
  ASSERT_EQ(lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_RGB24, rgb.data(), w * 3),
            int32_t(rgb.size()));
  EXPECT_NEAR(rgb[rgb.size() / 2], grey, 2);
  std::vector<uint8_t> rgba(size_t(w) * 4 * h);
  ASSERT_EQ(lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_RGBA, rgba.data(), 0),
            int32_t(rgba.size()));
  EXPECT_NEAR(rgba[4 * 100 + 1], grey, 2);
  EXPECT_EQ(rgba[4 * 100 + 3], 255);
  // A pitch narrower than a row, or an unknown format, writes nothing.
  EXPECT_EQ(lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_RGBA, rgba.data(), w * 4 - 1), -1);
  EXPECT_EQ(lib->ConvertFrame(m.Handle(), m.Frame(), 99, rgba.data(), w * 4), -1);
}

// Full-range sources (motion JPEG) come out in video range for the shaders.
TEST(PluginConvert, FullRangeSourcesBecomeVideoRange) {
  TTempDir dir;
  TOpenMedia m(NumberedClip(dir, "j.avi", {"-c:v", "mjpeg", "-q:v", "1"}, 2));
  ASSERT_TRUE(m.Handle());
  EXPECT_EQ(m.NextFrame(), 0);
  EXPECT_EQ(m.NextFrame(), 1);
}

// Field order: the codec's flags, overridden by the authoring tool's comment.
TEST(PluginFields, InterlacedFlagsAndTheFieldOrderComment) {
  TTempDir dir;
  TRef<TFFMpegDll> lib = Plugin();
  auto flagsOf = [&](const std::string& path) {
    TOpenMedia m(path);
    EXPECT_TRUE(m.Handle());
    if (!m.Handle() || lib->GetNextVideoFrame(m.Handle(), m.Frame()) != 0) return -1;
    return lib->GetFrameInfo(m.Frame()) & (LUM_FRAME_INTERLACED | LUM_FRAME_TOP_FIELD_FIRST);
  };
  std::vector<std::string> interlaced{"-c:v", "mpeg2video", "-flags", "+ilme+ildct", "-top", "1"};
  EXPECT_EQ(flagsOf(NumberedClip(dir, "tff.mpg", interlaced, 5)),
            LUM_FRAME_INTERLACED | LUM_FRAME_TOP_FIELD_FIRST);
  interlaced.back() = "0";
  EXPECT_EQ(flagsOf(NumberedClip(dir, "bff.mpg", interlaced, 5)), LUM_FRAME_INTERLACED);
  EXPECT_EQ(flagsOf(NumberedClip(dir, "p.mp4", {"-c:v", "libx264"}, 5)), 0);
  EXPECT_EQ(flagsOf(NumberedClip(dir, "a.mp4",
                                 {"-c:v", "libx264", "-metadata", "comment=Orvak_ITFA"}, 5)),
            LUM_FRAME_INTERLACED | LUM_FRAME_TOP_FIELD_FIRST);
  EXPECT_EQ(
      flagsOf(NumberedClip(dir, "b.avi", {"-c:v", "mpeg4", "-metadata", "comment=Orvak_ITFB"}, 5)),
      LUM_FRAME_INTERLACED);
  // Before any frame there is nothing to tell.
  TOpenMedia m(dir / "p.mp4");
  EXPECT_EQ(lib->GetFrameInfo(m.Frame()), -1);
  EXPECT_EQ(lib->GetDtsPts2(m.Frame(), nullptr, nullptr), -1);
}

// Animated GIF: its own frame times, transparency kept in RGBA. The left
// half of every frame is transparent; ffmpeg's own RGBA decode of the frame
// is the reference for the rest.
TEST(PluginGif, AnimatedGifFramesAndSeeks) {
  TTempDir dir;
  Ffmpeg({"-f", "lavfi", "-i",
          "testsrc=s=64x48:r=10:d=1,format=rgba,"
          "geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='if(lt(X,32),0,255)'",
          "-vf", "split[a][b];[a]palettegen=reserve_transparent=1[p];[b][p]paletteuse",
          dir / "a.gif"});
  TOpenMedia m(dir / "a.gif");
  ASSERT_TRUE(m.Handle());
  EXPECT_EQ(m.FormatName(), "gif");
  TRef<TFFMpegDll> lib = Plugin();
  std::vector<int64_t> times;
  while (lib->GetNextVideoFrame(m.Handle(), m.Frame()) == 0) {
    int64_t pts = -1;
    lib->GetDtsPts2(m.Frame(), nullptr, &pts);
    times.push_back(pts);
  }
  ASSERT_EQ(times.size(), 10u);
  EXPECT_EQ(times[7], 700000);
  ASSERT_EQ(lib->SeekFile(m.Handle(), -1, 300000, 0), 0);
  ASSERT_EQ(lib->GetNextVideoFrame(m.Handle(), m.Frame()), 0);
  int64_t pts = -1;
  lib->GetDtsPts2(m.Frame(), nullptr, &pts);
  EXPECT_EQ(pts, 300000);
  std::vector<uint8_t> rgba(64 * 48 * 4);
  ASSERT_EQ(lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_RGBA, rgba.data(), 64 * 4),
            int32_t(rgba.size()));
  const test::TCommandResult ref = test::RunCommand(
      {"/usr/bin/ffmpeg", "-nostdin", "-v", "error", "-i", dir / "a.gif", "-vf", "select=eq(n\\,3)",
       "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgba", "-"});
  ASSERT_EQ(ref.status, 0) << ref.err;
  ASSERT_EQ(ref.out.size(), rgba.size());
  int alphaWrong = 0, colourWrong = 0;
  for (size_t i = 0; i < rgba.size(); i += 4) {
    const bool left = (i / 4) % 64 < 32;
    alphaWrong += rgba[i + 3] != (left ? 0 : 255) || uint8_t(ref.out[i + 3]) != rgba[i + 3];
    if (!left)
      for (size_t c = 0; c < 3; ++c) colourWrong += rgba[i + c] != uint8_t(ref.out[i + c]);
  }
  EXPECT_EQ(alphaWrong, 0);
  EXPECT_EQ(colourWrong, 0);
}

// MPEG program streams state no length: the demuxer estimates one from
// stamps near the end, frames short. The length must be the frames ffprobe
// counts, each 40 ms, so that the last of them are shown.
TEST(PluginDurations, ProgramStreamsLastAsLongAsTheirFrames) {
  TTempDir dir;
  for (const char* format : {"vob", "mpeg"})
    for (int seconds : {1, 3, 6})
      for (bool reordered : {false, true}) {
        const std::string s = std::to_string(seconds);
        const std::string path = dir / (s + (reordered ? "b." : ".") + format);
        std::vector<std::string> args = {
            "-f",   "lavfi",      "-i",   "testsrc=duration=" + s + ":size=320x240:rate=25",
            "-f",   "lavfi",      "-i",   "sine=duration=" + s,
            "-c:v", "mpeg2video", "-c:a", "mp2"};
        if (reordered) args.insert(args.end(), {"-bf", "2", "-g", "15"});
        args.insert(args.end(), {"-f", format, path});
        Ffmpeg(args);
        const test::TCommandResult probe = test::RunCommand(
            {"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
             "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path});
        ASSERT_EQ(probe.status, 0) << probe.err;
        const int frames = std::atoi(probe.out.c_str());
        ASSERT_EQ(frames, 25 * seconds) << path;
        TOpenMedia m(path);
        ASSERT_TRUE(m.Handle()) << path;
        EXPECT_NEAR(double(m.Info().videoDurationUs), frames * 40000.0, 1000) << path;
        EXPECT_GE(m.Info().durationUs, m.Info().videoDurationUs) << path;
        // Read from the start after the length was found: every frame.
        int decoded = 0;
        while (decoded < 1000 && Plugin()->GetNextVideoFrame(m.Handle(), m.Frame()) == 0) ++decoded;
        EXPECT_EQ(decoded, frames) << path;
      }
}

}  // namespace
}  // namespace lum
