#include "render/video_drawer.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "render/3d_yuv.h"
#include "render/color_grade_texture.h"
#include "render/slide_drawer.h"

namespace lum {

namespace {

// The planes of one object and which frame they hold.
struct TVideoSurface : TRefObject {
  TRef<T3DYUV> yuv;
  int64_t index = -2;
  const TVideoFrame* frame = nullptr;
};

TColor ToArgb(uint32_t rgb, double alpha) {
  const auto a = uint32_t(std::lround(std::clamp(alpha, 0.0, 1.0) * 255));
  return (a << 24) | ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

T3DYUV* SurfaceFor(T3DDrawer& drawer, TLumVideo& video, const TVideoFrame& f) {
  auto* s = dynamic_cast<TVideoSurface*>(drawer.Cached(&video));
  if (!s || !s->yuv || s->yuv->Width() != f.width || s->yuv->Height() != f.height) {
    auto made = MakeRef<TVideoSurface>();
    made->yuv = MakeRef<T3DYUV>(&drawer.Screen(), f.width, f.height);
    drawer.SetCached(&video, made);
    s = made.Get();
  }
  if (s->index != f.index || s->frame != &f) {
    FillYUV(*s->yuv, f.y.data(), f.width, f.u.data(), f.v.data(), f.ChromaWidth());
    s->index = f.index;
    s->frame = &f;
  }
  return s->yuv.Get();
}

void DrawBorderBand(T3DDrawer& drawer, const TLumVideo& video, double band, TColor c) {
  const double l = video.RectLeft(), t = video.RectTop();
  const double r = l + video.Width(), b = t + video.Height();
  const std::array<TColor, 4> cs{c, c, c, c};
  drawer.FillQuad(ObjectQuad(video, l, t, r, t + band), cs);
  drawer.FillQuad(ObjectQuad(video, l, b - band, r, b), cs);
  drawer.FillQuad(ObjectQuad(video, l, t + band, l + band, b - band), cs);
  drawer.FillQuad(ObjectQuad(video, r - band, t + band, r, b - band), cs);
}

}  // namespace

bool DrawVideoObject(T3DDrawer& drawer, TLumVideo& video,
                     const std::function<void(double opacity)>& beneath) {
  const TRef<TImage>& picture = video.Picture();
  if (!picture || picture->Width() <= 0 || picture->Height() <= 0) return false;
  TImageDrawParams p;
  video.FillDrawParams(p);
  if (p.opacity <= 0) return false;
  const TVideoFrame* frame = video.CurrentFrame(60);
  if (!frame || frame->width <= 0 || frame->height <= 0) return false;
  T3DYUV* yuv = SurfaceFor(drawer, video, *frame);
  if (beneath) beneath(p.opacity);
  const double band = video.BorderThickness();
  if (band > 0 && p.hasBorderColor)
    DrawBorderBand(drawer, video, band,
                   ToArgb(p.borderColor & 0xFFFFFF, p.opacity * (p.borderColor >> 24) / 255.0));
  const double l = video.RectLeft() + band, t = video.RectTop() + band;
  const double r = video.RectLeft() + video.Width() - band;
  const double b = video.RectTop() + video.Height() - band;
  // Crop and aspect: the visible part of the picture, in the frame's pixels.
  const TRectF v = video.VisibleRect();
  const double kx = double(frame->width) / picture->Width();
  const double ky = double(frame->height) / picture->Height();
  const TQuad3 quad = ObjectQuad(video, l, t, r, b);
  const TVideoDrawParams vp = video.DrawParams();
  TYuvDrawOptions o;
  o.field = vp.field;
  o.chromaKey = vp.chromaEnabled;
  o.tolerance = float(vp.chromaDelta);
  o.antialiased = p.antialiased && band == 0;
  ChromaKeyUV(vp.chromaKey, o.keyU, o.keyV);
  const TTexRect src{v.left * kx, v.top * ky, v.right * kx, v.bottom * ky};
  const TColorGradeDraw g = video.VideoGrade();
  TCustomColorGradeTexture* from =
      g.from ? GradeTextureFor(drawer, *g.from, kGradeVolumes) : nullptr;
  TCustomColorGradeTexture* to = g.to ? GradeTextureFor(drawer, *g.to, kGradeVolumes) : from;
  if (from && to && DrawYUVVideo(drawer, quad, *yuv, p.opacity, *from, *to, g.t, o, &src))
    return true;
  return DrawYUV(drawer, quad, *yuv, p.opacity, kBT601, &src, o.antialiased);
}

}  // namespace lum
