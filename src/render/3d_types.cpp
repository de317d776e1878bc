#include "render/3d_types.h"

namespace lum {

TMatrix4 TMatrix4::Identity() {
  TMatrix4 r;
  for (int i = 0; i < 4; ++i) r.m[i][i] = 1;
  return r;
}

TMatrix4 TMatrix4::operator*(const TMatrix4& b) const {
  TMatrix4 r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float s = 0;
      for (int k = 0; k < 4; ++k) s += m[i][k] * b.m[k][j];
      r.m[i][j] = s;
    }
  return r;
}

void TMatrix4::Transform(const float in[3], float out[4]) const {
  for (int j = 0; j < 4; ++j)
    out[j] = in[0] * m[0][j] + in[1] * m[1][j] + in[2] * m[2][j] + m[3][j];
}

int BytesPerPixel(TSurfaceFormat f) {
  switch (f) {
    case TSurfaceFormat::Gray8:
      return 1;
    case TSurfaceFormat::RGB565:
      return 2;
    default:
      return 4;
  }
}

}  // namespace lum
