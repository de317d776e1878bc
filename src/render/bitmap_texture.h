#pragma once
// A picture's texture made straight from its decoded bitmap: no copy of its
// own, the exact size, and the smaller levels made by the back end.
#include "imaging/bitmap.h"
#include "imaging/bitmap_store.h"
#include "render/custom_texture.h"

namespace lum {

class TBitmapTexture : public TCustomTexture {
 public:
  // The bitmap must be 32-bit BGRA; it is kept alive with the texture.
  TBitmapTexture(T3DScreen* screen, TRef<const TBitmap> bitmap, bool mipMaps);
  // A level of a picture's store, which the texture keeps alive. With
  // `forget`, once the device holds the level the store forgets it when it
  // can make it again, and the texture lets its pixels go too; a texture the
  // device loses asks the store for them again.
  TBitmapTexture(T3DScreen* screen, TRef<TBitmapStore> store, TRef<const TBitmap> level,
                 bool mipMaps, bool forget);
  // The pixels while the texture keeps them; null once they left memory.
  const TBitmap* Pixels() const { return bitmap_.Get(); }
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
  // The pixels again from the store; false (the back end released) when it
  // no longer makes them at this size.
  bool Refetch();
  // The back end is complete: the store's copy and ours may go.
  void Filled();

  TRef<const TBitmap> bitmap_;
  TRef<TBitmapStore> store_;
  bool forget_ = false;
  int level_ = 0;
  int rowsWritten_ = 0;  // of the back end, from the top
  bool unmade_ = false;  // the store could not make the pixels again
};

}  // namespace lum
