// Glyph filling speed: 2,000 glyphs of DejaVu Sans at 48 px through our
// rasteriser vs FreeType's smooth rasteriser on the same unhinted outlines,
// in the same run. Each fill starts from a cleared plane of the glyph's
// size (ours clears in BeginPaint; FreeType's buffer is cleared by hand,
// since it only writes the spans it covers). Best of several turns each.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "text/rasterizer.h"

using namespace lum;

namespace {

constexpr int kGlyphs = 2000;
constexpr int kPixels = 48;
const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct TGlyph {
  FT_Outline outline{};
  int w = 0, h = 0;
  std::vector<TGlyphPoint> points;
};

TGlyphPoint P(const FT_Vector* v, int32_t cmd) {
  return {float(v->x / 64.0), float(-v->y / 64.0), cmd};
}

std::vector<TGlyphPoint> PathOf(FT_Outline* o) {
  struct TSink {
    std::vector<TGlyphPoint> pts;
    bool open = false;
  } sink;
  FT_Outline_Funcs f{};
  f.move_to = [](const FT_Vector* to, void* u) {
    auto* s = static_cast<TSink*>(u);
    if (s->open) s->pts.push_back({0, 0, pcClose});
    s->pts.push_back(P(to, pcMoveTo));
    s->open = true;
    return 0;
  };
  f.line_to = [](const FT_Vector* to, void* u) {
    static_cast<TSink*>(u)->pts.push_back(P(to, pcLineTo));
    return 0;
  };
  f.conic_to = [](const FT_Vector* c, const FT_Vector* to, void* u) {
    auto* s = static_cast<TSink*>(u);
    s->pts.push_back(P(c, pcQuadTo));
    s->pts.push_back(P(to, pcQuadTo));
    return 0;
  };
  f.cubic_to = [](const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* u) {
    auto* s = static_cast<TSink*>(u);
    s->pts.push_back(P(c1, pcCubicTo));
    s->pts.push_back(P(c2, pcCubicTo));
    s->pts.push_back(P(to, pcCubicTo));
    return 0;
  };
  FT_Outline_Decompose(o, &f, &sink);
  if (sink.open) sink.pts.push_back({0, 0, pcClose});
  return sink.pts;
}

double Once(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  FT_Library lib;
  FT_Face face;
  if (FT_Init_FreeType(&lib) || FT_New_Face(lib, kFont, 0, &face)) {
    std::fprintf(stderr, "bench_text: cannot open %s\n", kFont);
    return 1;
  }
  FT_Set_Pixel_Sizes(face, 0, kPixels);
  // The printable ASCII letters and signs, over and over.
  std::vector<TGlyph> glyphs;
  for (int i = 0; (int)glyphs.size() < kGlyphs; ++i) {
    FT_ULong ch = FT_ULong(33 + i % 94);
    if (FT_Load_Char(face, ch, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP)) continue;
    FT_Outline* o = &face->glyph->outline;
    FT_BBox cb;
    FT_Outline_Get_CBox(o, &cb);
    long x0 = (cb.xMin >> 6) - 1, y0 = (cb.yMin >> 6) - 1;
    long x1 = ((cb.xMax + 63) >> 6) + 1, y1 = ((cb.yMax + 63) >> 6) + 1;
    FT_Outline_Translate(o, -x0 * 64, -y0 * 64);
    TGlyph g;
    FT_Outline_New(lib, FT_UInt(o->n_points), o->n_contours, &g.outline);
    FT_Outline_Copy(o, &g.outline);
    g.w = int(x1 - x0);
    g.h = int(y1 - y0);
    g.points = PathOf(o);
    glyphs.push_back(std::move(g));
  }
  size_t maxPlane = 0, pixels = 0;
  for (const TGlyph& g : glyphs) {
    maxPlane = std::max(maxPlane, size_t(g.w) * size_t(g.h));
    pixels += size_t(g.w) * size_t(g.h);
  }
  std::vector<uint8_t> ftPlane(maxPlane);
  TRasterHelper raster;
  unsigned sink = 0;
  auto ours = [&] {
    for (const TGlyph& g : glyphs) {
      raster.BeginPaint(g.w, g.h);
      raster.AddPath(g.points.data(), g.points.size(), 1, 0, g.h);
      raster.FillPath();
      raster.EndPaint();
      sink += raster.Coverage()[size_t(g.w) * size_t(g.h / 2) + size_t(g.w / 2)];
    }
  };
  auto freetype = [&] {
    for (TGlyph& g : glyphs) {
      std::memset(ftPlane.data(), 0, size_t(g.w) * size_t(g.h));
      FT_Bitmap bm{};
      bm.rows = unsigned(g.h);
      bm.width = unsigned(g.w);
      bm.pitch = g.w;
      bm.buffer = ftPlane.data();
      bm.pixel_mode = FT_PIXEL_MODE_GRAY;
      bm.num_grays = 256;
      FT_Outline_Get_Bitmap(lib, &g.outline, &bm);
      sink += ftPlane[size_t(g.w) * size_t(g.h / 2) + size_t(g.w / 2)];
    }
  };
  double best[2] = {1e30, 1e30};
  for (int rep = 0; rep < 15; ++rep) {
    best[1] = std::min(best[1], Once(freetype));
    best[0] = std::min(best[0], Once(ours));
  }
  std::printf("%d glyphs at %d px (%.1f megapixels of planes)\n", kGlyphs, kPixels,
              double(pixels) / 1e6);
  std::printf("  ours      %8.3f ms  (%.2f us per glyph)\n", best[0] * 1e3,
              best[0] * 1e6 / kGlyphs);
  std::printf("  FreeType  %8.3f ms  (%.2f us per glyph)\n", best[1] * 1e3,
              best[1] * 1e6 / kGlyphs);
  std::printf("  ratio ours / FreeType: %.2f (target <= 1.2)\n", best[0] / best[1]);
  for (TGlyph& g : glyphs) FT_Outline_Done(lib, &g.outline);
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return sink == 0xFFFFFFFF;  // keeps the work from being optimised away
}
