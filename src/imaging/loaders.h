#pragma once
// The built-in loader functions (registered by RegisterStandardLoaders).
#include <string>

#include "foundation/log.h"
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

// A loader that keeps the whole file and decodes on demand: TStore is built
// from the file's bytes when the stream starts with the format's signature.
// An embedded colour profile goes by the picture's file name.
template <class TStore, size_t N>
TRef<TBitmapStore> LoadWholeFile(TLoadRequest& request, bool (*signature)(const uint8_t (&)[N]),
                                 const char* format) {
  TPositionGuard guard(request.stream);
  uint8_t head[N];
  try {
    if (request.stream.Read(head, N) != N || !signature(head)) return nullptr;
    request.stream.SetPosition(guard.Start());
  } catch (const ELumError&) {
    return nullptr;
  }
  std::string file;
  if (!ReadRestLimited(request.stream, kMaxPictureFileBytes, file)) return nullptr;
  try {
    auto store = MakeRef<TStore>(std::move(file));
    store->SetProgress(request.progress);
    store->SetName(std::string(request.name));
    if (!store->IccProfile().empty())
      store->SetIccProfile(store->IccProfile(), std::string(request.name));
    guard.Keep();
    return store;
  } catch (const EImageError& e) {
    Log().Line(std::string(format) + " \"" + std::string(request.name) + "\" refused: " + e.what());
    return nullptr;
  }
}

}  // namespace lum
