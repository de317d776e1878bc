#pragma once
// Builds stored text members byte by byte, independently of the writers
// under test.
#include <cstdint>
#include <cstring>
#include <string>

namespace lum::test {

class TMemberBytes {
 public:
  TMemberBytes& I32(int64_t v) {
    uint32_t u = uint32_t(v);
    for (int k = 0; k < 4; ++k) bytes_ += char((u >> (8 * k)) & 0xFF);
    return *this;
  }
  TMemberBytes& U16(unsigned v) {
    bytes_ += char(v & 0xFF);
    bytes_ += char((v >> 8) & 0xFF);
    return *this;
  }
  TMemberBytes& F32(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return I32(u);
  }
  // Key length in UTF-16 units, then the units; ASCII and Latin-1 only.
  TMemberBytes& Key(const std::u16string& s) {
    I32(int64_t(s.size()));
    for (char16_t c : s) U16(c);
    return *this;
  }
  TMemberBytes& Raw(const std::string& s) {
    bytes_ += s;
    return *this;
  }
  // One placed glyph of a VectTxt2 member.
  TMemberBytes& Placed(int32_t x, float size, unsigned index, const std::u16string& key) {
    return I32(x).F32(size).U16(index).Key(key);
  }
  // One glyph header of a VectTextCache member, up to its point count.
  TMemberBytes& Glyph(unsigned index, int32_t a, int32_t b, int32_t c, int32_t ascent,
                      int32_t descent, float capture, int32_t points) {
    return U16(index).I32(a).I32(b).I32(c).I32(ascent).I32(descent).F32(capture).I32(points);
  }
  TMemberBytes& Point(float x, float y, int32_t command) { return F32(x).F32(y).I32(command); }
  const std::string& Bytes() const { return bytes_; }
  size_t Size() const { return bytes_.size(); }

 private:
  std::string bytes_;
};

// A VectTextCache member holding one square glyph of the given index:
// a side x side box from (0, -side) to (side, 0), A 0, B side, C 0.
inline std::string SquareCacheMember(const std::u16string& key, unsigned index, int32_t side,
                                     float capture = 100) {
  TMemberBytes m;
  m.I32(1).Key(key).Glyph(index, 0, side, 0, side, 0, capture, 5);
  m.Point(0, 0, 0).Point(0, float(-side), 1).Point(float(side), float(-side), 1);
  m.Point(float(side), 0, 1).Point(0, 0, 9);
  return m.Bytes();
}

}  // namespace lum::test
