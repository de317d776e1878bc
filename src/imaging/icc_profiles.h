#pragma once
// Display profiles carried inside the program, written as ICC version 2
// matrix/curve profiles: "sRGB" (3144 bytes), "AdobeRGB" (560 bytes, gamma
// 2.2) and "FunkyRGB" (1008 bytes, version 2.4, the sRGB colorants rotated
// so that pictures look wrong unless they are converted).
#include <array>
#include <string>
#include <string_view>

namespace lum {

// The profile's ICC bytes for a built-in name (case-insensitive); "" when
// the name is not one of the three.
std::string BuiltinProfile(std::string_view name);
bool IsBuiltinProfileName(std::string_view name);

struct TXyz {
  double x, y, z;
};

// Inputs of the ICC v2 writer (exposed for tests).
struct TIccMatrixProfile {
  uint32_t version = 0x02100000;
  std::string description;
  std::string copyright;
  TXyz white, red, green, blue;
  double gamma = 0;       // > 0: a single-gamma curve
  int curvePoints = 0;    // else: the sRGB curve sampled at this many points
  size_t targetSize = 0;  // padded up to this size (the copyright tag grows)
};
std::string WriteIccProfile(const TIccMatrixProfile& p);

}  // namespace lum
