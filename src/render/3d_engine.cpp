#include "render/3d_engine.h"

namespace lum {

int T3DVertexList::Stride() const {
  uint32_t f = Flags();
  int stride = 12;
  if (f & vfNormal) stride += 12;
  if (f & vfDiffuse) stride += 4;
  if (f & vfSpecular) stride += 4;
  return stride + 8 * TexturePairs();
}

int QualityLevelFor(int pixelShaderVersion, int vendorId) {
  if (pixelShaderVersion < 0x200) return 0;
  if (vendorId == 0x8086 && pixelShaderVersion < 0x300) return 1;
  return 2;
}

}  // namespace lum
