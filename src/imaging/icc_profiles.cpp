#include "imaging/icc_profiles.h"

#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

#include "foundation/case_fold.h"

namespace lum {

namespace {

void Put32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(char((v >> (8 * i)) & 0xFF));
}
void Put16(std::string& s, uint16_t v) {
  s.push_back(char(v >> 8));
  s.push_back(char(v & 0xFF));
}
void PutSig(std::string& s, const char* sig) {
  s.append(sig, 4);
}
void PutFixed(std::string& s, double v) {
  Put32(s, uint32_t(int32_t(std::lround(v * 65536.0))));
}
void PutXyz(std::string& s, const TXyz& c) {
  PutFixed(s, c.x);
  PutFixed(s, c.y);
  PutFixed(s, c.z);
}
void Align4(std::string& s) {
  while (s.size() % 4) s.push_back(0);
}

std::string XyzTag(const TXyz& c) {
  std::string t;
  PutSig(t, "XYZ ");
  Put32(t, 0);
  PutXyz(t, c);
  return t;
}

std::string DescTag(const std::string& text) {
  std::string t;
  PutSig(t, "desc");
  Put32(t, 0);
  Put32(t, uint32_t(text.size() + 1));
  t += text;
  t.push_back(0);
  Put32(t, 0);  // Unicode language
  Put32(t, 0);  // Unicode count
  Put16(t, 0);  // ScriptCode code
  t.push_back(0);
  t.append(67, '\0');
  return t;
}

std::string TextTag(const std::string& text) {
  std::string t;
  PutSig(t, "text");
  Put32(t, 0);
  t += text;
  t.push_back(0);
  return t;
}

double SrgbToLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

std::string CurveTag(double gamma, int points) {
  std::string t;
  PutSig(t, "curv");
  Put32(t, 0);
  if (gamma > 0) {
    Put32(t, 1);
    Put16(t, uint16_t(std::lround(gamma * 256.0)));
    return t;
  }
  Put32(t, uint32_t(points));
  for (int i = 0; i < points; ++i) {
    double v = SrgbToLinear(double(i) / double(points - 1));
    Put16(t, uint16_t(std::lround(v * 65535.0)));
  }
  return t;
}

}  // namespace

std::string WriteIccProfile(const TIccMatrixProfile& p) {
  struct TTag {
    const char* sig;
    std::string data;
    int sharedWith = -1;  // index of an earlier tag whose data this one reuses
  };
  std::vector<TTag> tags = {
      {"desc", DescTag(p.description)},
      {"cprt", TextTag(p.copyright)},
      {"wtpt", XyzTag(p.white)},
      {"rXYZ", XyzTag(p.red)},
      {"gXYZ", XyzTag(p.green)},
      {"bXYZ", XyzTag(p.blue)},
      {"rTRC", CurveTag(p.gamma, p.curvePoints)},
      {"gTRC", {}, 6},
      {"bTRC", {}, 6},
  };
  auto layout = [&](std::vector<uint32_t>& offsets) {
    size_t pos = 128 + 4 + 12 * tags.size();
    offsets.assign(tags.size(), 0);
    for (size_t i = 0; i < tags.size(); ++i) {
      if (tags[i].sharedWith >= 0) {
        offsets[i] = offsets[size_t(tags[i].sharedWith)];
        continue;
      }
      offsets[i] = uint32_t(pos);
      pos += (tags[i].data.size() + 3) & ~size_t(3);
    }
    return pos;
  };
  std::vector<uint32_t> offsets;
  size_t total = layout(offsets);
  if (p.targetSize > total) {
    // Pad the copyright text's tag with NULs up to the wanted size.
    tags[1].data.append(p.targetSize - total, '\0');
    total = layout(offsets);
  }
  std::string out;
  Put32(out, uint32_t(total));
  Put32(out, 0);  // preferred CMM
  Put32(out, p.version);
  PutSig(out, "mntr");
  PutSig(out, "RGB ");
  PutSig(out, "XYZ ");
  // Creation date: fixed, so that the bytes never change between builds.
  for (uint16_t v : {2007, 4, 13, 12, 0, 0}) Put16(out, v);
  PutSig(out, "acsp");
  Put32(out, 0);  // platform
  Put32(out, 0);  // flags
  Put32(out, 0);  // manufacturer
  Put32(out, 0);  // model
  Put32(out, 0);  // attributes
  Put32(out, 0);
  Put32(out, 0);                       // rendering intent: perceptual
  PutXyz(out, {0.9642, 1.0, 0.8249});  // PCS illuminant D50
  Put32(out, 0);                       // creator
  out.append(16 + 28, '\0');           // profile ID, reserved
  Put32(out, uint32_t(tags.size()));
  for (size_t i = 0; i < tags.size(); ++i) {
    const TTag& src = tags[i].sharedWith >= 0 ? tags[size_t(tags[i].sharedWith)] : tags[i];
    PutSig(out, tags[i].sig);
    Put32(out, offsets[i]);
    Put32(out, uint32_t(src.data.size()));
  }
  for (const TTag& t : tags) {
    if (t.sharedWith >= 0) continue;
    out += t.data;
    Align4(out);
  }
  return out;
}

namespace {

constexpr TXyz kD50 = {0.9642, 1.0, 0.8249};
constexpr TXyz kD65 = {0.9505, 1.0, 1.0891};
// sRGB primaries adapted to D50 (Bradford).
constexpr TXyz kSrgbRed = {0.4361, 0.2225, 0.0139};
constexpr TXyz kSrgbGreen = {0.3851, 0.7169, 0.0971};
constexpr TXyz kSrgbBlue = {0.1431, 0.0606, 0.7141};

std::string MakeSrgb() {
  TIccMatrixProfile p;
  p.version = 0x02100000;
  p.description = "sRGB IEC61966-2.1";
  p.copyright = "No copyright, use freely";
  p.white = kD65;
  p.red = kSrgbRed;
  p.green = kSrgbGreen;
  p.blue = kSrgbBlue;
  p.curvePoints = 1024;
  p.targetSize = 3144;
  return WriteIccProfile(p);
}

std::string MakeAdobe() {
  TIccMatrixProfile p;
  p.version = 0x02100000;
  p.description = "Adobe RGB (1998)";
  p.copyright = "No copyright, use freely";
  p.white = kD65;
  p.red = {0.6097, 0.3111, 0.0195};
  p.green = {0.2053, 0.6257, 0.0609};
  p.blue = {0.1492, 0.0632, 0.7446};
  p.gamma = 563.0 / 256.0;  // 2.2 as u8Fixed8
  p.targetSize = 560;
  return WriteIccProfile(p);
}

std::string MakeFunky() {
  TIccMatrixProfile p;
  p.version = 0x02400000;
  p.description = "FunkyRGB";
  p.copyright = "No copyright, use freely";
  p.white = kD50;
  p.red = kSrgbGreen;
  p.green = kSrgbBlue;
  p.blue = kSrgbRed;
  p.curvePoints = 129;
  p.targetSize = 1008;
  return WriteIccProfile(p);
}

}  // namespace

bool IsBuiltinProfileName(std::string_view name) {
  return FoldedEquals(name, "sRGB") || FoldedEquals(name, "AdobeRGB") ||
         FoldedEquals(name, "FunkyRGB");
}

std::string BuiltinProfile(std::string_view name) {
  static std::once_flag once;
  static std::string srgb, adobe, funky;
  std::call_once(once, [] {
    srgb = MakeSrgb();
    adobe = MakeAdobe();
    funky = MakeFunky();
  });
  if (FoldedEquals(name, "sRGB")) return srgb;
  if (FoldedEquals(name, "AdobeRGB")) return adobe;
  if (FoldedEquals(name, "FunkyRGB")) return funky;
  return {};
}

}  // namespace lum
