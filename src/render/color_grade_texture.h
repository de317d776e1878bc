#pragma once
// Look-up textures of colour grading: a 32 x 32 x 32 colour volume (pictures
// and video) or a curve texture of 256 entries per channel. A draw binds two
// of one kind and blends from the first to the second.
#include <functional>

#include "render/3d_drawer.h"
#include "imaging/color_lookup.h"
#include "render/custom_texture.h"

namespace lum {

enum class TColorGradeKind : uint8_t {
  Picture,  // volume, from the identity
  Video,    // volume, from the YUV conversion, indexed (V, U, Y)
  Curve,    // 256 entries per channel
};

// Entries of a curve texture; its rows all hold the curve, as the shader
// reads it at (p, p).
inline constexpr int kCurveEntries = 256;

class TCustomColorGradeTexture : public TRefObject {
 public:
  // Changes the cells before they are uploaded: the volume as a 32 x 1024
  // BGRA bitmap, or the curve as a 256 x 1 BGRA bitmap.
  using TFilter = std::function<void(TBitmap& cells)>;

  // A source replaces the base: a 32 x 1024 picture for a volume, a picture
  // 256 wide for a curve (its first row). One of another size is logged and
  // the base used instead.
  TCustomColorGradeTexture(T3DScreen* screen, TColorGradeKind kind,
                           TRef<const TBitmap> source = nullptr, TFilter filter = {});

  TColorGradeKind Kind() const { return kind_; }
  bool IsVolume() const { return kind_ != TColorGradeKind::Curve; }
  void SetFilter(TFilter filter);
  // Builds the cells again (base as the display now sees it, then the
  // filter) and uploads them.
  void Rebuild();
  // Makes sure of the back end: after a loss it is made again from the kept
  // cells. False when the device is not ready.
  bool Prepare();
  // Null for the other kind.
  TVolumeTexture* Volume() { return volume_.Get(); }
  TPixelTexture* Curve() { return curve_.Get(); }
  // The cells as last built (32 x 1024 or 256 x 1, BGRA).
  const TBitmap& Cells() const { return *cells_; }

 private:
  TColorGradeKind kind_;
  TRef<const TBitmap> source_;
  TFilter filter_;
  TRef<TBitmap> cells_;
  TRef<TVolumeTexture> volume_;
  TRef<TRGBATexture> curve_;
};

// Copies a 32 x 1024 look-up picture (any pixel format) into a volume's
// cells and refreshes it. Throws EImageError for another size.
void SetLookupCells(TVolumeTexture& volume, const TBitmap& lookup);
// A new 32 x 32 x 32 volume texture holding a look-up picture (a picture's
// profile look-up, a show's pre-computed conversion).
TRef<TVolumeTexture> MakeLookupVolume(T3DScreen* screen, const TBitmap& lookup);

// Draws a picture over the world quad q through two look-up textures of one
// kind, blended from the first to the second by t: "color_grading" for
// volumes, "color_grade_linear" for curves. False when nothing was drawn.
bool DrawColorGraded(T3DDrawer& drawer, const TQuad3& q, TCustomTexture& picture,
                     const TTexRect& source, double opacity, TCustomColorGradeTexture& from,
                     TCustomColorGradeTexture& to, double t);

}  // namespace lum
