#pragma once
// Images and the loader registry: a stream plus a file name becomes a
// reference-counted image on a bitmap store, through the first registered
// loader for the name's extension that accepts the data.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/ref_object.h"
#include "foundation/stream.h"
#include "imaging/bitmap_store.h"

namespace lum {

class TFileAccessor;

class TImage : public TRefObject {
 public:
  // keepAlive: held as long as the image (the picture cache's handle).
  explicit TImage(TRef<TBitmapStore> store, std::shared_ptr<void> keepAlive = nullptr);

  const TImageParams& Params() const { return params_; }
  int Width() const { return params_.width; }
  int Height() const { return params_.height; }
  TBitmapStore& Store() const { return *store_; }
  const TRef<TBitmapStore>& StoreRef() const { return store_; }
  TRef<TBitmap> GetMipLevel(int level, TPixelFormat wanted = TPixelFormat::None) const {
    return store_->GetMipLevel(level, wanted);
  }
  // A second handle on the same store.
  TRef<TImage> Clone() const { return MakeRef<TImage>(store_, keepAlive_); }

 private:
  TRef<TBitmapStore> store_;
  TImageParams params_;
  std::shared_ptr<void> keepAlive_;
};

// What a loader is handed. A loader that declines returns nothing and leaves
// the stream where it found it; bad data never raises out of a loader.
struct TLoadRequest {
  TStream& stream;
  std::string_view name;
  // When the caller passed the stream on, a loader may take it over.
  std::unique_ptr<TStream>* owned = nullptr;
  TImageProgress progress;
  // Only the size and format are wanted (stores may skip reading pixels).
  bool headerOnly = false;
};
using TImageLoader = TRef<TBitmapStore> (*)(TLoadRequest& request);

// Adds a loader for a comma- or ';'-separated list of extensions; each is
// normalised (leading blanks and "*" dropped, "." added, lower case).
void RegisterImageLoader(TImageLoader loader, std::string_view extensions);
// Removes every loader (shutdown, tests).
void ClearImageLoaders();
// Registers the built-in loaders once, in their fixed order: .kvgfx, BMP,
// JPEG, the three GIF entries, then PNG. Load calls make sure of this.
void RegisterStandardLoaders();
std::string NormalizeExtension(std::string_view ext);
// The registry's view of a name's extension: lower case, with the dot;
// ".png" for a ".bmp" whose data starts with the PNG signature.
std::string ImageExtension(TStream& stream, std::string_view name);

// Loads a picture; nothing when no loader accepts it.
TRef<TImage> LoadImage(TStream& stream, std::string_view name, bool headerOnly = false);
TRef<TImage> LoadImage(std::unique_ptr<TStream> stream, std::string_view name);
// Opens the name through the accessor and loads it; any failure gives nothing.
TRef<TImage> LoadImageByName(const TFileAccessor& accessor, std::string_view name);
// The store alone (what LoadImage wraps).
TRef<TBitmapStore> LoadBitmapStore(TStream& stream, std::string_view name,
                                   std::unique_ptr<TStream>* owned, bool headerOnly = false);

}  // namespace lum
