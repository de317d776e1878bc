// Compositions: the text format, envelopes, and the mixer's output checked
// sample by sample on constant-level sources.
#include <gtest/gtest.h>

#include <cstring>

#include "audio/audio_fixtures.h"
#include "audio/composite_converter.h"
#include "audio/composite_params.h"
#include "audio/decoders/converter_factory.h"
#include "support/temp_dir.h"

namespace lum::test {
namespace {

// A stereo 44.1 kHz file holding one constant value per channel.
std::string ConstantWav(const TTempDir& dir, const std::string& name, int16_t l, int16_t r,
                        double ms) {
  size_t frames = size_t(ms * 44.1);
  std::string pcm;
  pcm.reserve(frames * 4);
  for (size_t i = 0; i < frames; ++i) pcm += Le16(uint16_t(l)) + Le16(uint16_t(r));
  return dir.Write(name, RiffWave({{"fmt ", FmtChunk(1, 2, 44100, 16)}, {"data", pcm}}));
}

struct TMix {
  bool ok = false;
  std::vector<int16_t> s;  // interleaved
  int16_t L(double ms) const { return s[size_t(ms * 44.1) * 2]; }
  int16_t R(double ms) const { return s[size_t(ms * 44.1) * 2 + 1]; }
};

TMix Mix(const std::string& text, double seekMs = -1, size_t fill = 7777) {
  RegisterCompositeDecoder();
  TMix m;
  TMediaInfo info;
  if (!DetectMediaInfo(nullptr, text, info)) return m;
  EXPECT_EQ(info.type, kMediaComposite);
  auto conv = CreateWavConverter(nullptr, text, info);
  if (!conv || !conv->Open(info)) return m;
  if (seekMs >= 0) conv->Seek(seekMs);
  std::vector<uint8_t> bytes;
  for (int guard = 0; guard < 100000; ++guard) {
    bool more = conv->Fill(fill);
    TLocalBuffer& out = conv->Output();
    bytes.insert(bytes.end(), out.Data(), out.Data() + out.Size() - conv->Padded());
    out.Clear();
    if (!more) break;
  }
  m.s.resize(bytes.size() / 2);
  if (!m.s.empty()) std::memcpy(m.s.data(), bytes.data(), m.s.size() * 2);
  m.ok = true;
  return m;
}

TCompositeItemParams Item(const std::string& file, int64_t timeLine, int64_t duration,
                          std::vector<std::vector<TVolumeItem>> env = {}) {
  TCompositeItemParams p;
  p.fileName = file;
  p.timeLine = timeLine;
  p.duration = duration;
  p.envelopes = std::move(env);
  return p;
}

TEST(CompositeParams, TextRoundTripsAndConcatenates) {
  TCompositeParams a;
  a.duration = 3000;
  a.items.push_back(Item("LoadFromDisk:C:\\music\\a.mp3", 100, 2000, {{{0, 0}, {500, 1000}}}));
  a.items.back().beginTime = 250;
  a.mainVolume.push_back({0, 3000, {{{0, 800}}}});
  std::string text = a.ToText();
  TCompositeParams b;
  ASSERT_TRUE(b.Parse(text));
  EXPECT_EQ(b.duration, 3000);
  ASSERT_EQ(b.items.size(), 1u);
  EXPECT_EQ(b.items[0].fileName, "LoadFromDisk:C:\\music\\a.mp3");
  EXPECT_EQ(b.items[0].timeLine, 100);
  EXPECT_EQ(b.items[0].beginTime, 250);
  EXPECT_EQ(b.items[0].duration, 2000);
  EXPECT_EQ(b.items[0].envelopes, a.items[0].envelopes);
  ASSERT_EQ(b.mainVolume.size(), 1u);
  EXPECT_EQ(b.mainVolume[0].envelopes, a.mainVolume[0].envelopes);

  TCompositeParams c;
  c.duration = 4000;
  c.items.push_back(Item("b.wav", 500, 0));
  c.mainVolume.push_back({0, 4000, {{{0, 500}}}});
  TCompositeParams both;
  ASSERT_TRUE(both.Parse(text + c.ToText()));
  EXPECT_EQ(both.duration, 7000);
  ASSERT_EQ(both.items.size(), 2u);
  EXPECT_EQ(both.items[1].timeLine, 3500);
  ASSERT_EQ(both.mainVolume.size(), 2u);
  EXPECT_EQ(both.mainVolume[1].start, 3000);
  EXPECT_EQ(both.mainVolume[1].duration, 4000);

  EXPECT_FALSE(both.Parse("[Main]\nDuration=5\n"));
}

TEST(CompositeParams, ListsEndAndCountsAreBounded) {
  std::string text = std::string(kCompositionMarker) +
                     "\n[Main]\nDuration=1000\n"
                     "[0]\nFileName=a.wav\nFadeCount=2\n"
                     "[Vol_0_0_0]\n0=0\n1=100\n[Vol_0_0_1]\n0=10\n[Vol_0_0_2]\n0=20\n1=300\n"
                     "[Vol_0_1_0]\n0=5\n1=700\n"
                     "[1]\nFileName=b.wav\nFadeCount=1000001\n[Vol_1_0_0]\n0=0\n1=5\n"
                     "[2]\nFileName=\n[3]\nFileName=never.wav\n";
  TCompositeParams p;
  ASSERT_TRUE(p.Parse(text));
  ASSERT_EQ(p.items.size(), 2u);  // an empty name ends the list
  ASSERT_EQ(p.items[0].envelopes.size(), 2u);
  // A point without a level ends its envelope.
  EXPECT_EQ(p.items[0].envelopes[0], (std::vector<TVolumeItem>{{0, 100}}));
  EXPECT_EQ(p.items[0].envelopes[1], (std::vector<TVolumeItem>{{5, 700}}));
  EXPECT_TRUE(p.items[1].envelopes.empty());
}

TEST(VolumeParams, PreparedSegmentsAndPositions) {
  // Points out of order, a duplicate time (the first of the pair is dropped).
  TVolumeParams v({{1000, 1000}, {0, 0}, {0, 200}});
  v.Prepare(2000);
  v.SetPosition(0);
  EXPECT_DOUBLE_EQ(v.Gain(), 0.2);
  v.SetPosition(22050);  // 500 ms: halfway from 0.2 to 1.0
  EXPECT_NEAR(v.Gain(), 0.6, 1e-9);
  for (int i = 0; i < 22050; ++i) v.Advance();
  EXPECT_NEAR(v.Gain(), 1.0, 1e-9);
  EXPECT_FALSE(v.Finished());  // the final point sits at the length
  v.SetPosition(88200);
  EXPECT_TRUE(v.Finished());
  EXPECT_DOUBLE_EQ(v.Gain(), 1.0);

  TVolumeParams empty;
  empty.Prepare(1000);
  EXPECT_DOUBLE_EQ(empty.Gain(), 1.0);
  TVolumeParams late({{100, 300}, {200, 900}});
  late.Prepare(1000);
  late.SetPosition(0);
  EXPECT_DOUBLE_EQ(late.Gain(), 0.3);  // before the first point: its level
  for (int i = 0; i < 4410 + 2205; ++i) late.Advance();
  EXPECT_NEAR(late.Gain(), 0.6, 1e-9);
}

TEST(CompositeMixer, TwoCompositionsPlayAsTheirSum) {
  TTempDir dir;
  std::string a = ConstantWav(dir, "a.wav", 1000, -1000, 5000);
  std::string b = ConstantWav(dir, "b.wav", 2000, 3000, 5000);
  TCompositeParams c1, c2;
  c1.duration = 3000;
  c1.items.push_back(Item(a, 0, 0));
  c2.duration = 4000;
  c2.items.push_back(Item(b, 0, 4000));
  TMix m = Mix(c1.ToText() + c2.ToText());
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.s.size() * 2, size_t(MixBytesOfMs(7000)));
  EXPECT_EQ(m.L(1500), 1000);
  EXPECT_EQ(m.R(1500), -1000);
  EXPECT_EQ(m.L(5000), 2000);
  EXPECT_EQ(m.R(5000), 3000);
  // The first item fades out over its last 10 ms, the second in over its first.
  EXPECT_NEAR(m.L(2999.9), 0, 12);
  EXPECT_EQ(m.L(3000), 0);
  EXPECT_NEAR(m.L(3005), 1000, 30);
  EXPECT_EQ(m.L(3010.1), 2000);
}

TEST(CompositeMixer, AutomaticFadesAndClamping) {
  TTempDir dir;
  std::string loud = ConstantWav(dir, "loud.wav", 30000, -30000, 2000);
  TCompositeParams c;
  c.duration = 2000;
  c.items.push_back(Item(loud, 100, 1000));
  c.items.push_back(Item(loud, 500, 1000));
  TMix m = Mix(c.ToText());
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.L(50), 0);  // before the first item
  // The automatic fade-in rises linearly over 441 frames.
  size_t f0 = size_t(100 * 44.1);
  EXPECT_EQ(m.s[f0 * 2], 0);
  EXPECT_NEAR(m.s[(f0 + 220) * 2], 15000, 100);
  EXPECT_EQ(m.L(300), 30000);
  // Overlap: 60000 is clamped, not wrapped.
  EXPECT_EQ(m.L(700), 32767);
  EXPECT_EQ(m.R(700), -32768);
  EXPECT_EQ(m.L(1200), 30000);
  EXPECT_NEAR(m.L(1495), 15000, 100);
  EXPECT_EQ(m.L(1600), 0);
}

TEST(CompositeMixer, EnvelopesMultiplyAndMainVolumeApplies) {
  TTempDir dir;
  std::string a = ConstantWav(dir, "a.wav", 10000, 10000, 3000);
  TCompositeParams c;
  c.duration = 3000;
  // A fade-in over one second, and a flat half-level envelope on top.
  c.items.push_back(Item(a, 0, 3000, {{{0, 0}, {1000, 1000}}, {{0, 500}}}));
  c.mainVolume.push_back({0, 3000, {{{0, 1000}, {2000, 1000}, {2500, 0}}}});
  TMix m = Mix(c.ToText());
  ASSERT_TRUE(m.ok);
  EXPECT_NEAR(m.L(500), 2500, 2);
  EXPECT_NEAR(m.L(1500), 5000, 1);
  EXPECT_NEAR(m.L(2250), 2500, 2);  // main envelope halfway down
  EXPECT_EQ(m.L(2600), 0);
  // A mixer that is sought lands on the same samples.
  TMix s = Mix(c.ToText(), 1234);
  ASSERT_TRUE(s.ok);
  size_t skip = size_t(MixBytesOfMs(1234) / 2);
  ASSERT_EQ(s.s.size(), m.s.size() - skip);
  EXPECT_LE(Compare(m.s, s.s, skip).maxAbs, 1);
}

TEST(CompositeMixer, LaterItemsOpenAheadAndBrokenItemsAreSilent) {
  TTempDir dir;
  std::string a = ConstantWav(dir, "a.wav", 1000, 1000, 1000);
  std::string junk = dir.Write("junk.wav", "RIFF garbage that is no wave");
  TCompositeParams c;
  c.duration = 13000;
  c.items.push_back(Item(dir / "missing.mp3", 0, 1000));
  c.items.push_back(Item(junk, 0, 1000));
  c.items.push_back(Item(a, 12000, 500));
  RegisterCompositeDecoder();
  TCompositeConverter conv(c.ToText());
  ASSERT_TRUE(conv.Open(TMediaInfo()));
  EXPECT_EQ(conv.WaitingCount(), 1u);
  EXPECT_EQ(conv.ReadyCount(), 0u);
  while (conv.Position() < 7100) {
    ASSERT_TRUE(conv.Fill(10000));
    conv.Output().Clear();
  }
  EXPECT_EQ(conv.WaitingCount(), 0u);
  EXPECT_EQ(conv.ReadyCount(), 1u);
  TMix m = Mix(c.ToText());
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.L(500), 0);
  EXPECT_EQ(m.L(12200), 1000);
  EXPECT_EQ(m.L(12600), 0);
  // An item whose file ends early is silent after its end.
  TCompositeParams shortItem;
  shortItem.duration = 3000;
  shortItem.items.push_back(Item(a, 0, 2500));
  TMix s = Mix(shortItem.ToText());
  EXPECT_EQ(s.L(500), 1000);
  EXPECT_EQ(s.L(1500), 0);
  EXPECT_EQ(s.s.size() * 2, size_t(MixBytesOfMs(3000)));
}

TEST(CompositeMixer, OpenItemsAreBounded) {
  TTempDir dir;
  std::string a = ConstantWav(dir, "a.wav", 100, -100, 1000);
  TCompositeParams c;
  c.duration = 1000;
  for (int i = 0; i < 300; ++i) c.items.push_back(Item(a, 0, 1000));
  TMix m = Mix(c.ToText());
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.L(500), int(TCompositeConverter::kMaxOpenItems) * 100);
  EXPECT_EQ(m.R(500), -int(TCompositeConverter::kMaxOpenItems) * 100);
}

}  // namespace
}  // namespace lum::test
