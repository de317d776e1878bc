#pragma once
// Look-up textures of colour grading: a 32 x 32 x 32 colour volume (pictures
// and video) or a curve texture of 256 entries per channel. A draw binds two
// of one kind and blends from the first to the second.
#include <functional>

#include "imaging/color_lookup.h"
#include "model/color_grade.h"
#include "render/3d_drawer.h"
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
  // Replaces the source and builds again.
  void SetSource(TRef<const TBitmap> source);
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

// Two grades' cells of one size blended into new cells: each byte
// a + (b - a) x t, rounded. Trilinear look-ups are linear in the cells, so
// one look-up in the blend equals the blend of two look-ups.
TRef<TBitmap> BlendGradeCells(const TBitmap& from, const TBitmap& to, double t);

// One look-up texture holding the blend of two grades, made again only when
// one of them or the fraction (in steps of 1/kGradeBlendSteps) changes.
inline constexpr int kGradeBlendSteps = 256;
class TBlendedColorGrade : public TRefObject {
 public:
  TBlendedColorGrade(T3DScreen* screen, TColorGradeKind kind) : screen_(screen), kind_(kind) {}
  TColorGradeKind Kind() const { return kind_; }
  // The texture of from blended towards to by step / kGradeBlendSteps.
  TCustomColorGradeTexture& Blend(const TBitmap& from, const TBitmap& to, int step);

 private:
  T3DScreen* screen_;
  TColorGradeKind kind_;
  // Held so that their addresses name nothing else while compared.
  TRef<const TBitmap> from_, to_;
  int step_ = -1;
  TRef<TCustomColorGradeTexture> texture_;
};

// The look-up texture of baked grade cells (2 curves, 3 volumes), made once
// per cells and kept by the drawer while used.
TCustomColorGradeTexture* GradeTextureFor(T3DDrawer& drawer, const TBitmap& cells, int mode);

// Draws a picture through one frame's grade with a single look-up per
// pixel: the two key frames' grades are blended into one texture (kept by
// the drawer under key, the drawn object) unless one end alone is shown.
// The picture's colour is multiplied by tint (r | g << 8 | b << 16) before
// grading, as text colours are; antialiased edges as plain pictures have.
// False when nothing was drawn.
bool DrawGradedPicture(T3DDrawer& drawer, const void* key, const TQuad3& q, TCustomTexture& picture,
                       const TTexRect& source, double opacity, const TColorGradeDraw& grade,
                       uint32_t tint = 0xFFFFFF, bool antialiased = false);

// Draws a picture over the world quad q through two look-up textures of one
// kind, blended from the first to the second by t: "color_grading" for
// volumes, "color_grade_linear" for curves. False when nothing was drawn.
bool DrawColorGraded(T3DDrawer& drawer, const TQuad3& q, TCustomTexture& picture,
                     const TTexRect& source, double opacity, TCustomColorGradeTexture& from,
                     TCustomColorGradeTexture& to, double t);

}  // namespace lum
