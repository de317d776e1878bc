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
  // A texture filled in part ahead of its draw is finished first.
  T3DTexture* BackEnd() override;
  void Upload() override;
  // Fills the picture in bands of whole rows; the smaller levels follow the
  // last band.
  bool UploadAhead(int64_t& bytes) override;

 protected:
  void FillLevel0(TBitmapBuffer& level) override;

 private:
  // Writes the next `count` rows of the back end; a back end that cannot
  // take rows is filled whole instead.
  void WriteRows(int count);

  TRef<const TBitmap> bitmap_;
  int rowsWritten_ = 0;  // of the back end, from the top
};

}  // namespace lum
