#include "render/3d_yuv.h"

#include <algorithm>
#include <cmath>

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

}  // namespace

bool DrawYUV(T3DDrawer& drawer, const TQuad3& q, T3DYUV& yuv, double opacity,
             const TYuvCoefficients& k) {
  if (opacity <= 0) return false;
  const std::vector<float> c = {k.crv, 0, 0,     0, k.cgv, 0, 0,     0, k.cgu, 0,
                                0,     0, k.cbu, 0, 0,     0, k.scy, 0, 0,     0};
  return drawer.DrawShaderQuad(shYuvToRgb,
                               {&yuv.Plane(ypLuma), &yuv.Plane(ypChromaU), &yuv.Plane(ypChromaV)},
                               q, PlaneSources(yuv), c, VertexAlpha(opacity));
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

}  // namespace lum
