#include "render/color_grade_texture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/errors.h"
#include "foundation/log.h"

namespace lum {

namespace {

// As drawn pictures: premultiplied ones take the opacity in their colour.
TColor OpacityColor(const TCustomTexture& texture, double opacity) {
  const auto a = uint32_t(std::lround(std::clamp(opacity, 0.0, 1.0) * 255));
  return texture.premultiplied ? a * 0x01010101u : (a << 24) | 0xFFFFFFu;
}

bool IsLookupPicture(const TBitmap& b) {
  return b.Width() == kLookupSize && b.Height() == kLookupRows;
}

}  // namespace

TCustomColorGradeTexture::TCustomColorGradeTexture(T3DScreen* screen, TColorGradeKind kind,
                                                   TRef<const TBitmap> source, TFilter filter)
    : kind_(kind), source_(std::move(source)), filter_(std::move(filter)) {
  if (IsVolume())
    volume_ = MakeRef<TVolumeTexture>(screen, kLookupSize, kLookupSize, kLookupSize);
  else
    // As many rows as the smallest back-end texture has, so that none reads blank.
    curve_ = MakeRef<TRGBATexture>(screen, kCurveEntries, TextureSizeFor(1));
  Rebuild();
}

void TCustomColorGradeTexture::SetSource(TRef<const TBitmap> source) {
  source_ = std::move(source);
  Rebuild();
}

void TCustomColorGradeTexture::SetFilter(TFilter filter) {
  filter_ = std::move(filter);
  Rebuild();
}

void TCustomColorGradeTexture::Rebuild() {
  TRef<TBitmap> cells;
  if (IsVolume()) {
    if (source_ && !IsLookupPicture(*source_)) {
      Log().Line("Colour look-up picture of " + std::to_string(source_->Width()) + " x " +
                 std::to_string(source_->Height()) + " ignored");
      source_ = nullptr;
    }
    const TLookupBase base =
        kind_ == TColorGradeKind::Video ? TLookupBase::Video : TLookupBase::Identity;
    cells = ConvertBitmap(source_ ? *source_ : *DisplayLookupBase(base), TPixelFormat::Bgra32);
  } else {
    if (source_ && source_->Width() != kCurveEntries) {
      Log().Line("Colour curve picture of width " + std::to_string(source_->Width()) + " ignored");
      source_ = nullptr;
    }
    cells = MakeRef<TBitmap>(kCurveEntries, 1, TPixelFormat::Bgra32);
    if (source_) {
      TRef<TBitmap> s = ConvertBitmap(*source_, TPixelFormat::Bgra32);
      std::memcpy(cells->Row(0), s->Row(0), size_t(kCurveEntries) * 4);
    } else {
      uint8_t* p = cells->Row(0);
      for (int n = 0; n < kCurveEntries; ++n)
        p[n * 4] = p[n * 4 + 1] = p[n * 4 + 2] = uint8_t(n), p[n * 4 + 3] = 255;
    }
  }
  if (filter_) filter_(*cells);
  cells_ = cells;
  if (volume_) {
    SetLookupCells(*volume_, *cells_);
  } else {
    for (int y = 0; y < curve_->Height(); ++y)
      std::memcpy(curve_->Pixels() + size_t(y) * curve_->Pitch(), cells_->Row(0),
                  size_t(kCurveEntries) * 4);
    curve_->Refresh();
  }
}

bool TCustomColorGradeTexture::Prepare() {
  // A lost back end comes back from the kept cells.
  return volume_ ? volume_->BackEnd() != nullptr : curve_->BackEnd() != nullptr;
}

void SetLookupCells(TVolumeTexture& volume, const TBitmap& lookup) {
  if (!IsLookupPicture(lookup) || volume.Width() != kLookupSize || volume.Height() != kLookupSize ||
      volume.Depth() != kLookupSize)
    throw EImageError("Colour look-up picture must be 32 x 1024");
  TRef<TBitmap> cells;
  const TBitmap* b = &lookup;
  if (lookup.Format() != TPixelFormat::Bgra32) {
    cells = ConvertBitmap(lookup, TPixelFormat::Bgra32);
    b = cells.Get();
  }
  for (int y = 0; y < kLookupRows; ++y)
    std::memcpy(volume.Cells() + size_t(y) * kLookupSize * 4, b->Row(y), size_t(kLookupSize) * 4);
  volume.Refresh();
}

TRef<TVolumeTexture> MakeLookupVolume(T3DScreen* screen, const TBitmap& lookup) {
  auto v = MakeRef<TVolumeTexture>(screen, kLookupSize, kLookupSize, kLookupSize);
  SetLookupCells(*v, lookup);
  return v;
}

TRef<TBitmap> BlendGradeCells(const TBitmap& from, const TBitmap& to, double t) {
  if (from.Width() != to.Width() || from.Height() != to.Height() ||
      from.Format() != TPixelFormat::Bgra32 || to.Format() != TPixelFormat::Bgra32)
    AssertFailed("ColorGradeTexture", "Grades of different sizes blended together");
  // Fixed point: t in steps of 1/256, so a row is plain integer work.
  const int k = int(std::lround(std::clamp(t, 0.0, 1.0) * 256));
  auto cells = MakeRef<TBitmap>(from.Width(), from.Height(), TPixelFormat::Bgra32);
  const size_t bytes = size_t(from.Width()) * 4;
  for (int y = 0; y < from.Height(); ++y) {
    const uint8_t* a = from.Row(y);
    const uint8_t* b = to.Row(y);
    uint8_t* d = cells->Row(y);
    for (size_t i = 0; i < bytes; ++i) d[i] = uint8_t(a[i] + (((int(b[i]) - a[i]) * k + 128) >> 8));
  }
  return cells;
}

TCustomColorGradeTexture& TBlendedColorGrade::Blend(const TBitmap& from, const TBitmap& to,
                                                    int step) {
  if (texture_ && from_.Get() == &from && to_.Get() == &to && step == step_) return *texture_;
  from_ = TRef<const TBitmap>(&from);
  to_ = TRef<const TBitmap>(&to);
  step_ = step;
  TRef<const TBitmap> cells = BlendGradeCells(from, to, double(step) / kGradeBlendSteps);
  if (!texture_)
    texture_ = MakeRef<TCustomColorGradeTexture>(screen_, kind_, std::move(cells));
  else
    texture_->SetSource(std::move(cells));
  return *texture_;
}

TCustomColorGradeTexture* GradeTextureFor(T3DDrawer& drawer, const TBitmap& cells, int mode) {
  // Baked cells are made anew on every change, so they key their texture.
  if (auto* kept = dynamic_cast<TCustomColorGradeTexture*>(drawer.Cached(&cells))) return kept;
  const TColorGradeKind kind =
      mode == kGradeCurves ? TColorGradeKind::Curve : TColorGradeKind::Picture;
  auto made =
      MakeRef<TCustomColorGradeTexture>(&drawer.Screen(), kind, TRef<const TBitmap>(&cells));
  drawer.SetCached(&cells, made);
  return made.Get();
}

namespace {

// The one texture a frame's grade needs: an end when only it shows, else the
// object's blend.
TCustomColorGradeTexture* OneGradeTexture(T3DDrawer& drawer, const void* key,
                                          const TColorGradeDraw& grade) {
  const int step = int(std::lround(std::clamp(grade.t, 0.0, 1.0) * kGradeBlendSteps));
  if (step == 0 || grade.from.Get() == grade.to.Get())
    return GradeTextureFor(drawer, *grade.from, grade.mode);
  if (step == kGradeBlendSteps) return GradeTextureFor(drawer, *grade.to, grade.mode);
  const TColorGradeKind kind =
      grade.mode == kGradeCurves ? TColorGradeKind::Curve : TColorGradeKind::Picture;
  auto* blend = dynamic_cast<TBlendedColorGrade*>(drawer.Cached(key));
  if (!blend || blend->Kind() != kind) {
    auto made = MakeRef<TBlendedColorGrade>(&drawer.Screen(), kind);
    blend = made.Get();
    drawer.SetCached(key, made);
  }
  return &blend->Blend(*grade.from, *grade.to, step);
}

}  // namespace

bool DrawGradedPicture(T3DDrawer& drawer, const void* key, const TQuad3& q, TCustomTexture& picture,
                       const TTexRect& source, double opacity, const TColorGradeDraw& grade,
                       uint32_t tint, bool antialiased) {
  if (grade.mode < kGradeCurves || !grade.from || !grade.to || opacity <= 0) return false;
  TCustomColorGradeTexture* look = OneGradeTexture(drawer, key, grade);
  if (!look || !look->Prepare()) return false;
  // Premultiplied pictures carry the opacity in their colour; the tint
  // stays in the vertex colour, which the shader multiplies in first.
  const auto a = uint32_t(std::lround(std::clamp(opacity, 0.0, 1.0) * 255));
  const uint32_t rgb = ((tint & 0xFF) << 16) | (tint & 0xFF00) | ((tint >> 16) & 0xFF);
  const TColor color = picture.premultiplied ? a * 0x01010101u : (a << 24) | rgb;
  if (look->IsVolume())
    return drawer.DrawShaderQuad(shColorGradeOne, {&picture}, q, {source}, {}, color,
                                 {look->Volume()}, 1, antialiased);
  return drawer.DrawShaderQuad(shColorGradeLinearOne, {&picture, look->Curve()}, q,
                               {source, {0, 0, kCurveEntries, 1}}, {}, color, {}, 1, antialiased);
}

bool DrawColorGraded(T3DDrawer& drawer, const TQuad3& q, TCustomTexture& picture,
                     const TTexRect& source, double opacity, TCustomColorGradeTexture& from,
                     TCustomColorGradeTexture& to, double t) {
  if (from.IsVolume() != to.IsVolume())
    AssertFailed("ColorGradeTexture", "Volume and curve look-ups blended together");
  if (opacity <= 0 || !from.Prepare() || !to.Prepare()) return false;
  const std::vector<float> c = {float(t), 0, 0, 0};
  const TColor color = OpacityColor(picture, opacity);
  if (from.IsVolume())
    return drawer.DrawShaderQuad(shColorGrading, {&picture}, q, {source}, c, color,
                                 {from.Volume(), to.Volume()}, 1);
  return drawer.DrawShaderQuad(shColorGradeLinear, {&picture, from.Curve(), to.Curve()}, q,
                               {source, {0, 0, kCurveEntries, 1}}, c, color);
}

}  // namespace lum
