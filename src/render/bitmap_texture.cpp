#include "render/bitmap_texture.h"

#include <algorithm>
#include <cstring>

#include "foundation/errors.h"

namespace lum {

TBitmapTexture::TBitmapTexture(T3DScreen* screen, TRef<const TBitmap> bitmap, bool mipMaps)
    : TCustomTexture(screen, tkManagedColor, 0, 0, mipMaps), bitmap_(std::move(bitmap)) {
  if (!bitmap_ || bitmap_->Format() != TPixelFormat::Bgra32)
    AssertFailed("bitmap_texture", "Picture texture of a bitmap that is not 32-bit BGRA");
  exactSize_ = true;
  SetSize(bitmap_->Width(), bitmap_->Height());
}

void TBitmapTexture::Upload() {
  if (!backEnd_) return;
  const TPixelView view{bitmap_->Data(), bitmap_->Width(), bitmap_->Height(),
                        int(bitmap_->Pitch()), TSurfaceFormat::BGRA8};
  if (!backEnd_->WritePixels(view)) TCustomTexture::Upload();
}

void TBitmapTexture::FillLevel0(TBitmapBuffer& level) {
  const int rows = std::min(bitmap_->Height(), level.height);
  const size_t bytes = size_t(std::min(bitmap_->Width(), level.width)) * 4;
  for (int y = 0; y < rows; ++y)
    std::memcpy(level.data + size_t(y) * size_t(level.pitch), bitmap_->Row(y), bytes);
}

}  // namespace lum
