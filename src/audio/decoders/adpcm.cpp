#include "audio/decoders/adpcm.h"
namespace lum {
int AdpcmSamplesPerBlock(const TWaveFormatEx&, const uint8_t*) {
  return 0;
}
bool TAdpcmConverter::Open(const TMediaInfo&) {
  return false;
}
bool TAdpcmConverter::Convert(TLocalBuffer&) {
  return false;
}
void TAdpcmConverter::Seek(double) {}
}  // namespace lum
