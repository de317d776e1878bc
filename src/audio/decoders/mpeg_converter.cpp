#include "audio/decoders/mpeg_converter.h"
namespace lum {
TMpegConverter::TMpegConverter(TStream* s) : TWavConverter(s) {}
TMpegConverter::~TMpegConverter() = default;
bool TMpegConverter::Open(const TMediaInfo&) {
  return false;
}
bool TMpegConverter::Convert(TLocalBuffer&) {
  return false;
}
void TMpegConverter::Seek(double) {}
}  // namespace lum
