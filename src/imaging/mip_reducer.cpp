#include "imaging/mip_reducer.h"

#include <cstring>

namespace lum {

TMipReducer::TMipReducer(int width, int height, TPixelFormat format, int level)
    : format_(format), height_(height) {
  if (format != TPixelFormat::Bgr24 && format != TPixelFormat::Bgra32)
    throw EImageError("Mip levels are made from 24- or 32-bit rows only");
  out_ = MakeRef<TBitmap>(MipDimension(width, level), MipDimension(height, level), format, level);
  const size_t bpp = size_t(BytesPerPixel(format));
  for (int k = 0; k < level; ++k) {
    TStage s;
    s.width = MipDimension(width, k);
    s.height = MipDimension(height, k);
    s.pending.resize(size_t(s.width) * bpp);
    s.halved.resize(size_t(MipDimension(width, k + 1)) * bpp);
    stages_.push_back(std::move(s));
  }
  if (level > 0) input_.resize(size_t(width) * bpp);
}

uint8_t* TMipReducer::Row() {
  if (done_ >= height_) return nullptr;
  return Direct() ? out_->Row(done_) : input_.data();
}

void TMipReducer::Next() {
  if (done_ >= height_) return;
  if (!Direct()) Push(0, input_.data());
  ++done_;
}

void TMipReducer::Add(const uint8_t* row) {
  if (done_ >= height_) return;
  if (Direct())
    std::memcpy(out_->Row(done_), row, size_t(out_->Width()) * BytesPerPixel(format_));
  else
    Push(0, row);
  ++done_;
}

// A row of the stage's level: the even row of a pair waits for its partner;
// the odd one (or an odd height's last row, on its own) makes a row of the
// next level.
void TMipReducer::Push(size_t stage, const uint8_t* row) {
  TStage& s = stages_[stage];
  const int y = s.received++;
  const bool alone = y == s.height - 1 && (y & 1) == 0;
  if ((y & 1) == 0 && !alone) {
    std::memcpy(s.pending.data(), row, s.pending.size());
    return;
  }
  const uint8_t* first = alone ? row : s.pending.data();
  const bool last = stage + 1 == stages_.size();
  uint8_t* dst = last ? out_->Row(y / 2) : s.halved.data();
  HalveRowPair(format_, first, row, s.width, dst);
  if (!last) Push(stage + 1, dst);
}

TRef<TBitmap> TMipReducer::Finish() {
  const size_t bytes = Direct() ? out_->Pitch() : input_.size();
  while (uint8_t* row = Row()) {
    std::memset(row, 128, bytes);
    Next();
  }
  return out_;
}

}  // namespace lum
