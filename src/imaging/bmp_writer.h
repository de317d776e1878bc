#pragma once
// Writer of BMP files for saved slides: 24-bit BGR, or 32-bit BGRA when the
// picture has any transparent pixel, bottom-up as every BMP reader expects.
#include <string>

#include "imaging/bitmap.h"

namespace lum {

// The whole BMP file of the bitmap (any pixel format; 16-bit ones are
// widened to 24 bits).
std::string EncodeBmp(const TBitmap& bitmap);

}  // namespace lum
