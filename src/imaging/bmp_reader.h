#pragma once
// Reader of BMP/DIB files: 1, 4, 8 bits through the colour table (expanded
// to 24 bits), RLE4 and RLE8, 16 bits as 5-5-5 or 5-6-5, 24 and 32 bits (with
// bit-field masks in any order, each of up to 8 contiguous bits, alpha from
// the masks of larger headers), bottom-up or top-down. The bitmap's top row
// comes first.
#include "foundation/stream.h"
#include "imaging/bitmap.h"

namespace lum {

// The picture at the stream's position, or nothing (stream position restored)
// when the data is not a BMP it can read: unknown bit counts or compressions,
// impossible masks, pixel data outside the file, sizes beyond kMaxPicturePixels.
TRef<TBitmap> ReadBmp(TStream& stream);

}  // namespace lum
