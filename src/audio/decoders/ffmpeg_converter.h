#pragma once
// Decoder of anything the video library can open, as 16-bit PCM in the mixing
// format.
#include <string>
#include <string_view>

#include "audio/decoders/wav_converter.h"
#include "foundation/ref_object.h"
#include "video/ffmpeg_dll.h"

namespace lum {

// Asks the video library (when loaded) to open the stream; on success info
// gets type 10, the library's duration and the mixing format.
bool DetectWithVideoLibrary(TStream& stream, std::string_view name, TMediaInfo& info);

class TFFMpegConverter : public TWavConverter {
 public:
  TFFMpegConverter(TStream* stream, std::string_view name, TRef<TFFMpegDll> library);
  ~TFFMpegConverter() override;
  bool Open(const TMediaInfo& info) override;
  bool ReadRaw() override;
  bool Convert(TLocalBuffer& input) override;
  void Seek(double ms) override;

 private:
  void Close();
  std::string name_;
  TRef<TFFMpegDll> lib_;
  LumVideoReader reader_{};
  void* media_ = nullptr;
  bool audioOpen_ = false;
  bool ended_ = false;
};

}  // namespace lum
