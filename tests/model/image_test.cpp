// Picture objects in slides built from documents written here, with pictures
// served from memory: keys, framing, animation, special picture names and
// background pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "container/file_accessor.h"
#include "container/file_source.h"
#include "foundation/case_fold.h"
#include "foundation/memory_stream.h"
#include "imaging/gif_loader.h"
#include "imaging/image_fixtures.h"
#include "imaging/picture_budget.h"
#include "imaging/picture_cache.h"
#include "model/lum_image.h"
#include "model/slide_producer.h"
#include "model/special_pictures.h"
#include "project/lum_source.h"
#include "show_fixture.h"
#include "support/temp_dir.h"

namespace lum {
namespace {

using test::TPixels;
using test::TRgb;

using test::Key;

TPixels Solid(int w, int h, TRgb c) {
  TPixels p{w, h, std::vector<TRgb>(size_t(w) * h, c)};
  return p;
}

std::string Object(const std::string& name, const std::string& guid, const std::string& keys,
                   const std::string& inner = "", const std::string& cls = "Image") {
  return "object " + name + ":" + cls + "\nGUID={" + guid + "}\n" + keys + inner + "end\n";
}

// A show of design size 1000 x 1000 in a 1000 x 1000 window, with two pictures.
struct TShow : test::TModelShow {
  TShow() : TModelShow(1000, 1000) {
    files->Add("wide.bmp", test::WriteBmp(test::MakeTestPicture(400, 200), {}));
    files->Add("tall.bmp", test::WriteBmp(test::MakeTestPicture(400, 300), {}));
  }
};

TLumImage& Find(TLumSlide& slide, const std::string& name) {
  for (TLumObject* o : slide.AllObjects())
    if (o != &slide && o->Name() == name) return static_cast<TLumImage&>(*o);
  throw std::runtime_error("no object " + name);
}

void ExpectRect(const TRectF& r, double l, double t, double rr, double b) {
  EXPECT_NEAR(r.left, l, 1e-6);
  EXPECT_NEAR(r.top, t, 1e-6);
  EXPECT_NEAR(r.right, rr, 1e-6);
  EXPECT_NEAR(r.bottom, b, 1e-6);
}

class TCountingDrawer : public TObjectDrawer {
 public:
  int images = 0;
  void DrawBackground(TLumSlide&, const TSlideBackground&) override {}
  void DrawBox(TLumBox&) override {}
  void DrawImage(TLumImage&) override { ++images; }
  void DrawContent(TLumObject&) override {}
};

// ---- keys -----------------------------------------------------------------

TEST(ImageKeys, DefaultsAndAnimationDurations) {
  TShow show;
  TLumSlide& s = show.Slide(
      Object("D", "1", "ImageName=wide.bmp\n") +
      Object("A", "2", "AnimCount=5\nAnimInterval=100,200\nAnimColumns=5\n") +
      Object("E", "3", "AnimCount=3\nAnimInterval=\n") +
      Object("K", "4",
             "Filtering=nearest\nAntialiased=0\nMipLodBias=0.25\nBorderColor=1,2,3,4\n"
             "CropRect=1.5,2,3,4\nAspect=1.25\nAnimRepCount=2\nAnimOffset=250\nImageIndex=7\n"));
  TLumImage& d = Find(s, "D");
  EXPECT_EQ(d.Filtering(), TImageFiltering::Default);
  TImageDrawParams p;
  d.FillDrawParams(p);
  EXPECT_TRUE(p.antialiased);
  EXPECT_EQ(p.mipLodBias, 0);  // the key's default, not the constructor's
  EXPECT_EQ(d.Border().borderWidth, 1.5f);
  EXPECT_EQ(d.Border().borderColor, 0xFFFFFFFFu);
  EXPECT_EQ(d.ImageIndex(), TLumImage::kIndexNotSet);
  EXPECT_EQ(Find(s, "A").Animation().durations, (std::vector<int>{100, 200, 200, 200, 200}));
  EXPECT_EQ(Find(s, "E").Animation().durations, (std::vector<int>{100, 100, 100}));
  TLumImage& k = Find(s, "K");
  EXPECT_EQ(k.Filtering(), TImageFiltering::Nearest);
  k.FillDrawParams(p);
  EXPECT_FALSE(p.antialiased);
  EXPECT_EQ(p.mipLodBias, 0.25f);
  EXPECT_EQ(k.Border().borderColor, 0x04030201u);
  EXPECT_EQ(k.Border().crop[0], 1.5f);
  EXPECT_EQ(k.Border().crop[3], 4.0f);
  EXPECT_EQ(k.Border().aspect, 1.25f);
  EXPECT_EQ(k.Animation().repetitions, 2);
  EXPECT_EQ(k.Animation().offset, 250);
  EXPECT_EQ(k.ImageIndex(), 7);
}

TEST(ImageKeys, HostileValuesAreBounded) {
  TShow show;
  TLumSlide& s = show.Slide(
      Object("H", "1",
             "AnimEnable=1\nAnimColumns=0\nAnimRows=-4\nAnimCount=-5\nAnimRepCount=-1\n"
             "BorderWidth=1e30\nCropRect=-5,500,x,50\nAspect=-2\nMipLodBias=1e9\n"
             "BorderColor=300,-1,7,999\n") +
      Object("N", "2", "AnimEnable=1\nAnimColumns=2\nAnimCount=2000000000\nAnimInterval=0,-7\n"));
  TLumImage& h = Find(s, "H");
  EXPECT_EQ(h.Animation().columns, 1);
  EXPECT_EQ(h.Animation().rows, 1);
  EXPECT_EQ(h.Animation().count, 0);
  EXPECT_TRUE(h.Animation().durations.empty());
  EXPECT_EQ(h.Animation().repetitions, 0);
  EXPECT_EQ(h.Border().borderWidth, 50);
  EXPECT_EQ(h.Border().crop[0], 0);
  EXPECT_EQ(h.Border().crop[1], 100);
  EXPECT_EQ(h.Border().crop[2], 0);
  EXPECT_EQ(h.Border().aspect, 0);
  EXPECT_EQ(h.Border().borderColor, 0xFF0700FFu);  // -1 is below range
  TImageDrawParams p;
  h.FillDrawParams(p);
  EXPECT_EQ(p.mipLodBias, 16);
  const TImageAnimationParams& n = Find(s, "N").Animation();
  ASSERT_EQ(n.count, 100000);
  ASSERT_EQ(n.durations.size(), 100000u);
  // Frames of no length would stall the frame search: they last 1 ms.
  EXPECT_EQ(n.durations[0], 1);
  EXPECT_EQ(n.durations[99999], 1);
  Find(s, "N").SetTime(false, 2999);  // returns
  EXPECT_EQ(Find(s, "N").CurrentFrame(), 1);
}

// ---- request names and pictures ---------------------------------------------

TEST(ImagePicture, RequestNames) {
  TShow show;
  TLumSlide& s = show.Slide(Object("G", "1", "ImageName=C:\\Pics\\anim.GIF\nAnimEnable=1\n") +
                            Object("S", "2", "ImageName=still.gif\n") +
                            Object("M", "3", "ImageName=a.png\nRestoreAlpha=1\n") +
                            Object("B", "4", "ReplaceWithEffectBuffer=2\nImageName=x.bmp\n") +
                            Object("N", "5", ""));
  EXPECT_EQ(Find(s, "G").PictureRequestName(), "C:\\Pics\\anim.gif|framesatlas");
  EXPECT_EQ(Find(s, "S").PictureRequestName(), "still.gif");
  EXPECT_EQ(Find(s, "M").PictureRequestName(), "Mask: a.png");
  TLumImage& b = Find(s, "B");
  EXPECT_EQ(b.PictureRequestName(), "EffectResource2, 1000, 1000");
  show.host->SetPictureSize(640, 480);
  s.SetEffectLayers({}, {}, s.Background(), 0.5);
  EXPECT_EQ(b.PictureRequestName(), "SlideEffectBuffer2, 640, 480");
  // The stand-in buffer has the host's size.
  TRef<TImage> buffer = show.host->OpenPicture(b.PictureRequestName());
  EXPECT_EQ(buffer->Width(), 640);
  EXPECT_EQ(GeneratedPictureName(*buffer), kEffectBufferPictureName);
  EXPECT_EQ(Find(s, "N").PictureRequestName(), "");
}

TEST(ImagePicture, MissingNoNameAndZeroOpacity) {
  TShow show;
  TLumSlide& s = show.Slide(Object("Miss", "1", "ImageName=gone.jpg\n") + Object("None", "2", "") +
                            Object("Zero", "3", "ImageName=wide.bmp\n", Key(0, "Opacity=0\n")) +
                            Object("Half", "4", "ImageName=wide.bmp\n", Key(0, "Opacity=50\n")));
  // A picture that cannot be found shows its placeholder.
  TLumImage& miss = Find(s, "Miss");
  ASSERT_TRUE(miss.Picture());
  EXPECT_GT(miss.Width(), 0);
  EXPECT_EQ(test::FromBitmap(*miss.Picture()->GetMipLevel(0)).At(0, 0), (TRgb{100, 100, 100}));
  TLumImage& none = Find(s, "None");
  EXPECT_FALSE(none.Picture());
  EXPECT_EQ(none.Width(), 0);
  EXPECT_EQ(none.GetNaturalSize(), (std::pair<double, double>{0, 0}));
  TImageDrawParams p;
  Find(s, "Half").FillDrawParams(p);
  EXPECT_DOUBLE_EQ(p.opacity, 0.5);
  TCountingDrawer drawer;
  drawer.DrawItem(s);
  EXPECT_EQ(drawer.images, 2);  // the placeholder and the half-transparent one
}

TEST(ImagePicture, ChangingTheNameKeepsThePreviousUntilTheNextArrives) {
  TShow show;
  TLumSlide& s = show.Slide(Object("I", "1", "ImageName=wide.bmp\n"));
  TLumImage& i = Find(s, "I");
  ASSERT_TRUE(i.Picture());
  EXPECT_EQ(i.Width(), 400);
  i.SetImageName("tall.bmp");
  EXPECT_FALSE(i.Picture());
  s.UpdateLayout(true);
  ASSERT_TRUE(i.Picture());
  EXPECT_EQ(i.Height(), 300);
  i.SetImageName("");
  s.UpdateLayout(true);
  EXPECT_EQ(i.Width(), 0);
}

TEST(ImagePicture, GifAnimationAtlasFromAContainerLikeSource) {
  test::TTempDir dir;
  std::string gif = test::RunTool(
      {"gifbuild",
       dir.Write("a.txt",
                 "screen width 4\nscreen height 2\nscreen colors 4\nscreen background 0\n"
                 "screen map\n\trgb 255 0 0\n\trgb 0 255 0\n\trgb 0 0 255\n\trgb 255 255 255\n"
                 "end\n"
                 "graphics control\n\tdelay 10\nend\n"
                 "image\nimage left 0\nimage top 0\nimage bits 4 by 2 hex\n00000000\n00000000\n"
                 "graphics control\n\tdelay 10\nend\n"
                 "image\nimage left 0\nimage top 0\nimage bits 4 by 2 hex\n01010101\n01010101\n"
                 "graphics control\n\tdelay 10\nend\n"
                 "image\nimage left 0\nimage top 0\nimage bits 4 by 2 hex\n02020202\n02020202\n")});
  TShow show;
  show.files->Add("Anim\\spin.gif", gif);
  TLumSlide& s = show.Slide(Object(
      "A", "1",
      "ImageName=anim\\SPIN.gif\nAnimEnable=1\nAnimColumns=3\nAnimCount=3\nAnimInterval=100\n"));
  TLumImage& a = Find(s, "A");
  ASSERT_TRUE(a.Picture());
  EXPECT_STREQ(a.Picture()->Store().ClassName(), "TGifBitmapStore");
  EXPECT_EQ(a.Picture()->Width(), 12);
  EXPECT_EQ(a.Width(), 4);  // one cell
  EXPECT_EQ(a.Height(), 2);
  s.SetTimeAndLayout(true, 150);
  EXPECT_EQ(a.CurrentFrame(), 1);
  ExpectRect(a.VisibleRect(), 4, 0, 8, 2);
  TPixels atlas = test::FromBitmap(*a.Picture()->GetMipLevel(0));
  EXPECT_EQ(atlas.At(5, 1), (TRgb{0, 255, 0}));
  // The plain name still gives the first frame alone.
  EXPECT_EQ(show.host->OpenPicture("anim\\spin.gif")->Width(), 4);
}

// ---- framing ------------------------------------------------------------------

TEST(ImageFraming, AspectPanAndZoom) {
  TShow show;
  const std::string aspect = "ImageName=wide.bmp\nEnableAspect=1\nAspect=1\n";
  TLumSlide& s =
      show.Slide(Object("Sq", "1", aspect) + Object("Right", "2", aspect, Key(0, "OffsX=100\n")) +
                 Object("In", "3", aspect, Key(0, "Zoom=200\n")) +
                 Object("Out", "4", aspect, Key(0, "Zoom=50\n")) +
                 Object("Pic", "5", "ImageName=wide.bmp\nEnableAspect=1\n"));
  TLumImage& sq = Find(s, "Sq");
  EXPECT_EQ(sq.Width(), 200);
  EXPECT_EQ(sq.Height(), 200);
  ExpectRect(sq.VisibleRect(), 100, 0, 300, 200);
  ExpectRect(Find(s, "Right").VisibleRect(), 200, 0, 400, 200);
  // Zooming in shows half of the square; the nominal size stays.
  TLumImage& in = Find(s, "In");
  ExpectRect(in.VisibleRect(), 150, 50, 250, 150);
  EXPECT_EQ(in.Width(), 200);
  // Zooming out shows the whole square, not more.
  ExpectRect(Find(s, "Out").VisibleRect(), 100, 0, 300, 200);
  // Aspect 0: the picture's own.
  ExpectRect(Find(s, "Pic").VisibleRect(), 0, 0, 400, 200);
  // The node's frame aspect follows the picture (pan ranges of key frames).
  EXPECT_FLOAT_EQ(sq.Props()->AspectX(), 0.02f);
  EXPECT_FLOAT_EQ(sq.Props()->AspectY(), 0.01f);
}

TEST(ImageFraming, BorderAndCrop) {
  TShow show;
  TLumSlide& s = show.Slide(
      Object("B", "1",
             "ImageName=tall.bmp\nEnableBorder=1\nBorderWidth=10\nBorderColor=1,2,3,4\n") +
      Object("C", "2", "ImageName=tall.bmp\nEnableCrop=1\nCropRect=10,20,30,0\n") +
      Object("X", "3", "ImageName=tall.bmp\nEnableCrop=1\nCropRect=60,0,60,0\n") +
      Object("Off", "4", "ImageName=tall.bmp\nBorderWidth=10\nCropRect=10,10,10,10\n"));
  TLumImage& b = Find(s, "B");
  EXPECT_DOUBLE_EQ(b.BorderThickness(), 30);
  EXPECT_EQ(b.Width(), 460);
  EXPECT_EQ(b.Height(), 360);
  TImageDrawParams p;
  b.FillDrawParams(p);
  EXPECT_TRUE(p.hasBorderColor);
  EXPECT_EQ(p.borderColor, 0x04030201u);
  TLumImage& c = Find(s, "C");
  ExpectRect(c.VisibleRect(), 40, 60, 280, 300);
  EXPECT_EQ(c.Width(), 240);
  // Margins that meet leave a 1-pixel column.
  TLumImage& x = Find(s, "X");
  ExpectRect(x.VisibleRect(), 240, 0, 241, 300);
  EXPECT_EQ(x.Width(), 1);
  TLumImage& off = Find(s, "Off");
  EXPECT_EQ(off.Width(), 400);
  off.FillDrawParams(p);
  EXPECT_FALSE(p.hasBorderColor);
}

TEST(ImageFraming, MipLevelCoversTheDisplaySize) {
  TShow show;
  TLumSlide& s = show.Slide(Object("I", "1", "ImageName=wide.bmp\n") +
                            Object("Z", "2", "ImageName=wide.bmp\n", Key(0, "Zoom=200\n")));
  TLumImage& i = Find(s, "I");
  i.Maxima() = TDisplayMaxima{};
  EXPECT_EQ(i.MipLevel(), 0);
  i.Maxima().scaleX = 100;
  i.Maxima().scaleY = 50;
  EXPECT_EQ(i.MipLevel(), 2);  // 100 x 50 exactly
  // The maxima hold the animated zoom already: the zoomed rectangle of the
  // moment does not count it twice.
  TLumImage& z = Find(s, "Z");
  z.Maxima() = i.Maxima();
  EXPECT_EQ(z.MipLevel(), 2);
  i.Maxima().scaleY = 51;
  EXPECT_EQ(i.MipLevel(), 1);
  i.Maxima().scaleX = 1000;
  EXPECT_EQ(i.MipLevel(), 0);
}

// ---- animation --------------------------------------------------------------------

TEST(ImageAnimation, FramesRepetitionsAndOffset) {
  TShow show;
  show.files->Add("sheet.bmp", test::WriteBmp(test::MakeTestPicture(200, 100), {}));
  const std::string sheet =
      "ImageName=sheet.bmp\nAnimEnable=1\nAnimColumns=2\nAnimRows=2\nAnimCount=4\n"
      "AnimInterval=100,200\nEnableBorder=1\nBorderWidth=20\n";
  TLumSlide& s =
      show.Slide(Object("Loop", "1", sheet) + Object("Twice", "2", sheet + "AnimRepCount=2\n") +
                 Object("Late", "3", sheet + "AnimOffset=1000\n"));
  TLumImage& loop = Find(s, "Loop");
  // One cell, no border.
  EXPECT_EQ(loop.Width(), 100);
  EXPECT_EQ(loop.Height(), 50);
  EXPECT_EQ(loop.BorderThickness(), 0);
  ExpectRect(loop.CellRect(3), 100, 50, 200, 100);
  // Durations 100, 200, 200, 200: a pass is 700 ms.
  const std::pair<double, int> expected[] = {{0, 0},    {99, 0},   {100, 1}, {299, 1},
                                             {300, 2},  {699, 3},  {700, 0}, {1550, 1},
                                             {2099, 3}, {2100, 0}, {2999, 1}};
  for (auto [t, frame] : expected) {
    s.SetTimeAndLayout(true, t);
    EXPECT_EQ(loop.CurrentFrame(), frame) << t;
  }
  TLumImage& twice = Find(s, "Twice");
  s.SetTimeAndLayout(true, 1399);
  EXPECT_EQ(twice.CurrentFrame(), 3);
  s.SetTimeAndLayout(true, 1450);
  EXPECT_EQ(twice.CurrentFrame(), 3);  // two passes done: the last frame stays
  s.SetTimeAndLayout(true, 2900);
  EXPECT_EQ(twice.CurrentFrame(), 3);
  TLumImage& late = Find(s, "Late");
  s.SetTimeAndLayout(true, 999);
  EXPECT_EQ(late.CurrentFrame(), 0);
  s.SetTimeAndLayout(true, 1150);
  EXPECT_EQ(late.CurrentFrame(), 1);
  ExpectRect(late.VisibleRect(), 100, 0, 200, 50);
  TImageDrawParams p;
  late.FillDrawParams(p);
  EXPECT_FALSE(p.antialiased);
  EXPECT_FALSE(p.hasBorderColor);
  EXPECT_EQ(p.columns, 2);
  EXPECT_EQ(p.rows, 2);
  // A frame change marks the object changed; the same frame does not.
  s.TakeSnapshot(true);
  s.SetTime(true, 1160);
  EXPECT_FALSE(late.IsChanged());
  s.SetTime(true, 1300);
  EXPECT_TRUE(late.IsChanged());
}

// ---- special names -------------------------------------------------------------

// The soft edge written out independently: grey at distance d inside an edge
// with a band of width s.
double ExpectedLevel(double d, double s) {
  double t = std::clamp(1 - d / s, 0.0, 1.0);
  double e = t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
  return 255 * (1 - e);
}

TEST(SpecialPictures, PresetDiscFadesOverItsOuterHalf) {
  TShow show;
  TRef<TImage> disc = show.host->OpenPicture("PresetedMask:512:512:1:50:50");
  ASSERT_EQ(disc->Width(), 512);
  TPixels px = test::FromBitmap(*disc->GetMipLevel(0));
  const double c = 255.5, r = 255.5, band = 128;
  for (int x : {0, 20, 60, 100, 128, 200, 255}) {
    double dist = std::hypot(x - c, 255 - c);
    EXPECT_NEAR(px.At(x, 255).r, ExpectedLevel(r - dist, band), 1.0) << x;
  }
  EXPECT_EQ(px.At(255, 255).r, 255);
  EXPECT_EQ(px.At(130, 255).r, 255);  // the inner half is solid
  EXPECT_EQ(px.At(0, 0).r, 0);
  EXPECT_EQ(px.At(511, 511).r, 0);
}

TEST(SpecialPictures, PresetRoundedRectangleAndBadFields) {
  TRef<TImage> rect = ResolveSpecialPicture("PresetedMask: 200: 100: 0: 50: 40", {});
  ASSERT_TRUE(rect);
  ASSERT_EQ(rect->Height(), 100);
  TPixels px = test::FromBitmap(*rect->GetMipLevel(0));
  // Corner radius 20, band 50 % of it plus one pixel.
  const double s = 11;
  EXPECT_EQ(px.At(100, 50).r, 255);
  for (int x : {0, 3, 5, 8, 11}) EXPECT_NEAR(px.At(x, 50).r, ExpectedLevel(x, s), 1.0) << x;
  EXPECT_NEAR(px.At(100, 96).r, ExpectedLevel(3, s), 1.0);
  EXPECT_NEAR(px.At(8, 8).r, ExpectedLevel(20 - std::hypot(12, 12), s), 1.0);
  EXPECT_EQ(px.At(0, 0).r, 0);
  EXPECT_EQ(px.At(199, 99).r, 0);
  // Fields that are not numbers take their defaults; unknown shapes are rectangles.
  TPresetMask m = ParsePresetMask("wide:x:7:?:");
  EXPECT_EQ(m.width, 512);
  EXPECT_EQ(m.height, 512);
  EXPECT_EQ(m.shape, 0);
  EXPECT_EQ(m.p1, 0);
  // Enormous or empty masks are not made.
  EXPECT_FALSE(ResolveSpecialPicture("PresetedMask:100000:100000:1:50:50", {}));
  EXPECT_FALSE(ResolveSpecialPicture("PresetedMask:0:10:1:50:50", {}));
}

TEST(SpecialPictures, MaskDerivesAlphaFromColour) {
  TShow show;
  TPixels colours = Solid(3, 1, {10, 10, 10});
  colours.At(1, 0) = {255, 0, 0};
  colours.At(2, 0) = {200, 150, 100};
  show.files->Add("c.bmp", test::WriteBmp(colours, {}));
  TRef<TImage> mask = show.host->OpenPicture("Mask: c.bmp");
  ASSERT_EQ(mask->Width(), 3);
  TRef<TBitmap> b = mask->GetMipLevel(0);
  ASSERT_EQ(b->Format(), TPixelFormat::Bgra32);
  const uint8_t* p = b->Row(0);
  // Grey becomes white with its level as alpha.
  EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{255, 255, 255, 10}));
  // Pure red: nothing of the others to lift.
  EXPECT_EQ((std::vector<int>{p[4], p[5], p[6], p[7]}), (std::vector<int>{0, 0, 255, 255}));
  // A mixed colour is lifted towards white in proportion to its greyness.
  const int B = 100, G = 150, R = 200;
  const double m = (255.0 - std::abs(R - B)) * (255 - std::abs(B - G)) * (255 - std::abs(G - R));
  auto lift = [&](int c) { return int(std::floor(c + m * (255 - c) / (255.0 * 255 * 255))); };
  EXPECT_EQ((std::vector<int>{p[8], p[9], p[10], p[11]}),
            (std::vector<int>{lift(B), lift(G), lift(R), 200}));
  // The picture itself is untouched for its other users.
  EXPECT_EQ(test::FromBitmap(*show.host->OpenPicture("c.bmp")->GetMipLevel(0)).At(0, 0),
            (TRgb{10, 10, 10}));
}

TEST(SpecialPictures, MaskKeepsRealAlpha) {
  TShow show;
  // 2 x 1 RGBA: one half-transparent pixel.
  show.files->Add("a.png", test::WritePngBytes(2, 1, 6, 8, {200, 100, 50, 128, 10, 20, 30, 255}));
  show.files->Add("opaque.png", test::WritePngBytes(1, 1, 6, 8, {40, 40, 40, 255}));
  TRef<TBitmap> a = show.host->OpenPicture("Mask: a.png")->GetMipLevel(0);
  EXPECT_EQ(a->Row(0)[3], 128);
  EXPECT_EQ(a->Row(0)[2], 200);
  EXPECT_EQ(a->Row(0)[4 + 3], 255);
  TRef<TBitmap> o = show.host->OpenPicture("Mask: opaque.png")->GetMipLevel(0);
  EXPECT_EQ((std::vector<int>{o->Row(0)[0], o->Row(0)[3]}), (std::vector<int>{255, 40}));
}

TEST(SpecialPictures, MaskBeyondThePictureBudgetIsCoarserAtThePicturesSize) {
  TShow show;
  show.files->Add("big.bmp", test::WriteBmp(test::MakeTestPicture(512, 256), {}));
  TPictureBudget& budget = TPictureBudget::Process();
  const int64_t saved = budget.Limit();
  // The picture itself (384 KB) and 300 KB: a copy of level 0 and its
  // source (1 MB) do not fit, level 1's (256 KB) do.
  budget.SetLimit(budget.Used() + (384 << 10) + (300 << 10));
  TRef<TImage> mask = show.host->OpenPicture("Mask: big.bmp");
  budget.SetLimit(saved);
  ASSERT_TRUE(mask);
  EXPECT_EQ(mask->Width(), 512);
  EXPECT_EQ(mask->Height(), 256);
  TRef<TBitmap> b = mask->GetMipLevel(0);
  EXPECT_EQ(b->Level(), 1);
  EXPECT_EQ(b->Width(), 256);
  EXPECT_EQ(mask->GetMipLevel(2)->Width(), 128);
}

TEST(SpecialPictures, SizedTextAndOtherNames) {
  TRef<TImage> text = ResolveSpecialPicture("TextWithSize:Arial:1:300:120:Bold:1:1:0:\"Hi\"", {});
  ASSERT_TRUE(text);
  EXPECT_EQ(GeneratedPictureName(*text), kSizedTextPictureName);
  ASSERT_EQ(text->Width(), 300);
  ASSERT_EQ(text->Height(), 120);
  TPixels px = test::FromBitmap(*text->GetMipLevel(0));
  // A frame 2 % of the height wide (2.4 -> 2 pixels) around a dark field.
  EXPECT_EQ(px.At(1, 60), (TRgb{170, 170, 170}));
  EXPECT_EQ(px.At(2, 60), (TRgb{100, 100, 100}));
  EXPECT_EQ(px.At(150, 118), (TRgb{170, 170, 170}));
  // The words sit in the middle, within 90 % of the width and 20 % of the height.
  int left = 300, right = -1, top = 120, bottom = -1;
  for (int y = 3; y < 117; ++y)
    for (int x = 3; x < 297; ++x)
      if (px.At(x, y).r == 170) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  ASSERT_GE(right, 0);
  EXPECT_LE(right - left + 1, 270);
  EXPECT_LE(bottom - top + 1, 24);
  EXPECT_NEAR((left + right) / 2.0, 150, 3);
  EXPECT_NEAR((top + bottom) / 2.0, 60, 3);
  EXPECT_FALSE(ResolveSpecialPicture("TextWithSize:Arial:1:0:120:::::", {}));
  EXPECT_FALSE(ResolveSpecialPicture("TextWithSize:Arial:1:99999:120:::::", {}));
  // An effect resource takes its size; the drawer shows the transition's slide there.
  TRef<TImage> resource = ResolveSpecialPicture("EffectResource1, 10, 10", {});
  ASSERT_TRUE(resource);
  EXPECT_EQ(resource->Width(), 10);
  EXPECT_EQ(GeneratedPictureName(*resource), kEffectResourcePictureName);
  EXPECT_FALSE(ResolveSpecialPicture("EffectResourcex, 10, 10", {}));
  // Texts come from the text pictures (installed fonts without a show).
  TRef<TImage> live = ResolveSpecialPicture("Text: Arial:1:0:0::1:1:0:\"x\"", {});
  ASSERT_TRUE(live);
  EXPECT_STREQ(live->Store().ClassName(), "TTextPictureStore");
  EXPECT_FALSE(ResolveSpecialPicture("SlideEffectBuffer1, 0, 0", {}));
  EXPECT_FALSE(ResolveSpecialPicture("Mask: Mask: a.bmp", {}));
}

TEST(SpecialPictures, ResolverLeavesWithItsLastHost) {
  TShow show;
  auto second = MakeRef<TLumSlideHost>();
  second->SetAccessor(show.accessor);
  show.host = nullptr;  // the first host goes; the second still resolves
  EXPECT_EQ(second->OpenPicture("PresetedMask:8:8:1:0:0")->Width(), 8);
  second = nullptr;
  // Without a host the name is looked for as a file: the placeholder.
  EXPECT_NE(OpenImage(*show.accessor, "PresetedMask:9:9:1:0:0")->Width(), 9);
}

// ---- backgrounds ---------------------------------------------------------------

TEST(BackgroundPicture, HalvedTiledAndCached) {
  TShow show;
  TLumSlide& s = show.Slide("", "bstyle=2\nbfn=wide.bmp\nbsize=10\n");
  TBackgroundTiling tiling;
  TRef<TBitmap> bg = s.BackgroundPicture(s.Background(), tiling);
  ASSERT_TRUE(bg);
  // A 200 x 100 tile on the 1000 x 1000 slide: the 400 x 200 picture halves once.
  EXPECT_EQ(tiling.halvings, 1);
  EXPECT_DOUBLE_EQ(tiling.drawWidth, 200);
  EXPECT_DOUBLE_EQ(tiling.drawHeight, 100);
  EXPECT_EQ(tiling.tilesX, 3);
  EXPECT_EQ(tiling.tilesY, 5);
  EXPECT_EQ(bg->Width(), 200);
  EXPECT_EQ(bg->Height(), 100);
  TRef<TBitmap> level0 = show.host->OpenPicture("wide.bmp")->GetMipLevel(0);
  EXPECT_LE(test::MaxDifference(test::FromBitmap(*bg), test::FromBitmap(*HalveBitmap(*level0))), 1);
  EXPECT_EQ(s.PictureCache().Count(), 1u);
  TBackgroundTiling again;
  EXPECT_EQ(s.BackgroundPicture(s.Background(), again).Get(), bg.Get());
  EXPECT_EQ(again.tilesY, 5);
  // Missing or empty files give no picture.
  TSlideBackground missing = s.Background();
  missing.file = "gone.bmp";
  EXPECT_FALSE(s.BackgroundPicture(missing, tiling));
  EXPECT_EQ(tiling.tilesX, 0);
  missing.file = "";
  EXPECT_FALSE(s.BackgroundPicture(missing, tiling));
  // At most two pictures are kept.
  TSlideBackground other = s.Background();
  other.file = "tall.bmp";
  ASSERT_TRUE(s.BackgroundPicture(other, tiling));
  other.size = 50;
  ASSERT_TRUE(s.BackgroundPicture(other, tiling));
  EXPECT_EQ(s.PictureCache().Count(), 2u);
  EXPECT_FALSE(s.PictureCache().Find(TSlidePictureCache::NameFor(10, "wide.bmp")));
}

}  // namespace
}  // namespace lum
