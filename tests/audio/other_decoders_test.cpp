// Ogg Vorbis through libvorbisfile, the video library binding and the
// decoder it serves, and the factory's choices.
#include <gtest/gtest.h>

#include <cstring>

#include "audio/audio_fixtures.h"
#include "audio/decoders/converter_factory.h"
#include "audio/decoders/stream_opener.h"
#include "foundation/errors.h"
#include "foundation/memory_stream.h"
#include "support/temp_dir.h"
#include "video/ffmpeg_dll.h"

namespace lum::test {
namespace {

std::string MakeOgg(const TTempDir& dir, const std::string& name, int rate, int channels,
                    int seconds = 2) {
  std::string wav = dir / (name + ".wav");
  Tool({"sox",
        "-D",
        "-n",
        "-r",
        std::to_string(rate),
        "-c",
        std::to_string(channels),
        "-b",
        "16",
        wav,
        "synth",
        std::to_string(seconds),
        "sine",
        "440",
        "sine",
        "550",
        "sine",
        "660",
        "vol",
        "0.3"});
  std::string ogg = dir / name;
  Tool({"oggenc", "-Q", "-q", "3", wav, "-o", ogg});
  return ogg;
}

TEST(OggDecoder, MatchesSoxDecode) {
  TTempDir dir;
  std::string ogg = MakeOgg(dir, "a.ogg", 44100, 2);
  TDecoded d = DecodeFile(ogg);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.info.type, kMediaOgg);
  EXPECT_NEAR(d.info.durationMs, 2000, 5);
  std::vector<int16_t> ref = SoxDecode(ogg, 44100, 2);
  ASSERT_EQ(d.samples.size(), ref.size());
  // Both go through libvorbis; only the float-to-integer rounding may differ.
  EXPECT_LE(Compare(d.samples, ref).maxAbs, 1);

  TDecoded s = DecodeFile(ogg, nullptr, 1500);
  ASSERT_TRUE(s.opened);
  size_t skip = size_t(44100 * 1.5) * 2;
  ASSERT_EQ(s.samples.size(), ref.size() - skip);
  EXPECT_LE(Compare(ref, s.samples, skip).maxAbs, 1);
}

TEST(OggDecoder, MonoAt22kAndBrokenFiles) {
  TTempDir dir;
  std::string ogg = MakeOgg(dir, "m.ogg", 22050, 1);
  TWaveFormatEx mix = MixFormat();
  TDecoded d = DecodeFile(ogg, &mix);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.format, mix);
  EXPECT_NEAR(double(d.samples.size()), 44100 * 2 * 2, 64);

  // Cut in the middle of a page, 16 s of sound in pages of about 2 s: what
  // the whole pages before the cut hold plays, as it does through sox (and
  // oggdec and ffmpeg alike); cut inside its headers, nothing opens.
  std::string bytes = ReadFile(MakeOgg(dir, "long.ogg", 22050, 1, 16));
  std::string cut = dir.Write("cut.ogg", bytes.substr(0, bytes.size() / 2));
  TDecoded c = DecodeFile(cut);
  ASSERT_TRUE(c.opened);
  const std::vector<int16_t> held = SoxDecode(cut, 22050, 1);
  ASSERT_GT(held.size(), 22050u * 4);
  ASSERT_EQ(c.samples.size(), held.size());
  EXPECT_LE(Compare(c.samples, held).maxAbs, 1);
  EXPECT_FALSE(DecodeFile(dir.Write("head.ogg", bytes.substr(0, 1000))).opened);
  std::string garbage = dir.Write("g.ogg", std::string(3000, 'x'));
  EXPECT_FALSE(DecodeFile(garbage).detected);
}

TEST(VideoLibrary, AbsentOrIncompleteLibrariesAreNotUsed) {
  std::string why;
  EXPECT_FALSE(TFFMpegDll::Load("/nonexistent/liblumvideo.so", &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(TFFMpegDll::Load(FAKE_PLUGIN_PARTIAL, &why));
  EXPECT_NE(why.find("missing function"), std::string::npos) << why;
  TRef<TFFMpegDll> lib = TFFMpegDll::Load(FAKE_PLUGIN_COMPLETE, &why);
  ASSERT_TRUE(lib) << why;
  EXPECT_TRUE(lib->GetNextAudioFrame);

  TFFMpegDll::SetPluginPath("/nonexistent/liblumvideo.so");
  EXPECT_FALSE(TFFMpegDll::Acquire());
  // Without the library, anything else is not playable and type 10 has no decoder.
  TMemoryStream s(std::string("FAKEAV") + std::string(400, '\0'));
  TMediaInfo info;
  EXPECT_FALSE(DetectMediaInfo(&s, "clip.avi", info));
  info.type = kMediaVideoLib;
  EXPECT_FALSE(CreateWavConverter(&s, "clip.avi", info));
  TFFMpegDll::SetPluginPath("");
}

TEST(VideoLibrary, DecodesWhatNoBuiltInDecoderTakes) {
  TFFMpegDll::SetPluginPath(FAKE_PLUGIN_COMPLETE);
  std::string pcm;
  for (int i = 0; i < 44100; ++i) pcm += Le16(uint16_t(i)) + Le16(uint16_t(-i));
  TTempDir dir;
  // A ".ogg" that is not Ogg falls through to the video library as well.
  for (const char* name : {"clip.avi", "odd.ogg"}) {
    SCOPED_TRACE(name);
    std::string path = dir.Write(name, "FAKEAV" + pcm);
    TDecoded d = DecodeFile(path, nullptr, -1, 3000);
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.info.type, kMediaVideoLib);
    EXPECT_EQ(d.info.durationMs, 1000u);
    EXPECT_EQ(d.format, MixFormat());
    ASSERT_EQ(d.bytes.size(), pcm.size());
    EXPECT_EQ(std::memcmp(d.bytes.data(), pcm.data(), pcm.size()), 0);
    TDecoded s = DecodeFile(path, nullptr, 500);
    ASSERT_EQ(s.bytes.size(), pcm.size() / 2);
    EXPECT_EQ(std::memcmp(s.bytes.data(), pcm.data() + pcm.size() / 2, pcm.size() / 2), 0);
  }
  TFFMpegDll::SetPluginPath("");
}

TEST(DecoderFactory, TypesAndHooks) {
  TMemoryStream s("x");
  TMediaInfo info;
  info.type = 7;
  EXPECT_THROW(CreateWavConverter(&s, "x", info), EAssertion);
  info.type = kMediaWma;
  EXPECT_FALSE(CreateWavConverter(&s, "x.wma", info));
  // A composition needs the hook of the mixer's library.
  std::string text = std::string(kCompositionMarker) + "\n[Main]\nDuration=10\n";
  EXPECT_FALSE(DetectMediaInfo(nullptr, text, info));
  SetCompositeHook({[](std::string_view, TMediaInfo& i) {
                      i.type = kMediaComposite;
                      i.durationMs = 10;
                      return true;
                    },
                    [](std::string_view) { return std::make_unique<TWavConverter>(nullptr); }});
  EXPECT_TRUE(DetectMediaInfo(nullptr, text, info));
  EXPECT_EQ(info.type, kMediaComposite);
  EXPECT_TRUE(CreateWavConverter(nullptr, text, info));
  SetCompositeHook({});
  EXPECT_FALSE(CreateWavConverter(nullptr, text, info));
}

}  // namespace
}  // namespace lum::test
