#pragma once
// PCM converter between two PCM formats: 8-bit unsigned, 16-bit, 24-bit
// (upper 16 bits kept) or 32-bit float input with 1, 2 or 6 channels (six are
// folded to two), to 8- or 16-bit output with 1 or 2 channels at any rate.
// Rate conversion interpolates quadratically over the last three input
// frames; that state carries over between blocks.
#include <cstddef>
#include <cstdint>

#include "audio/decoders/local_buffer.h"
#include "audio/decoders/media_info.h"

namespace lum {

class TPcmResampler {
 public:
  // Formats the converter cannot handle raise ELumError.
  TPcmResampler(const TWaveFormatEx& in, const TWaveFormatEx& out);
  static bool CanConvert(const TWaveFormatEx& in, const TWaveFormatEx& out);

  // Converts the whole frames of input, appends to output and consumes them
  // from input; a partial trailing frame stays.
  void Convert(TLocalBuffer& input, TLocalBuffer& output);
  // Forgets the carried frames (after a seek).
  void Reset();

  const TWaveFormatEx& In() const { return in_; }
  const TWaveFormatEx& Out() const { return out_; }

 private:
  // Reads frame i of src as one or two 16-bit-range samples (not yet clamped).
  void ReadFrame(const uint8_t* src, int32_t& l, int32_t& r) const;
  void WriteFrame(uint8_t*& dst, int32_t l, int32_t r) const;

  TWaveFormatEx in_, out_;
  bool sameRate_;
  double step_;  // input frames per output frame
  // Last three input frames (s0 oldest) per channel and the fraction past s0.
  int32_t hist_[3][2] = {};
  int primed_ = 0;
  double t_ = 0;
};

}  // namespace lum
