// The rasteriser: exact coverage of simple shapes, the winding rule, paths
// that stop early, clipping, the misuse errors, and glyphs of two installed
// fonts compared with FreeType's own anti-aliased fill.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "foundation/errors.h"
#include "imaging/bitmap.h"
#include "text/ft_outlines.h"
#include "text/rasterizer.h"

namespace lum {
namespace {

template <class F>
std::string AssertionOf(F f) {
  try {
    f();
  } catch (const EAssertion& e) {
    return e.what();
  }
  return "(no assertion)";
}

double Sum(const TRasterHelper& r) {
  double s = 0;
  for (size_t i = 0; i < size_t(r.Width()) * size_t(r.Height()); ++i) s += r.Coverage()[i];
  return s / 255;
}

TEST(RasterHelper, MisuseIsAnAssertion) {
  TRasterHelper r;
  EXPECT_EQ(AssertionOf([&] { r.BeginPaint(0, 5); }),
            "TRasterHelper.BeginPaint: W or H = 0 (text)");
  EXPECT_EQ(AssertionOf([&] { r.BeginPaint(5, 0); }),
            "TRasterHelper.BeginPaint: W or H = 0 (text)");
  EXPECT_EQ(AssertionOf([&] { r.EndPaint(); }),
            "No Previous Call of TRasterHelper.BeginPaint (text)");
  EXPECT_EQ(AssertionOf([&] { r.MoveTo(1, 1); }),
            "No Previous Call of TRasterHelper.BeginPaint (text)");
  EXPECT_EQ(AssertionOf([&] { r.FillRect(0, 0, 1, 1); }),
            "No Previous Call of TRasterHelper.BeginPaint (text)");
  r.BeginPaint(4, 4);
  EXPECT_EQ(AssertionOf([&] { r.BeginPaint(4, 4); }),
            "Previous TRasterHelper.BeginPaint not Closed (text)");
  const std::string noStart = "TOutline.AddPoint Error: No Start Point or Closed Outline (text)";
  EXPECT_EQ(AssertionOf([&] { r.LineTo(1, 1); }), noStart);
  r.MoveTo(0, 0);
  r.LineTo(2, 0);
  r.ClosePath();
  EXPECT_EQ(AssertionOf([&] { r.QuadTo(1, 1, 2, 2); }), noStart);
  EXPECT_EQ(AssertionOf([&] { r.CubicTo(1, 1, 2, 2, 3, 3); }), noStart);
  TGlyphPoint bad[] = {{0, 0, pcMoveTo}, {1, 1, 7}};
  EXPECT_EQ(AssertionOf([&] { r.AddPath(bad, 2, 1, 0, 0); }), "Unknown Path Command (text)");
  r.EndPaint();
  EXPECT_EQ(AssertionOf([&] { r.EndPaint(); }),
            "No Previous Call of TRasterHelper.BeginPaint (text)");
  // Over the picture budget: refused as a picture, not a contract.
  EXPECT_THROW(r.BeginPaint(1 << 20, 1 << 20), EImageError);
  EXPECT_FALSE(r.Painting());
}

TEST(RasterHelper, ExactAreaCoverage) {
  TRasterHelper r;
  r.BeginPaint(8, 6);
  r.FillRect(1.25, 1.5, 4.75, 3);  // quarter and half pixels at the edges
  r.EndPaint();
  EXPECT_EQ(r.CoverageAt(0, 1), 0);
  EXPECT_EQ(r.CoverageAt(1, 1), 96);  // 0.75 x 0.5
  EXPECT_EQ(r.CoverageAt(2, 1), 128);
  EXPECT_EQ(r.CoverageAt(4, 1), 96);
  EXPECT_EQ(r.CoverageAt(1, 2), 191);
  EXPECT_EQ(r.CoverageAt(2, 2), 255);
  EXPECT_EQ(r.CoverageAt(5, 2), 0);
  EXPECT_EQ(r.CoverageAt(2, 3), 0);
  // A triangle: each pixel of the diagonal is half covered.
  r.BeginPaint(4, 4);
  r.MoveTo(0, 0);
  r.LineTo(4, 4);
  r.LineTo(0, 4);
  r.FillPath();
  r.EndPaint();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(r.CoverageAt(i, i), 128);
    if (i > 0) {
      EXPECT_EQ(r.CoverageAt(i - 1, i), 255);
    }
    if (i < 3) {
      EXPECT_EQ(r.CoverageAt(i + 1, i), 0);
    }
  }
  EXPECT_NEAR(Sum(r), 8, 0.02);
}

TEST(RasterHelper, NonZeroWindingAndSeparatePaths) {
  TRasterHelper r;
  r.BeginPaint(10, 4);
  // Two overlapping squares in one path, same direction: the overlap is
  // covered once; a reversed inner square cuts a hole.
  auto square = [&](double x0, double x1, bool reversed) {
    r.MoveTo(x0, 0);
    if (reversed) {
      r.LineTo(x0, 4);
      r.LineTo(x1, 4);
      r.LineTo(x1, 0);
    } else {
      r.LineTo(x1, 0);
      r.LineTo(x1, 4);
      r.LineTo(x0, 4);
    }
    r.ClosePath();
  };
  square(0, 4, false);
  square(2, 6, false);
  square(7, 10, false);
  square(8, 9, true);
  r.FillPath();
  EXPECT_EQ(r.CoverageAt(3, 1), 255);
  EXPECT_EQ(r.CoverageAt(5, 1), 255);
  EXPECT_EQ(r.CoverageAt(6, 1), 0);
  EXPECT_EQ(r.CoverageAt(7, 1), 255);
  EXPECT_EQ(r.CoverageAt(8, 1), 0);
  // Paths filled one after another combine as painting does: 128 over 128.
  r.FillRect(0, 0, 10, 0.5);
  r.FillRect(0, 0, 10, 0.5);
  r.EndPaint();
  EXPECT_EQ(r.CoverageAt(6, 0), 192);
  EXPECT_EQ(r.CoverageAt(3, 0), 255);
  // Fills overlapping earlier ones on part of a row, on either side or around them.
  r.BeginPaint(8, 1);
  r.FillRect(3, 0, 4, 0.5);
  r.FillRect(0, 0, 3.5, 0.5);
  r.FillRect(3.5, 0, 6, 0.5);
  r.FillRect(1, 0, 7, 0.5);
  r.EndPaint();
  const int expected[8] = {128, 192, 192, 220, 192, 192, 128, 0};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(r.CoverageAt(x, 0), expected[x]) << x;
}

TEST(RasterHelper, StoredPathsStopAtPointsThatCannotContinue) {
  const TGlyphPoint square[] = {
      {0, 0, pcMoveTo}, {4, 0, pcLineTo}, {4, 4, pcLineTo}, {0, 4, pcLineTo}, {0, 0, pcClose}};
  auto fill = [](std::vector<TGlyphPoint> pts, size_t* used = nullptr) {
    TRasterHelper r;
    r.BeginPaint(12, 6);
    size_t n = r.AddPath(pts.data(), pts.size(), 1, 1, 1);
    if (used) *used = n;
    r.FillPath();
    r.EndPaint();
    return Sum(r);
  };
  std::vector<TGlyphPoint> pts(std::begin(square), std::end(square));
  EXPECT_NEAR(fill(pts), 16, 0.01);
  // Not starting with a move: nothing.
  size_t used = 9;
  EXPECT_EQ(fill({{4, 0, pcLineTo}, {0, 0, pcMoveTo}, {4, 4, pcLineTo}}, &used), 0);
  EXPECT_EQ(used, 0u);
  // A line after a close stops the path; what came before is filled.
  pts.push_back({6, 0, pcLineTo});
  pts.push_back({6, 0, pcMoveTo});
  pts.push_back({10, 0, pcLineTo});
  pts.push_back({10, 4, pcLineTo});
  EXPECT_NEAR(fill(pts, &used), 16, 0.01);
  EXPECT_EQ(used, 5u);
  // An unfinished curve stops it too; an open contour is closed.
  EXPECT_NEAR(fill({{0, 0, pcMoveTo}, {4, 0, pcLineTo}, {4, 4, pcLineTo}, {2, 9, pcQuadTo}}, &used),
              8, 0.01);
  EXPECT_EQ(used, 3u);
  EXPECT_NEAR(fill({{0, 0, pcMoveTo},
                    {4, 0, pcLineTo},
                    {4, 4, pcLineTo},
                    {2, 9, pcCubicTo},
                    {1, 9, pcCubicTo},
                    {0, 4, pcLineTo}}),
              8, 0.01);
  // A quadratic end point may carry either command; a cubic needs three.
  std::vector<TGlyphPoint> quad = {
      {0, 0, pcMoveTo}, {4, 0, pcLineTo}, {2, 8, pcQuadTo}, {0, 0, pcLineTo}};
  // Two thirds of the 4 x 4 box around the arc, less what the chords cut
  // off (each within 1/32 pixel of it).
  EXPECT_NEAR(fill(quad), 32 / 3.0, 0.1);
}

TEST(RasterHelper, ClipsOutlinesOutsideThePlane) {
  TRasterHelper r;
  r.BeginPaint(6, 6);
  // A square reaching far outside on every side covers the whole plane.
  r.FillRect(-1e9, -1e9, 1e9, 1e9);
  r.EndPaint();
  EXPECT_NEAR(Sum(r), 36, 1e-9);
  r.BeginPaint(6, 6);
  // A curve bulging far to the left still closes the area to its right.
  r.MoveTo(3, -2);
  r.QuadTo(-1e7, 3, 3, 8);
  r.FillPath();
  r.EndPaint();
  for (int y = 0; y < 6; ++y) {
    EXPECT_EQ(r.CoverageAt(0, y), 255);
    EXPECT_EQ(r.CoverageAt(2, y), 255);
    EXPECT_EQ(r.CoverageAt(3, y), 0);
  }
  // Non-finite points are ignored rather than poisoning the plane.
  r.BeginPaint(6, 6);
  r.MoveTo(0, 0);
  r.LineTo(NAN, 3);
  r.LineTo(INFINITY, INFINITY);
  r.FillPath();
  r.EndPaint();
  EXPECT_LE(Sum(r), 36);
}

// Statistics of one plane against another, in coverage units of 1/255.
struct TDiff {
  double sumAbs = 0;
  size_t pixels = 0, edgePixels = 0;
  int maxAbs = 0;
  double edgeSumAbs = 0;
  void Add(const uint8_t* a, const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      int d = std::abs(int(a[i]) - int(b[i]));
      sumAbs += d;
      maxAbs = std::max(maxAbs, d);
      if ((a[i] != 0 && a[i] != 255) || (b[i] != 0 && b[i] != 255)) {
        edgeSumAbs += d;
        ++edgePixels;
      }
    }
    pixels += n;
  }
  double Mean() const { return pixels ? sumAbs / double(pixels) : 0; }
  double EdgeMean() const { return edgePixels ? edgeSumAbs / double(edgePixels) : 0; }
};

// FreeType's fill at 16 times the size, averaged down: close to the exact
// area coverage, so it says which of two fills is nearer the truth.
std::vector<uint8_t> SupersampledReference(test::TFtFont& font, FT_Outline* o, int w, int h) {
  constexpr int k = 16;
  FT_Outline big;
  FT_Outline_New(font.Library(), FT_UInt(o->n_points), o->n_contours, &big);
  FT_Outline_Copy(o, &big);
  FT_Matrix m{k << 16, 0, 0, k << 16};
  FT_Outline_Transform(&big, &m);
  std::vector<uint8_t> fine = test::FtCoverage(font, &big, w * k, h * k);
  FT_Outline_Done(font.Library(), &big);
  std::vector<uint8_t> out(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int s = 0;
      for (int j = 0; j < k; ++j)
        for (int i = 0; i < k; ++i)
          s += fine[size_t(y * k + j) * size_t(w * k) + size_t(x * k + i)];
      // FreeType truncates coverage; half a step puts the average back in the middle.
      out[size_t(y) * size_t(w) + size_t(x)] = uint8_t(std::min(255.0, s / double(k * k) + 0.5));
    }
  return out;
}

struct TFontCase {
  const char* path;
  int pixels;
};

class GlyphsAgainstFreeType : public ::testing::TestWithParam<TFontCase> {};

TEST_P(GlyphsAgainstFreeType, CoverageMatches) {
  test::TFtFont font(GetParam().path);
  if (!font.Ok()) GTEST_SKIP() << "font missing: " << GetParam().path;
  const int px = GetParam().pixels;
  TDiff vsFt, vsRef, ftVsRef;
  int glyphs = 0;
  std::u32string chars;
  for (char32_t c = 33; c < 127; ++c) chars += c;
  chars += U"\u00c4\u00e9\u00df\u00e7\u00d8\u0416\u03a9@&%";
  for (char32_t ch : chars) {
    unsigned index = FT_Get_Char_Index(font.Face(), FT_ULong(ch));
    test::TFtGlyph g;
    if (!index || !test::LoadFtGlyph(font, index, px, g)) continue;
    std::vector<uint8_t> ft = test::FtCoverage(font, g.outline, g.w, g.h);
    std::vector<uint8_t> ref = SupersampledReference(font, g.outline, g.w, g.h);
    TRasterHelper r;
    r.BeginPaint(g.w, g.h);
    ASSERT_EQ(r.AddPath(g.points.data(), g.points.size(), 1, 0, g.h), g.points.size());
    r.FillPath();
    r.EndPaint();
    // No pixel further from the exact coverage than 12 steps (chords lie
    // within 1/32 pixel of the curve), except where FreeType is off as far:
    // overlapping contours (a cedilla joining its letter), where both fills
    // clamp the winding sum rather than measure the union.
    TDiff one, ftOne;
    one.Add(r.Coverage(), ref.data(), ref.size());
    ftOne.Add(ft.data(), ref.data(), ref.size());
    EXPECT_LE(one.maxAbs, std::max(12, ftOne.maxAbs + 8)) << "U+" << std::hex << unsigned(ch);
    vsFt.Add(r.Coverage(), ft.data(), ft.size());
    vsRef.Add(r.Coverage(), ref.data(), ref.size());
    ftVsRef.Add(ft.data(), ref.data(), ref.size());
    ++glyphs;
  }
  ASSERT_GT(glyphs, 90);
  std::printf(
      "%d glyphs at %d px: ours vs FreeType mean %.3f, edge mean %.3f, max %d; "
      "ours vs exact mean %.3f, edge mean %.3f, max %d; FreeType vs exact mean %.3f, "
      "edge mean %.3f, max %d\n",
      glyphs, px, vsFt.Mean(), vsFt.EdgeMean(), vsFt.maxAbs, vsRef.Mean(), vsRef.EdgeMean(),
      vsRef.maxAbs, ftVsRef.Mean(), ftVsRef.EdgeMean(), ftVsRef.maxAbs);
  // In steps of 1/255. Both fills agree closely: FreeType's chords may lie
  // up to about 1/16 pixel inside a curve (its 26.6 bisection rule), which
  // bounds a single pixel's difference near 24 steps; small glyphs are
  // mostly edge pixels, so their mean is higher.
  EXPECT_LT(vsFt.Mean(), px < 20 ? 0.8 : 0.35);
  EXPECT_LT(vsFt.EdgeMean(), 2.0);
  EXPECT_LE(vsFt.maxAbs, 24);
  // Ours is nearer the exact coverage than FreeType's.
  EXPECT_LT(vsRef.Mean(), 0.5);
  EXPECT_LT(vsRef.EdgeMean(), ftVsRef.EdgeMean());
}

INSTANTIATE_TEST_SUITE_P(Fonts, GlyphsAgainstFreeType,
                         ::testing::Values(TFontCase{test::kDejaVuSans, 48},
                                           TFontCase{test::kLiberationSans, 48},
                                           TFontCase{test::kDejaVuSans, 13},
                                           TFontCase{test::kLiberationSans, 150}));

}  // namespace
}  // namespace lum
