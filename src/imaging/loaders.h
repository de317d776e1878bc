#pragma once
// The built-in loader functions (registered by RegisterStandardLoaders).
#include "imaging/image.h"

namespace lum {

TRef<TBitmapStore> LoadGfxPicture(TLoadRequest& request);      // .kvgfx
TRef<TBitmapStore> LoadBmpPicture(TLoadRequest& request);      // .bmp, .dib
TRef<TBitmapStore> LoadJpegPicture(TLoadRequest& request);     // .jpg ...
TRef<TBitmapStore> LoadGifPicture(TLoadRequest& request);      // .gif: the first frame
TRef<TBitmapStore> LoadGifFirstFrame(TLoadRequest& request);   // .gif_first_frame
TRef<TBitmapStore> LoadGifFramesAtlas(TLoadRequest& request);  // .gif|framesatlas
TRef<TBitmapStore> LoadPngPicture(TLoadRequest& request);      // .png

// Restores a stream position when a loader leaves without a picture.
class TPositionGuard {
 public:
  explicit TPositionGuard(TStream& s) : s_(s), pos_(s.Position()) {}
  ~TPositionGuard() {
    if (armed_) {
      try {
        s_.SetPosition(pos_);
      } catch (...) {
      }
    }
  }
  void Keep() { armed_ = false; }
  int64_t Start() const { return pos_; }

 private:
  TStream& s_;
  int64_t pos_;
  bool armed_ = true;
};

// The rest of a stream in memory, at most limit bytes; false when it is
// longer or cannot be read (position then restored).
bool ReadRestLimited(TStream& stream, int64_t limit, std::string& out);

// Most bytes a compressed picture file may have (JPEG, PNG, GIF, .kvgfx).
inline constexpr int64_t kMaxPictureFileBytes = int64_t(1) << 30;

}  // namespace lum
