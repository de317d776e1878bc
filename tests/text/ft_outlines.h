#pragma once
// FreeType as the independent reference: glyph outlines of installed fonts
// turned into our path points, and FreeType's own anti-aliased fill of them.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>
#include <string>
#include <vector>

#include "text/vector_text.h"

namespace lum::test {

inline const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline const char* kLiberationSans =
    "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";

class TFtFont {
 public:
  explicit TFtFont(const char* path) {
    if (FT_Init_FreeType(&lib_)) return;
    if (FT_New_Face(lib_, path, 0, &face_)) face_ = nullptr;
  }
  ~TFtFont() {
    if (face_) FT_Done_Face(face_);
    if (lib_) FT_Done_FreeType(lib_);
  }
  TFtFont(const TFtFont&) = delete;
  TFtFont& operator=(const TFtFont&) = delete;
  bool Ok() const { return face_ != nullptr; }
  FT_Library Library() const { return lib_; }
  FT_Face Face() const { return face_; }

 private:
  FT_Library lib_ = nullptr;
  FT_Face face_ = nullptr;
};

// An unhinted outline at a pixel size, moved so that its control box lies
// inside a w x h plane with a margin of a pixel on every side.
struct TFtGlyph {
  FT_Outline* outline = nullptr;  // the face's slot; valid until the next load
  int w = 0, h = 0;
  std::vector<TGlyphPoint> points;  // y downwards from the plane's bottom edge
};

namespace ft_detail {
struct TSink {
  std::vector<TGlyphPoint>* out;
  bool open = false;
};
inline TGlyphPoint P(const FT_Vector* v, int32_t cmd) {
  return {float(v->x / 64.0), float(-v->y / 64.0), cmd};
}
inline int Move(const FT_Vector* to, void* u) {
  auto* s = static_cast<TSink*>(u);
  if (s->open) s->out->push_back({0, 0, pcClose});
  s->out->push_back(P(to, pcMoveTo));
  s->open = true;
  return 0;
}
inline int Line(const FT_Vector* to, void* u) {
  static_cast<TSink*>(u)->out->push_back(P(to, pcLineTo));
  return 0;
}
inline int Conic(const FT_Vector* c, const FT_Vector* to, void* u) {
  auto* s = static_cast<TSink*>(u);
  s->out->push_back(P(c, pcQuadTo));
  s->out->push_back(P(to, pcQuadTo));
  return 0;
}
inline int Cubic(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* u) {
  auto* s = static_cast<TSink*>(u);
  s->out->push_back(P(c1, pcCubicTo));
  s->out->push_back(P(c2, pcCubicTo));
  s->out->push_back(P(to, pcCubicTo));
  return 0;
}
}  // namespace ft_detail

// Our path points of an outline (quadratic curves as control + end, both
// command 2; contours closed explicitly).
inline std::vector<TGlyphPoint> PathOf(FT_Outline* outline) {
  std::vector<TGlyphPoint> pts;
  ft_detail::TSink sink{&pts};
  FT_Outline_Funcs f{};
  f.move_to = ft_detail::Move;
  f.line_to = ft_detail::Line;
  f.conic_to = ft_detail::Conic;
  f.cubic_to = ft_detail::Cubic;
  FT_Outline_Decompose(outline, &f, &sink);
  if (sink.open) pts.push_back({0, 0, pcClose});
  return pts;
}

inline bool LoadFtGlyph(TFtFont& font, unsigned index, int pixels, TFtGlyph& g) {
  FT_Face face = font.Face();
  if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixels))) return false;
  if (FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP)) return false;
  if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return false;
  FT_Outline* o = &face->glyph->outline;
  FT_BBox cb;
  FT_Outline_Get_CBox(o, &cb);
  long x0 = (cb.xMin >> 6) - 1, y0 = (cb.yMin >> 6) - 1;
  long x1 = ((cb.xMax + 63) >> 6) + 1, y1 = ((cb.yMax + 63) >> 6) + 1;
  FT_Outline_Translate(o, -x0 * 64, -y0 * 64);
  g.outline = o;
  g.w = int(x1 - x0);
  g.h = int(y1 - y0);
  g.points = PathOf(o);
  return true;
}

// FreeType's anti-aliased fill of the outline, top row first.
inline std::vector<uint8_t> FtCoverage(TFtFont& font, FT_Outline* o, int w, int h) {
  std::vector<uint8_t> buf(size_t(w) * size_t(h), 0);
  FT_Bitmap bm{};
  bm.rows = unsigned(h);
  bm.width = unsigned(w);
  bm.pitch = w;
  bm.buffer = buf.data();
  bm.pixel_mode = FT_PIXEL_MODE_GRAY;
  bm.num_grays = 256;
  FT_Outline_Get_Bitmap(font.Library(), o, &bm);
  return buf;
}

}  // namespace lum::test
