#pragma once
// Ogg Vorbis decoding through libvorbisfile, reading the source stream.
#include "audio/decoders/wav_converter.h"

namespace lum {

// Fills info for an Ogg Vorbis stream (type 6); false when it is not one.
bool DetectOgg(TStream& stream, TMediaInfo& info);

class TOggConverter : public TWavConverter {
 public:
  explicit TOggConverter(TStream* stream);
  ~TOggConverter() override;
  bool Open(const TMediaInfo& info) override;
  bool ReadRaw() override;
  bool Convert(TLocalBuffer& input) override;
  void Seek(double ms) override;

 private:
  void Close();
  struct TState;
  std::unique_ptr<TState> state_;
  bool ended_ = false;
};

}  // namespace lum
