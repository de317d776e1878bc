// lumshow render with picture objects: framing (aspect, pan, zoom, crop,
// border), masks through view ports, sprite-sheet and GIF animation, and
// hostile keys, with the expected pixels worked out from the test pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "imaging/image_fixtures.h"
#include "support/environment.h"
#include "support/lumshow_run.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Lumshow;
using test::TPixels;
using test::TRgb;
using test::TTempDir;

constexpr TRgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kBlack{0, 0, 0};

// 400 x 200: red columns 0-99, green 100-299, blue 300-399.
std::string Bands() {
  TPixels p;
  p.width = 400;
  p.height = 200;
  p.px.resize(size_t(p.width) * p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) p.At(x, y) = x < 100 ? kRed : x < 300 ? kGreen : kBlue;
  return test::WriteBmp(p, {});
}

// A slide of 800 x 400 units on black shown 1:1 in an 800 x 400 window.
std::string Show(const std::string& objects) {
  return "[Main]\nMinorVersion=13\nopt_scr_width=800\nopt_scr_height=400\n"
         "[Times]\nopt_slidescount=1\nopt_synchpos1=4000\n[Slide1]\nbstyle=1\nbcolor=0\n"
         "object Container:Root\n" +
         objects + "end\n";
}

// A picture object of its own size at the slide's centre.
std::string Picture(const std::string& name, const std::string& keys,
                    const std::string& frame = "") {
  return "object P:Image\nGUID={1}\nImageName=" + name + "\nFitMode=None\n" + keys +
         "object K:KeyPoint\nTime=0\n" + frame + "end\nend\n";
}

class RenderPictures : public ::testing::Test {
 protected:
  void SetUp() override { dir.Write("s/bands.bmp", Bands()); }
  TPixels Frame(const std::string& objects, double ms = 0) {
    std::string show = dir.Write("s/Project.lum", Show(objects));
    std::string out = dir / "frame.png";
    test::TCommandResult r =
        Lumshow({"render", show, "--time", std::to_string(ms), "--size", "800x400", "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadPicture(out);
  }
  // Colour runs along row y from x0 to x1 (exclusive) must be these, each
  // checked a few pixels inside its run.
  static void ExpectRow(const TPixels& f, int y, std::vector<std::pair<int, TRgb>> runs, int end) {
    ASSERT_EQ(f.width, 800);
    for (size_t i = 0; i < runs.size(); ++i) {
      const int from = runs[i].first, to = i + 1 < runs.size() ? runs[i + 1].first : end;
      for (int x : {from + 2, (from + to) / 2, to - 3}) {
        const TRgb got = f.At(x, y), want = runs[i].second;
        EXPECT_NEAR(got.r, want.r, 4) << "x " << x << " y " << y;
        EXPECT_NEAR(got.g, want.g, 4) << "x " << x << " y " << y;
        EXPECT_NEAR(got.b, want.b, 4) << "x " << x << " y " << y;
      }
    }
  }
  TTempDir dir;
};

TEST_F(RenderPictures, PlainAspectPanZoomAndCrop) {
  // The whole picture from x 200 to 600, y 100 to 300.
  TPixels f = Frame(Picture("bands.bmp", ""));
  ExpectRow(f, 200, {{0, kBlack}, {200, kRed}, {300, kGreen}, {500, kBlue}, {600, kBlack}}, 800);
  EXPECT_EQ(f.At(400, 98), kBlack);
  EXPECT_EQ(f.At(400, 302), kBlack);
  // Aspect 1: the centred 200 x 200 square (all green) at x 300..500.
  f = Frame(Picture("bands.bmp", "EnableAspect=1\nAspect=1\n"));
  ExpectRow(f, 200, {{0, kBlack}, {300, kGreen}, {500, kBlack}}, 800);
  // Panned fully right: picture columns 200..400, half green, half blue.
  f = Frame(Picture("bands.bmp", "EnableAspect=1\nAspect=1\n", "OffsX=100\n"));
  ExpectRow(f, 200, {{0, kBlack}, {300, kGreen}, {400, kBlue}, {500, kBlack}}, 800);
  // Zoomed in twice: the centre half of the picture (all green) fills it.
  f = Frame(Picture("bands.bmp", "", "Zoom=200\n"));
  ExpectRow(f, 200, {{0, kBlack}, {200, kGreen}, {600, kBlack}}, 800);
  // Zooming out shows the whole picture, never more.
  f = Frame(Picture("bands.bmp", "", "Zoom=50\n"));
  ExpectRow(f, 200, {{0, kBlack}, {200, kRed}, {300, kGreen}, {500, kBlue}, {600, kBlack}}, 800);
  // A quarter cropped from the left: columns 100..400 over 300 pixels.
  f = Frame(Picture("bands.bmp", "EnableCrop=1\nCropRect=25,0,0,0\n"));
  ExpectRow(f, 200, {{0, kBlack}, {250, kGreen}, {450, kBlue}, {550, kBlack}}, 800);
}

TEST_F(RenderPictures, BorderBandAroundThePicture) {
  // 10 % of the visible height (200) is 20 pixels on each side.
  TPixels f =
      Frame(Picture("bands.bmp", "EnableBorder=1\nBorderWidth=10\nBorderColor=255,255,0,255\n"));
  const TRgb yellow{255, 255, 0};
  ExpectRow(f, 200,
            {{0, kBlack},
             {180, yellow},
             {200, kRed},
             {300, kGreen},
             {500, kBlue},
             {600, yellow},
             {620, kBlack}},
            800);
  ExpectRow(f, 90, {{0, kBlack}, {180, yellow}, {620, kBlack}}, 800);
  EXPECT_EQ(f.At(400, 78), kBlack);
}

TEST_F(RenderPictures, MissingPicturesShowThePlaceholderAndEmptyNamesNothing) {
  TPixels f = Frame(Picture("missing.jpg", ""));
  // The placeholder is drawn in greys where the picture would be.
  int grey = 0;
  for (int x = 300; x < 500; ++x) {
    const TRgb p = f.At(x, 200);
    if (p.r > 20 && p.r == p.g && p.g == p.b) ++grey;
  }
  EXPECT_GT(grey, 100);
  f = Frame(Picture("", ""));
  ExpectRow(f, 200, {{0, kBlack}}, 800);
}

TEST_F(RenderPictures, ViewPortsShowTheirContentThroughTheStencil) {
  // A 200 x 200 red box seen through a hard preset disc of radius 100.
  const std::string port =
      "object VP:ViewPort\nGUID={10}\nSize=200,200\nFitMode=None\n"
      "object K:KeyPoint\nTime=0\nend\n"
      "object St:MaskStencil\nGUID={11}\n"
      "object Disc:Image\nGUID={12}\nImageName=PresetedMask:200:200:1:0:0\nFitMode=None\n"
      "object K:KeyPoint\nTime=0\nend\nend\nend\n"
      "object Ct:MaskContent\nGUID={13}\n"
      "object Fill:Box\nGUID={14}\nSize=200,200\nFitMode=None\nColor1=255,0,0\n"
      "object K:KeyPoint\nTime=0\nend\nend\nend\nend\n";
  // Over a grey background, so that the disc's outside must be see-through.
  const std::string grey =
      "object Bg:Box\nGUID={9}\nSize=800,400\nFitMode=None\n"
      "Color1=64,64,64\nobject K:KeyPoint\nTime=0\nend\nend\n";
  const TRgb kGrey{64, 64, 64};
  TPixels f = Frame(grey + port);
  EXPECT_EQ(f.At(400, 200), kRed);
  EXPECT_EQ(f.At(305, 200), kRed);   // inside the disc at its left
  EXPECT_EQ(f.At(302, 102), kGrey);  // the square's corner is outside
  EXPECT_EQ(f.At(497, 297), kGrey);
  EXPECT_EQ(f.At(200, 200), kGrey);
  // "Mask: " of a picture without alpha takes alpha from colour: the black
  // left half of this picture hides the content, the white half shows it.
  TPixels half;
  half.width = 200;
  half.height = 200;
  half.px.assign(size_t(200 * 200), TRgb{255, 255, 255});
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 100; ++x) half.At(x, y) = kBlack;
  dir.Write("s/half.bmp", test::WriteBmp(half, {}));
  std::string masked = port;
  masked.replace(masked.find("PresetedMask:200:200:1:0:0"), 26, "Mask: half.bmp");
  f = Frame(grey + masked);
  EXPECT_EQ(f.At(350, 200), kGrey);
  EXPECT_EQ(f.At(450, 200), kRed);
}

TEST_F(RenderPictures, SpriteSheetAndGifFramesFollowTheSlideTime) {
  // Three 100 x 100 cells: red, green, blue.
  TPixels sheet;
  sheet.width = 300;
  sheet.height = 100;
  sheet.px.resize(300 * 100);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 300; ++x) sheet.At(x, y) = x < 100 ? kRed : x < 200 ? kGreen : kBlue;
  dir.Write("s/sheet.bmp", test::WriteBmp(sheet, {}));
  const std::string anim = "AnimEnable=1\nAnimColumns=3\nAnimCount=3\nAnimInterval=100,200\n";
  // Frames last 100, 200, 200 ms and repeat.
  const std::pair<double, TRgb> expected[] = {
      {50, kRed}, {150, kGreen}, {350, kBlue}, {550, kRed}, {650, kGreen}};
  for (const auto& [ms, colour] : expected) {
    TPixels f = Frame(Picture("sheet.bmp", anim), ms);
    EXPECT_EQ(f.At(400, 200), colour) << ms;
    EXPECT_EQ(f.At(345, 200), kBlack) << ms;  // one 100 x 100 cell at the centre
  }
  // The same through a GIF made by an independent tool: its frames side by side.
  std::string gif = test::RunTool(
      {"gifbuild",
       dir.Write("a.txt",
                 "screen width 4\nscreen height 4\nscreen colors 4\nscreen background 0\n"
                 "screen map\n\trgb 255 0 0\n\trgb 0 255 0\n\trgb 0 0 255\n\trgb 255 255 255\n"
                 "end\n"
                 "graphics control\n\tdelay 10\nend\n"
                 "image\nimage left 0\nimage top 0\nimage bits 4 by 4 hex\n"
                 "00000000\n00000000\n00000000\n00000000\n"
                 "graphics control\n\tdelay 10\nend\n"
                 "image\nimage left 0\nimage top 0\nimage bits 4 by 4 hex\n"
                 "01010101\n01010101\n01010101\n01010101\n"
                 "graphics control\n\tdelay 10\nend\n"
                 "image\nimage left 0\nimage top 0\nimage bits 4 by 4 hex\n"
                 "02020202\n02020202\n02020202\n02020202\n")});
  dir.Write("s/spin.gif", gif);
  const std::string gifKeys =
      "AnimEnable=1\nAnimColumns=3\nAnimCount=3\nAnimInterval=100\nFiltering=Nearest\n";
  for (const auto& [ms, colour] : {std::pair{50.0, kRed}, {150.0, kGreen}, {250.0, kBlue}}) {
    TPixels f = Frame(Picture("spin.gif", gifKeys), ms);
    EXPECT_EQ(f.At(400, 200), colour) << ms;
  }
}

TEST_F(RenderPictures, BackgroundPicturesFitAndTileFromTheCentre) {
  // 200 x 100: red top-left, green top-right, blue bottom-left, white bottom-right.
  TPixels q;
  q.width = 200;
  q.height = 100;
  q.px.resize(200 * 100);
  const TRgb kWhite{255, 255, 255};
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x)
      q.At(x, y) = y < 50 ? (x < 100 ? kRed : kGreen) : (x < 100 ? kBlue : kWhite);
  dir.Write("s/bg.bmp", test::WriteBmp(q, {}));
  auto frame = [&](const std::string& size) {
    std::string show = Show("");
    show.replace(show.find("bstyle=1\nbcolor=0\n"), 17,
                 "bstyle=2\nbfn=bg.bmp\nbsize=" + size + "\n");
    dir.Write("s/Project.lum", show);
    std::string out = dir / "bg.png";
    test::TCommandResult r =
        Lumshow({"render", dir / "s/Project.lum", "--time", "0", "--size", "800x400", "-o", out});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadPicture(out);
  };
  // At 100 % the picture covers the 2:1 slide exactly.
  TPixels f = frame("100");
  EXPECT_EQ(f.At(200, 100), kRed);
  EXPECT_EQ(f.At(600, 100), kGreen);
  EXPECT_EQ(f.At(200, 300), kBlue);
  EXPECT_EQ(f.At(600, 300), kWhite);
  // At 50 % a 400 x 200 tile sits at the centre and its neighbours repeat
  // it outwards: the slide's top-left corner shows the bottom-right of the
  // tile above and to the left.
  f = frame("50");
  EXPECT_EQ(f.At(250, 125), kRed);
  EXPECT_EQ(f.At(550, 275), kWhite);
  EXPECT_EQ(f.At(100, 50), kWhite);
  EXPECT_EQ(f.At(700, 350), kRed);
}

TEST_F(RenderPictures, PicturesWithProfilesFollowTheShowsColourManagement) {
  // A 400 x 200 photo with an embedded wide-gamut profile, drawn 1:1.
  TPixels photo = test::MakeTestPicture(400, 200);
  std::string ppm = dir.Write("p.ppm", test::WritePpm(photo));
  test::RunTool({"cjpeg", "-quality", "95", "-icc",
                 "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc", "-outfile",
                 dir / "s/photo.jpg", ppm});
  // References: the picture as the loaders decode it, unconverted and
  // converted to a channel-rotating display profile.
  ASSERT_EQ(Lumshow({"image", dir / "s/photo.jpg", "-o", dir / "none.png", "--icc", "none"}).status,
            0);
  ASSERT_EQ(
      Lumshow({"image", dir / "s/photo.jpg", "-o", dir / "funky.png", "--icc", "FunkyRGB"}).status,
      0);
  auto read = test::ReadPicture;
  const TPixels none = read(dir / "none.png"), funky = read(dir / "funky.png");
  // Mean and largest difference over the picture's area of the frame.
  auto compare = [&](const TPixels& f, const TPixels& ref, double& mean, int& largest) {
    double sum = 0;
    largest = 0;
    for (int y = 2; y < 198; ++y)
      for (int x = 2; x < 398; ++x) {
        const TRgb a = f.At(200 + x, 100 + y), b = ref.At(x, y);
        for (int d : {a.r - b.r, a.g - b.g, a.b - b.b}) {
          sum += std::abs(d);
          largest = std::max(largest, std::abs(d));
        }
      }
    mean = sum / (396.0 * 196 * 3);
  };
  double mean = 0;
  int largest = 0;
  compare(Frame(Picture("photo.jpg", "")), none, mean, largest);
  EXPECT_LT(mean, 1.0);
  EXPECT_LE(largest, 4);
  // With management on, through the look-up volume: close to the exact
  // transform. The volume interpolates linearly between 32 steps per
  // channel, so the tone curves' bend near black costs up to a few tens of
  // levels on single dark pixels, while the average stays small.
  std::string managed = Show(Picture("photo.jpg", ""));
  managed.replace(managed.find("[Main]\n"), 7, "[Main]\nColorManagement=FunkyRGB\n");
  dir.Write("s/Project.lum", managed);
  test::TCommandResult r = Lumshow(
      {"render", dir / "s/Project.lum", "--time", "0", "--size", "800x400", "-o", dir / "m.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  compare(read(dir / "m.png"), funky, mean, largest);
  EXPECT_LT(mean, 2.5);
  EXPECT_LE(largest, 24);
}

// Pixels of an 800 x 400 frame that a turned edge covers in part (neither
// background nor picture).
int PartlyCovered(const TPixels& f) {
  int n = 0;
  for (const TRgb& p : f.px) n += p.g > 10 && p.g < 245;
  return n;
}

// How many pixels of two frames ImageMagick finds more than 1 % apart.
int PixelsApart(const std::string& a, const std::string& b) {
  const std::string compare = test::FindProgram("compare");
  EXPECT_FALSE(compare.empty()) << "ImageMagick's compare is not installed";
  const test::TCommandResult r =
      test::RunCommand({compare, "-metric", "AE", "-fuzz", "1%", a, b, "null:"});
  EXPECT_TRUE(r.status == 0 || r.status == 1) << r.err;
  return std::atoi(r.err.c_str());
}

TEST_F(RenderPictures, TurnedPicturesHaveSmoothEdgesOnEveryPath) {
  // A white picture turned by 30 degrees: plain, through a colour filter
  // that keeps white, and as a JPEG with a profile converted by colour
  // management. The edges must match the plain picture's.
  TPixels white;
  white.width = 300, white.height = 150;
  white.px.assign(size_t(white.width) * white.height, TRgb{255, 255, 255});
  dir.Write("s/white.bmp", test::WriteBmp(white, {}));
  const std::string ppm = dir.Write("white.ppm", test::WritePpm(white));
  test::RunTool({"cjpeg", "-quality", "100", "-icc",
                 "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc", "-outfile",
                 dir / "s/white.jpg", ppm});
  auto render = [&](const std::string& name, const std::string& main, const std::string& out,
                    const std::string& keys, const std::string& filters = "") {
    std::string show = Show(Picture(name, keys, "Angle=30\n" + filters));
    show.replace(show.find("[Main]\n"), 7, "[Main]\n" + main);
    dir.Write("s/Project.lum", show);
    const test::TCommandResult r = Lumshow(
        {"render", dir / "s/Project.lum", "--time", "0", "--size", "800x400", "-o", dir / out});
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadPicture(dir / out);
  };
  EXPECT_GT(PartlyCovered(render("white.bmp", "", "plain.png", "")), 600);
  EXPECT_EQ(PartlyCovered(render("white.bmp", "", "hard.png", "Antialiased=0\n")), 0);
  render("white.bmp", "", "filtered.png", "", "object HSL:Filter\nHue=120\nend\n");
  EXPECT_EQ(PixelsApart(dir / "plain.png", dir / "filtered.png"), 0);
  render("white.jpg", "ColorManagement=sRGB\n", "managed.png", "");
  EXPECT_EQ(PixelsApart(dir / "plain.png", dir / "managed.png"), 0);
}

TEST_F(RenderPictures, HostileKeysAreBounded) {
  // Absurd border widths, zero columns, negative counts and an enormous
  // preset mask: the frame draws, nothing explodes.
  std::string objects =
      Picture("bands.bmp", "EnableBorder=1\nBorderWidth=1e30\n") +
      "object A:Image\nGUID={2}\nImageName=sheet.bmp\nAnimEnable=1\nAnimColumns=0\n"
      "AnimCount=-5\nAnimInterval=-3,0\nobject K:KeyPoint\nTime=0\nend\nend\n"
      "object M:Image\nGUID={3}\nImageName=PresetedMask:100000000:100000000:1:50:50\n"
      "object K:KeyPoint\nTime=0\nend\nend\n";
  TPixels f = Frame(objects, 100);
  EXPECT_EQ(f.width, 800);
}

}  // namespace
}  // namespace lum
