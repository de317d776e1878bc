#include "audio/decoders/ogg_converter.h"
namespace lum {
struct TOggConverter::TState {};
bool DetectOgg(TStream&, TMediaInfo&) {
  return false;
}
TOggConverter::TOggConverter(TStream* s) : TWavConverter(s) {}
TOggConverter::~TOggConverter() = default;
bool TOggConverter::Open(const TMediaInfo&) {
  return false;
}
bool TOggConverter::ReadRaw() {
  return false;
}
bool TOggConverter::Convert(TLocalBuffer&) {
  return false;
}
void TOggConverter::Seek(double) {}
}  // namespace lum
