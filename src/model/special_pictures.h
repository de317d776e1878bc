#pragma once
// Pictures that objects ask for by special names instead of files: masks made
// from pictures or generated from a preset shape, stand-ins for effect buffers
// and sized texts. The slide host registers the resolver with its file source.
#include <string>
#include <string_view>

#include "imaging/bitmap_store.h"
#include "imaging/image.h"

namespace lum {

class TFileAccessor;

// Generated pictures keep the name they go by (for listings and the drawer).
class TGeneratedBitmapStore : public TSysBitmapStore {
 public:
  TGeneratedBitmapStore(TRef<TBitmap> bitmap, std::string name)
      : TSysBitmapStore(std::move(bitmap)), name_(std::move(name)) {}
  const char* ClassName() const override { return "TGeneratedBitmapStore"; }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
};

// The name of a generated picture; empty for pictures from files.
std::string_view GeneratedPictureName(const TImage& image);

inline constexpr const char* kEffectBufferPictureName = "zaglushka for slide-effect buffer";
inline constexpr const char* kEffectResourcePictureName = "effect resource";
inline constexpr const char* kSizedTextPictureName = "Sized Text Zaglushka";

// Generated pictures are at most this wide and high; larger requests give
// nothing rather than a huge allocation.
inline constexpr int kMaxGeneratedSide = 8192;

// What the resolver may use besides the name.
struct TSpecialPictureContext {
  const TFileAccessor* accessor = nullptr;  // for "Mask: " pictures
  int bufferWidth = 0, bufferHeight = 0;    // effect-buffer size; 0: from the name
};

// The picture of a special name; nothing when the name is not special or
// its picture cannot be made (the caller then looks for a file).
TRef<TImage> ResolveSpecialPicture(std::string_view name, const TSpecialPictureContext& context);

// The fields of a preset-mask description (the part after "PresetedMask:").
struct TPresetMask {
  int width = 512, height = 512;
  int shape = 0;  // 0 rounded rectangle, 1 ellipse
  double p1 = 0, p2 = 0;
};
TPresetMask ParsePresetMask(std::string_view fields);
// White inside, black outside, with a soft band; 32-bit BGRA, alpha 255.
// Nothing for sizes outside 1..kMaxGeneratedSide.
TRef<TBitmap> MakePresetMask(const TPresetMask& mask);
// Soft-band profile: 0 at t = 0 (inside), 1 at t = 1 (outside).
double SoftBandEase(double t);

// Derives alpha from colour in a 32-bit BGRA bitmap, in place.
void AlphaFromColor(TBitmap& bitmap);
// The picture as a 32-bit BGRA copy; alpha from colour when it has none or
// it is opaque everywhere. Made from the finest mip level whose copy fits
// the picture budget (TPictureBudget); its Level() says which.
TRef<TBitmap> MakeMaskBitmap(const TImage& picture);

// The stand-in for a text of w x h pixels (sides 1..kMaxGeneratedSide).
TRef<TBitmap> MakeSizedTextPlaceholder(int width, int height);

}  // namespace lum
