#include "audio/decoders/ffmpeg_converter.h"
namespace lum {
bool DetectWithVideoLibrary(TStream&, std::string_view, TMediaInfo&) {
  return false;
}
TFFMpegConverter::TFFMpegConverter(TStream* s, std::string_view n, TRef<TFFMpegDll> l)
    : TWavConverter(s), name_(n), lib_(l) {}
TFFMpegConverter::~TFFMpegConverter() = default;
bool TFFMpegConverter::Open(const TMediaInfo&) {
  return false;
}
bool TFFMpegConverter::ReadRaw() {
  return false;
}
bool TFFMpegConverter::Convert(TLocalBuffer&) {
  return false;
}
void TFFMpegConverter::Seek(double) {}
}  // namespace lum
