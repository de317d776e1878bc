#include "imaging/bitmap_store.h"

#include <algorithm>
#include <string>

#include "foundation/errors.h"
#include "foundation/log.h"
#include "imaging/picture_budget.h"

namespace lum {

namespace {
constexpr const char* kModule = "imaging";
}

int TBitmapStore::HalvingSource(int level) const {
  if (level < DecodedLevels()) return -1;
  const int lowest = std::max(DecodedLevels() - 1, 0);
  for (int from = level - 1; from >= lowest; --from)
    if (!levels_[size_t(from)].empty()) return from;
  return DecodesAnyLevel() ? -1 : lowest;
}

int TBitmapStore::AffordableLevel(int level, TPixelFormat wanted) const {
  const TPictureBudget& budget = TPictureBudget::Process();
  const bool convert = wanted != TPixelFormat::None && wanted != params_.format;
  for (int l = level;; ++l) {
    if (size_t(l) < levels_.size() && !levels_[size_t(l)].empty()) return l;
    int64_t bytes = DecodeBytes(l);
    if (bytes > 0 && convert) bytes += LevelBytes(params_.width, params_.height, wanted, l);
    const bool coarsest =
        MipDimension(params_.width, l) <= 1 && MipDimension(params_.height, l) <= 1;
    if (budget.Fits(bytes) || coarsest) return l;
  }
}

void TBitmapStore::Reserve(int level) {
  if (levels_.size() > size_t(level)) return;
  size_t n = levels_.empty() ? 4 : levels_.size();
  while (n <= size_t(level)) n *= 2;
  levels_.resize(n);
}

TRef<TBitmap> TBitmapStore::Cached(int level, TPixelFormat wanted) const {
  for (const TRef<TBitmap>& b : levels_[size_t(level)])
    if (wanted == TPixelFormat::None || b->Format() == wanted) return b;
  return nullptr;
}

TRef<TBitmap> TBitmapStore::ProduceLevel(int level) {
  int from = HalvingSource(level);
  if (from < 0) return DecodeLevel(level);
  // Go down from the finest level at hand two levels per pass where
  // possible: each pass reads its source once, so a whole chain costs little
  // more than reading that level.
  TRef<TBitmap> current = GetMipLevel(from);
  from = current->Level();
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

void TBitmapStore::AddProduced(int& level) {
  TRef<TBitmap> made = ProduceLevel(level);
  if (!made) {
    AssertFailed(kModule, std::string("\"") + ClassName() + ".GetMipLevel(" +
                              std::to_string(level) + ")\" Not Assigned");
  }
  // A coarser level is taken only with the size of the level it says it is:
  // the store underneath (a turned picture's own) had to go coarser.
  const int got = made->Level();
  if (got < level || (got > level && (made->Width() != MipDimension(params_.width, got) ||
                                      made->Height() != MipDimension(params_.height, got))))
    AssertFailed(kModule, "Incorrect MipLevelIndex");
  if (got > level) {
    level = floor_ = got;
    Reserve(level);
  }
  if (levels_[size_t(level)].empty()) levels_[size_t(level)].push_back(made);
}

void TBitmapStore::LogCoarser(int level, int fit) const {
  const TPictureBudget& budget = TPictureBudget::Process();
  Log().Line("Picture \"" + name_ + "\" decoded at mip level " + std::to_string(fit) +
             " instead of " + std::to_string(level) + ": the picture budget of " +
             std::to_string(Megabytes(budget.Limit())) + " MB has " +
             std::to_string(Megabytes(budget.Limit() - budget.Used())) + " MB left");
}

TRef<TBitmap> TBitmapStore::GetMipLevel(int level, TPixelFormat wanted) {
  if (level < 0) AssertFailed(kModule, "Incorrect MipLevelIndex");
  std::lock_guard<std::recursive_mutex> guard(lock_);
  level = std::max(level, floor_.load(std::memory_order_relaxed));
  Reserve(level);
  if (TRef<TBitmap> b = Cached(level, wanted)) return b;
  if (levels_[size_t(level)].empty()) {
    const int fit = HalvingSource(level) < 0 ? AffordableLevel(level, wanted) : level;
    if (fit > level) {
      LogCoarser(level, fit);
      floor_ = fit;
      return GetMipLevel(fit, wanted);
    }
    AddProduced(level);
    if (TRef<TBitmap> b = Cached(level, wanted)) return b;
  }
  TRef<TBitmap> converted = ConvertBitmapFor(levels_[size_t(level)].front(), wanted);
  if (!converted) AssertFailed(kModule, "Invalid Combination Of Bitmap Parameters");
  converted->SetLevel(level);
  levels_[size_t(level)].push_back(converted);
  return converted;
}

bool TBitmapStore::ForgetLevel(int level) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (level < 0 || size_t(level) >= levels_.size() || !Redecodable()) return false;
  std::vector<TRef<TBitmap>>().swap(levels_[size_t(level)]);
  ForgetSources(level);
  return true;
}

bool TBitmapStore::Forgettable() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return Redecodable();
}

TSysBitmapStore::TSysBitmapStore(TRef<TBitmap> bitmap)
    : TBitmapStore({bitmap->Width(), bitmap->Height(), bitmap->Format()}),
      bitmap_(std::move(bitmap)) {
  bitmap_->SetLevel(0);
}

TSysBitmapStore::TSysBitmapStore(TRef<TBitmap> bitmap, TImageParams size)
    : TBitmapStore(size), bitmap_(std::move(bitmap)) {}

TRef<TBitmap> TSysBitmapStore::DecodeLevel(int level) {
  return level <= bitmap_->Level() ? bitmap_ : nullptr;
}

TRotatedBitmapStore::TRotatedBitmapStore(TRef<TBitmapStore> inner, int exifCode)
    : TBitmapStore(inner->Params()), inner_(std::move(inner)), code_(exifCode) {
  if (code_ == 6 || code_ == 8) std::swap(params_.width, params_.height);
  icc_ = inner_->IccProfile();
  iccName_ = inner_->IccName();
}

bool TRotatedBitmapStore::Redecodable() const {
  return inner_->Forgettable();
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
