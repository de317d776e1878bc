// Fuzzes the ADPCM decoders: the first bytes choose the variant, channels and
// block size; the rest is decoded as blocks, directly and inside a WAVE file.
#include <cstdint>
#include <string>
#include <vector>

#include "audio/decoders/adpcm.h"
#include "audio/decoders/converter_factory.h"
#include "foundation/memory_stream.h"

namespace {
std::string Le16(uint16_t v) {
  return std::string{char(v & 0xFF), char(v >> 8)};
}
std::string Le32(uint32_t v) {
  return Le16(uint16_t(v)) + Le16(uint16_t(v >> 16));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  bool ima = data[0] & 1;
  int channels = 1 + ((data[0] >> 1) & 1);
  uint16_t blockAlign = uint16_t(data[1] | data[2] << 8);
  const uint8_t* body = data + 3;
  size_t bodySize = size - 3;
  if (blockAlign == 0) return 0;

  lum::TWaveFormatEx f;
  f.formatTag = ima ? lum::kWaveFormatImaAdpcm : lum::kWaveFormatAdpcm;
  f.channels = uint16_t(channels);
  f.blockAlign = blockAlign;
  int spb = lum::AdpcmSamplesPerBlock(f, nullptr);
  std::vector<int16_t> out;
  static const int16_t kCoefs[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                       {240, 0}, {460, -208}, {392, -232}};
  for (size_t off = 0; spb > 0 && off < bodySize; off += blockAlign) {
    size_t n = std::min<size_t>(blockAlign, bodySize - off);
    out.clear();
    if (ima)
      lum::DecodeImaAdpcmBlock(body + off, n, channels, spb, out);
    else
      lum::DecodeMsAdpcmBlock(body + off, n, channels, spb, kCoefs, 7, out);
    if (out.size() != size_t(spb) * channels) __builtin_trap();
  }

  // The same bytes as a WAVE file, through detection and the decoder.
  std::string fmt =
      Le16(f.formatTag) + Le16(f.channels) + Le32(22050) + Le32(11025) + Le16(blockAlign) +
      Le16(4) + Le16(32) +
      std::string(reinterpret_cast<const char*>(body), std::min<size_t>(32, bodySize));
  fmt.resize(18 + 32, '\0');
  std::string pcm(reinterpret_cast<const char*>(body), bodySize);
  std::string wav =
      "WAVEfmt " + Le32(uint32_t(fmt.size())) + fmt + "data" + Le32(uint32_t(pcm.size())) + pcm;
  lum::TMemoryStream s("RIFF" + Le32(uint32_t(wav.size())) + wav);
  lum::TMediaInfo info;
  if (!lum::DetectMediaInfo(&s, "a.wav", info)) return 0;
  auto dec = lum::CreateWavConverter(&s, "a.wav", info);
  if (!dec || !dec->Open(info)) return 0;
  for (int i = 0; i < 8 && dec->Fill(4096); ++i) dec->Output().Clear();
  dec->Seek(info.durationMs / 3.0);
  dec->Fill(4096);
  return 0;
}
