// What the player draws where the show's own rules decide it: flat colours
// through the show's colour transform as pictures go (expected colours from
// ImageMagick's lcms2-based -profile, not from our transform), custom
// transitions laid out in the slide area of a letterboxed frame, and effect
// buffers shown outside custom transitions.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "imaging/image_fixtures.h"
#include "support/lumshow_run.h"
#include "support/player_run.h"
#include "support/temp_dir.h"
#include "support/viewer_show.h"

namespace lum {
namespace {

using nlohmann::json;
using test::TPixels;
using test::TPlayer;
using test::TRgb;
using test::TTempDir;

constexpr const char* kSrgbFile = "/usr/share/color/icc/sRGB.icc";
constexpr const char* kAdobeFile = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";

// A colour converted from sRGB to Adobe RGB by ImageMagick (lcms2).
TRgb AdobeOf(TRgb c) {
  char colour[64];
  std::snprintf(colour, sizeof colour, "xc:rgb(%d,%d,%d)", c.r, c.g, c.b);
  const std::string out = test::RunTool({"convert", "-size", "1x1", colour, "-profile", kSrgbFile,
                                         "-profile", kAdobeFile, "-depth", "8", "txt:"});
  const size_t hash = out.rfind('#');
  unsigned v = 0;
  if (hash == std::string::npos || std::sscanf(out.c_str() + hash + 1, "%6x", &v) != 1)
    ADD_FAILURE() << out;
  return {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

void ExpectNear(TRgb got, TRgb want, int tolerance, const char* what) {
  EXPECT_NEAR(got.r, want.r, tolerance) << what;
  EXPECT_NEAR(got.g, want.g, tolerance) << what;
  EXPECT_NEAR(got.b, want.b, tolerance) << what;
}

std::string Key(const std::string& extra = "") {
  return "object K:KeyPoint\nTime=0\n" + extra + "end\n";
}

// ---- colours

// Green background; a red box on the left; on the right a red JPEG that
// carries the sRGB profile, framed by a blue border.
std::string ColourShow() {
  return "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
         "opt_withoutborder=1\nColorManagement=sRGB\n"
         "[Times]\nopt_slidescount=1\nopt_synchpos1=600000\n"
         "[Slide1]\nbstyle=1\nbcolor=65280\nobject Container:Root\n"
         "object B:Box\nGUID={1}\nSize=100,100\nFitMode=None\nColor1=255,0,0\n" +
         Key("Position=-50,0\n") +
         "end\nobject P:Image\nGUID={2}\nImageName=red.jpg\nFitMode=None\nEnableBorder=1\n"
         "BorderWidth=20\nBorderColor=0,0,255,255\n" +
         Key("Position=50,0\n") + "end\nend\n";
}

TPixels Screenshot(TTempDir& dir, const std::string& show, const std::vector<std::string>& args) {
  TPlayer p(dir.Path(), show, args);
  std::string error;
  if (!p.Start(&error)) {
    ADD_FAILURE() << error;
    return {};
  }
  // Playing: the slide of the moment is drawn, not the blank one before it.
  bool met = false;
  p.WaitFor([](const json& s) { return s["active"] == true; }, 20000, &met);
  EXPECT_TRUE(met) << p.LogTail();
  const std::string shot = dir / "shot.png";
  EXPECT_EQ(p.Request({{"command", "screenshot"}, {"path", shot}})["ok"], true) << p.LogTail();
  EXPECT_EQ(p.Stop(), 0);
  return test::ReadPicture(shot);
}

TEST(LumviewerDrawing, FlatColoursGoThroughTheShowsColourTransformAsPicturesDo) {
  TTempDir dir;
  const std::string show = dir.Write("s/Project.lum", ColourShow());
  test::RunTool({"convert", "-size", "64x64", "xc:rgb(255,0,0)", "-profile", kSrgbFile, "-quality",
                 "100", dir / "s/red.jpg"});

  TPixels f = Screenshot(dir, show, {"-icc", kAdobeFile});
  ASSERT_EQ(f.width, 320);
  const TRgb red = AdobeOf({255, 0, 0});
  EXPECT_NEAR(red.r, 219, 2) << "sRGB red shown on an Adobe RGB display";
  ExpectNear(f.At(80, 120), red, 3, "the box");
  ExpectNear(f.At(240, 120), red, 4, "the picture with its profile");
  ExpectNear(f.At(80, 120), f.At(240, 120), 4, "box and picture alike");
  ExpectNear(f.At(10, 10), AdobeOf({0, 255, 0}), 3, "the background");
  ExpectNear(f.At(199, 120), AdobeOf({0, 0, 255}), 3, "the border");

  // Without colour management the colours stay as written.
  f = Screenshot(dir, show, {"-noicc"});
  ExpectNear(f.At(80, 120), {255, 0, 0}, 1, "the box, unmanaged");
  ExpectNear(f.At(10, 10), {0, 255, 0}, 1, "the background, unmanaged");
}

// ---- transitions

TPixels Render(TTempDir& dir, const std::string& project, int timeMs, const std::string& size) {
  const std::string out = dir / "frame.png";
  const test::TCommandResult r = test::Lumshow(
      {"render", project, "--time", std::to_string(timeMs), "--size", size, "-o", out});
  EXPECT_EQ(r.status, 0) << r.err;
  return test::ReadPicture(out);
}

// Two 320 x 240 slides, red then blue; the blue one comes in by the
// transition of its keys (2 s from 2000 ms). effects: the catalogue's
// custom entries and their sections.
std::string TransitionShow(const std::string& inKeys, const std::string& blueObjects = "",
                           const std::string& custom = "", const std::string& sections = "") {
  return std::string(
             "[Main]\nMinorVersion=13\nopt_scr_width=320\nopt_scr_height=240\n"
             "opt_repeat=stop\nobject TheEffect:AnEffect\ntime=2000\ncustom_count=") +
         (custom.empty() ? "0" : "1") +
         "\n"
         "object dissolve:dissolve\ncaption=Dissolve\nkey=checked\nchecked=1\nstdidx=2\nend\n" +
         custom + "end\n[Times]\nopt_slidescount=2\nopt_synchpos1=2000\nopt_synchpos2=8000\n" +
         "[Slide1]\nbstyle=1\nbcolor=255\nobject Container:Root\nend\n"
         "[Slide2]\nbstyle=1\nbcolor=16711680\nobject TheEffect:AnEffect\n" +
         inKeys + "time=2000\nend\nobject Container:Root\n" + blueObjects + "end\n" + sections;
}

// A custom transition on its own green background, with the effect's
// objects.
std::string CustomTransition(const std::string& objects) {
  return TransitionShow("ref=fx\n", "",
                        "object fx:custom\nkey=\nchecked=1\nbstyle=1\nbcolor=65280\nend\n",
                        "[effect_fx]\nCustomEffTime=2000\nopt_scr_width=320\nopt_scr_height=240\n"
                        "object Container:Root\n" +
                            objects + "end\n");
}

bool Green(TRgb c) {
  return c.g > 200 && c.r < 40 && c.b < 40;
}
bool White(TRgb c) {
  return c.r > 200 && c.g > 200 && c.b > 200;
}

TEST(LumviewerDrawing, CustomTransitionsLieInTheSlideAreaOfALetterboxedFrame) {
  TTempDir dir;
  // A white box half as wide as the effect, in its middle.
  const std::string project = dir.Write(
      "s/Project.lum",
      CustomTransition("object W:Box\nGUID={9}\nSize=160,240\nFitMode=None\nColor1=255,255,255\n" +
                       Key() + "end\n"));
  // 640 x 240: the 320 x 240 slides lie at 160 .. 480.
  const TPixels f = Render(dir, project, 3000, "640x240");
  ASSERT_EQ(f.width, 640);
  EXPECT_LT(f.At(100, 120).r + f.At(100, 120).g + f.At(100, 120).b, 30) << "the letterbox";
  EXPECT_TRUE(Green(f.At(200, 120))) << "the effect's background beside its box";
  EXPECT_TRUE(White(f.At(250, 120))) << "the box: 240 .. 400";
  EXPECT_TRUE(White(f.At(390, 120)));
  EXPECT_TRUE(Green(f.At(440, 120)));
  EXPECT_LT(f.At(560, 120).r + f.At(560, 120).g + f.At(560, 120).b, 30) << "the letterbox";
}

TEST(LumviewerDrawing, EffectBuffersAreShownOutsideCustomTransitionsToo) {
  TTempDir dir;
  // On the blue slide, a picture of the outgoing slide over its left half.
  const std::string buffer = "object E:Image\nGUID={5}\nReplaceWithEffectBuffer=1\nFitMode=None\n" +
                             Key("Position=-50,0\nScaleX=50\n") + "end\n";
  std::string project = dir.Write("s/Project.lum", TransitionShow("ref=dissolve\n", buffer));
  // Half way through the dissolve the left half shows red from both slides.
  TPixels f = Render(dir, project, 3000, "320x240");
  ASSERT_EQ(f.width, 320);
  ExpectNear(f.At(40, 120), {255, 0, 0}, 6, "the outgoing slide in the buffer");
  EXPECT_GT(f.At(280, 120).b, 80) << "the dissolve elsewhere";
  EXPECT_GT(f.At(280, 120).r, 80);
  // Once the transition is over there is no buffer: the slide beneath.
  f = Render(dir, project, 5000, "320x240");
  ExpectNear(f.At(40, 120), {0, 0, 255}, 2, "no transition, no buffer");

  // A view port without content shows the incoming slide through its
  // stencil, a white box over the middle of the effect.
  project = dir.Write(
      "s/Project.lum",
      CustomTransition("object VP:ViewPort\nGUID={10}\nSize=320,240\nFitMode=None\n" + Key() +
                       "object St:MaskStencil\nGUID={11}\n"
                       "object W:Box\nGUID={12}\nSize=160,240\nFitMode=None\n"
                       "Color1=255,255,255\n" +
                       Key() + "end\nend\nobject Ct:MaskContent\nGUID={13}\nend\nend\n"));
  f = Render(dir, project, 3000, "320x240");
  ExpectNear(f.At(160, 120), {0, 0, 255}, 4, "the incoming slide through the stencil");
  EXPECT_TRUE(Green(f.At(40, 120))) << "outside the stencil, the effect's background";
}

// ---- pictures ahead

// Two slides of 4 s: a plain colour, then (with a picture) a 256 x 192 JPEG.
std::string AheadShow(bool picture) {
  return "[Main]\nMinorVersion=13\nopt_scr_full=0\nopt_scr_width=320\nopt_scr_height=240\n"
         "opt_withoutborder=1\n[Times]\nopt_slidescount=2\nopt_synchpos1=4000\n"
         "opt_synchpos2=8000\n[Slide1]\nbstyle=1\nbcolor=255\nobject Container:Root\nend\n"
         "[Slide2]\nbstyle=1\nbcolor=65280\nobject Container:Root\n" +
         std::string(picture ? "object P:Image\nGUID={1}\nImageName=p.jpg\nFitMode=None\n" +
                                   Key() + "end\n"
                             : "") +
         "end\n";
}

struct TMemory {
  int64_t textures = -1, pictures = -1;
};

// The device's texture bytes and the decoded pictures' bytes a second after
// the first slide showed, paused.
TMemory MemoryOnTheFirstSlide(TTempDir& dir, const std::string& show) {
  TPlayer p(dir.Path(), show);
  std::string error;
  if (!p.Start(&error)) {
    ADD_FAILURE() << error;
    return {};
  }
  p.Expect([](const json& s) { return s["active"] == true; }, "playing");
  EXPECT_EQ(p.Request({{"command", "pause"}})["ok"], true);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const json s = p.Status();
  EXPECT_LT(s["position"].get<double>(), 4000);
  return {s["textureBytes"].get<int64_t>(), s["pictureBytes"].get<int64_t>()};
}

TEST(LumviewerDrawing, TheNextSlidesPictureIsOnTheDeviceBeforeItShows) {
  TTempDir dir;
  dir.Write("p.jpg", test::CjpegFile(test::MakeTestPicture(256, 192), {}));
  const TMemory with = MemoryOnTheFirstSlide(dir, dir.Write("with.lum", AheadShow(true)));
  const TMemory without = MemoryOnTheFirstSlide(dir, dir.Write("without.lum", AheadShow(false)));
  // The picture's texture, with or without its smaller levels.
  EXPECT_GE(with.textures - without.textures, 256 * 192 * 4);
  EXPECT_LE(with.textures - without.textures, 256 * 192 * 4 * 4 / 3 + 64);
  // Its decoded pixels (a JPEG can be decoded again) left memory.
  EXPECT_LT(with.pictures - without.pictures, 256 * 192 * 3);
}

}  // namespace
}  // namespace lum
