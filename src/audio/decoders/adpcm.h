#pragma once
// MS-ADPCM and IMA-ADPCM block decoding to 16-bit PCM, and the ADPCM decoder.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/decoders/wav_converter.h"

namespace lum {

// Samples per channel of one block; 0 when the format is unusable.
int AdpcmSamplesPerBlock(const TWaveFormatEx& format, const uint8_t* extension);

// Decodes one block of blockAlign bytes into interleaved 16-bit samples
// (appended); false when the block is malformed (it then yields silence).
bool DecodeMsAdpcmBlock(const uint8_t* block, size_t size, int channels, int samplesPerBlock,
                        const int16_t (*coefs)[2], int numCoefs, std::vector<int16_t>& out);
bool DecodeImaAdpcmBlock(const uint8_t* block, size_t size, int channels, int samplesPerBlock,
                         std::vector<int16_t>& out);

class TAdpcmConverter : public TWavConverter {
 public:
  using TWavConverter::TWavConverter;
  bool Open(const TMediaInfo& info) override;
  bool Convert(TLocalBuffer& input) override;
  void Seek(double ms) override;

 private:
  int samplesPerBlock_ = 0;
  int numCoefs_ = 0;
  int16_t coefs_[32][2] = {};
  std::vector<int16_t> pcm16_;
  TLocalBuffer pcm_;
  size_t discard_ = 0;  // bytes of decoded PCM to drop after a seek
};

}  // namespace lum
