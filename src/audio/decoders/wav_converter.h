#pragma once
// Decoder interface and the PCM WAVE decoder. A decoder reads its source
// stream in chunks into an input buffer, converts them into an output buffer
// in its output format, and keeps the position of what it delivered.
//
// Use: create through CreateWavConverter (converter_factory.h), Open(info),
// optionally SetOutputFormat(format), then Fill(n) and read the first n bytes
// of Output(), consuming them afterwards. Seek(ms) empties both buffers.
// A decoder is used by one thread at a time. It does not own its stream: the
// caller closes it (CloseSoundStream) after destroying the decoder.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/decoders/local_buffer.h"
#include "audio/decoders/media_info.h"
#include "foundation/stream.h"

namespace lum {

class TPcmResampler;

class TWavConverter {
 public:
  // stream may be null for sources that need none (compositions).
  explicit TWavConverter(TStream* stream);
  virtual ~TWavConverter();
  TWavConverter(const TWavConverter&) = delete;
  TWavConverter& operator=(const TWavConverter&) = delete;

  // Positions the source at ms; both buffers are emptied.
  virtual void Seek(double ms);
  // Moves or converts the input buffer's content into the output buffer and
  // advances the position by the bytes delivered. Whole source blocks only:
  // a partial block stays in the input.
  virtual bool Convert(TLocalBuffer& input);
  // Appends up to the input buffer's free space from the stream, never past
  // the end of the data; true while data remains.
  virtual bool ReadRaw();
  // Sets up buffers and formats and seeks to 0; false when the source cannot
  // be decoded.
  virtual bool Open(const TMediaInfo& info);
  // Decodes until the output buffer holds n bytes; when the source ends the
  // rest is padded with silence (0, or 128 for 8-bit output) and the result
  // is false.
  virtual bool Fill(size_t n);
  // Makes format the output format, converting through a TPcmResampler when
  // it differs from the decoded format; a conversion the resampler cannot do
  // raises ELumError.
  virtual void SetOutputFormat(const TWaveFormatEx& format);

  TLocalBuffer& Output() { return output_; }
  const TWaveFormatEx& OutputFormat() const { return output_.format; }
  const TMediaInfo& Info() const { return info_; }
  // Time of the next byte Convert will deliver, in ms.
  double Position() const { return position_; }
  // Bytes of silence the last Fill appended after the end of the source.
  size_t Padded() const { return padded_; }
  // Length of the source in ms (the detected duration).
  virtual double Length() const { return info_.durationMs; }

 protected:
  // The decoded PCM format before any resampling (input format for PCM
  // sources, 16-bit PCM for compressed ones).
  const TWaveFormatEx& DecodedFormat() const { return decoded_; }
  // Appends decoded PCM (in DecodedFormat) to the output through the
  // resampler when there is one; consumes whole frames of pcm and advances
  // the position.
  void DeliverPcm(TLocalBuffer& pcm);
  void ResetBuffers();

  TStream* stream_;
  TMediaInfo info_;
  TLocalBuffer input_;
  TLocalBuffer output_;
  TWaveFormatEx decoded_;
  size_t chunkSize_ = 4096;
  std::unique_ptr<TPcmResampler> resampler_;
  double position_ = 0;
  int64_t dataEnd_ = 0;  // stream offset where the data ends
  size_t padded_ = 0;
};

}  // namespace lum
