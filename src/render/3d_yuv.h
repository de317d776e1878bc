#pragma once
// The planes of one video surface: luma, two chroma planes at half size, a
// grey plane and an RGBA plane. Decoders lock a plane (under the clip's lock)
// and write into its padded area; Refresh uploads every plane. The YUV
// planes are grey-scale textures: one byte per sample, read as .r.
#include <atomic>

#include "render/3d_drawer.h"
#include "render/custom_texture.h"

namespace lum {

class TCustomColorGradeTexture;

enum TYuvPlane : int { ypLuma = 0, ypChromaU, ypChromaV, ypGray, ypRGBA, ypCount };

// The smaller of n + 8 and the next power of two not below n: room for
// decoders that write past the picture without doubling the memory.
int PaddedPlaneSize(int n);

class T3DYUV : public TRefObject {
 public:
  T3DYUV(T3DScreen* screen, int width, int height);
  // Logs when still locked (a destructor cannot raise); Dispose asserts.
  ~T3DYUV() override;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Chroma planes cover the picture at half size, rounded up.
  int ChromaWidth() const { return (width_ + 1) / 2; }
  int ChromaHeight() const { return (height_ + 1) / 2; }
  // Padded size of a plane: what Lock gives access to.
  int PlaneWidth(int plane) const;
  int PlaneHeight(int plane) const;

  // Pixel access to a plane's padded area (0 luma, 1 and 2 chroma, 3 grey,
  // 4 RGBA as BGRA); any other plane is an assertion failure.
  TBitmapBuffer Lock(int plane);
  void Unlock();
  int LockCount() const { return locks_.load(); }
  // Uploads every plane.
  void Refresh();
  TPixelTexture& Plane(int plane);
  // Frees the planes; an assertion failure while a plane is locked.
  void Dispose();

 private:
  void CheckPlane(int plane) const;

  int width_, height_;
  std::atomic<int> locks_{0};
  TRef<TPixelTexture> planes_[ypCount];
};

// Coefficients of the YUV to RGB conversion (video range in, full range out).
struct TYuvCoefficients {
  float crv = 1.596f, cgv = 0.813f, cgu = 0.391f, cbu = 2.018f, scy = 1.164f;
};
// BT.601, as the video code passes them.
inline constexpr TYuvCoefficients kBT601{};

// Draws a video picture over the world quad q through "yuv_rgb" (of the
// visible part of the picture, the whole when null), with antialiased edges
// when asked. False when nothing was drawn.
bool DrawYUV(T3DDrawer& drawer, const TQuad3& q, T3DYUV& yuv, double opacity,
             const TYuvCoefficients& k = kBT601, const TTexRect* visible = nullptr,
             bool antialiased = false);
// The same through "color_grade_video" with two video look-up volumes
// (stages 3 and 4) blended by t.
bool DrawYUVGraded(T3DDrawer& drawer, const TQuad3& q, T3DYUV& yuv, double opacity,
                   TCustomColorGradeTexture& from, TCustomColorGradeTexture& to, double t);

// Copies a picture's planes (4:2:0, chroma at half size rounded up) into the
// padded planes and uploads them. Sizes beyond the planes are cut.
void FillYUV(T3DYUV& yuv, const uint8_t* y, int yPitch, const uint8_t* u, const uint8_t* v,
             int chromaPitch);

// How a clip is drawn: the field shown (0 both, 1 top, 2 bottom), the
// chroma key (key (U, V) in 0..1, tolerance) and smooth edges.
struct TYuvDrawOptions {
  int field = 0;
  bool chromaKey = false;
  float keyU = 0.5f, keyV = 0.5f, tolerance = 0;
  bool antialiased = false;
};
// Graded video draw (of the visible part of the picture, the whole when
// null) choosing "color_grade_video", "_deinter", "_chromakey"
// or "_chroma_deinter" by the options.
bool DrawYUVVideo(T3DDrawer& drawer, const TQuad3& q, T3DYUV& yuv, double opacity,
                  TCustomColorGradeTexture& from, TCustomColorGradeTexture& to, double t,
                  const TYuvDrawOptions& options, const TTexRect* visible = nullptr);
// The shader DrawYUVVideo uses and its constants c0..c4 (t, srcsizey,
// offsy, deltas, chromakey) for a luma texture height.
int VideoShaderFor(const TYuvDrawOptions& options);
std::vector<float> VideoShaderConstants(const TYuvDrawOptions& options, float lumaHeight, double t);

}  // namespace lum
