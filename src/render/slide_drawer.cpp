#include "render/slide_drawer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/log.h"
#include "imaging/bitmap.h"
#include "model/lum_box.h"
#include "model/lum_image.h"
#include "model/lum_slide.h"
#include "model/lum_slide_host.h"
#include "model/lum_view_port.h"
#include "render/bitmap_texture.h"
#include "render/color_grade_texture.h"
#include "render/root_item.h"
#include "render/video_drawer.h"

namespace lum {

namespace {

// r | g << 8 | b << 16 with an alpha 0..1 as 0xAARRGGBB.
TColor ToArgb(uint32_t rgb, double alpha) {
  const auto a = static_cast<uint32_t>(std::lround(std::clamp(alpha, 0.0, 1.0) * 255));
  return (a << 24) | ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

// The colour halfway between two 0xAARRGGBB colours.
TColor Mid(TColor a, TColor b) {
  TColor r = 0;
  for (int s = 0; s < 32; s += 8) r |= ((((a >> s) & 0xFF) + ((b >> s) & 0xFF) + 1) / 2) << s;
  return r;
}

TPoint3 ToPoint(const TVec3& v) {
  return {v.x, v.y, v.z};
}

// Corners of a gradient fill: left-top, right-top, right-bottom, left-bottom.
std::array<TColor, 4> GradientCorners(TBoxFill fill, TColor c1, TColor c2) {
  switch (fill) {
    case TBoxFill::HGradient:
      return {c1, c2, c2, c1};
    case TBoxFill::VGradient:
      return {c1, c1, c2, c2};
    case TBoxFill::TLBRGradient:
      return {c1, Mid(c1, c2), c2, Mid(c1, c2)};
    case TBoxFill::TRBLGradient:
      return {Mid(c1, c2), c1, Mid(c1, c2), c2};
    default:
      return {c1, c1, c1, c1};
  }
}

// The texture of a slide's background picture and its tiling; null when
// the background draws no picture.
TCustomTexture* BackgroundTexture(T3DDrawer& d, TLumSlide& slide, const TSlideBackground& b,
                                  TBackgroundTiling& tiling, TRef<TBitmap>& picture) {
  picture = slide.BackgroundPicture(b, tiling);
  if (!picture || tiling.drawWidth <= 0 || tiling.drawHeight <= 0) return nullptr;
  return d.TextureFor(&slide, *picture, true);
}

// The texture of an object's drop shadow (white with the shadow as alpha,
// tinted like a text) and its level; null when it casts none.
TCustomTexture* ShadowTexture(T3DDrawer& d, TLumObject& o, TRef<TBitmap>& level) {
  const TShadow& s = o.CastShadow();
  if (!s.picture || !o.Shadow().enabled) return nullptr;
  level = s.picture->GetMipLevel(0, TPixelFormat::Bgra32);
  if (level) level = PremultipliedWhiteOf(d, *level);
  TCustomTexture* tex = level ? d.TextureFor(&o, *level, false) : nullptr;
  if (tex) tex->premultiplied = true;
  return tex;
}

}  // namespace

TQuad3 ObjectQuad(const TLumObject& o, double left, double top, double right, double bottom) {
  const TWorldTransform& t = o.Transform();
  return {ToPoint(t.Map(left, top)), ToPoint(t.Map(right, top)), ToPoint(t.Map(right, bottom)),
          ToPoint(t.Map(left, bottom))};
}

TSlideDrawer::~TSlideDrawer() {
  if (offscreen_) drawer_.FullTargets().Release(offscreen_);
}

void TSlideDrawer::BeginOffscreen(TLumSlide&) {
  T3DScreen& s = drawer_.Screen();
  if (offscreen_) drawer_.FullTargets().Release(offscreen_);
  offscreen_ = drawer_.FullTargets().Acquire();
  offscreenClip_ = s.Clip();
  if (!offscreen_) return;
  if (!s.PushRenderTarget(offscreen_.Get())) {
    drawer_.FullTargets().Release(offscreen_);
    offscreen_ = nullptr;
    return;
  }
  s.SetViewport(drawer_.FrameRect());
  s.Clear(0);
  s.SetClip(offscreenClip_);
}

void TSlideDrawer::EndOffscreen(TLumSlide&) {
  if (!offscreen_) return;
  T3DScreen& s = drawer_.Screen();
  s.PopRenderTarget();
  s.SetViewport(drawer_.FrameRect());
  s.SetClip(offscreenClip_);
}

void TSlideDrawer::BlendOffscreen(TLumSlide&, int alpha, bool) {
  if (!offscreen_) return;
  TRef<TRenderTargetTexture> t = std::move(offscreen_);
  if (alpha > 0) {
    const TRect f = drawer_.FrameRect();
    drawer_.DrawPixels(*t, f, {0, 0, double(f.Width()), double(f.Height())}, alpha / 255.0);
  }
  drawer_.FullTargets().Release(t);
}

void TSlideDrawer::DrawSlide(TLumSlide& slide) {
  TVec3 cam = slide.Camera();
  drawer_.SetCamera(cam.x, cam.y, cam.z);
  if (TLumSlideHost* host = slide.GetHost()) {
    TRectF a = host->Area();
    TRect clip{int(std::floor(a.left)), int(std::floor(a.top)), int(std::ceil(a.right)),
               int(std::ceil(a.bottom))};
    if (!drawer_.ViewportRect().Empty()) clip = drawer_.ViewportRect();
    drawer_.Screen().SetClip(clip);
  }
  slide.Draw(*this);
}

void TSlideDrawer::DrawItem(TLumObject& object) {
  // An object that fails to draw costs itself, not the frame.
  try {
    drawer_.DrawBlurred(object.GetBlur(), [&] { object.Draw(*this); });
  } catch (const std::exception& e) {
    Log().Line(std::string("Draw: ") + object.Name() + ": " + e.what());
  }
}

void TSlideDrawer::DrawBackground(TLumSlide& slide, const TSlideBackground& b) {
  const double l = slide.RectLeft(), t = slide.RectTop();
  const double r = l + slide.Width(), btm = t + slide.Height();
  const TQuad3 q = ObjectQuad(slide, l, t, r, btm);
  const TColor black = 0xFF000000;
  switch (b.Drawn()) {
    case TBackgroundDrawn::Solid:
      drawer_.FillQuad(q, GradientCorners(TBoxFill::Solid, ToArgb(b.shownColor1, 1), 0));
      return;
    case TBackgroundDrawn::VGradient:
      drawer_.FillQuad(q, GradientCorners(TBoxFill::VGradient, ToArgb(b.shownColor1, 1),
                                          ToArgb(b.shownColor2, 1)));
      return;
    case TBackgroundDrawn::HGradient:
      drawer_.FillQuad(q, GradientCorners(TBoxFill::HGradient, ToArgb(b.shownColor1, 1),
                                          ToArgb(b.shownColor2, 1)));
      return;
    case TBackgroundDrawn::Picture:
      break;
    default:
      drawer_.FillQuad(q, {black, black, black, black});
      return;
  }
  drawer_.FillQuad(q, {black, black, black, black});
  TBackgroundTiling tiling;
  TRef<TBitmap> picture;
  TCustomTexture* tex = BackgroundTexture(drawer_, slide, b, tiling, picture);
  if (!tex) return;
  const TTexRect src{0, 0, double(picture->Width()), double(picture->Height())};
  const double cx = (l + r) / 2, cy = (t + btm) / 2;
  const double tw = tiling.drawWidth, th = tiling.drawHeight;
  for (int j = -tiling.tilesY; j <= tiling.tilesY; ++j) {
    for (int i = -tiling.tilesX; i <= tiling.tilesX; ++i) {
      const double x0 = cx - tw / 2 + i * tw, y0 = cy - th / 2 + j * th;
      drawer_.DrawTexture(ObjectQuad(slide, x0, y0, x0 + tw, y0 + th), *tex, src, 1);
    }
  }
}

void TSlideDrawer::DrawShadow(TLumObject& o, double opacity) {
  const TShadow& s = o.CastShadow();
  const TDropShadow& d = o.Shadow();
  opacity *= d.opacity / 100;
  if (!(opacity > 0)) return;
  TRef<TBitmap> level;
  TCustomTexture* tex = ShadowTexture(drawer_, o, level);
  if (!tex) return;
  // As the picture was made: a newer one may be on its way.
  const TShadowGeometry g = ShadowGeometryOf(s.shownParams);
  const double ex = (s.shownParams.marginX + g.border * g.Factor()) * s.shownUnit;
  const double ey = (s.shownParams.marginY + g.border * g.Factor()) * s.shownUnit;
  const TWorldTransform& t = o.Transform();
  const double sx = std::sqrt(Dot(t.axisX, t.axisX)), sy = std::sqrt(Dot(t.axisY, t.axisY));
  const TShadowOffset off = ShadowOffset(std::sqrt(sx * sy), d.distance, s.blurScale, d.angle);
  double l = o.RectLeft() - ex, top = o.RectTop() - ey;
  double r = o.RectLeft() + o.Width() + ex, b = o.RectTop() + o.Height() + ey;
  TQuad3 q;
  if (d.shadow3D && sx > 0 && sy > 0) {
    // In the object's plane: the offset in its own units.
    l += off.x / sx, r += off.x / sx, top += off.y / sy, b += off.y / sy;
    q = ObjectQuad(o, l, top, r, b);
  } else {
    q = ObjectQuad(o, l, top, r, b);
    for (TPoint3& p : q) p.x += off.x, p.y += off.y;
  }
  const TTexRect src{0, 0, double(level->Width()), double(level->Height())};
  drawer_.DrawTexture(q, *tex, src, opacity, false, d.shownColor);
}

void TSlideDrawer::DrawBox(TLumBox& box) {
  const double opacity = box.GetOpacity() / 100;
  DrawShadow(box, opacity);
  const TColor c1 = ToArgb(box.ShownColor1(), opacity * box.Alpha1() / 255.0);
  const TColor c2 = ToArgb(box.ShownColor2(), opacity * box.Alpha2() / 255.0);
  const double l = box.RectLeft(), t = box.RectTop();
  drawer_.FillQuad(ObjectQuad(box, l, t, l + box.Width(), t + box.Height()),
                   GradientCorners(box.Fill(), c1, c2), box.Antialiased());
}

bool LayoutImage(T3DDrawer& d, TLumImage& image, const TImageDrawParams& p, TImageLayout& out) {
  const TRef<TImage>& picture = image.Picture();
  if (!picture || picture->Width() <= 0 || picture->Height() <= 0) return false;
  // Texts are white with coverage as alpha: as premultiplied pixels (all
  // four channels the coverage) the drawer can tint them.
  // Graded texts keep their white: the grade shader takes the tint first.
  const bool tinted = p.hasTextColor && p.grade.mode < kGradeCurves;
  TRef<const TBitmap> level;
  TCustomTexture* tex = nullptr;
  if (tinted) {
    TRef<TBitmap> l = picture->GetMipLevel(p.mipLevel, TPixelFormat::Bgra32);
    if (!l) l = picture->GetMipLevel(0, TPixelFormat::Bgra32);
    if (l) l = PremultipliedWhiteOf(d, *l);
    if (!l) return false;
    tex = d.TextureFor(&image, *l, true);
    level = std::move(l);
  } else if (TBitmapTexture* t = d.PictureTextureFor(&image, *picture, p.mipLevel)) {
    level = TRef<const TBitmap>(t->Pixels());
    tex = t;
  }
  if (!tex) return false;
  tex->premultiplied = tinted;
  tex->nearest = p.filtering == TImageFiltering::Nearest;
  tex->lodBias = p.mipLodBias;
  const double kx = double(tex->Width()) / picture->Width();
  const double ky = double(tex->Height()) / picture->Height();
  const TRectF v = image.VisibleRect();
  out.source = {v.left * kx, v.top * ky, v.right * kx, v.bottom * ky};
  out.level = std::move(level);
  out.texture = tex;
  out.left = image.RectLeft(), out.top = image.RectTop();
  out.right = out.left + image.Width(), out.bottom = out.top + image.Height();
  out.band = p.columns == 1 && p.rows == 1 ? image.BorderThickness() : 0;
  return true;
}

void TSlideDrawer::DrawImage(TLumImage& image) {
  if (image.EffectBuffer() != 0 && DrawEffectBuffer(image)) return;
  const TRef<TImage>& picture = image.Picture();
  if (!picture || picture->Width() <= 0 || picture->Height() <= 0) return;
  TImageDrawParams p;
  image.FillDrawParams(p);
  if (p.opacity <= 0) return;
  DrawShadow(image, p.opacity);
  TImageLayout g;
  if (!LayoutImage(drawer_, image, p, g)) return;
  const double l = g.left, t = g.top, r = g.right, b = g.bottom, band = g.band;
  if (band > 0 && p.hasBorderColor) {
    const TColor c = ToArgb(p.borderColor & 0xFFFFFF, p.opacity * (p.borderColor >> 24) / 255.0);
    const std::array<TColor, 4> cs{c, c, c, c};
    drawer_.FillQuad(ObjectQuad(image, l, t, r, t + band), cs);
    drawer_.FillQuad(ObjectQuad(image, l, b - band, r, b), cs);
    drawer_.FillQuad(ObjectQuad(image, l, t + band, l + band, b - band), cs);
    drawer_.FillQuad(ObjectQuad(image, r - band, t + band, r, b - band), cs);
  }
  const TQuad3 quad = ObjectQuad(image, l + band, t + band, r - band, b - band);
  const bool smooth = p.antialiased && band == 0;
  const uint32_t tint = p.hasTextColor ? p.textColor : 0xFFFFFF;
  if (DrawGradedPicture(drawer_, &image, quad, *g.texture, g.source, p.opacity, p.grade, tint,
                        smooth))
    return;
  // A grade that cannot be drawn leaves the picture ungraded; a text laid
  // out white for its grade is laid out again to take its colour.
  if (p.grade.mode >= kGradeCurves && p.hasTextColor) {
    p.grade = {};
    if (!LayoutImage(drawer_, image, p, g)) return;
  }
  drawer_.DrawTexture(quad, *g.texture, g.source, p.opacity, smooth, tint);
}

TRef<TBitmap> PremultipliedWhiteOf(T3DDrawer& d, const TBitmap& text) {
  if (auto* kept = dynamic_cast<TBitmap*>(d.Cached(&text))) return TRef<TBitmap>(kept);
  if (text.Format() != TPixelFormat::Bgra32) return nullptr;
  auto made = MakeRef<TBitmap>(text.Width(), text.Height(), TPixelFormat::Bgra32);
  for (int y = 0; y < text.Height(); ++y) {
    const uint8_t* s = text.Row(y);
    uint8_t* p = made->Row(y);
    for (int x = 0; x < text.Width(); ++x) std::memset(p + 4 * x, s[4 * x + 3], 4);
  }
  d.SetCached(&text, made);
  return made;
}

void TSlideDrawer::DrawContent(TLumObject& object) {
  if (auto* port = dynamic_cast<TLumViewPort*>(&object)) DrawViewPort(*port);
  if (auto* video = dynamic_cast<TLumVideo*>(&object))
    DrawVideoObject(drawer_, *video, [&](double opacity) { DrawShadow(*video, opacity); });
}

bool TSlideDrawer::DrawEffectBuffer(TLumImage& image) {
  const int n = image.EffectBuffer();
  if (!buffers_ || (n != 1 && n != 2)) return false;
  const TSlideSource picture = buffers_->Source(n - 1);
  TImageDrawParams p;
  image.FillDrawParams(p);
  if (!picture || p.opacity <= 0) return true;
  const double l = image.RectLeft(), t = image.RectTop();
  drawer_.DrawTexture(ObjectQuad(image, l, t, l + image.Width(), t + image.Height()),
                      *picture.texture, picture.Map(buffers_->Area()), p.opacity);
  return true;
}

TRef<TRenderTargetTexture> TSlideDrawer::DrawIntoTarget(TLumObject& parent) {
  TRef<TRenderTargetTexture> t = drawer_.FullTargets().Acquire();
  T3DScreen& s = drawer_.Screen();
  if (!t) return nullptr;
  const TRect clip = s.Clip();
  if (!s.PushRenderTarget(t.Get())) {
    drawer_.FullTargets().Release(t);
    return nullptr;
  }
  s.SetViewport(drawer_.FrameRect());
  s.Clear(0);
  s.SetClip(clip);
  if (parent.Children().empty() && buffers_) {
    // Empty content shows the effect buffer of the moment: the incoming slide.
    if (const TSlideSource in = buffers_->Source(1)) {
      const TRect a = buffers_->Area();
      drawer_.DrawPixels(*in.texture, a, in.Map(a), 1);
    }
  }
  for (TLumObject* c : parent.Children()) DrawItem(*c);
  s.PopRenderTarget();
  s.SetViewport(drawer_.FrameRect());
  s.SetClip(clip);
  return t;
}

void TSlideDrawer::DrawViewPort(TLumViewPort& port) {
  TLumObject* stencil = port.Stencil();
  TLumObject* content = port.Content();
  if (!stencil || !content || (content->Children().empty() && !buffers_)) return;
  TRef<TRenderTargetTexture> mask = DrawIntoTarget(*stencil);
  TRef<TRenderTargetTexture> inside = mask ? DrawIntoTarget(*content) : nullptr;
  if (mask && inside) {
    // The stencil's grey level (or, for coloured masks, its colour) is the
    // content's coverage; both targets hold premultiplied colour.
    const TRect f = drawer_.FrameRect();
    const TTexRect all{0, 0, double(f.Width()), double(f.Height())};
    mask->premultiplied = inside->premultiplied = false;
    const double opacity = std::clamp(port.GetOpacity() / 100, 0.0, 1.0);
    drawer_.DrawShaderRect(shPremul3, {mask.Get(), inside.Get()}, f, {all}, {},
                           ToArgb(0xFFFFFF, opacity));
    mask->premultiplied = inside->premultiplied = true;
  }
  if (mask) drawer_.FullTargets().Release(mask);
  if (inside) drawer_.FullTargets().Release(inside);
}

namespace {

// Marks a picture level found fully opaque (or not); holds the level so its
// address keys nothing else while the mark lives.
struct TOpaqueMark : TRefObject {
  TRef<const TBitmap> level;
  bool opaque = false;
};

bool Opaque(T3DDrawer& d, const TImage& picture, const TBitmap* shown) {
  const TPixelFormat native = picture.Store().Params().format;
  if (native != TPixelFormat::None && native != TPixelFormat::Bgra32) return true;
  if (!shown) return false;
  const TBitmap& level = *shown;
  // Keyed one byte past the level: the level's own address keys its white text.
  const void* key = reinterpret_cast<const uint8_t*>(&level) + 1;
  if (auto* kept = dynamic_cast<TOpaqueMark*>(d.Cached(key))) return kept->opaque;
  auto mark = MakeRef<TOpaqueMark>();
  mark->level = TRef<const TBitmap>(&level);
  mark->opaque = level.Format() == TPixelFormat::Bgra32;
  for (int y = 0; mark->opaque && y < level.Height(); ++y) {
    const uint8_t* row = level.Row(y);
    for (int x = 0; x < level.Width(); ++x)
      if (row[4 * x + 3] != 255) {
        mark->opaque = false;
        break;
      }
  }
  d.SetCached(key, mark);
  return mark->opaque;
}

// Goes through a slide's drawing without drawing, looking for one picture
// that hides everything before it with nothing after it.
class TSolePictureProbe : public TSlideDrawer {
 public:
  TSolePictureProbe(T3DDrawer& d, const TRect& area) : TSlideDrawer(d), area_(area) {}

  TSlideSource Result() const { return failed_ ? TSlideSource{} : found_; }

  void DrawItem(TLumObject& object) override {
    const bool blurred = object.GetBlur() != 0;
    blurred_ += blurred;
    try {
      object.Draw(*this);
    } catch (const std::exception&) {
      failed_ = true;
    }
    blurred_ -= blurred;
  }
  void DrawBackground(TLumSlide&, const TSlideBackground&) override { Covered(); }
  void DrawBox(TLumBox&) override { Covered(); }
  // Videos and view ports keep their own state as they draw.
  void DrawContent(TLumObject&) override { failed_ = true; }
  void BeginOffscreen(TLumSlide&) override { failed_ = true; }
  void DrawImage(TLumImage& image) override;

 private:
  // Something drawn after the picture would show over it.
  void Covered() {
    if (found_) failed_ = true;
  }
  bool Accept(TLumImage& image, TSlideSource& out);

  TRect area_;
  TSlideSource found_;
  int blurred_ = 0;
  bool failed_ = false;
};

void TSolePictureProbe::DrawImage(TLumImage& image) {
  Covered();
  if (failed_) return;
  TSlideSource s;
  if (!Accept(image, s)) {
    failed_ = true;
    return;
  }
  found_ = s;
}

bool TSolePictureProbe::Accept(TLumImage& image, TSlideSource& out) {
  TImageDrawParams p;
  image.FillDrawParams(p);
  if (blurred_ || image.EffectBuffer() != 0 || p.opacity < 1 || p.hasTextColor ||
      p.grade.mode >= kGradeCurves || p.filtering == TImageFiltering::Nearest)
    return false;
  TImageLayout g;
  if (!LayoutImage(Drawer(), image, p, g)) return false;
  if (g.band > 0 && p.hasBorderColor) return false;
  const TQuad3 q =
      ObjectQuad(image, g.left + g.band, g.top + g.band, g.right - g.band, g.bottom - g.band);
  constexpr double kEps = 1e-3;
  // Flat in the target plane (shown at its pixels whatever the camera) and
  // unturned.
  for (const TPoint3& c : q)
    if (std::abs(c.z) > 1e-6) return false;
  if (std::abs(q[0].y - q[1].y) > kEps || std::abs(q[2].y - q[3].y) > kEps ||
      std::abs(q[0].x - q[3].x) > kEps || std::abs(q[1].x - q[2].x) > kEps)
    return false;
  const double w = q[1].x - q[0].x, h = q[3].y - q[0].y;
  if (std::abs(w) < kEps || std::abs(h) < kEps) return false;
  if (std::min(q[0].x, q[1].x) > area_.left + kEps ||
      std::max(q[0].x, q[1].x) < area_.right - kEps ||
      std::min(q[0].y, q[3].y) > area_.top + kEps || std::max(q[0].y, q[3].y) < area_.bottom - kEps)
    return false;
  if (!Opaque(Drawer(), *image.Picture(), g.level.Get())) return false;
  out = TSlideSource(g.texture);
  out.opaque = true;
  out.scaleX = (g.source.right - g.source.left) / w;
  out.offsetX = g.source.left - q[0].x * out.scaleX;
  out.scaleY = (g.source.bottom - g.source.top) / h;
  out.offsetY = g.source.top - q[0].y * out.scaleY;
  return true;
}

// Goes through a slide's drawing without drawing, making the textures of
// its pictures, texts, backgrounds and shadows. Objects hidden at the
// moment are visited too: they show soon enough.
class TTextureProbe : public TSlideDrawer {
 public:
  using TSlideDrawer::TSlideDrawer;

  void DrawItem(TLumObject& object) override {
    try {
      object.Draw(*this);
    } catch (const std::exception&) {
      // The real draw names the fault.
    }
  }
  void DrawBackground(TLumSlide& slide, const TSlideBackground& b) override {
    if (b.Drawn() != TBackgroundDrawn::Picture) return;
    TBackgroundTiling tiling;
    TRef<TBitmap> picture;
    BackgroundTexture(Drawer(), slide, b, tiling, picture);
  }
  void DrawBox(TLumBox&) override {}
  void DrawImage(TLumImage& image) override {
    const TRef<TImage>& picture = image.Picture();
    if (image.EffectBuffer() != 0 || !picture || picture->Width() <= 0 || picture->Height() <= 0)
      return;
    TRef<TBitmap> shadow;
    ShadowTexture(Drawer(), image, shadow);
    TImageDrawParams p;
    image.FillDrawParams(p);
    TImageLayout g;
    LayoutImage(Drawer(), image, p, g);
  }
  // Video frames reach the device as they are decoded.
  void DrawContent(TLumObject& object) override {
    if (auto* port = dynamic_cast<TLumViewPort*>(&object))
      for (TLumObject* part : {port->Stencil(), port->Content()})
        if (part)
          for (TLumObject* c : part->Children()) DrawItem(*c);
  }
  void BeginOffscreen(TLumSlide&) override {}
  void EndOffscreen(TLumSlide&) override {}
  void BlendOffscreen(TLumSlide&, int, bool) override {}
};

}  // namespace

void PrepareSlideTextures(T3DDrawer& drawer, TLumSlide& slide) {
  TTextureProbe probe(drawer);
  slide.Draw(probe);
}

TSlideSource SolePicture(T3DDrawer& drawer, TLumSlide& slide, const TRect& area) {
  // The slide is drawn clipped to its host's area: that must hold the area.
  if (TLumSlideHost* host = slide.GetHost(); host && drawer.ViewportRect().Empty()) {
    const TRectF a = host->Area();
    if (a.left > area.left || a.top > area.top || a.right < area.right || a.bottom < area.bottom)
      return {};
  }
  TSolePictureProbe probe(drawer, area);
  slide.Draw(probe);
  return probe.Result();
}

}  // namespace lum
