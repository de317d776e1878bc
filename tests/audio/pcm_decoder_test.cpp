// PCM WAVE detection and decoding, against sox's decodes of the same files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "audio/audio_fixtures.h"
#include "audio/decoders/converter_factory.h"
#include "audio/decoders/local_buffer.h"
#include "audio/decoders/pcm_resampler.h"
#include "audio/decoders/stream_opener.h"
#include "foundation/errors.h"
#include "foundation/memory_stream.h"
#include "support/temp_dir.h"

namespace lum::test {
namespace {

// sox synth of a two-tone sound in the given format.
std::string MakeTone(const TTempDir& dir, const std::string& name, int rate, int channels,
                     const std::vector<std::string>& format, double seconds = 1.0) {
  std::string path = dir / name;
  std::vector<std::string> argv = {
      "sox", "-D", "-n", "-r", std::to_string(rate), "-c", std::to_string(channels)};
  argv.insert(argv.end(), format.begin(), format.end());
  argv.insert(argv.end(), {path, "synth", std::to_string(seconds), "sine", "440", "sine", "1250",
                           "vol", "0.7"});
  Tool(argv);
  return path;
}

TEST(PcmDecoder, SixteenBitStereoIsExact) {
  TTempDir dir;
  std::string wav = MakeTone(dir, "a.wav", 44100, 2, {"-b", "16"});
  TDecoded d = DecodeFile(wav);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.info.type, kMediaPcm);
  EXPECT_EQ(d.info.durationMs, 1000u);
  EXPECT_EQ(d.format, MixFormat());
  std::vector<int16_t> ref = SoxDecode(wav, 44100, 2);
  ASSERT_EQ(d.samples.size(), ref.size());
  EXPECT_EQ(d.samples, ref);
}

TEST(PcmDecoder, EightBitMonoPassesThrough) {
  TTempDir dir;
  std::string wav = MakeTone(dir, "a.wav", 22050, 1, {"-b", "8", "-e", "unsigned"});
  TDecoded d = DecodeFile(wav);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.format.bitsPerSample, 8);
  EXPECT_EQ(d.format.samplesPerSec, 22050u);
  std::vector<int16_t> ref = SoxDecode(wav, 22050, 1);
  ASSERT_EQ(d.samples.size(), ref.size());
  EXPECT_EQ(d.samples, ref);
}

// 24-bit and float sources always come out in the mixing format; sox rounds
// where we keep the upper bits, so one step of difference is allowed.
TEST(PcmDecoder, WideAndFloatSourcesBecomeTheMixingFormat) {
  TTempDir dir;
  struct Case {
    std::string name;
    std::vector<std::string> fmt;
    uint8_t type;
  } cases[] = {{"a24.wav", {"-b", "24"}, kMediaPcm},
               {"b24.wav", {"-b", "24", "-t", "wavpcm"}, kMediaPcm},
               {"c32.wav", {"-b", "32"}, kMediaPcm},
               {"f32.wav", {"-e", "floating-point", "-b", "32"}, kMediaFloat}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string wav = MakeTone(dir, c.name, 44100, 2, c.fmt);
    TDecoded d = DecodeFile(wav);
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.info.type, c.type);
    EXPECT_EQ(d.format, MixFormat());
    std::vector<int16_t> ref = SoxDecode(wav, 44100, 2);
    ASSERT_EQ(d.samples.size(), ref.size());
    EXPECT_LE(Compare(d.samples, ref).maxAbs, 1);
  }
}

TEST(PcmDecoder, TwentyTwoKilohertzMonoResampledToTheMixingFormat) {
  TTempDir dir;
  std::string wav = MakeTone(dir, "m.wav", 22050, 1, {"-b", "16"});
  TWaveFormatEx mix = MixFormat();
  TDecoded d = DecodeFile(wav, &mix);
  ASSERT_TRUE(d.opened);
  std::vector<int16_t> ref = SoxDecode(wav, 44100, 2);
  // Two source frames of history are held back at the very end.
  EXPECT_NEAR(double(d.samples.size()), double(ref.size()), 16);
  // Quadratic interpolation against sox's band-limited resampler: close on
  // tones well below the source's Nyquist frequency. The first and last 10 ms
  // are left out: sox's filter rings at the abrupt edges of the tone.
  auto middle = [](const std::vector<int16_t>& v) {
    return std::vector<int16_t>(v.begin() + 1764, v.end() - 1764);
  };
  TDiff diff = Compare(middle(d.samples), middle(ref));
  EXPECT_GT(diff.compared, 80000u);
  EXPECT_LT(diff.meanAbs, 40) << diff.maxAbs;
  EXPECT_LT(diff.meanAbs, 40);
  EXPECT_LT(diff.maxAbs, 400);
}

// Six channels fold to two as c0+c1+c3+c5 and c1+c2+c4+c5; checked against
// sox's decode of the separate channels.
TEST(PcmDecoder, SixChannelsFoldToStereo) {
  TTempDir dir;
  std::string wav = dir / "six.wav";
  Tool({"sox",  "-D",    "-n",   "-r",   "44100", "-c",   "6",   "-b",   "16",
        wav,    "synth", "0.5",  "sine", "200",   "sine", "300", "sine", "400",
        "sine", "500",   "sine", "600",  "sine",  "700",  "vol", "0.2"});
  TDecoded d = DecodeFile(wav);
  ASSERT_TRUE(d.opened);
  EXPECT_EQ(d.format, MixFormat());
  std::vector<int16_t> six = SoxDecode(wav, 44100, 6);
  ASSERT_EQ(d.samples.size() * 3, six.size());
  for (size_t f = 0; f < six.size() / 6; ++f) {
    const int16_t* c = &six[f * 6];
    int l = std::clamp(c[0] + c[1] + c[3] + c[5], -32768, 32767);
    int r = std::clamp(c[1] + c[2] + c[4] + c[5], -32768, 32767);
    ASSERT_EQ(d.samples[2 * f], l) << f;
    ASSERT_EQ(d.samples[2 * f + 1], r) << f;
  }
}

TEST(PcmDecoder, DataChunkAfterOtherChunksIsFound) {
  std::string pcm;
  for (int i = 0; i < 441; ++i) pcm += Le16(uint16_t(i * 50)) + Le16(uint16_t(-i * 50));
  // An odd-sized list chunk takes a pad byte before the data chunk.
  std::string bytes = RiffWave({{"fmt ", FmtChunk(1, 2, 44100, 16)},
                                {"LIST", std::string("INFOISFT\x05\0\0\0lum\0\0", 17)},
                                {"data", pcm}});
  TMemoryStream s(bytes);
  TMediaInfo info;
  ASSERT_TRUE(DetectMediaInfo(&s, "x.wav", info));
  EXPECT_EQ(info.dataOffset, bytes.size() - pcm.size());
  EXPECT_EQ(info.dataSize, pcm.size());
  EXPECT_EQ(info.durationMs, 10u);
  auto conv = CreateWavConverter(&s, "x.wav", info);
  ASSERT_TRUE(conv->Open(info));
  EXPECT_TRUE(conv->Fill(400));
  EXPECT_EQ(std::memcmp(conv->Output().Data(), pcm.data(), 400), 0);
}

TEST(PcmDecoder, ShortSourceIsPaddedAndFillReportsTheEnd) {
  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    std::string pcm(100 * bits / 8, '\x40');
    std::string bytes = RiffWave({{"fmt ", FmtChunk(1, 1, 8000, uint16_t(bits))}, {"data", pcm}});
    TMemoryStream s(bytes);
    TMediaInfo info;
    ASSERT_TRUE(DetectMediaInfo(&s, "short.wav", info));
    auto conv = CreateWavConverter(&s, "short.wav", info);
    ASSERT_TRUE(conv->Open(info));
    EXPECT_FALSE(conv->Fill(1000));
    ASSERT_EQ(conv->Output().Size(), 1000u);
    EXPECT_EQ(conv->Padded(), 1000 - pcm.size());
    const uint8_t* out = conv->Output().Data();
    EXPECT_EQ(out[pcm.size() - 1], 0x40);
    EXPECT_EQ(out[pcm.size()], bits == 8 ? 128 : 0);
    EXPECT_EQ(out[999], bits == 8 ? 128 : 0);
    // Once ended it keeps reporting the end with silence.
    conv->Output().Clear();
    EXPECT_FALSE(conv->Fill(10));
    EXPECT_EQ(conv->Padded(), 10u);
  }
}

TEST(PcmDecoder, SeekStartsAtTheWholeFrameOfTheTime) {
  TTempDir dir;
  std::string wav = MakeTone(dir, "a.wav", 44100, 2, {"-b", "16"});
  TDecoded d = DecodeFile(wav, nullptr, 500);
  ASSERT_TRUE(d.opened);
  std::vector<int16_t> ref = SoxDecode(wav, 44100, 2);
  ASSERT_EQ(d.samples.size(), ref.size() - 22050 * 2);
  EXPECT_EQ(Compare(ref, d.samples, 22050 * 2).maxAbs, 0);
}

TEST(PcmDecoder, PositionAdvancesWithTheDeliveredBytes) {
  std::string bytes =
      RiffWave({{"fmt ", FmtChunk(1, 2, 44100, 16)}, {"data", std::string(176400, '\0')}});
  TMemoryStream s(bytes);
  TMediaInfo info;
  ASSERT_TRUE(DetectMediaInfo(&s, "p.wav", info));
  auto conv = CreateWavConverter(&s, "p.wav", info);
  ASSERT_TRUE(conv->Open(info));
  conv->Seek(250);
  EXPECT_DOUBLE_EQ(conv->Position(), 250);
  while (conv->Output().Size() < 17640) conv->Fill(17640);
  EXPECT_NEAR(conv->Position(), 250 + conv->Output().Size() * 1000.0 / 176400, 1e-9);
}

// Rate conversion carries its last frames and fraction across blocks: the
// result does not depend on how the input is cut.
TEST(PcmResampler, BlocksOfAnySizeGiveTheSameResult) {
  TWaveFormatEx in = PcmFormat(22050, 1);
  TWaveFormatEx out = MixFormat();
  std::vector<int16_t> src(5000);
  for (size_t i = 0; i < src.size(); ++i) src[i] = int16_t(12000 * std::sin(i * 0.05));
  auto run = [&](size_t piece) {
    TPcmResampler r(in, out);
    TLocalBuffer input, output;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(src.data());
    size_t total = src.size() * 2;
    for (size_t off = 0; off < total; off += piece) {
      input.AppendBytes(p + off, std::min(piece, total - off));
      r.Convert(input, output);
    }
    return std::vector<uint8_t>(output.Data(), output.Data() + output.Size());
  };
  std::vector<uint8_t> whole = run(src.size() * 2);
  EXPECT_EQ(run(7), whole);  // odd pieces split frames too
  EXPECT_EQ(run(1000), whole);
  EXPECT_NEAR(double(whole.size()), src.size() * 2 * 4.0, 16);
}

TEST(PcmResampler, OutputsMonoEightBitAndClamps) {
  TWaveFormatEx in = PcmFormat(8000, 2);
  TWaveFormatEx out = PcmFormat(8000, 1, 8);
  TPcmResampler r(in, out);
  TLocalBuffer input, output;
  int16_t frames[] = {32767, 32767, -32768, -32768, 1000, -1000, 256, 512};
  input.AppendBytes(frames, sizeof frames);
  r.Convert(input, output);
  ASSERT_EQ(output.Size(), 4u);
  EXPECT_EQ(output.Data()[0], 255);
  EXPECT_EQ(output.Data()[1], 0);
  EXPECT_EQ(output.Data()[2], 128);
  EXPECT_EQ(output.Data()[3], 129);
  // Upsampling a full-scale square wave overshoots; the result is clamped.
  TPcmResampler up(PcmFormat(8000, 1), PcmFormat(44100, 1));
  TLocalBuffer in2, out2;
  for (int i = 0; i < 64; ++i) {
    int16_t v = (i / 2) % 2 ? 32767 : -32768;
    in2.AppendBytes(&v, 2);
  }
  up.Convert(in2, out2);
  ASSERT_GT(out2.Size(), 0u);
  for (size_t i = 0; i + 1 < out2.Size(); i += 2) {
    int16_t v;
    std::memcpy(&v, out2.Data() + i, 2);
    EXPECT_TRUE(v >= -32768 && v <= 32767);
  }
}

TEST(PcmDetection, BrokenHeadersAreNotPlayable) {
  std::string pcm(400, '\x01');
  std::vector<std::string> bad = {
      "RIFF\x10\0\0\0WAVE",
      "garbage that is not a wave file at all",
      RiffWave({{"fmt ", FmtChunk(1, 0, 44100, 16)}, {"data", pcm}}),
      RiffWave({{"fmt ", FmtChunk(1, 200, 44100, 16)}, {"data", pcm}}),
      RiffWave({{"fmt ", FmtChunk(1, 2, 0, 16)}, {"data", pcm}}),
      RiffWave({{"fmt ", FmtChunk(1, 2, 44100, 16).replace(12, 2, Le16(0))}, {"data", pcm}}),
      RiffWave({{"fmt ", FmtChunk(1, 2, 44100, 16, 4, 0).replace(8, 4, Le32(0))}, {"data", pcm}}),
      RiffWave({{"fmt ", FmtChunk(1, 2, 44100, 12)}, {"data", pcm}}),
      RiffWave({{"fmt ", FmtChunk(77, 2, 44100, 16)}, {"data", pcm}}),
      RiffWave({{"data", pcm}}),  // no format before the data
      RiffWave({{"fmt ", "short"}, {"data", pcm}}),
  };
  // A chunk claiming 4 GB before the data ends the walk.
  std::string absurd =
      RiffWave({{"fmt ", FmtChunk(1, 2, 44100, 16)}, {"junk", "1234"}, {"data", pcm}});
  absurd.replace(absurd.find("junk") + 4, 4, Le32(0xFFFFFFF0u));
  bad.push_back(absurd);
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    TMemoryStream s(bad[i]);
    TMediaInfo info;
    info.durationMs = 77;
    EXPECT_FALSE(DetectMediaInfo(&s, "bad.wav", info));
    EXPECT_EQ(info.type, kMediaNone);
    EXPECT_EQ(info.durationMs, 0u);
  }
}

TEST(PcmDetection, TruncatedDataKeepsWhatIsThere) {
  std::string bytes =
      RiffWave({{"fmt ", FmtChunk(1, 2, 44100, 16)}, {"data", std::string(4000, '\x02')}});
  bytes.replace(bytes.find("data") + 4, 4, Le32(1u << 30));  // claims a gigabyte
  TMemoryStream s(bytes);
  TMediaInfo info;
  ASSERT_TRUE(DetectMediaInfo(&s, "t.wav", info));
  EXPECT_EQ(info.dataSize, 4000u);
  auto conv = CreateWavConverter(&s, "t.wav", info);
  ASSERT_TRUE(conv->Open(info));
  EXPECT_FALSE(conv->Fill(8000));
  EXPECT_EQ(conv->Padded(), 4000u);
}

TEST(StreamOpener, WindowsAndInstalledFunctions) {
  TTempDir dir;
  std::string path = dir.Write("w.bin", "0123456789");
  auto s = OpenSoundStream(path, 4);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Size(), 6);
  char buf[4] = {};
  EXPECT_EQ(s->Read(buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "456");
  EXPECT_EQ(s->Seek(1, TSeekOrigin::Begin), 1);
  EXPECT_EQ(s->Position(), 1);
  s->Read(buf, 1);
  EXPECT_EQ(buf[0], '5');
  EXPECT_THROW(s->Write("x", 1), EAssertion);
  CloseSoundStream(std::move(s));
  EXPECT_FALSE(OpenSoundStream(dir / "missing.wav"));

  int opened = 0, closed = 0;
  InstallStreamOpener(
      [&](const std::string& name) -> std::unique_ptr<TStream> {
        ++opened;
        return std::make_unique<TMemoryStream>(name);
      },
      [&](std::unique_ptr<TStream> st) {
        EXPECT_TRUE(dynamic_cast<TMemoryStream*>(st.get()));
        ++closed;
      });
  s = OpenSoundStream("member-name", 7);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Size(), 4);
  CloseSoundStream(std::move(s));
  InstallStreamOpener(nullptr, nullptr);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(closed, 1);
}

}  // namespace
}  // namespace lum::test
