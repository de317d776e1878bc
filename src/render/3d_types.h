#pragma once
// Plain value types shared by the drawing layer and its back ends.
#include <cstdint>

namespace lum {

struct TRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  // The pixel (x, y) lies inside: right and bottom are exclusive.
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const TRect&) const = default;
};

// 4 x 4 matrix, row-vector convention (a point is a row multiplied on the left).
struct TMatrix4 {
  float m[4][4] = {};
  static TMatrix4 Identity();
  TMatrix4 operator*(const TMatrix4& b) const;
  // (x, y, z, 1) × M.
  void Transform(const float in[3], float out[4]) const;
};

// Pixels lent by the caller: rows top first, pitch in bytes.
enum class TSurfaceFormat : uint8_t { BGRA8, RGBA8, Gray8, RGB565 };
int BytesPerPixel(TSurfaceFormat f);

struct TPixelView {
  const uint8_t* pixels = nullptr;
  int width = 0, height = 0, pitch = 0;
  TSurfaceFormat format = TSurfaceFormat::BGRA8;
};

// A CPU-side picture owned by its holder (read-back and lock buffers).
struct TBitmapBuffer {
  int width = 0, height = 0, pitch = 0;
  TSurfaceFormat format = TSurfaceFormat::BGRA8;
  std::uint8_t* data = nullptr;  // points into storage
};

struct TDisplayMode {
  TRect monitor;
  int refreshRate = 0;  // Hz; 0 = unknown
  uint32_t format = 0;  // bits per pixel
};

enum class TTransformKind : uint8_t { World, View, Projection };
enum class TCullMode : uint8_t { None, CounterClockwise };

// Result codes of back-end calls.
enum TRenderResult : int { rrOk = 0, rrInvalidCall = 1, rrOutOfVideoMemory = 2, rrDeviceLost = 3 };

enum class TRendererState : uint8_t { Ready = 0, CreationPending = 1, DeviceLost = 2 };

// Draw flags of a vertex-list draw.
enum TDrawFlag : uint32_t {
  dfTexture = 1,      // sample the bound textures
  dfVertexColor = 2,  // modulate by the vertex colour
  dfVertexAlpha = 4,  // modulate by the vertex alpha
  dfLighting = 8,
};

enum class TBlendMode : uint8_t { Normal = 0, Maximum = 1, SeparateAlpha = 2 };

// Vertex-list layout flags: position always, then these, then texture pairs.
enum TVertexFlag : uint32_t { vfDiffuse = 1, vfNormal = 2, vfSpecular = 4 };

enum class TPrimitive : uint8_t {
  PointList = 0,
  LineList,
  LineStrip,
  TriangleList,
  TriangleStrip,
  TriangleFan
};

enum class TTextureAddress : uint8_t { Wrap, Clamp, Mirror };

// What Clear touches.
enum TClearFlag : uint32_t { cfTarget = 1, cfDepth = 2 };

// Colour 0xAARRGGBB.
using TColor = uint32_t;

}  // namespace lum
