// lumshow render: frames of generated shows drawn headless through the real
// renderer, compared with colours and geometry worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/stream_helpers.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::Lumshow;
using test::TPixels;
using test::TRgb;
using test::TTempDir;

// A frame of the show at time ms in a window of w x h.
TPixels Render(const std::string& show, double ms, int w, int h, const TTempDir& dir) {
  std::string out = dir / "frame.png";
  test::TCommandResult r = Lumshow({"render", show, "--time", std::to_string(ms), "--size",
                                    std::to_string(w) + "x" + std::to_string(h), "-o", out});
  EXPECT_EQ(r.status, 0) << r.err;
  return test::ReadPicture(out);
}

void ExpectNear(TRgb got, int r, int g, int b, int tol, const std::string& where) {
  EXPECT_NEAR(got.r, r, tol) << where;
  EXPECT_NEAR(got.g, g, tol) << where;
  EXPECT_NEAR(got.b, b, tol) << where;
}

// A one-slide project of 800 x 400 design units; extra goes into [Main],
// slide into the slide section, objects inside its root.
std::string Project(const std::string& extra, const std::string& slide,
                    const std::string& objects = "", int width = 800, int height = 400) {
  return "[Main]\nMinorVersion=13\nopt_scr_width=" + std::to_string(width) +
         "\nopt_scr_height=" + std::to_string(height) + "\n" + extra +
         "[Times]\nopt_slidescount=1\nopt_synchpos1=4000\n[Slide1]\n" + slide +
         "object Container:Root\n" + objects + "end\n";
}

TEST(LumshowRender, DemoShowFrames) {
  TTempDir dir;
  // Slide 1 at 1500 ms: the purple background (72, 61, 139) and the banner.
  TPixels f = Render(DEMO_SHOW_PATH, 1500, 1920, 1080, dir);
  ExpectNear(f.At(960, 20), 72, 61, 139, 0, "background");
  ExpectNear(f.At(2, 160), 20, 40, 120, 3, "banner's left end");
  // Slide 2 at 5000 ms: the 960 x 640 photo with a border of 2 % of its
  // height (12.8 units), fitted into the design and shown at 70 %: the
  // border spans 14.5 pixels from y 162.
  f = Render(DEMO_SHOW_PATH, 5000, 1920, 1080, dir);
  ExpectNear(f.At(960, 169), 255, 255, 255, 0, "border above");
  ExpectNear(f.At(407, 540), 255, 255, 255, 0, "border left");
  const test::TRgb inside = f.At(960, 540);
  EXPECT_FALSE(inside.r == 255 && inside.g == 255 && inside.b == 255);
  ExpectNear(f.At(960, 150), 0, 111, 223, 12, "gradient above the photo");
}

TEST(LumshowRender, BackgroundsAndLetterboxBars) {
  TTempDir dir;
  // 2:1 design in a square window: a 1000 x 500 slide from top 250, green bars.
  std::string solid = dir.Write("solid/Project.lum",
                                Project("opt_scr_hidercolor=65280\n", "bstyle=1\nbcolor=255\n"));
  TPixels f = Render(solid, 1000, 1000, 1000, dir);
  ASSERT_EQ(f.width, 1000);
  ExpectNear(f.At(500, 500), 255, 0, 0, 0, "centre");
  ExpectNear(f.At(0, 250), 255, 0, 0, 0, "first row of the slide");
  ExpectNear(f.At(999, 749), 255, 0, 0, 0, "last row of the slide");
  ExpectNear(f.At(500, 249), 0, 255, 0, 0, "bar above");
  ExpectNear(f.At(500, 750), 0, 255, 0, 0, "bar below");

  // Vertical gradient red to blue over the slide's 500 rows.
  std::string vgrad = dir.Write(
      "vgrad/Project.lum", Project("", "bstyle=3\nbcolorstyle=1\nbcolor1=255\nbcolor2=16711680\n"));
  f = Render(vgrad, 1000, 1000, 1000, dir);
  for (int y : {260, 400, 500, 740}) {
    const double t = (y + 0.5 - 250) / 500;
    ExpectNear(f.At(100, y), int(std::lround(255 * (1 - t))), 0, int(std::lround(255 * t)), 3,
               "row " + std::to_string(y));
  }
  // Horizontal gradient, main section's keys (the slide's bstyle is 0).
  std::string hgrad = dir.Write(
      "hgrad/Project.lum",
      Project("opt_bstyle=3\nopt_bcolorstyle=2\nopt_bcolor1=0\nopt_bcolor2=16777215\n", ""));
  f = Render(hgrad, 1000, 1000, 1000, dir);
  for (int x : {10, 250, 500, 990}) {
    const int v = int(std::lround(255 * (x + 0.5) / 1000));
    ExpectNear(f.At(x, 300), v, v, v, 3, "column " + std::to_string(x));
  }
  // An unknown colour style is black.
  std::string other =
      dir.Write("other/Project.lum",
                Project("opt_scr_hidercolor=16777215\n", "bstyle=3\nbcolorstyle=7\nbcolor1=255\n"));
  f = Render(other, 1000, 1000, 1000, dir);
  ExpectNear(f.At(500, 500), 0, 0, 0, 0, "black");
  ExpectNear(f.At(500, 100), 255, 255, 255, 0, "white bar");
}

TEST(LumshowRender, SlideRectangleOfFourToThreeDesigns) {
  TTempDir dir;
  std::string show = dir.Write("s/Project.lum", Project("opt_scr_hidercolor=16711680\n",
                                                        "bstyle=1\nbcolor=65535\n", "", 1024, 768));
  // 16:9: 1440 x 1080 from left 240.
  TPixels f = Render(show, 0, 1920, 1080, dir);
  ExpectNear(f.At(239, 540), 0, 0, 255, 0, "bar left");
  ExpectNear(f.At(240, 540), 255, 255, 0, 0, "first column");
  ExpectNear(f.At(1679, 540), 255, 255, 0, 0, "last column");
  ExpectNear(f.At(1680, 540), 0, 0, 255, 0, "bar right");
  // 2:1: 1333 wide, made even (1334), centred at 333.
  f = Render(show, 0, 2000, 1000, dir);
  ExpectNear(f.At(332, 500), 0, 0, 255, 0, "bar left");
  ExpectNear(f.At(333, 500), 255, 255, 0, 0, "first column");
  ExpectNear(f.At(1666, 500), 255, 255, 0, 0, "last column");
  ExpectNear(f.At(1667, 500), 0, 0, 255, 0, "bar right");
}

TEST(LumshowRender, BoxesWithAlphaAndGradients) {
  TTempDir dir;
  // Design units map 1:1 to pixels in an 800 x 400 window.
  std::string objects =
      "object Half:Box\nGUID={1}\nSize=200,100\nFitMode=None\nPosMode=Absolute\n"
      "Color1=255,255,255\nAlpha1=128\n"
      "object K:KeyPoint\nTime=0\nPosition=-200,0\nend\nend\n"
      "object Ramp:Box\nGUID={2}\nSize=200,100\nFitMode=None\nPosMode=Absolute\n"
      "FillMode=HGradient\nColor1=255,0,0\nColor2=0,0,255\n"
      "object K:KeyPoint\nTime=0\nPosition=200,0\nend\nend\n"
      "object Gone:Box\nGUID={3}\nSize=800,400\nFitMode=None\nColor1=255,255,0\n"
      "object K:KeyPoint\nTime=0\nOpacity=0\nend\nend\n";
  std::string show = dir.Write("b/Project.lum", Project("", "bstyle=1\nbcolor=0\n", objects));
  TPixels f = Render(show, 0, 800, 400, dir);
  // Half: 200 x 100 around (200, 200); white at alpha 128 over black.
  ExpectNear(f.At(200, 200), 128, 128, 128, 2, "half box");
  ExpectNear(f.At(101, 151), 128, 128, 128, 2, "half box corner");
  ExpectNear(f.At(99, 200), 0, 0, 0, 0, "left of the half box");
  ExpectNear(f.At(200, 149), 0, 0, 0, 0, "above the half box");
  // Ramp: red to blue from x 500 to 700.
  for (int x : {501, 600, 698}) {
    const double t = (x + 0.5 - 500) / 200;
    ExpectNear(f.At(x, 200), int(std::lround(255 * (1 - t))), 0, int(std::lround(255 * t)), 3,
               "ramp " + std::to_string(x));
  }
  // A fully transparent box leaves the background alone.
  ExpectNear(f.At(400, 50), 0, 0, 0, 0, "transparent box");
}

TEST(LumshowRender, AntialiasedEdgesBlendIntoTheBackground) {
  TTempDir dir;
  auto box = [](const std::string& name, int guid, int x, bool smooth) {
    return "object " + name + ":Box\nGUID={" + std::to_string(guid) +
           "}\nSize=100,100\nFitMode=None\nPosMode=Absolute\nColor1=255,255,255\n" +
           (smooth ? "Antialiased=1\n" : "") +
           "object K:KeyPoint\nTime=0\nPosition=" + std::to_string(x) + ",0\nAngle=30\nend\nend\n";
  };
  std::string show = dir.Write(
      "a/Project.lum",
      Project("", "bstyle=1\nbcolor=0\n", box("Hard", 1, -200, false) + box("Soft", 2, 200, true)));
  TPixels f = Render(show, 0, 800, 400, dir);
  // Partly covered pixels along the turned edges: none without antialiasing.
  auto between = [&](int x0) {
    int n = 0;
    for (int y = 100; y < 300; ++y)
      for (int x = x0; x < x0 + 200; ++x) n += f.At(x, y).g > 10 && f.At(x, y).g < 245;
    return n;
  };
  EXPECT_EQ(between(100), 0);
  EXPECT_GT(between(500), 200);
  // Inside the boxes the colour is unchanged.
  ExpectNear(f.At(200, 200), 255, 255, 255, 0, "hard centre");
  ExpectNear(f.At(600, 200), 255, 255, 255, 0, "soft centre");
}

// Two slides, red then blue, with a 1000 ms dissolve into the second.
std::string TwoSlides() {
  return "[Main]\nMinorVersion=13\nopt_scr_width=400\nopt_scr_height=200\n"
         "object TheEffect:AnEffect\ntime=1000\ncustom_count=0\n"
         "object dissolve:dissolve\ncaption=Dissolve\nkey=checked\nchecked=1\n"
         "group=GroupBasic\nstdidx=2\nend\nend\n"
         "[Times]\nopt_slidescount=2\nopt_synchpos1=3000\nopt_synchpos2=6000\n"
         "[Slide1]\nbstyle=1\nbcolor=255\nobject Container:Root\nend\n"
         "[Slide2]\nbstyle=1\nbcolor=16711680\n"
         "object TheEffect:AnEffect\nref=dissolve\ntime=1000\nend\n"
         "object Container:Root\nend\n";
}

TEST(LumshowRender, CrossFadeBetweenSlides) {
  TTempDir dir;
  std::string show = dir.Write("x/Project.lum", TwoSlides());
  // The second slide starts at 3000 and fades in over 1000 ms.
  ExpectNear(Render(show, 2999, 400, 200, dir).At(200, 100), 255, 0, 0, 0, "before");
  ExpectNear(Render(show, 3000, 400, 200, dir).At(200, 100), 255, 0, 0, 1, "0 %");
  ExpectNear(Render(show, 3500, 400, 200, dir).At(200, 100), 128, 0, 127, 2, "50 %");
  ExpectNear(Render(show, 4000, 400, 200, dir).At(200, 100), 0, 0, 255, 1, "100 %");
  ExpectNear(Render(show, 5000, 400, 200, dir).At(200, 100), 0, 0, 255, 0, "after");
}

// Columns where a white box on black goes from dark to bright along row y.
struct TEdge {
  int firstAbove10 = -1, firstAbove90 = -1;
};
TEdge EdgeOf(const TPixels& f, int y, int from, int to) {
  TEdge e;
  for (int x = from; x < to; ++x) {
    if (e.firstAbove10 < 0 && f.At(x, y).g > 25) e.firstAbove10 = x;
    if (e.firstAbove90 < 0 && f.At(x, y).g > 230) e.firstAbove90 = x;
  }
  return e;
}

std::string BlurredBox(int blur) {
  return Project("", "bstyle=1\nbcolor=0\n",
                 "object White:Box\nGUID={1}\nSize=400,200\nFitMode=None\nColor1=255,255,255\n"
                 "object K:KeyPoint\nTime=0\nBlur=" +
                     std::to_string(blur) + "\nend\nend\n");
}

TEST(LumshowRender, SoftenedEdgesWidenWithTheBlurRadius) {
  TTempDir dir;
  // The box spans x 200..600 of the 800 x 400 frame.
  TPixels sharp = Render(dir.Write("s/Project.lum", BlurredBox(0)), 0, 800, 400, dir);
  TEdge e0 = EdgeOf(sharp, 200, 150, 300);
  EXPECT_EQ(e0.firstAbove10, 200);
  EXPECT_EQ(e0.firstAbove90, 200);
  // Blur 4000 is a radius of 2 pixels.
  TPixels small = Render(dir.Write("2/Project.lum", BlurredBox(4000)), 0, 800, 400, dir);
  TEdge e2 = EdgeOf(small, 200, 150, 300);
  const int w2 = e2.firstAbove90 - e2.firstAbove10;
  EXPECT_GE(w2, 2);
  EXPECT_LE(w2, 10);
  EXPECT_NEAR((e2.firstAbove10 + e2.firstAbove90) / 2.0, 200, 3);
  // Blur 56000 is a radius of 28: two doubling passes and a final one.
  TPixels big = Render(dir.Write("28/Project.lum", BlurredBox(56000)), 0, 800, 400, dir);
  TEdge e28 = EdgeOf(big, 200, 100, 300);
  const int w28 = e28.firstAbove90 - e28.firstAbove10;
  EXPECT_GE(w28, 25);
  EXPECT_LE(w28, 90);
  EXPECT_NEAR((e28.firstAbove10 + e28.firstAbove90) / 2.0, 200, 6);
  EXPECT_GT(w28, 4 * w2);
  // Far from the edges the box keeps its colour and the background its own.
  EXPECT_GT(big.At(400, 200).g, 250);
  EXPECT_LT(big.At(20, 20).g, 5);
}

TEST(LumshowRender, WholeFrameSharpeningOvershootsEdges) {
  TTempDir dir;
  // Grey 100 background, grey 200 box from x 400: amount 100 % sharpens with
  // a [1 2 1; 2 4 2; 1 2 1] / 16 blur: next to the edge the bright side sees
  // a blur of 175 (becoming 225) and the dark side 125 (becoming 75).
  std::string show = dir.Write(
      "u/Project.lum",
      Project(
          "opt_scr_unsharpamount=100\n", "bstyle=1\nbcolor=6579300\n",
          "object "
          "Grey:Box\nGUID={1}\nSize=400,400\nFitMode=None\nPosMode=Absolute\nColor1=200,200,200\n"
          "object K:KeyPoint\nTime=0\nPosition=200,0\nend\nend\n"));
  TPixels f = Render(show, 0, 800, 400, dir);
  ExpectNear(f.At(300, 200), 100, 100, 100, 1, "dark side");
  ExpectNear(f.At(500, 200), 200, 200, 200, 1, "bright side");
  ExpectNear(f.At(399, 200), 75, 75, 75, 3, "dark next to the edge");
  ExpectNear(f.At(400, 200), 225, 225, 225, 3, "bright next to the edge");
}

TEST(LumshowRender, SharpenedItemsBrightenTheirInnerEdges) {
  TTempDir dir;
  // Blur -10000 sharpens with amount 1 on a layer that is clear around the
  // box: an edge pixel of grey 128 sees a blur of 12/16 x 128 = 96 and
  // becomes 128 + 32 = 160; the inside keeps 128, the outside stays black.
  std::string show = dir.Write(
      "s/Project.lum",
      Project("", "bstyle=1\nbcolor=0\n",
              "object Grey:Box\nGUID={1}\nSize=400,200\nFitMode=None\nColor1=128,128,128\n"
              "object K:KeyPoint\nTime=0\nBlur=-10000\nend\nend\n"));
  TPixels f = Render(show, 0, 800, 400, dir);
  ExpectNear(f.At(400, 200), 128, 128, 128, 1, "inside");
  ExpectNear(f.At(200, 200), 160, 160, 160, 3, "left edge");
  ExpectNear(f.At(400, 100), 160, 160, 160, 3, "top edge");
  ExpectNear(f.At(199, 200), 0, 0, 0, 1, "outside");
}

TEST(LumshowRender, BadArgumentsAndShows) {
  TTempDir dir;
  std::string show = dir.Write("s/Project.lum", Project("", "bstyle=1\n"));
  for (const char* size : {"0x0", "100000x100000", "8193x10", "axb"}) {
    test::TCommandResult r =
        Lumshow({"render", show, "--time", "0", "--size", size, "-o", dir / "x.png"});
    EXPECT_EQ(r.status, 2) << size;
    EXPECT_NE(r.err.find("--size"), std::string::npos) << r.err;
  }
  test::TCommandResult nan = Lumshow({"render", show, "--time", "nan", "-o", dir / "x.png"});
  EXPECT_EQ(nan.status, 2);
  test::TCommandResult missing =
      Lumshow({"render", dir / "none/Project.lum", "--time", "0", "-o", dir / "x.png"});
  EXPECT_EQ(missing.status, 1);
  test::TCommandResult unwritable =
      Lumshow({"render", show, "--time", "0", "-o", dir / "no/such/folder/x.png"});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos) << unwritable.err;
  // Without a drawing device: a clear message, exit 1, no file.
  test::TCommandResult noDevice =
      test::RunCommand({"/usr/bin/env", "SDL_VIDEODRIVER=dummy", LUMSHOW_PATH, "render", show,
                        "--time", "0", "-o", dir / "none.png"});
  EXPECT_EQ(noDevice.status, 1);
  EXPECT_NE(noDevice.err.find("the drawing device is not ready"), std::string::npos)
      << noDevice.err;
  EXPECT_TRUE(test::ReadFile(dir / "none.png").empty());
  // A slide that fails to prepare is a clear failure, not a crash (the
  // player shows a blank slide in its place instead).
  std::string broken =
      dir.Write("b/Project.lum", Project("opt_scr_hidercolor=255\n", "bstyle=1\nbcolor=65280\n",
                                         "object NoGuid:Box\nSize=1,1\nend\n"));
  test::TCommandResult r =
      Lumshow({"render", broken, "--time", "1000", "--size", "64x32", "-o", dir / "b.png"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("slide 0 could not be prepared: LumObject GUID not Assigned"),
            std::string::npos)
      << r.err;
  // Without a transition the slide is all the frame shows from its first
  // millisecond on.
  test::TCommandResult atStart =
      Lumshow({"render", broken, "--time", "0", "--size", "64x32", "-o", dir / "b0.png"});
  EXPECT_EQ(atStart.status, 1);
  EXPECT_NE(atStart.err.find("slide 0 could not be prepared"), std::string::npos) << atStart.err;
}

}  // namespace
}  // namespace lum
