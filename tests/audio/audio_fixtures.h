#pragma once
// Sounds made by independent tools (sox, lame, oggenc) and reference decodes,
// plus a decode of our own through the decoder factory.
#include <cstdint>
#include <string>
#include <vector>

#include "audio/decoders/media_info.h"

namespace lum::test {

// Runs a tool; fails the test (returns false) when it does not succeed.
bool Tool(const std::vector<std::string>& argv);

// Interleaved 16-bit samples of a raw little-endian file.
std::vector<int16_t> ReadRaw16(const std::string& path);
// sox's decode of a file as raw signed 16-bit at the given rate/channels
// (no dither).
std::vector<int16_t> SoxDecode(const std::string& path, int rate, int channels,
                               const std::vector<std::string>& inputType = {});

struct TDecoded {
  bool detected = false;
  bool opened = false;
  TMediaInfo info;
  TWaveFormatEx format;          // output format
  std::vector<int16_t> samples;  // 16-bit output (8-bit output widened as (b - 128) << 8)
  std::vector<uint8_t> bytes;    // raw output bytes
};
// Detects and decodes the whole file through the factory, optionally into
// another output format, optionally after a seek.
TDecoded DecodeFile(const std::string& path, const TWaveFormatEx* outFormat = nullptr,
                    double seekMs = -1, size_t fillBytes = 4096);

// Largest absolute difference over the common length; counts the length gap.
struct TDiff {
  int maxAbs = 0;
  double meanAbs = 0;
  size_t compared = 0;
};
TDiff Compare(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t offsetA = 0);

// Minimal WAVE writer for hand-made headers: chunks in the given order.
std::string RiffWave(const std::vector<std::pair<std::string, std::string>>& chunks);
std::string FmtChunk(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                     uint16_t blockAlign = 0, uint32_t byteRate = 0);
std::string Le16(uint16_t v);
std::string Le32(uint32_t v);

}  // namespace lum::test
