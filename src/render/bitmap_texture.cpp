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
  level_ = bitmap_->Level();
  SetSize(bitmap_->Width(), bitmap_->Height());
}

TBitmapTexture::TBitmapTexture(T3DScreen* screen, TRef<TBitmapStore> store,
                               TRef<const TBitmap> level, bool mipMaps, bool forget)
    : TBitmapTexture(screen, std::move(level), mipMaps) {
  store_ = std::move(store);
  forget_ = forget && store_.Get() != nullptr;
}

T3DTexture* TBitmapTexture::BackEnd() {
  if (unmade_) return nullptr;
  if (backEnd_ && rowsWritten_ < height_) WriteRows(height_ - rowsWritten_);
  return TCustomTexture::BackEnd();
}

void TBitmapTexture::Upload() {
  if (!backEnd_) return;
  rowsWritten_ = 0;
  WriteRows(height_);
}

bool TBitmapTexture::UploadAhead(int64_t& bytes) {
  if (unmade_) return true;
  if (!backEnd_) {
    if (!MakeBackEnd()) return true;
    rowsWritten_ = 0;
  }
  if (rowsWritten_ >= height_) return true;
  const int64_t rowBytes = int64_t(width_) * 4;
  const int rows = int(std::clamp<int64_t>(bytes / rowBytes, 1, height_ - rowsWritten_));
  WriteRows(rows);
  bytes -= rows * rowBytes;
  return rowsWritten_ >= height_;
}

bool TBitmapTexture::Refetch() {
  if (bitmap_) return true;
  TRef<TBitmap> b = store_ ? store_->GetMipLevel(level_, TPixelFormat::Bgra32) : nullptr;
  if (b && b->Width() == width_ && b->Height() == height_ && b->Format() == TPixelFormat::Bgra32) {
    bitmap_ = std::move(b);
    return true;
  }
  // Blank rather than garbage (the draw skips a texture without a back
  // end), and for good: every try would decode the picture again.
  unmade_ = true;
  ReleaseBackEnd();
  return false;
}

void TBitmapTexture::WriteRows(int count) {
  if (!Refetch()) return;
  const TPixelView view{bitmap_->Data(), bitmap_->Width(), bitmap_->Height(),
                        int(bitmap_->Pitch()), TSurfaceFormat::BGRA8};
  if (backEnd_->WritePixelRows(view, rowsWritten_, count)) {
    rowsWritten_ += count;
  } else {
    TCustomTexture::Upload();
    rowsWritten_ = height_;
  }
  if (rowsWritten_ >= height_) Filled();
}

void TBitmapTexture::Filled() {
  if (forget_ && backEnd_ && store_->ForgetLevel(level_)) bitmap_ = nullptr;
}

void TBitmapTexture::FillLevel0(TBitmapBuffer& level) {
  const int rows = std::min(bitmap_->Height(), level.height);
  const size_t bytes = size_t(std::min(bitmap_->Width(), level.width)) * 4;
  for (int y = 0; y < rows; ++y)
    std::memcpy(level.data + size_t(y) * size_t(level.pitch), bitmap_->Row(y), bytes);
}

}  // namespace lum
