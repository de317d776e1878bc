#include "audio/decoders/mpeg_header_scanner.h"
namespace lum {
bool ScanMpeg(TStream&, int64_t, int64_t, uint32_t, bool, TMediaInfo&) {
  return false;
}
}  // namespace lum
