#pragma once
// MPEG audio decoder over libmpg123 in feed mode. All MPEG decoders share one
// process-wide library handle, used only under its lock and freed with the
// last decoder.
#include <memory>

#include "audio/decoders/mpeg_header_scanner.h"
#include "audio/decoders/wav_converter.h"

namespace lum {

class TMpegConverter : public TWavConverter {
 public:
  explicit TMpegConverter(TStream* stream);
  ~TMpegConverter() override;
  bool Open(const TMediaInfo& info) override;
  bool Convert(TLocalBuffer& input) override;
  // Positions at the frame of ms - min(ms, 100) and discards the PCM of that
  // lead-in, so the first sample delivered belongs to ms.
  void Seek(double ms) override;

 public:
  struct TShared;

 private:
  void ResetDecoder();
  void Decode(const uint8_t* data, size_t size, TLocalBuffer& pcm);

  TShared* shared_ = nullptr;  // the process-wide decoder (counted)
  void* handle_ = nullptr;     // this decoder's mpg123 handle
  TMpegFrameHeader first_;
  TMpegFrameIndex index_;
  TLocalBuffer pcm_;
  size_t discard_ = 0;  // bytes of lead-in still to drop
};

}  // namespace lum
