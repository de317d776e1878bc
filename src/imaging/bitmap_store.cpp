#include "imaging/bitmap_store.h"

#include <string>

#include "foundation/errors.h"

namespace lum {

namespace {
constexpr const char* kModule = "imaging";
}

TRef<TBitmap> TBitmapStore::ProduceLevel(int level) {
  if (level < DecodedLevels()) return DecodeLevel(level);
  // Start from the deepest level already made (or the last decoded one) and
  // go down two levels per pass where possible: each pass reads its source
  // once, so a whole chain costs little more than reading level 0.
  int from = level - 1;
  while (from >= DecodedLevels() && levels_[size_t(from)].empty()) --from;
  if (from < 0) from = 0;
  TRef<TBitmap> current = GetMipLevel(from);
  while (from < level) {
    TRef<TBitmap> half, quarter;
    if (from + 2 <= level && HalveBitmapTwice(*current, half, quarter)) {
      half->SetLevel(from + 1);
      quarter->SetLevel(from + 2);
      levels_[size_t(from + 1)].push_back(half);
      current = quarter;
      from += 2;
    } else {
      current = HalveBitmap(*current);
      current->SetLevel(from + 1);
      from += 1;
    }
    if (from < level) levels_[size_t(from)].push_back(current);
  }
  return current;
}

TRef<TBitmap> TBitmapStore::ConvertBitmapFor(const TRef<TBitmap>& bitmap, TPixelFormat wanted) {
  if (wanted == TPixelFormat::None || bitmap->Format() == wanted) return bitmap;
  return ConvertBitmap(*bitmap, wanted);
}

TRef<TBitmap> TBitmapStore::GetMipLevel(int level, TPixelFormat wanted) {
  if (level < 0) AssertFailed(kModule, "Incorrect MipLevelIndex");
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (levels_.size() <= size_t(level)) {
    size_t n = levels_.empty() ? 4 : levels_.size();
    while (n <= size_t(level)) n *= 2;
    levels_.resize(n);
  }
  // Cached bitmaps: the first the store accepts as is.
  for (const TRef<TBitmap>& b : levels_[size_t(level)]) {
    if (wanted == TPixelFormat::None || b->Format() == wanted) return b;
  }
  if (levels_[size_t(level)].empty()) {
    TRef<TBitmap> made = ProduceLevel(level);
    if (!made) {
      AssertFailed(kModule, std::string("\"") + ClassName() + ".GetMipLevel(" +
                                std::to_string(level) + ")\" Not Assigned");
    }
    if (made->Level() != level) AssertFailed(kModule, "Incorrect MipLevelIndex");
    levels_[size_t(level)].push_back(made);
    if (wanted == TPixelFormat::None || made->Format() == wanted) return made;
  }
  TRef<TBitmap> converted = ConvertBitmapFor(levels_[size_t(level)].front(), wanted);
  if (!converted) AssertFailed(kModule, "Invalid Combination Of Bitmap Parameters");
  converted->SetLevel(level);
  levels_[size_t(level)].push_back(converted);
  return converted;
}

TSysBitmapStore::TSysBitmapStore(TRef<TBitmap> bitmap)
    : TBitmapStore({bitmap->Width(), bitmap->Height(), bitmap->Format()}),
      bitmap_(std::move(bitmap)) {
  bitmap_->SetLevel(0);
}

TRef<TBitmap> TSysBitmapStore::DecodeLevel(int level) {
  return level == 0 ? bitmap_ : nullptr;
}

TRotatedBitmapStore::TRotatedBitmapStore(TRef<TBitmapStore> inner, int exifCode)
    : TBitmapStore(inner->Params()), inner_(std::move(inner)), code_(exifCode) {
  if (code_ == 6 || code_ == 8) std::swap(params_.width, params_.height);
  icc_ = inner_->IccProfile();
  iccName_ = inner_->IccName();
}

TRef<TBitmap> TRotatedBitmapStore::DecodeLevel(int level) {
  TRef<TBitmap> src = inner_->GetMipLevel(level);
  return RotateBitmap(*src, code_);
}

int ChooseMipLevel(int w0, int h0, int tw, int th) {
  if (tw <= 0 || th <= 0) AssertFailed(kModule, "ChooseMipLevel: target size must be positive");
  int level = 0, w = w0, h = h0, result = 0;
  while (w > tw && h > th) {
    result = level;
    if (w <= 1 && h <= 1) break;
    w = (w + 1) / 2;
    h = (h + 1) / 2;
    ++level;
  }
  return result;
}

}  // namespace lum
