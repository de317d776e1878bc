// Damaged, hostile and foreign input through the plugin, and a plugin that
// is missing or incomplete: each fails cleanly, nothing crashes or hangs.
#include <gtest/gtest.h>

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

// Decodes and seeks whatever opens; a bounded number of frames must come.
void Exercise(TOpenMedia& m) {
  if (!m.Handle()) return;
  TRef<TFFMpegDll> lib = Plugin();
  int frames = 0;
  while (lib->GetNextVideoFrame(m.Handle(), m.Frame()) == 0 && frames < 1000) {
    std::vector<uint8_t> out(
        size_t(std::max(lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_RGBA, nullptr, 0), 0)));
    if (!out.empty()) lib->ConvertFrame(m.Handle(), m.Frame(), LUM_VIDEO_RGBA, out.data(), 0);
    ++frames;
  }
  EXPECT_LT(frames, 1000);
  lib->SeekFile(m.Handle(), -1, 1000000, 0);
  lib->Flush(m.Handle());
  lib->GetNextVideoFrame(m.Handle(), m.Frame());
  if (lib->OpenAudioStream(m.Handle()) == 0) m.ReadAllAudio();
}

class PluginDamage : public ::testing::Test {
 protected:
  void SetUp() override {
    clips = {NumberedClip(dir, "a.mpg", {"-c:v", "mpeg2video", "-g", "12"}, 25),
             NumberedClip(dir, "b.mp4", {"-c:v", "libx264", "-g", "12"}, 25),
             NumberedClip(dir, "c.avi", {"-c:v", "mpeg4", "-g", "12"}, 25)};
    Ffmpeg({"-f", "lavfi", "-i", "sine=d=1", "-c:a", "aac", dir / "d.m4a"});
    clips.push_back(dir / "d.m4a");
  }
  TTempDir dir;
  std::vector<std::string> clips;
};

TEST_F(PluginDamage, TruncatedClipsDecodeWhatTheyHold) {
  for (const std::string& c : clips) {
    std::string bytes = test::ReadFile(c);
    for (double share : {0.02, 0.3, 0.6, 0.95}) {
      SCOPED_TRACE(c + " cut at " + std::to_string(share));
      TOpenMedia m(TMemoryReader(bytes.substr(0, size_t(double(bytes.size()) * share))));
      Exercise(m);
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

TEST_F(PluginDamage, ReaderErrorsEndTheSource) {
  for (const std::string& c : clips) {
    TOpenMedia m(TMemoryReader(test::ReadFile(c), true));
    Exercise(m);
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
  Ffmpeg({"-f", "lavfi", "-i", "color=s=64x48:r=25", "-frames:v", "0", "-c:v", "libx264",
          dir / "empty.mkv"});
  TOpenMedia m(dir / "empty.mkv");
  if (!m.Handle()) return;
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
