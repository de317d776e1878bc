// Damaged, hostile and foreign input through the plugin, and a plugin that
// is missing or incomplete: each fails cleanly, nothing crashes or hangs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "video/video_fixtures.h"

namespace lum {
namespace {

using test::Ffmpeg;
using test::NumberedClip;
using test::Plugin;
using test::TMemoryReader;
using test::TOpenMedia;
using test::TTempDir;

// What a source gave: the numbers of its video frames in decoding order
// (each frame's luma tells its number) and its samples.
struct TGot {
  std::vector<int> frames;
  size_t samples = 0;
};

// Decodes and seeks whatever opens; a bounded number of frames must come.
TGot Exercise(TOpenMedia& m) {
  TGot got;
  if (!m.Handle()) return got;
  TRef<TFFMpegDll> lib = Plugin();
  while (got.frames.size() < 1000 && lib->GetNextVideoFrame(m.Handle(), m.Frame()) == 0) {
    std::vector<uint8_t> out(
        size_t(std::max(lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_RGBA, nullptr, 0), 0)));
    if (!out.empty()) lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_RGBA, out.data(), 0);
    got.frames.push_back(test::FrameOfLuma(m.Luma()));
  }
  EXPECT_LT(got.frames.size(), 1000u);
  if (lib->OpenAudioStream(m.Handle()) == 0) got.samples = m.ReadAllAudio().size();
  lib->SeekFile(m.Handle(), -1, 1000000, 0);
  lib->Flush(m.Handle());
  lib->GetNextVideoFrame(m.Handle(), m.Frame());
  return got;
}

// The video frames the ffmpeg program decodes from a file; 0 when it cannot
// open it.
int FfmpegFrames(const std::string& path) {
  const test::TCommandResult r =
      test::RunCommand({"/usr/bin/ffprobe", "-v", "quiet", "-count_frames", "-select_streams",
                        "v:0", "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path});
  return r.status == 0 ? std::atoi(r.out.c_str()) : 0;
}

// The samples the ffmpeg program decodes from a file; 0 when it cannot open it.
size_t FfmpegSamples(const std::string& path) {
  const test::TCommandResult r =
      test::RunCommand({"/usr/bin/ffmpeg", "-nostdin", "-v", "quiet", "-i", path, "-f", "s16le",
                        "-ar", "44100", "-ac", "2", "-"});
  return r.status == 0 ? r.out.size() / 2 : 0;
}

// What a damaged file still holds, as many frames or samples as ffmpeg finds
// in the same bytes, the first frame first and each the frame it was
// (B-frames may leave a gap). The frame damaged at the cut may go either way
// and shows whatever was concealed in it.
void ExpectHeld(const TGot& got, const std::string& bytes, const TTempDir& dir,
                const std::string& ext) {
  const std::string path = dir.Write("held" + ext, bytes);
  if (ext == ".m4a") {
    // Give or take an AAC frame of 1024 stereo samples.
    EXPECT_NEAR(double(got.samples), double(FfmpegSamples(path)), 2 * 1024);
    return;
  }
  const int held = FfmpegFrames(path);
  EXPECT_GE(int(got.frames.size()), held - 1);
  EXPECT_LE(int(got.frames.size()), held + 1);
  if (got.frames.size() < 2) return;
  EXPECT_EQ(got.frames[0], 0);
  for (size_t i = 1; i + 1 < got.frames.size(); ++i)
    EXPECT_GT(got.frames[i], got.frames[i - 1]) << i;
}

class PluginDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    // The index first, so that a cut MP4 still tells where its frames are.
    clips = {
        NumberedClip(dir, "a.mpg", {"-c:v", "mpeg2video", "-g", "12"}, 25),
        NumberedClip(dir, "b.mp4", {"-c:v", "libx264", "-g", "12", "-movflags", "+faststart"}, 25),
        NumberedClip(dir, "c.avi", {"-c:v", "mpeg4", "-g", "12"}, 25)};
    Ffmpeg(
        {"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac", "-movflags", "+faststart", dir / "d.m4a"});
    clips.push_back(dir / "d.m4a");
  }
  TTempDir dir;
  std::vector<std::string> clips;
};

TEST_F(PluginDamage, TruncatedClipsDecodeWhatTheyHold) {
  for (const std::string& c : clips) {
    std::string bytes = test::ReadFile(c);
    const std::string ext = c.substr(c.rfind('.'));
    for (double share : {0.02, 0.3, 0.6, 0.95}) {
      SCOPED_TRACE(c + " cut at " + std::to_string(share));
      const std::string cut = bytes.substr(0, size_t(double(bytes.size()) * share));
      TOpenMedia m(TMemoryReader{cut});
      ExpectHeld(Exercise(m), cut, dir, ext);
    }
  }
}

TEST_F(PluginDamage, FlippedBytesNeverCrash) {
  for (const std::string& c : clips) {
    std::string bytes = test::ReadFile(c);
    for (size_t step : {97u, 1009u, 7919u}) {
      SCOPED_TRACE(c + " flipped every " + std::to_string(step));
      std::string damaged = bytes;
      for (size_t i = step / 3; i < damaged.size(); i += step) damaged[i] = char(damaged[i] ^ 0x5A);
      TOpenMedia m(TMemoryReader(std::move(damaged)));
      Exercise(m);
    }
  }
}

// Reads fail past 4 KB: what was read before still decodes, as the same
// bytes cut off there do. The clips carry a pattern (of mean 0) so that they
// are larger than one read.
TEST_F(PluginDamage, ReaderErrorsEndTheSource) {
  const std::vector<std::string> pattern = {
      "-vf", "geq=lum='16+4*N+12*sin(X*1.7+Y*2.3+N)':cb=128:cr=128", "-g", "12"};
  auto with = [&](std::vector<std::string> codec) {
    codec.insert(codec.end(), pattern.begin(), pattern.end());
    return codec;
  };
  const std::vector<std::string> large = {
      NumberedClip(dir, "n.mpg", with({"-c:v", "mpeg2video", "-q:v", "2"}), 25),
      NumberedClip(dir, "n.mp4", with({"-c:v", "libx264", "-crf", "0", "-movflags", "+faststart"}),
                   25),
      NumberedClip(dir, "n.avi", with({"-c:v", "mpeg4", "-q:v", "2"}), 25), clips.back()};
  for (const std::string& c : large) {
    SCOPED_TRACE(c);
    const std::string bytes = test::ReadFile(c);
    TOpenMedia m(TMemoryReader(bytes, true));
    const TGot got = Exercise(m);
    const int64_t served = m.Source().served;
    ASSERT_GT(served, 0);
    if (!c.ends_with(".m4a")) {
      ASSERT_LT(served, int64_t(bytes.size())) << "the reader never failed";
    }
    ExpectHeld(got, bytes.substr(0, size_t(served)), dir, c.substr(c.rfind('.')));
  }
}

TEST(PluginHostile, ForeignFilesDoNotOpen) {
  for (std::string bytes :
       {std::string(), std::string("hello, this is text\n"), std::string(100000, '\0'),
        std::string("RIFF\xff\xff\xff\xff"
                    "AVI ")}) {
    TOpenMedia m(TMemoryReader(std::move(bytes)));
    EXPECT_FALSE(m.Handle());
  }
}

// Headers that would make the player allocate without bound are refused;
// rates of zero become a usable rate.
TEST(PluginHostile, AbsurdSizesAndRates) {
  std::string frame(16 * 16 * 3 / 2, '\x80');
  TOpenMedia huge(TMemoryReader("YUV4MPEG2 W60000 H60000 F25:1 C420jpeg\nFRAME\n" + frame),
                  "qwe.y4m");
  EXPECT_FALSE(huge.Handle());
  TOpenMedia zero(TMemoryReader("YUV4MPEG2 W16 H16 F0:0 C420jpeg\nFRAME\n" + frame), "qwe.y4m");
  if (zero.Handle()) {
    EXPECT_GT(zero.Info().frameRateNum, 0);
    EXPECT_GT(zero.Info().frameRateDen, 0);
    Exercise(zero);
  }
}

TEST(PluginHostile, AStreamWithoutFramesEndsAtOnce) {
  TTempDir dir;
  // AVI keeps the stream's header (size, codec) though no frame follows it.
  Ffmpeg({"-f", "lavfi", "-i", "color=s=64x48:r=25", "-frames:v", "0", "-c:v", "mpeg4",
          dir / "empty.avi"});
  TOpenMedia m(dir / "empty.avi");
  ASSERT_TRUE(m.Handle()) << "a stream without frames is still a stream";
  TRef<TFFMpegDll> lib = Plugin();
  EXPECT_EQ(lib->GetNextVideoFrame(m.Handle(), m.Frame()), LUM_VIDEO_END);
  EXPECT_EQ(lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_RGBA,
                              std::string(64 * 48 * 4, 0).data(), 0),
            -1);
}

// Playlist formats would read other files: the plugin reads only its reader.
TEST(PluginHostile, PlaylistsReachNoOtherFile) {
  TTempDir dir;
  std::string clip = NumberedClip(dir, "x.mp4", {"-c:v", "libx264"}, 5);
  TOpenMedia m(TMemoryReader("ffconcat version 1.0\nfile '" + clip + "'\n"), "qwelist.ffconcat");
  if (m.Handle()) {
    EXPECT_NE(Plugin()->GetNextVideoFrame(m.Handle(), m.Frame()), 0);
  }
  TOpenMedia h(TMemoryReader("#EXTM3U\n#EXTINF:1,\nfile://" + clip + "\n"), "qwelist.m3u8");
  if (h.Handle()) {
    EXPECT_NE(Plugin()->GetNextVideoFrame(h.Handle(), h.Frame()), 0);
  }
}

TEST(PluginBinding, MissingOrIncompleteLibrariesAreAbsent) {
  TTempDir dir;
  std::string why;
  EXPECT_FALSE(TFFMpegDll::Load(dir / "none.so", &why));
  EXPECT_FALSE(TFFMpegDll::Load(dir.Write("liblumvideo.so", "not a library"), &why));
  EXPECT_FALSE(TFFMpegDll::Load(FAKE_PLUGIN_PARTIAL, &why));
  EXPECT_NE(why.find("missing function"), std::string::npos) << why;
  TFFMpegDll::SetPluginPath(dir / "liblumvideo.so");
  EXPECT_FALSE(TFFMpegDll::Acquire());
  TFFMpegDll::SetPluginPath(LUMVIDEO_PATH);
  EXPECT_TRUE(TFFMpegDll::Acquire());
  TFFMpegDll::SetPluginPath("");
}

}  // namespace
}  // namespace lum
