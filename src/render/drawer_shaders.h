#pragma once
// The slide drawer's pixel shaders. Each is the body of a fragment program
// that the back end completes with its prelude: the interpolated colour v0,
// texture coordinates t0..t2, register constants c[0..31], output oC0.
// Samplers are s0..s4 as the drawer binds them.
#include <string_view>

namespace lum {

enum TDrawerShader : int {
  shUnsharp = 0,
  shVideoMask,
  shColorGrading,
  shColorGradeLinear,
  shColorGradeVideo,
  shColorGradeDeinter,
  shColorGradeChromaKey,
  shColorGradeChromaDeinter,
  shPremul,
  shPremul2,
  shPremul3,
  shGaussBlurH7,
  shGaussBlurV7,
  shGaussMix,
  shYuvToRgb,
  shYuvToRgbDeinter,
  shCopy,
  shFieldWeave,
  shLineAverage,
  shWeaveAverage,
  shVideoRange,
  // One look-up texture already holding the blend of two grades.
  shColorGradeOne,
  shColorGradeLinearOne,
  shCount
};

// The shader's name (the table's, for the built-in ones).
std::string_view DrawerShaderName(int shader);
// Its fragment body.
std::string_view DrawerShaderCode(int shader);

}  // namespace lum
