// lumshow render with drop shadows: a box and a picture with transparency
// cast red shadows to the right on black; where they land, how soft their
// edge is and how opaque they are is read back from the frame.
#include <gtest/gtest.h>

#include <string>

#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Lumshow;
using test::TPixels;
using test::TRgb;
using test::TTempDir;

std::string Show(const std::string& objects) {
  return "[Main]\nMinorVersion=13\nopt_scr_width=800\nopt_scr_height=400\n"
         "[Times]\nopt_slidescount=1\nopt_synchpos1=4000\n[Slide1]\nbstyle=1\nbcolor=0\n"
         "object Container:Root\n" +
         objects + "end\n";
}

// Red, straight to the right, at a distance that clears the blur.
std::string ShadowKeys(int opacity, int size = 16) {
  return "ShadowEnable=1\nShadowColor=255,0,0\nShadowAngle=0\nShadowDistance=40\nShadowOpacity=" +
         std::to_string(opacity) + "\nShadowSize=" + std::to_string(size) + "\n";
}

// 200 x 100 white units at the centre: x 300-500, y 150-250.
std::string Box(const std::string& keys) {
  return "object B:Box\nGUID={1}\nSize=200,100\nFitMode=None\nColor1=255,255,255\n" + keys +
         "object K:KeyPoint\nTime=0\nend\nend\n";
}

// 200 x 100, its left half opaque white and its right half transparent.
std::string HalfTransparent() {
  TPixels p{200, 100, std::vector<TRgb>(20000, TRgb{255, 255, 255})};
  test::TBmpSpec spec;
  spec.bits = 32;
  spec.masks32 = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) spec.alpha.push_back(x < 100 ? 255 : 0);
  return test::WriteBmp(p, spec);
}

class RenderShadows : public ::testing::Test {
 protected:
  void SetUp() override { dir.Write("s/half.bmp", HalfTransparent()); }
  TPixels Frame(const std::string& objects) {
    std::string show = dir.Write("s/Project.lum", Show(objects));
    std::string out = dir / "frame.png";
    test::TCommandResult r =
        Lumshow({"render", show, "--time", "0", "--size", "800x400", "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadPicture(out);
  }
  // Red along row 200 from x0 to x1.
  static std::vector<int> Reds(TPixels& f, int x0, int x1) {
    std::vector<int> reds;
    for (int x = x0; x < x1; ++x) reds.push_back(f.At(x, 200).r);
    return reds;
  }
  // Pixels over which the red falls from 90% to 10% of the peak.
  static int Falloff(const std::vector<int>& reds) {
    const int peak = *std::max_element(reds.begin(), reds.end());
    int from = -1, to = -1;
    for (int i = 0; i < int(reds.size()); ++i) {
      if (from < 0 && reds[size_t(i)] < peak * 9 / 10) from = i;
      if (to < 0 && reds[size_t(i)] < peak / 10) to = i;
    }
    return to - from;
  }
  TTempDir dir;
};

TEST_F(RenderShadows, BoxShadowLandsOffsetSoftAndAtItsOpacity) {
  TPixels f = Frame(Box(ShadowKeys(100)));
  ASSERT_EQ(f.width, 800);
  EXPECT_GT(f.At(400, 200).g, 240);  // the box over its shadow
  const std::vector<int> right = Reds(f, 500, 560);
  EXPECT_GT(right[3], 150);         // beyond the right edge
  EXPECT_LT(right[50], 10);         // and gone further out
  EXPECT_LT(f.At(294, 200).r, 20);  // nothing on the side it is turned from
  EXPECT_LT(f.At(400, 140).r, 60);  // nor much above
  const int soft = Falloff(right);
  EXPECT_GE(soft, 3);
  // A larger size softens the edge.
  TPixels wide = Frame(Box(ShadowKeys(100, 64)));
  EXPECT_GT(Falloff(Reds(wide, 500, 600)), soft);
  // Half the opacity, half the red; none at 0.
  TPixels half = Frame(Box(ShadowKeys(50)));
  EXPECT_NEAR(half.At(503, 200).r, f.At(503, 200).r / 2, 12);
  TPixels none = Frame(Box(ShadowKeys(0)));
  for (int x = 502; x < 560; ++x) EXPECT_LT(none.At(x, 200).r, 4) << x;
}

TEST_F(RenderShadows, ShadowFollowsTheAnimatedObject) {
  // Moved 100 pixels right and faded to half over the first two seconds.
  const std::string box =
      "object B:Box\nGUID={1}\nSize=200,100\nFitMode=None\nColor1=255,255,255\n" + ShadowKeys(100) +
      "object K:KeyPoint\nTime=0\nPosition=0,0\nOpacity=100\nend\n"
      "object K:KeyPoint\nTime=2000\nPosition=25,0\nOpacity=50\nend\nend\n";
  std::string show = dir.Write("s/Project.lum", Show(box));
  auto frame = [&](int ms) {
    std::string out = dir / "frame.png";
    test::TCommandResult r =
        Lumshow({"render", show, "--time", std::to_string(ms), "--size", "800x400", "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadPicture(out);
  };
  TPixels start = frame(0), end = frame(2000);
  ASSERT_EQ(end.width, 800);
  const int first = start.At(503, 200).r;
  EXPECT_GT(first, 150);
  EXPECT_LT(start.At(603, 200).r, 10);
  // The shadow went along and fades with the box.
  EXPECT_NEAR(end.At(603, 200).r, first / 2, 12);
  EXPECT_LT(end.At(700, 200).r, 10);
  // Beneath the half-faded box its shadow shows through.
  EXPECT_GT(end.At(503, 200).r, end.At(503, 200).g + 30);
}

TEST_F(RenderShadows, PictureShadowFollowsItsAlpha) {
  TPixels f = Frame("object P:Image\nGUID={1}\nImageName=half.bmp\nFitMode=None\n" +
                    ShadowKeys(100) + "object K:KeyPoint\nTime=0\nend\nend\n");
  ASSERT_EQ(f.width, 800);
  EXPECT_GT(f.At(350, 200).g, 240);  // the opaque half
  EXPECT_GT(f.At(403, 200).r, 150);  // its shadow, seen through the clear half
  EXPECT_LT(f.At(403, 200).g, 60);
  EXPECT_LT(f.At(470, 200).r, 10);  // the clear half casts none
  EXPECT_LT(f.At(520, 200).r, 10);
}

}  // namespace
}  // namespace lum
