// Drop shadows: descriptions, the work-size and blur bounds, and the shadow
// pictures of shapes and of pictures with transparency.
#include <gtest/gtest.h>

#include <cmath>

#include "imaging/bitmap_store.h"
#include "model/shadow.h"

namespace lum {
namespace {

int AlphaAt(const TBitmap& b, int x, int y) {
  return b.Row(y)[4 * x + 3];
}

// Columns along the middle row where alpha is strictly between 5% and 95%:
// how wide the soft edge is.
int SoftWidth(const TBitmap& b) {
  int n = 0;
  for (int x = 0; x < b.Width(); ++x) {
    const int a = AlphaAt(b, x, b.Height() / 2);
    n += a > 13 && a < 242;
  }
  return n;
}

TShadowParams Shape(double w, double h, double blur) {
  double scale = 0;
  TShadowParams p = ShapeShadowParams(w, h, 0, 0, scale);
  p.blurSize = blur;
  p.backgroundAlpha = 0;
  return p;
}

TEST(ShadowDescription, RoundTripsAndKeepsColonsInTheSourceName) {
  TShadowParams p;
  p.source = "pics:a.png";
  p.left = 1.25f, p.top = 2, p.right = 300.5f, p.bottom = 200;
  p.marginX = 3, p.marginY = 4;
  p.backgroundAlpha = 0;
  p.blurSize = 12.345678901234567;
  p.spread = -3;
  p.fillMode = 2, p.alpha1 = 10, p.alpha2 = 200, p.mipLevel = 1;
  const std::string d = ShadowDescription(p);
  EXPECT_EQ(
      d, "Shadow: 1.25:2.00:300.50:200.00:3.00:4.00:0:12.34567890123457:-3:2:10:200:1:pics:a.png");
  TShadowParams back = ParseShadowDescription(std::string_view(d).substr(kShadowPrefix.size()));
  EXPECT_EQ(back.source, p.source);
  EXPECT_FLOAT_EQ(back.right, 300.5f);
  EXPECT_NEAR(back.blurSize, p.blurSize, 1e-12);
  EXPECT_EQ(back.spread, -3);
  EXPECT_EQ(back.alpha2, 200);
}

TEST(ShadowDescription, UnreadableFieldsTakeTheirDefaults) {
  TShadowParams p = ParseShadowDescription("x:y:nan:inf:::bad:zz:q:w:e:r:t:name");
  EXPECT_EQ(p.left, 0);
  EXPECT_EQ(p.right, 0);
  EXPECT_EQ(p.backgroundAlpha, 255);
  EXPECT_EQ(p.blurSize, 0);
  EXPECT_EQ(p.fillMode, kSolidShadowFill);
  EXPECT_EQ(p.source, "name");
  // Truncated: no source at all, and no geometry to make.
  TShadowParams cut = ParseShadowDescription("0:0:10");
  EXPECT_TRUE(cut.source.empty());
  EXPECT_FALSE(ShadowGeometryOf(cut).valid);
  EXPECT_EQ(GenerateShadow(cut, nullptr), nullptr);
}

TEST(ShadowGeometry, HalvesLargeSourcesAndBoundsAbsurdValues) {
  TShadowParams p;
  p.right = 2000, p.bottom = 1500;
  TShadowGeometry g = ShadowGeometryOf(p);
  EXPECT_EQ(g.halvings, 2);
  EXPECT_EQ(g.width, 500);
  EXPECT_EQ(g.height, 375);

  p.blurSize = 1e6;
  p.marginX = p.marginY = 1e30f;
  g = ShadowGeometryOf(p);
  ASSERT_TRUE(g.valid);
  EXPECT_LE(int64_t(g.width + 2 * g.border) * (g.height + 2 * g.border), 4'000'000);
  p.source = std::string(kShapeShadowSource);
  TRef<TBitmap> made = GenerateShadow(p, nullptr);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->Width(), g.width + 2 * g.border);
  // Slivers stay within the side limit.
  TShadowParams sliver;
  sliver.right = 1e7f, sliver.bottom = 1;
  g = ShadowGeometryOf(sliver);
  EXPECT_LE(g.width, 10000);

  for (float bad : {NAN, INFINITY, -5.0f}) {
    TShadowParams q;
    q.right = bad, q.bottom = 10;
    EXPECT_FALSE(ShadowGeometryOf(q).valid) << bad;
  }
}

// The soft edge measured against the blur as documented: with s = blur + 1
// (no halving for 400 x 100), the mask goes down by 1 / s and back up
// through the cubic B-spline scaled by s. A step through that spline alone
// rises from 5 % to 95 % over 1.90 s (its integral, worked out numerically);
// through two of them (a spline going down as well) over 2.68 s. The middle
// row crosses two edges.
TEST(ShapeShadow, SolidBoxIsUniformInsideAndSoftensWithBlur) {
  TShadowParams sharp = Shape(400, 100, 0), soft = Shape(400, 100, 10);
  EXPECT_NEAR((sharp.right + 2 * sharp.marginX) * (sharp.bottom + 2 * sharp.marginY), 40000, 400);
  TRef<TBitmap> a = GenerateShadow(sharp, nullptr), b = GenerateShadow(soft, nullptr);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Row(0)[0], 255);  // white
  EXPECT_EQ(AlphaAt(*b, b->Width() / 2, b->Height() / 2), 255);
  EXPECT_EQ(AlphaAt(*b, 0, 0), 0);
  for (double blur : {0.0, 4.0, 10.0, 20.0}) {
    TRef<TBitmap> made = GenerateShadow(Shape(400, 100, blur), nullptr);
    ASSERT_TRUE(made);
    const double s = blur + 1;
    EXPECT_GE(SoftWidth(*made), int(2 * 1.90 * s) - 1) << blur;
    EXPECT_LE(SoftWidth(*made), int(2 * 2.68 * s) + 2) << blur;
  }
  // Symmetric about the centre.
  const int y = b->Height() / 2;
  for (int x = 0; x < b->Width() / 2; x += 7)
    EXPECT_NEAR(AlphaAt(*b, x, y), AlphaAt(*b, b->Width() - 1 - x, y), 2) << x;
}

TEST(ShapeShadow, GradientWithAZeroEndFadesOnThatSide) {
  TShadowParams p = Shape(200, 200, 4);
  p.fillMode = 1;  // left to right
  p.alpha1 = 255, p.alpha2 = 0;
  TRef<TBitmap> b = GenerateShadow(p, nullptr);
  ASSERT_TRUE(b);
  const TShadowGeometry g = ShadowGeometryOf(p);
  const int y = b->Height() / 2, right = g.border + g.width - 3;
  int peak = 0;
  for (int x = 0; x < b->Width(); ++x)
    if (AlphaAt(*b, x, y) > AlphaAt(*b, peak, y)) peak = x;
  EXPECT_GT(AlphaAt(*b, peak, y), 200);
  EXPECT_LT(peak, g.border + g.width / 4);
  EXPECT_LT(AlphaAt(*b, right, y), 20);
  // From the peak on it only fades.
  for (int x = peak; x < right; ++x) EXPECT_GE(AlphaAt(*b, x, y) + 1, AlphaAt(*b, x + 1, y));
}

TEST(PictureShadow, FollowsTheAlphaOfATransparentPicture) {
  // 200 x 100, transparent but for an opaque square at 20..60.
  auto bmp = MakeRef<TBitmap>(200, 100, TPixelFormat::Bgra32);
  bmp->Fill(0, 0, 0, 0);
  for (int y = 20; y < 60; ++y)
    for (int x = 20; x < 60; ++x) bmp->Row(y)[4 * x + 3] = 255;
  TImage image(MakeRef<TSysBitmapStore>(bmp));
  TShadowParams p;
  p.source = "square.png";
  p.right = 200, p.bottom = 100;
  p.backgroundAlpha = 0;
  p.blurSize = 6;
  TRef<TBitmap> s = GenerateShadow(p, &image);
  ASSERT_TRUE(s);
  const int b = ShadowGeometryOf(p).border;
  EXPECT_EQ(AlphaAt(*s, b + 40, b + 40), 255);
  EXPECT_EQ(AlphaAt(*s, b + 150, b + 50), 0);
  EXPECT_LT(AlphaAt(*s, b + 20, b + 40), 200);  // the edge is soft
  EXPECT_GT(AlphaAt(*s, b + 20, b + 40), 50);
  // A wider spread lifts the edge.
  p.spread = 8;
  TRef<TBitmap> spread = GenerateShadow(p, &image);
  EXPECT_GT(AlphaAt(*spread, b + 18, b + 40), AlphaAt(*s, b + 18, b + 40));
  // Cancelled generation and a missing source give nothing.
  EXPECT_EQ(GenerateShadow(p, &image, [] { return true; }), nullptr);
  EXPECT_EQ(GenerateShadow(p, nullptr), nullptr);
}

TEST(ShadowPlacement, ScalesAndOffsetsByObjectKind) {
  EXPECT_DOUBLE_EQ(PictureBlurScale(1600, 900, 0), 3);
  EXPECT_DOUBLE_EQ(PictureBlurScale(1600, 900, 1), 1.5);
  EXPECT_DOUBLE_EQ(ButtonBlurScale(400, 0), 1.1);
  EXPECT_DOUBLE_EQ(TextBlurScale(800, 1), 1.1);
  TShadowOffset o = ShadowOffset(2, 0.5, 4, 90);
  EXPECT_NEAR(o.x, 0, 1e-9);
  EXPECT_NEAR(o.y, 4, 1e-9);
  o = ShadowOffset(NAN, 1, 1, 0);
  EXPECT_EQ(o.x, 0);
}

}  // namespace
}  // namespace lum
