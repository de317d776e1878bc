#pragma once
// A picture's texture made straight from its decoded bitmap: no copy of its
// own, the exact size, and the smaller levels made by the back end.
#include "imaging/bitmap.h"
#include "render/custom_texture.h"

namespace lum {

class TBitmapTexture : public TCustomTexture {
 public:
  // The bitmap must be 32-bit BGRA; it is kept alive with the texture.
  TBitmapTexture(T3DScreen* screen, TRef<const TBitmap> bitmap, bool mipMaps);
  const TBitmap& Bitmap() const { return *bitmap_; }
  void Upload() override;

 protected:
  void FillLevel0(TBitmapBuffer& level) override;

 private:
  TRef<const TBitmap> bitmap_;
};

}  // namespace lum
