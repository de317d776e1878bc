#pragma once
// Colour transforms for pictures with ICC profiles. The colour engine is
// liblcms2, opened at run time; without it (or when it fails) pictures are
// copied unconverted. Shows run from a container may carry pre-computed
// conversions instead ("ColorSpaceExe_" members).
#include <functional>
#include <string>
#include <vector>

#include "foundation/ref_object.h"
#include "imaging/bitmap.h"

namespace lum {

class TFileAccessor;

class TColorProfile : public TRefObject {
 public:
  TColorProfile(std::string icc, std::string name) : icc_(std::move(icc)), name_(std::move(name)) {}
  const std::string& Icc() const { return icc_; }
  const std::string& Name() const { return name_; }

 private:
  std::string icc_, name_;
};

struct TPixelRect {
  int x = 0, y = 0, width = 0, height = 0;
};

class TColorTransform : public TRefObject {
 public:
  // Converts src's rectangle into dst at (dx, dy). Both bitmaps must share a
  // 24- or 32-bit format; anything the transform cannot do is copied
  // unchanged. Returns whether the pixels were converted. src and dst may be
  // the same bitmap.
  virtual bool TransformRect(const TBitmap& src, TPixelRect rect, TBitmap& dst, int dx, int dy) = 0;
  // Converts the renderer's 32 x 32 x 32 colour look-up volume (BGR bytes,
  // index r + 32 * g + 1024 * b); false when it stays as it is.
  virtual bool TransformLookupVolume(uint8_t* volume);
};

// --- the colour engine -----------------------------------------------------

// Library files tried in order when the engine is first needed (start-up may
// put an extracted copy first). Resets a loaded engine.
void SetColorEngineLibraries(std::vector<std::string> paths);
// Opens the engine on first use; false when no library has all nine functions.
bool ColorEngineAvailable();

// Copies a rectangle unchanged (overlap within one bitmap is safe).
void CopyRect(const TBitmap& src, TPixelRect rect, TBitmap& dst, int dx, int dy);

// Transform through the engine; quality 1: no optimisation, 2: high
// resolution pre-calculation, 3: low resolution, else the engine's default.
class TEngineColorTransform : public TColorTransform {
 public:
  TEngineColorTransform(TRef<TColorProfile> source, TRef<TColorProfile> output, int quality = 0)
      : source_(std::move(source)), output_(std::move(output)), quality_(quality) {}
  bool TransformRect(const TBitmap& src, TPixelRect rect, TBitmap& dst, int dx, int dy) override;
  bool TransformLookupVolume(uint8_t* volume) override;

 private:
  TRef<TColorProfile> source_, output_;
  int quality_;
};

// A pre-computed conversion: the look-up volume as a 32 x 1024 picture
// (column r, row g + 32 * b, 5-bit levels), converted to 24 bits. Pictures
// go through it by the nearest entry.
class TLookupColorTransform : public TColorTransform {
 public:
  // Throws EImageError unless the bitmap is 32 x 1024.
  explicit TLookupColorTransform(const TBitmap& lookup);
  bool TransformRect(const TBitmap& src, TPixelRect rect, TBitmap& dst, int dx, int dy) override;
  bool TransformLookupVolume(uint8_t* volume) override;

 private:
  TRef<TBitmap> lookup_;  // 24-bit
};

// --- the factory hook --------------------------------------------------------

using TColorTransformFactory =
    std::function<TRef<TColorTransform>(const TColorProfile& source, const TColorProfile& output)>;
// The engine's transform (quality from SetColorTransformQuality).
TRef<TColorTransform> DefaultColorTransformFactory(const TColorProfile& source,
                                                   const TColorProfile& output);
// For shows run from a container: the member "ColorSpaceExe_" + the source
// profile's name + "].KVGFX", or no transform when there is none.
TColorTransformFactory ContainerColorTransformFactory(TRef<TFileAccessor> accessor);
std::string PrecomputedTransformMemberName(std::string_view profileName);

void SetColorTransformFactory(TColorTransformFactory factory);  // empty: the default
void SetColorTransformQuality(int quality);
// A transform through the installed factory; nothing when there is none.
TRef<TColorTransform> MakeColorTransform(const TColorProfile& source, const TColorProfile& output);

}  // namespace lum
