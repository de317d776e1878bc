#pragma once
// GIF pictures through giflib: the first frame, or every frame composed with
// its disposal mode and laid side by side (".gif|framesatlas"), 32-bit BGRA.
// The frames are counted first and composed in their places in the atlas;
// an atlas holds no more frames than the picture budget allows.
#include <vector>

#include "imaging/bitmap_store.h"

namespace lum {

class TGifBitmapStore : public TSysBitmapStore {
 public:
  // frameWidth: width of one frame in the atlas; delays in milliseconds.
  TGifBitmapStore(TRef<TBitmap> bitmap, int frameWidth, std::vector<int> delaysMs)
      : TSysBitmapStore(std::move(bitmap)), frameWidth_(frameWidth), delays_(std::move(delaysMs)) {}
  const char* ClassName() const override { return "TGifBitmapStore"; }

  int FrameCount() const { return int(delays_.size()); }
  int FrameWidth() const { return frameWidth_; }
  const std::vector<int>& FrameDelays() const { return delays_; }

 private:
  int frameWidth_;
  std::vector<int> delays_;
};

}  // namespace lum
