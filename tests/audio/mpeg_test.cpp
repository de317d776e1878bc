// MPEG audio: header scanning and decoding of lame-encoded files against
// mpg123's own decode (without gap removal, so every frame counts).
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "audio/audio_fixtures.h"
#include "audio/decoders/converter_factory.h"
#include "audio/decoders/mpeg_header_scanner.h"
#include "audio/decoders/stream_opener.h"
#include "foundation/memory_stream.h"
#include "support/temp_dir.h"

namespace lum::test {
namespace {

std::string MakeMp3(const TTempDir& dir, const std::string& name, int rate, int channels,
                    const std::string& seconds, const std::vector<std::string>& lameArgs) {
  std::string wav = dir / (name + ".wav");
  Tool({"sox", "-D", "-n", "-r", std::to_string(rate), "-c", std::to_string(channels), "-b", "16",
        wav, "synth", seconds, "sine", "440", "sine", "700", "vol", "0.6"});
  std::string mp3 = dir / name;
  std::vector<std::string> argv = {"lame", "--quiet"};
  argv.insert(argv.end(), lameArgs.begin(), lameArgs.end());
  argv.insert(argv.end(), {wav, mp3});
  Tool(argv);
  return mp3;
}

std::vector<int16_t> Mpg123Decode(const std::string& mp3) {
  std::string raw = mp3 + ".ref.raw";
  if (!Tool({"mpg123", "-q", "--no-gapless", "-O", raw, mp3})) return {};
  return ReadRaw16(raw);
}

TEST(MpegDecoder, TaggedConstantRateFileMatchesMpg123) {
  TTempDir dir;
  std::string mp3 =
      MakeMp3(dir, "cbr.mp3", 44100, 2, "3",
              {"-b", "128", "--add-id3v2", "--pad-id3v2", "--tt", "Title", "--ty", "2020"});
  std::string bytes = ReadFile(mp3);
  ASSERT_EQ(bytes.substr(0, 3), "ID3");
  ASSERT_EQ(bytes.substr(bytes.size() - 128, 3), "TAG");
  TDecoded d = DecodeFile(mp3);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.info.type, kMediaMpeg);
  EXPECT_GT(d.info.dataOffset, 10u);  // past the ID3v2 tag
  EXPECT_EQ(uint8_t(bytes[d.info.dataOffset]), 0xFF);
  EXPECT_EQ(d.info.dataOffset + d.info.dataSize, bytes.size() - 128);  // ID3v1 left out
  EXPECT_NEAR(d.info.durationMs, 3000, 60);
  EXPECT_EQ(d.format, MixFormat());
  std::vector<int16_t> ref = Mpg123Decode(mp3);
  ASSERT_GT(ref.size(), 44100u * 2 * 2);
  ASSERT_EQ(d.samples.size(), ref.size());
  EXPECT_EQ(Compare(d.samples, ref).maxAbs, 0);
}

TEST(MpegDecoder, VariableRateDurationComesFromTheFrameCount) {
  TTempDir dir;
  std::string mp3 = MakeMp3(dir, "vbr.mp3", 44100, 2, "4", {"-V", "6"});
  TDecoded d = DecodeFile(mp3);
  ASSERT_TRUE(d.opened);
  std::vector<int16_t> ref = Mpg123Decode(mp3);
  // The frame count covers exactly what the decoder yields.
  EXPECT_NEAR(d.info.durationMs, ref.size() / 2 * 1000.0 / 44100, 1.0);
  EXPECT_NEAR(d.info.durationMs, 4000, 60);
  ASSERT_EQ(d.samples.size(), ref.size());
  EXPECT_EQ(Compare(d.samples, ref).maxAbs, 0);
}

TEST(MpegDecoder, LowRateMonoFile) {
  TTempDir dir;
  std::string mp3 = MakeMp3(dir, "m.mp3", 22050, 1, "2", {"-b", "32", "-m", "m"});
  TDecoded d = DecodeFile(mp3);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.format, PcmFormat(22050, 1));
  std::vector<int16_t> ref = Mpg123Decode(mp3);
  ASSERT_EQ(d.samples.size(), ref.size());
  EXPECT_EQ(Compare(d.samples, ref).maxAbs, 0);
}

// Seeking decodes from the frame 100 ms (or less) before the time and drops
// that lead-in: the first sample delivered belongs to the time.
TEST(MpegDecoder, SeekDiscardsTheLeadIn) {
  TTempDir dir;
  std::string mp3 = MakeMp3(dir, "long.mp3", 44100, 2, "8", {"-b", "160"});
  std::vector<int16_t> ref = Mpg123Decode(mp3);
  for (double ms : {50.0, 5000.0, 1234.5}) {
    SCOPED_TRACE(ms);
    TDecoded d = DecodeFile(mp3, nullptr, ms);
    ASSERT_TRUE(d.opened);
    size_t skip = size_t(std::llround(ms / 1000 * 44100)) * 2;
    ASSERT_EQ(d.samples.size(), ref.size() - skip);
    TDiff diff = Compare(ref, d.samples, skip);
    EXPECT_EQ(diff.maxAbs, 0);
  }
}

// Decoders on several threads share the library set-up; each keeps its own state.
TEST(MpegDecoder, DecodersOnSeveralThreads) {
  TTempDir dir;
  std::string mp3 = MakeMp3(dir, "t.mp3", 44100, 2, "2", {"-b", "128"});
  std::vector<int16_t> ref = Mpg123Decode(mp3);
  std::vector<TDecoded> results(4);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < results.size(); ++i)
    threads.emplace_back([&, i] { results[i] = DecodeFile(mp3, nullptr, i * 100.0); });
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < results.size(); ++i) {
    ASSERT_EQ(results[i].format, MixFormat());
    size_t skip = size_t(std::llround(i * 4410.0)) * 2;
    ASSERT_EQ(results[i].samples.size(), ref.size() - skip) << i;
    EXPECT_EQ(Compare(ref, results[i].samples, skip).maxAbs, 0) << i;
  }
}

TEST(MpegDecoder, MpegInsideWave) {
  TTempDir dir;
  std::string mp3 = MakeMp3(dir, "in.mp3", 44100, 2, "2", {"-b", "128", "-t"});  // no tag frame
  std::string frames = ReadFile(mp3);
  std::string fmt = FmtChunk(85, 2, 44100, 0, 1, 16000).substr(0, 16) + Le16(12) + Le16(1) +
                    Le32(2) + Le16(418) + Le16(1) + Le16(1393);
  std::string wav =
      dir.Write("in.wav", RiffWave({{"fmt ", fmt}, {"fact", Le32(88200)}, {"data", frames}}));
  TDecoded d = DecodeFile(wav);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.info.type, kMediaMpeg);
  EXPECT_TRUE(d.info.mpegInWave);
  // Without a VBR header the duration comes from the WAVE's byte rate.
  EXPECT_NEAR(d.info.durationMs, frames.size() * 1000.0 / 16000, 1);
  std::vector<int16_t> ref = Mpg123Decode(mp3);
  ASSERT_EQ(d.samples.size(), ref.size());
  EXPECT_EQ(Compare(d.samples, ref).maxAbs, 0);
}

TEST(MpegDetection, GarbageAndDamageAreHandled) {
  std::mt19937 rng(7);
  std::string noise(200000, '\0');
  for (char& c : noise) c = char(rng());
  std::vector<std::string> bad = {noise, std::string(5000, '\xFF'), "ID3\x03\0\0\x7F\x7F\x7F\x7F",
                                  ""};
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    TMemoryStream s(bad[i]);
    TMediaInfo info;
    EXPECT_FALSE(DetectMediaInfo(&s, "bad.mp3", info));
  }
  // A file cut in the middle decodes what is there and ends.
  TTempDir dir;
  std::string mp3 = MakeMp3(dir, "cut.mp3", 44100, 2, "2", {"-b", "128"});
  std::string bytes = ReadFile(mp3);
  std::string cut = dir.Write("cut2.mp3", bytes.substr(0, bytes.size() / 2 + 33));
  TDecoded d = DecodeFile(cut);
  ASSERT_TRUE(d.opened);
  EXPECT_GT(d.samples.size(), 44100u);
  EXPECT_LT(d.samples.size(), 44100u * 2 * 2);
  // Noise after a valid start ends in silence without a hang.
  std::string mixed = dir.Write("mixed.mp3", bytes.substr(0, 20000) + noise);
  TDecoded m = DecodeFile(mixed);
  ASSERT_TRUE(m.opened);
  EXPECT_LT(m.samples.size(), 44100u * 2 * 8);
}

TEST(MpegHeader, ParsesTheStandardLayouts) {
  TMpegFrameHeader f;
  ASSERT_TRUE(ParseMpegHeader(0xFFFB9064, f));  // MPEG-1 layer III 128 kbit/s 44.1 kHz
  EXPECT_EQ(f.version, 10);
  EXPECT_EQ(f.layer, 3);
  EXPECT_EQ(f.bitRate, 128000);
  EXPECT_EQ(f.sampleRate, 44100);
  EXPECT_EQ(f.frameBytes, 417);
  EXPECT_EQ(f.samplesPerFrame, 1152);
  ASSERT_TRUE(ParseMpegHeader(0xFFF340C4, f));  // MPEG-2 layer III 32 kbit/s 22.05 kHz mono
  EXPECT_EQ(f.sampleRate, 22050);
  EXPECT_EQ(f.channels, 1);
  EXPECT_EQ(f.samplesPerFrame, 576);
  EXPECT_EQ(f.frameBytes, 104);
  EXPECT_FALSE(ParseMpegHeader(0xFFFB0064, f));  // free format
  EXPECT_FALSE(ParseMpegHeader(0xFFFBF064, f));  // bad bit rate
  EXPECT_FALSE(ParseMpegHeader(0xFFFB9C64, f));  // reserved rate
  EXPECT_FALSE(ParseMpegHeader(0xFFEB9064, f));  // reserved version
}

}  // namespace
}  // namespace lum::test
