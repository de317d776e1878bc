// lumshow render with colour filters on picture key frames: a picture of
// known colours drawn through per-channel and full-volume grades, and
// blended between two key frames' grades, read back from the frame.
#include <gtest/gtest.h>

#include <string>

#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TPixels;
using test::TRgb;

// 300 x 100: red, green and blue thirds.
std::string ThirdsPicture() {
  TPixels p;
  p.width = 300;
  p.height = 100;
  p.px.resize(size_t(p.width) * p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      p.At(x, y) = x < 100 ? TRgb{255, 0, 0} : x < 200 ? TRgb{0, 255, 0} : TRgb{0, 0, 255};
  return test::WriteBmp(p, {});
}

// The picture at its own size in the middle of a 600 x 300 slide on black,
// with the given key frames.
std::string Show(const std::string& keyPoints) {
  return "[Main]\nMinorVersion=13\nopt_scr_width=600\nopt_scr_height=300\n"
         "[Times]\nopt_slidescount=1\nopt_synchpos1=4000\n[Slide1]\nbstyle=1\nbcolor=0\n"
         "object Container:Root\nobject P:Image\nGUID={1}\nImageName=thirds.bmp\n"
         "FitMode=None\n" +
         keyPoints + "end\nend\n";
}

std::string KeyPoint(int time, const std::string& filters) {
  return "object K:KeyPoint\nTime=" + std::to_string(time) + "\n" + filters + "end\n";
}

std::string Filter(const std::string& name, const std::string& keys = "") {
  return "object " + name + ":Filter\n" + keys + "end\n";
}

class RenderFilters : public ::testing::Test {
 protected:
  void SetUp() override { dir.Write("s/thirds.bmp", ThirdsPicture()); }
  // The centres of the three thirds as drawn at time ms.
  std::vector<TRgb> Thirds(const std::string& keyPoints, double ms = 0) {
    const std::string show = dir.Write("s/Project.lum", Show(keyPoints));
    const std::string out = dir / "frame.png";
    test::TCommandResult r = test::Lumshow(
        {"render", show, "--time", std::to_string(ms), "--size", "600x300", "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    TPixels f = test::ReadPicture(out);
    if (f.width != 600) return {};
    return {f.At(200, 150), f.At(300, 150), f.At(400, 150)};
  }
  static void Expect(const std::vector<TRgb>& got, const std::vector<TRgb>& want,
                     const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_NEAR(got[i].r, want[i].r, 4) << what << " third " << i;
      EXPECT_NEAR(got[i].g, want[i].g, 4) << what << " third " << i;
      EXPECT_NEAR(got[i].b, want[i].b, 4) << what << " third " << i;
    }
  }
  test::TTempDir dir;
};

TEST_F(RenderFilters, PerChannelAndVolumeGrades) {
  Expect(Thirds(KeyPoint(0, "")), {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}, "plain");
  Expect(Thirds(KeyPoint(0, Filter("Invert"))), {{0, 255, 255}, {255, 0, 255}, {255, 255, 0}},
         "invert");
  Expect(Thirds(KeyPoint(0, Filter("BrightContrast", "bright=50\n"))),
         {{255, 50, 50}, {50, 255, 50}, {50, 50, 255}}, "brightness");
  // Full volumes: hue a third of a turn on, and grey-scale by luminance.
  Expect(Thirds(KeyPoint(0, Filter("HSL", "Hue=120\n"))), {{0, 255, 0}, {0, 0, 255}, {255, 0, 0}},
         "hue");
  const int yr = (255 * 13933) >> 16, yg = (255 * 46871) >> 16, yb = (255 * 7471) >> 16;
  Expect(Thirds(KeyPoint(0, Filter("Colorization", "Color=#808080\nAmount=100\n"))),
         {{yr, yr, yr}, {yg, yg, yg}, {yb, yb, yb}}, "grey-scale");
  // A disabled filter draws as if it were not there.
  Expect(Thirds(KeyPoint(0, Filter("Invert", "Disable=1\n"))),
         {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}, "disabled");
}

TEST_F(RenderFilters, BlendsTheGradesOfTwoKeyFrames) {
  const std::string frames = KeyPoint(0, Filter("Invert")) + KeyPoint(2000, "");
  Expect(Thirds(frames, 0), {{0, 255, 255}, {255, 0, 255}, {255, 255, 0}}, "start");
  Expect(Thirds(frames, 1000), {{128, 128, 128}, {128, 128, 128}, {128, 128, 128}}, "midway");
  Expect(Thirds(frames, 2000), {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}, "end");
  // Per-channel at one end, cross-channel at the other: both as volumes.
  const std::string mixed = KeyPoint(0, Filter("Invert")) + KeyPoint(2000, Filter("HSL", "Hue=120\n"));
  Expect(Thirds(mixed, 1000), {{0, 255, 128}, {128, 0, 255}, {255, 128, 0}}, "mixed midway");
}

}  // namespace
}  // namespace lum
