#pragma once
// Software drawing shared by the navigation bars: 32-bit BGRA pictures with
// straight alpha composed into a bar's bitmap, clipped to a redrawn part.
#include "imaging/bitmap.h"
#include "render/3d_types.h"

namespace lum {

// The common part of two rectangles (empty when they do not meet).
TRect IntersectRects(const TRect& a, const TRect& b);
// The smallest rectangle holding both; an empty one adds nothing.
TRect UniteRects(const TRect& a, const TRect& b);

// src drawn over dst into the rectangle `to` (stretched, nearest pixel, or
// tiled from its top left), only inside clip.
void DrawPicture(TBitmap& dst, const TRect& clip, const TRect& to, const TBitmap& src, bool tiled);
// Makes the part transparent.
void ClearPart(TBitmap& dst, const TRect& part);
// Copies the part from src (of the same size) into dst.
void CopyPart(TBitmap& dst, const TBitmap& src, const TRect& part);
// A w x h cut-out of src at (x, y); parts outside src stay transparent.
// Null for an empty size.
TRef<TBitmap> CutPicture(const TBitmap& src, int x, int y, int w, int h);

}  // namespace lum
