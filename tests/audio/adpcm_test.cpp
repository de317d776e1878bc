// MS-ADPCM and IMA-ADPCM decoding against sox's decodes of sox-encoded files.
#include <gtest/gtest.h>

#include <cstring>

#include "audio/audio_fixtures.h"
#include "audio/decoders/adpcm.h"
#include "audio/decoders/converter_factory.h"
#include "foundation/memory_stream.h"
#include "support/temp_dir.h"

namespace lum::test {
namespace {

std::string MakeAdpcm(const TTempDir& dir, const std::string& name, const std::string& encoding,
                      int rate, int channels, const std::string& seconds) {
  std::string path = dir / name;
  Tool({"sox", "-D", "-n", "-r", std::to_string(rate), "-c", std::to_string(channels), "-e",
        encoding, path, "synth", seconds, "sine", "330", "sine", "2000", "vol", "0.8"});
  return path;
}

TEST(AdpcmDecoder, MatchesSoxExactly) {
  TTempDir dir;
  struct Case {
    std::string name, encoding;
    int rate, channels;
    std::string seconds;  // odd lengths end in a short block
  } cases[] = {{"ms2.wav", "ms-adpcm", 44100, 2, "1.03"},
               {"ms1.wav", "ms-adpcm", 22050, 1, "0.77"},
               {"ima2.wav", "ima-adpcm", 44100, 2, "1.03"},
               {"ima1.wav", "ima-adpcm", 22050, 1, "0.77"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string wav = MakeAdpcm(dir, c.name, c.encoding, c.rate, c.channels, c.seconds);
    TDecoded d = DecodeFile(wav);
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.info.type, kMediaAdpcm);
    EXPECT_EQ(d.format, PcmFormat(c.rate, uint16_t(c.channels)));
    std::vector<int16_t> ref = SoxDecode(wav, c.rate, c.channels);
    EXPECT_NEAR(double(d.info.durationMs), std::stod(c.seconds) * 1000, 50);
    ASSERT_EQ(d.samples.size(), ref.size());
    TDiff diff = Compare(d.samples, ref);
    EXPECT_EQ(diff.maxAbs, 0);
  }
}

TEST(AdpcmDecoder, SeekDropsTheFramesBeforeTheTime) {
  TTempDir dir;
  std::string wav = MakeAdpcm(dir, "s.wav", "ms-adpcm", 22050, 1, "1");
  std::vector<int16_t> ref = SoxDecode(wav, 22050, 1);
  TDecoded d = DecodeFile(wav, nullptr, 300);
  ASSERT_TRUE(d.opened);
  size_t skip = size_t(22050 * 0.3);
  ASSERT_EQ(d.samples.size(), ref.size() - skip);
  EXPECT_EQ(Compare(ref, d.samples, skip).maxAbs, 0);
}

TEST(AdpcmDecoder, MalformedBlocksAreSilentNotFatal) {
  std::vector<int16_t> out;
  uint8_t block[256];
  std::memset(block, 0xFF, sizeof block);  // predictor index 255: out of the table
  const int16_t coefs[1][2] = {{256, 0}};
  EXPECT_FALSE(DecodeMsAdpcmBlock(block, sizeof block, 2, 100, coefs, 1, out));
  EXPECT_EQ(out.size(), 200u);
  out.clear();
  EXPECT_FALSE(DecodeImaAdpcmBlock(block, sizeof block, 1, 50, out));  // step index 255
  EXPECT_EQ(out.size(), 50u);
  out.clear();
  // More samples than the block can hold.
  EXPECT_FALSE(DecodeImaAdpcmBlock(block, 12, 1, 500, out));
  EXPECT_FALSE(DecodeMsAdpcmBlock(block, 3, 1, 500, coefs, 1, out));
  // Nibbles that keep growing the step: samples stay in range, no overflow.
  uint8_t grow[7 + 200];
  std::memset(grow, 0x77, sizeof grow);
  grow[0] = 0;
  out.clear();
  EXPECT_TRUE(DecodeMsAdpcmBlock(grow, sizeof grow, 1, 402, coefs, 1, out));
  ASSERT_EQ(out.size(), 402u);
  EXPECT_EQ(out.back(), 32767);
}

TEST(AdpcmDetection, UnusableLayoutsAreRejected) {
  std::string data(1024, '\x11');
  for (auto [tag, channels, align] : {std::tuple{2, 2, 10}, {17, 2, 4}, {2, 3, 512}, {17, 1, 0}}) {
    SCOPED_TRACE(align);
    std::string fmt = FmtChunk(uint16_t(tag), uint16_t(channels), 22050, 4, uint16_t(align), 11000);
    TMemoryStream s(RiffWave({{"fmt ", fmt}, {"data", data}}));
    TMediaInfo info;
    EXPECT_FALSE(DetectMediaInfo(&s, "a.wav", info));
  }
}

}  // namespace
}  // namespace lum::test
