#include "render/3d_yuv.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/errors.h"
#include "foundation/log.h"
#include "render/color_grade_texture.h"

namespace lum {

namespace {

constexpr const char* kModule = "3DYUV";

TColor VertexAlpha(double opacity) {
  const auto a = uint32_t(std::lround(std::clamp(opacity, 0.0, 1.0) * 255));
  return (a << 24) | 0xFFFFFFu;
}

}  // namespace

int PaddedPlaneSize(int n) {
  if (n <= 0) return 0;
  int64_t p = 1;
  while (p < n) p <<= 1;
  return int(std::min<int64_t>(int64_t(n) + 8, p));
}

T3DYUV::T3DYUV(T3DScreen* screen, int width, int height)
    : width_(std::max(0, width)), height_(std::max(0, height)) {
  for (int p = 0; p < ypCount; ++p) {
    const int w = PlaneWidth(p), h = PlaneHeight(p);
    if (p == ypRGBA)
      planes_[p] = MakeRef<TRGBATexture>(screen, w, h);
    else
      planes_[p] = MakeRef<TGrayScaleTexture>(screen, w, h);
  }
}

T3DYUV::~T3DYUV() {
  if (locks_.load() != 0)
    Log().Line(std::string(kModule) + ": disposed with " + std::to_string(locks_.load()) +
               " planes locked");
}

int T3DYUV::PlaneWidth(int plane) const {
  CheckPlane(plane);
  return PaddedPlaneSize(plane == ypChromaU || plane == ypChromaV ? ChromaWidth() : width_);
}

int T3DYUV::PlaneHeight(int plane) const {
  CheckPlane(plane);
  return PaddedPlaneSize(plane == ypChromaU || plane == ypChromaV ? ChromaHeight() : height_);
}

void T3DYUV::CheckPlane(int plane) const {
  if (plane < 0 || plane >= ypCount) AssertFailed(kModule, "Invalid plane");
}

TPixelTexture& T3DYUV::Plane(int plane) {
  CheckPlane(plane);
  if (!planes_[plane]) AssertFailed(kModule, "Planes used after dispose");
  return *planes_[plane];
}

TBitmapBuffer T3DYUV::Lock(int plane) {
  TPixelTexture& t = Plane(plane);
  ++locks_;
  TBitmapBuffer b;
  b.width = t.Width();
  b.height = t.Height();
  b.pitch = t.Pitch();
  b.format = plane == ypRGBA ? TSurfaceFormat::BGRA8 : TSurfaceFormat::Gray8;
  b.data = t.Pixels();
  return b;
}

void T3DYUV::Unlock() {
  if (locks_.load() <= 0) AssertFailed(kModule, "Unlock without lock");
  --locks_;
}

void T3DYUV::Refresh() {
  for (auto& p : planes_)
    if (p) p->Refresh();
}

void T3DYUV::Dispose() {
  if (locks_.load() != 0) AssertFailed(kModule, "Disposed while locked");
  for (auto& p : planes_) p = nullptr;
}

namespace {

// The planes with the picture's area in each: chroma covers it at half size.
std::vector<TTexRect> PlaneSources(const T3DYUV& yuv) {
  const double w = yuv.Width(), h = yuv.Height();
  return {{0, 0, w, h}, {0, 0, w / 2, h / 2}};
}

// Chroma covers the same part at half the size.
std::vector<TTexRect> PlaneSources(const TTexRect& r) {
  return {r, {r.left / 2, r.top / 2, r.right / 2, r.bottom / 2}};
}

}  // namespace

bool DrawYUV(T3DDrawer& drawer, const TQuad3& q, T3DYUV& yuv, double opacity,
             const TYuvCoefficients& k, const TTexRect* visible, bool antialiased) {
  if (opacity <= 0) return false;
  const std::vector<float> c = {k.crv, 0, 0,     0, k.cgv, 0, 0,     0, k.cgu, 0,
                                0,     0, k.cbu, 0, 0,     0, k.scy, 0, 0,     0};
  return drawer.DrawShaderQuad(shYuvToRgb,
                               {&yuv.Plane(ypLuma), &yuv.Plane(ypChromaU), &yuv.Plane(ypChromaV)},
                               q, visible ? PlaneSources(*visible) : PlaneSources(yuv), c,
                               VertexAlpha(opacity), {}, 1, antialiased);
}

bool DrawYUVGraded(T3DDrawer& drawer, const TQuad3& q, T3DYUV& yuv, double opacity,
                   TCustomColorGradeTexture& from, TCustomColorGradeTexture& to, double t) {
  if (!from.IsVolume() || !to.IsVolume())
    AssertFailed(kModule, "Video graded through curve look-ups");
  if (opacity <= 0 || !from.Prepare() || !to.Prepare()) return false;
  const float height = float(yuv.Plane(ypLuma).TextureHeight());
  // t, srcsizey and offsy (no field interpolation here).
  const std::vector<float> c = {float(t), 0, 0, 0, height, 1 / height, 0, 0, 0, 0, 0, 0};
  return drawer.DrawShaderQuad(
      shColorGradeVideo, {&yuv.Plane(ypLuma), &yuv.Plane(ypChromaU), &yuv.Plane(ypChromaV)}, q,
      PlaneSources(yuv), c, VertexAlpha(opacity), {from.Volume(), to.Volume()}, 3);
}

namespace {

void CopyPlane(T3DYUV& yuv, int plane, const uint8_t* src, int pitch, int w, int h) {
  TBitmapBuffer b = yuv.Lock(plane);
  w = std::min(w, b.width);
  h = std::min(h, b.height);
  // The edge is repeated into the padding: filtering at the picture's last
  // row and column must not blend in stale samples.
  for (int r = 0; r < h; ++r) {
    uint8_t* d = b.data + size_t(r) * b.pitch;
    std::memcpy(d, src + size_t(r) * pitch, size_t(w));
    if (w > 0 && w < b.width) d[w] = d[w - 1];
  }
  if (h > 0 && h < b.height)
    std::memcpy(b.data + size_t(h) * b.pitch, b.data + size_t(h - 1) * b.pitch, size_t(b.width));
  yuv.Unlock();
}

}  // namespace

void FillYUV(T3DYUV& yuv, const uint8_t* y, int yPitch, const uint8_t* u, const uint8_t* v,
             int chromaPitch) {
  CopyPlane(yuv, ypLuma, y, yPitch, yuv.Width(), yuv.Height());
  CopyPlane(yuv, ypChromaU, u, chromaPitch, yuv.ChromaWidth(), yuv.ChromaHeight());
  CopyPlane(yuv, ypChromaV, v, chromaPitch, yuv.ChromaWidth(), yuv.ChromaHeight());
  yuv.Refresh();
}

int VideoShaderFor(const TYuvDrawOptions& o) {
  if (o.chromaKey) return o.field ? shColorGradeChromaDeinter : shColorGradeChromaKey;
  return o.field ? shColorGradeDeinter : shColorGradeVideo;
}

std::vector<float> VideoShaderConstants(const TYuvDrawOptions& o, float height, double t) {
  // offsy (0, 0) interpolates from the even rows, (1, -1) from the odd ones.
  const float offX = o.field == 2 ? 1.f : 0.f, offY = o.field == 2 ? -1.f : 0.f;
  const float tol = std::max(0.f, o.tolerance);
  return {float(t), 0,      0, 0, height, height > 0 ? 1 / height : 0, 0, 0,
          offX,     offY,   0, 0, tol,    tol > 0 ? 1 / tol : 0,       0, 0,
          o.keyU,   o.keyV, 0, 0};
}

bool DrawYUVVideo(T3DDrawer& drawer, const TQuad3& q, T3DYUV& yuv, double opacity,
                  TCustomColorGradeTexture& from, TCustomColorGradeTexture& to, double t,
                  const TYuvDrawOptions& options, const TTexRect* visible) {
  if (!from.IsVolume() || !to.IsVolume())
    AssertFailed(kModule, "Video graded through curve look-ups");
  if (opacity <= 0 || !from.Prepare() || !to.Prepare()) return false;
  const float height = float(yuv.Plane(ypLuma).TextureHeight());
  return drawer.DrawShaderQuad(VideoShaderFor(options),
                               {&yuv.Plane(ypLuma), &yuv.Plane(ypChromaU), &yuv.Plane(ypChromaV)},
                               q, visible ? PlaneSources(*visible) : PlaneSources(yuv),
                               VideoShaderConstants(options, height, t), VertexAlpha(opacity),
                               {from.Volume(), to.Volume()}, 3, options.antialiased);
}

}  // namespace lum
