// The slide drawer on the OpenGL back end (headless): its shaders, colour
// look-ups, video planes, frames that go wrong, and the post-processing
// arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fake_back_end.h"
#include "gl_fixture.h"
#include "imaging/bitmap.h"
#include "imaging/picture_budget.h"
#include "model/lum_image.h"
#include "model/show_fixture.h"
#include "render/3d_drawer.h"
#include "render/3d_yuv.h"
#include "render/bitmap_texture.h"
#include "render/color_grade_texture.h"
#include "render/gl/gl_renderer.h"
#include "render/slide_drawer.h"
#include "support/live_font.h"
#include "toolkit/window.h"

namespace lum {
namespace {

using test::TLogCapture;

constexpr int kSize = 64;
const TQuad3 kFull = {{{0, 0, 0}, {kSize, 0, 0}, {kSize, kSize, 0}, {0, kSize, 0}}};

struct TRgb {
  int r, g, b;
};

class TItem : public TDrawerItem {
 public:
  explicit TItem(std::function<void(T3DDrawer&)> draw) : draw_(std::move(draw)) {}
  void DrawOn(T3DDrawer& d) override { draw_(d); }
  void ItemDrawn() override { ++drawn; }
  int drawn = 0;

 private:
  std::function<void(T3DDrawer&)> draw_;
};

uint8_t Byte(double v) {
  return uint8_t(std::clamp<long>(std::lround(v), 0, 255));
}

// ---- arithmetic: no device needed ----

TEST(BlurArithmetic, RadiusPassesAndStrengths) {
  EXPECT_DOUBLE_EQ(BlurRadius(4000, 1), 2);
  TBlurPlan p = PlanBlur(BlurRadius(4000, 1));
  EXPECT_EQ(p.doublingPasses, 0);
  EXPECT_NEAR(p.lastStrength, 1.0 / 6, 1e-12);
  EXPECT_EQ(p.lastStep, 1);

  p = PlanBlur(28);  // log2(28 / 7) = 2
  EXPECT_EQ(p.doublingPasses, 2);
  EXPECT_NEAR(p.lastStrength, 1, 1e-12);
  EXPECT_EQ(p.lastStep, 4);

  // Just past 7 one doubling pass carries a weak last pass.
  p = PlanBlur(10);
  EXPECT_EQ(p.doublingPasses, 1);
  EXPECT_NEAR(p.lastStrength, std::log2(10.0 / 7), 1e-12);
  EXPECT_EQ(p.lastStep, 2);
  EXPECT_EQ(PlanBlur(7).doublingPasses, 0);
  EXPECT_NEAR(PlanBlur(7).lastStrength, 1, 1e-12);
  EXPECT_EQ(PlanBlur(1).lastStrength, 0);
  EXPECT_DOUBLE_EQ(BlurRadius(4000, 0.5), 1);
}

TEST(BlurArithmetic, WeightsKeepBrightnessAtEveryStrength) {
  for (double h : {0.0, 1.0 / 6, 0.5, 1.0}) {
    const auto w = BlurWeights(h);
    EXPECT_NEAR(w[3] + 2 * (w[2] + w[1] + w[0]), 1.0, 1e-6) << h;
  }
  const auto none = BlurWeights(0);
  EXPECT_EQ(none[3], 1.0f);
  EXPECT_EQ(none[0], 0.0f);
}

TEST(BlurArithmetic, SharpenAmounts) {
  EXPECT_DOUBLE_EQ(FrameUnsharpAmount(5), 0.05);
  EXPECT_DOUBLE_EQ(ItemUnsharpAmount(-500, 1), 0.05);
  EXPECT_DOUBLE_EQ(ItemUnsharpAmount(-500, 2), 0.1);
}

TEST(YUVPlanes, PaddedToSizePlusEightOrThePowerOfTwo) {
  EXPECT_EQ(PaddedPlaneSize(50), 58);
  EXPECT_EQ(PaddedPlaneSize(57), 64);
  EXPECT_EQ(PaddedPlaneSize(64), 64);
  EXPECT_EQ(PaddedPlaneSize(30), 32);
  EXPECT_EQ(PaddedPlaneSize(1920), 1928);
  EXPECT_EQ(PaddedPlaneSize(1), 1);
  EXPECT_EQ(PaddedPlaneSize(0), 0);

  auto yuv = MakeRef<T3DYUV>(nullptr, 50, 30);
  EXPECT_EQ(yuv->PlaneWidth(ypLuma), 58);
  EXPECT_EQ(yuv->PlaneHeight(ypLuma), 32);
  // Chroma 25 x 15, padded on its own.
  EXPECT_EQ(yuv->PlaneWidth(ypChromaU), 32);
  EXPECT_EQ(yuv->PlaneHeight(ypChromaV), 16);
  EXPECT_EQ(yuv->PlaneWidth(ypRGBA), 58);
  EXPECT_EQ(yuv->PlaneHeight(ypGray), 32);
}

TEST(YUVPlanes, LocksCountAndOnlyFivePlanesExist) {
  auto yuv = MakeRef<T3DYUV>(nullptr, 50, 30);
  TBitmapBuffer y = yuv->Lock(ypLuma);
  EXPECT_EQ(y.format, TSurfaceFormat::Gray8);
  ASSERT_EQ(y.width, 58);
  ASSERT_EQ(y.height, 32);
  ASSERT_GE(y.pitch, 58);
  y.data[size_t(y.pitch) * 31 + 57] = 1;  // the last padded sample is ours to write
  TBitmapBuffer rgba = yuv->Lock(ypRGBA);
  EXPECT_EQ(rgba.format, TSurfaceFormat::BGRA8);
  ASSERT_GE(rgba.pitch, 58 * 4);
  rgba.data[size_t(rgba.pitch) * 31 + 57 * 4 + 3] = 1;
  EXPECT_EQ(yuv->LockCount(), 2);

  EXPECT_THROW(yuv->Lock(5), EAssertion);
  EXPECT_THROW(yuv->Lock(-1), EAssertion);
  EXPECT_EQ(yuv->LockCount(), 2);
  EXPECT_THROW(yuv->Dispose(), EAssertion);
  yuv->Unlock();
  yuv->Unlock();
  EXPECT_THROW(yuv->Unlock(), EAssertion);
  yuv->Dispose();
  EXPECT_THROW(yuv->Lock(ypLuma), EAssertion);

  // Dropped while locked: logged, since a destructor cannot raise.
  TLogCapture log;
  auto locked = MakeRef<T3DYUV>(nullptr, 8, 8);
  locked->Lock(ypChromaU);
  locked = nullptr;
  EXPECT_TRUE(log.Has("locked"));
}

TEST(ColorGradeCells, BasesSourcesAndFiltersWithoutADevice) {
  TCustomColorGradeTexture identity(nullptr, TColorGradeKind::Picture);
  ASSERT_EQ(identity.Cells().Width(), 32);
  ASSERT_EQ(identity.Cells().Height(), 1024);
  // Cell (i = 1, j = 2, k = 3): blue v(1), green v(2), red v(3).
  const uint8_t* c = identity.Cells().Row(1 * 32 + 2) + 3 * 4;
  EXPECT_EQ(c[0], 8);
  EXPECT_EQ(c[1], 16);
  EXPECT_EQ(c[2], 24);
  EXPECT_EQ(c[3], 255);

  TCustomColorGradeTexture curve(nullptr, TColorGradeKind::Curve);
  ASSERT_EQ(curve.Cells().Width(), 256);
  EXPECT_EQ(curve.Cells().Row(0)[200 * 4 + 1], 200);

  // The filter sees the cells as laid out, once per build.
  int calls = 0;
  TCustomColorGradeTexture filtered(nullptr, TColorGradeKind::Video, nullptr, [&](TBitmap& b) {
    ++calls;
    EXPECT_EQ(b.Width(), 32);
    EXPECT_EQ(b.Height(), 1024);
    b.Row(5)[0] = 7;
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(filtered.Cells().Row(5)[0], 7);
  filtered.Rebuild();
  EXPECT_EQ(calls, 2);

  // A source of the wrong size is refused with a note, and the base used.
  TLogCapture log;
  auto wrong = MakeRef<TBitmap>(16, 16, TPixelFormat::Bgra32);
  wrong->Fill(1, 2, 3);
  TCustomColorGradeTexture fallback(nullptr, TColorGradeKind::Picture, wrong);
  EXPECT_TRUE(log.Has("ignored"));
  EXPECT_EQ(fallback.Cells().Row(1023)[31 * 4], 255);
  // A source of the right size in another format is taken as it is.
  auto solid = MakeRef<TBitmap>(32, 1024, TPixelFormat::Bgr24);
  solid->Fill(10, 20, 30);
  TCustomColorGradeTexture fromSource(nullptr, TColorGradeKind::Picture, solid);
  EXPECT_EQ(fromSource.Cells().Row(700)[9 * 4 + 2], 10);
  EXPECT_EQ(fromSource.Cells().Row(700)[9 * 4 + 3], 255);

  TVolumeTexture v(nullptr, 32, 32, 32);
  EXPECT_THROW(SetLookupCells(v, *wrong), EImageError);
}

// ---- drawing on the GL back end ----

class Drawer : public test::THeadlessGL {
 protected:
  void SetUp() override {
    THeadlessGL::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    OpenWindow(kSize);
    drawer = std::make_unique<T3DDrawer>(TRef<T3DEngine>(engine));
    drawer->Attach(device.Get());
    ASSERT_TRUE(drawer->DeviceReady());
    drawer->SetCapture(true);
  }
  void TearDown() override {
    drawer.reset();
    CloseWindow();
  }

  T3DScreen* Screen() { return &drawer->Screen(); }

  // One frame drawn on black and read back.
  TRef<TBitmap> Frame(const std::function<void(T3DDrawer&)>& draw) {
    TItem item([&](T3DDrawer& d) {
      d.Clear(0xFF000000);
      draw(d);
    });
    EXPECT_TRUE(drawer->DrawItem(item));
    TRef<TBitmap> frame = drawer->ReadFrame();
    EXPECT_TRUE(frame);
    if (!frame) frame = MakeRef<TBitmap>(kSize, kSize, TPixelFormat::Bgra32);
    return frame;
  }
  static TRgb At(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.Row(y) + x * 4;
    return {p[2], p[1], p[0]};
  }
  static void ExpectRgb(TRgb got, TRgb want, int tolerance, const std::string& what = "") {
    EXPECT_NEAR(got.r, want.r, tolerance) << what;
    EXPECT_NEAR(got.g, want.g, tolerance) << what;
    EXPECT_NEAR(got.b, want.b, tolerance) << what;
  }

  // A picture of bands, one column per colour, sampled by nearest texel.
  TRef<TRGBATexture> Bands(const std::vector<TRgb>& colors, uint8_t alpha = 255) {
    std::vector<uint8_t> px;
    for (const TRgb& c : colors) px.insert(px.end(), {Byte(c.b), Byte(c.g), Byte(c.r), alpha});
    auto t = MakeRef<TRGBATexture>(Screen(), int(colors.size()), 1);
    t->SetPixels({px.data(), int(colors.size()), 1, int(px.size()), TSurfaceFormat::BGRA8});
    t->nearest = true;
    return t;
  }
  // The centre of band n of count across the frame.
  static int BandX(int n, int count) { return (2 * n + 1) * kSize / (2 * count); }

  std::unique_ptr<T3DDrawer> drawer;
};

TEST_F(Drawer, EveryShaderCompilesAndLinks) {
  std::vector<std::string> names;
  for (int i = 0; i < shCount; ++i) {
    const std::string name(DrawerShaderName(i));
    EXPECT_FALSE(name.empty()) << i;
    EXPECT_EQ(std::count(names.begin(), names.end(), name), 0) << name;
    names.push_back(name);
    TLogCapture log;
    TShader s(Screen(), std::string(DrawerShaderCode(i)));
    std::string why;
    for (const auto& l : log.Lines()) why += l + "\n";
    EXPECT_TRUE(s.HasBackEnd()) << name << ":\n" << why;
    ASSERT_NE(drawer->Shader(i), nullptr);
    EXPECT_TRUE(drawer->Shader(i)->HasBackEnd()) << name;
  }
  EXPECT_EQ(DrawerShaderName(shCount), "");
  EXPECT_EQ(drawer->Shader(shCount), nullptr);
}

const std::vector<TRgb> kColors = {{10, 200, 77},   {255, 0, 128}, {33, 99, 180},   {0, 0, 0},
                                   {128, 128, 128}, {1, 254, 64},  {255, 255, 255}, {190, 60, 5}};

void Invert(TBitmap& cells) {
  for (int y = 0; y < cells.Height(); ++y)
    for (int x = 0; x < cells.Width(); ++x)
      for (int c = 0; c < 3; ++c) cells.Row(y)[x * 4 + c] = uint8_t(255 - cells.Row(y)[x * 4 + c]);
}

TEST_F(Drawer, LookUpVolumesGradePicturesAndBlendByT) {
  auto pic = Bands(kColors);
  auto identity = MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Picture);
  TRef<TBitmap> inverse = ConvertBitmap(identity->Cells(), TPixelFormat::Bgra32);
  Invert(*inverse);
  auto fromSource = MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Picture, inverse);
  auto fromFilter =
      MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Picture, nullptr, Invert);
  const int n = int(kColors.size());
  const TTexRect all{0, 0, double(n), 1};

  struct TCase {
    TCustomColorGradeTexture *from, *to;
    double t;
    double inverted;  // share of the inverse in the expected colour
  } cases[] = {{identity.Get(), identity.Get(), 0, 0},
               {fromSource.Get(), identity.Get(), 0, 1},
               {identity.Get(), fromFilter.Get(), 1, 1},
               {identity.Get(), fromSource.Get(), 0.25, 0.25}};
  for (const TCase& k : cases) {
    bool drawn = false;
    auto frame = Frame([&](T3DDrawer& d) {
      drawn = DrawColorGraded(d, kFull, *pic, all, 1, *k.from, *k.to, k.t);
    });
    ASSERT_TRUE(drawn);
    for (int i = 0; i < n; ++i) {
      const TRgb c = kColors[size_t(i)];
      auto mix = [&](int v) {
        return int(std::lround(v * (1 - k.inverted) + (255 - v) * k.inverted));
      };
      ExpectRgb(At(*frame, BandX(i, n), 32), {mix(c.r), mix(c.g), mix(c.b)}, 2,
                "t " + std::to_string(k.t) + " colour " + std::to_string(i));
    }
  }
  // A picture's profile look-up becomes a volume of its own.
  auto volume = MakeLookupVolume(Screen(), *inverse);
  EXPECT_NE(volume->BackEnd(), nullptr);
  EXPECT_EQ(volume->Cells()[0], 255);
}

TEST_F(Drawer, CurveTexturesGradeEachChannel) {
  std::vector<TRgb> colors;
  for (int v : {0, 1, 64, 127, 128, 200, 254, 255}) colors.push_back({v, 255 - v, (v * 7) % 256});
  auto pic = Bands(colors);
  auto identity = MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Curve);
  // Red inverted, green halved, blue kept.
  auto curve =
      MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Curve, nullptr, [](TBitmap& b) {
        uint8_t* p = b.Row(0);
        for (int n = 0; n < 256; ++n)
          p[n * 4 + 2] = uint8_t(255 - n), p[n * 4 + 1] = uint8_t(n / 2);
      });
  const int n = int(colors.size());
  for (double t : {1.0, 0.5}) {
    auto frame = Frame([&](T3DDrawer& d) {
      EXPECT_TRUE(DrawColorGraded(d, kFull, *pic, {0, 0, double(n), 1}, 1, *identity, *curve, t));
    });
    for (int i = 0; i < n; ++i) {
      const TRgb c = colors[size_t(i)];
      const TRgb graded{255 - c.r, c.g / 2, c.b};
      const TRgb want{int(std::lround(c.r + (graded.r - c.r) * t)),
                      int(std::lround(c.g + (graded.g - c.g) * t)), c.b};
      ExpectRgb(At(*frame, BandX(i, n), 32), want, 1, "t " + std::to_string(t));
    }
  }
  // Volumes and curves do not mix.
  auto volume = MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Picture);
  EXPECT_THROW(DrawColorGraded(*drawer, kFull, *pic, {0, 0, 1, 1}, 1, *identity, *volume, 0),
               EAssertion);
}

TEST_F(Drawer, BlendedGradesDrawWithOneLookUpAndTint) {
  auto pic = Bands(kColors);
  const int n = int(kColors.size());
  const TTexRect all{0, 0, double(n), 1};
  auto identity = MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Picture);
  TRef<TBitmap> straight = ConvertBitmap(identity->Cells(), TPixelFormat::Bgra32);
  TRef<TBitmap> inverse = ConvertBitmap(identity->Cells(), TPixelFormat::Bgra32);
  Invert(*inverse);
  TRef<TBitmap> ramp = MakeRef<TBitmap>(kCurveEntries, 1, TPixelFormat::Bgra32);
  for (int v = 0; v < kCurveEntries; ++v)
    for (int c = 0; c < 4; ++c) ramp->Row(0)[4 * v + c] = uint8_t(c == 3 ? 255 : v);
  TRef<TBitmap> down = ConvertBitmap(*ramp, TPixelFormat::Bgra32);
  Invert(*down);
  int key = 0;  // one drawn object
  for (int mode : {kGradeVolumes, kGradeCurves}) {
    const bool volume = mode == kGradeVolumes;
    for (double t : {0.0, 0.25, 0.5, 1.0}) {
      TColorGradeDraw g{mode, volume ? straight : ramp, volume ? inverse : down, t};
      auto frame = Frame(
          [&](T3DDrawer& d) { EXPECT_TRUE(DrawGradedPicture(d, &key, kFull, *pic, all, 1, g)); });
      for (int i = 0; i < n; ++i) {
        const TRgb c = kColors[size_t(i)];
        auto mix = [&](int v) { return int(std::lround(v + (255 - 2 * v) * t)); };
        ExpectRgb(At(*frame, BandX(i, n), 32), {mix(c.r), mix(c.g), mix(c.b)}, 2,
                  "mode " + std::to_string(mode) + " t " + std::to_string(t));
      }
    }
  }
  // The tint goes in before the look-up: white tinted red, inverted, is cyan.
  auto white = Bands({{255, 255, 255}});
  TColorGradeDraw g{kGradeVolumes, inverse, inverse, 0};
  auto frame = Frame([&](T3DDrawer& d) {
    EXPECT_TRUE(DrawGradedPicture(d, &key, kFull, *white, {0, 0, 1, 1}, 1, g, 0x0000FF));
  });
  ExpectRgb(At(*frame, 32, 32), {0, 255, 255}, 2, "tinted");
  // Nothing to grade: nothing drawn here.
  EXPECT_FALSE(DrawGradedPicture(*drawer, &key, kFull, *white, {0, 0, 1, 1}, 1, {}));
}

TEST(SlideDrawerWithoutShaders, AGradedTextKeepsItsColour) {
  // A red text graded by a filter on a device that can make no shaders: it
  // is drawn ungraded in its red (a premultiplied white picture tinted by
  // the vertex colour), not as the white picture laid out for the grade.
  REQUIRE_LIBERATION_SANS();
  test::TModelShow show(200, 100);
  TLumSlide& slide = show.Slide(
      "object T:Text\nGUID={1}\nText=HH\nTextColor=255,0,0\nFontName=Arial\nShadowEnable=0\n" +
      test::Key(0, "ScaleX=50\nScaleY=50\nobject Invert:Filter\nend\n") + "end\n");
  TLumImage* text = nullptr;
  for (TLumObject* o : slide.AllObjects())
    if (o->Name() == "T") text = dynamic_cast<TLumImage*>(o);
  ASSERT_TRUE(text && text->Picture());
  auto engine = MakeRef<test::TFakeEngine>();
  engine->refuseShaders = true;
  auto device = MakeRef<TDrawDevice>();
  device->SetHandle(reinterpret_cast<void*>(1));
  device->SetGeometry({0, 0, 200, 100}, 0, 0, false);
  T3DDrawer drawer{TRef<T3DEngine>(engine)};
  drawer.Attach(device.Get());
  TSlideDrawer slides(drawer);
  TItem item([&](T3DDrawer&) { slides.DrawImage(*text); });
  ASSERT_TRUE(drawer.DrawItem(item));
  const test::TFakeRenderer& r = *engine->last;
  ASSERT_EQ(r.draws.size(), 1u);
  EXPECT_EQ(r.draws[0].flags, uint32_t(dfTexture | dfVertexColor | dfVertexAlpha));
  const test::TFakeVertexList* list = nullptr;
  for (const auto& o : r.objects)
    if (auto* l = dynamic_cast<const test::TFakeVertexList*>(o.Get())) list = l;
  ASSERT_TRUE(list && list->bytes.size() >= 16);
  uint32_t color = 0;
  std::memcpy(&color, list->bytes.data() + 12, 4);
  EXPECT_EQ(color, 0xFFFF0000u);
}

TEST_F(Drawer, PointsProjectWhereTheCameraDrawsThem) {
  // A view twice the target's size seen from an offset of (8, 4): the offset
  // and the scale are in the camera's transforms, so a projected point is
  // the target pixel a vertex there is drawn at, and unprojects back.
  const float corners[4][3] = {
      {-0.5f, 0.5f, 0}, {-0.25f, 0.5f, 0}, {-0.25f, 0.25f, 0}, {-0.5f, 0.25f, 0}};
  float px[4], py[4], back[3];
  auto frame = Frame([&](T3DDrawer& d) {
    T3DScreen& s = d.Screen();
    s.SetCamera(128, 128, kSize, kSize, 8, 4);
    TVertex v[4];
    for (int i = 0; i < 4; ++i) {
      v[i].x = corners[i][0], v[i].y = corners[i][1], v[i].z = 0, v[i].color = 0xFFFFFFFF;
      s.Project(corners[i], px[i], py[i]);
    }
    s.Batch().Begin({});
    s.Batch().AddQuad(v[0], v[1], v[2], v[3]);
    s.Batch().Flush();
    s.Unproject(px[2], py[2], 0, back);
  });
  // One world unit is 64 view pixels (a scale of 1/2), less the offset.
  EXPECT_NEAR(px[0], (1 - 0.5) * 64 - 8, 1e-3);
  EXPECT_NEAR(py[0], (1 - 0.5) * 64 - 4, 1e-3);
  EXPECT_NEAR(px[2] - px[0], 16, 1e-3);
  ExpectRgb(At(*frame, int(px[0]) + 1, int(py[0]) + 1), {255, 255, 255}, 0, "inside");
  ExpectRgb(At(*frame, int(px[2]) - 2, int(py[2]) - 2), {255, 255, 255}, 0, "inside");
  ExpectRgb(At(*frame, int(px[0]) - 2, int(py[0]) + 4), {0, 0, 0}, 0, "left of it");
  ExpectRgb(At(*frame, int(px[2]) + 1, int(py[2]) - 4), {0, 0, 0}, 0, "right of it");
  ExpectRgb(At(*frame, int(px[0]) + 4, int(py[0]) - 2), {0, 0, 0}, 0, "above it");
  EXPECT_NEAR(back[0], corners[2][0], 1e-4);
  EXPECT_NEAR(back[1], corners[2][1], 1e-4);
}

TEST(GradeCells, BlendByteWiseAndRefuseDifferentSizes) {
  auto a = MakeRef<TBitmap>(2, 1, TPixelFormat::Bgra32);
  auto b = MakeRef<TBitmap>(2, 1, TPixelFormat::Bgra32);
  const uint8_t av[8] = {0, 255, 100, 255, 10, 20, 30, 40},
                bv[8] = {255, 0, 100, 255, 30, 20, 10, 0};
  std::copy(av, av + 8, a->Row(0));
  std::copy(bv, bv + 8, b->Row(0));
  TRef<TBitmap> m = BlendGradeCells(*a, *b, 0.25);
  const uint8_t want[8] = {64, 191, 100, 255, 15, 20, 25, 30};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(m->Row(0)[i], want[i]) << i;
  EXPECT_EQ(BlendGradeCells(*a, *b, 0)->Row(0)[1], 255);
  EXPECT_EQ(BlendGradeCells(*a, *b, 1)->Row(0)[1], 0);
  EXPECT_THROW(BlendGradeCells(*a, *MakeRef<TBitmap>(3, 1, TPixelFormat::Bgra32), 0.5), EAssertion);
}

TEST_F(Drawer, LookUpsComeBackAfterTheDeviceLostThem) {
  auto pic = Bands(kColors);
  int builds = 0;
  auto volume = MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Picture, nullptr,
                                                  [&](TBitmap& b) {
                                                    ++builds;
                                                    Invert(b);
                                                  });
  auto curve =
      MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Curve, nullptr, [&](TBitmap& b) {
        ++builds;
        Invert(b);
      });
  const int n = int(kColors.size());
  for (int round = 0; round < 2; ++round) {
    // Every back end gone, as after a lost device.
    if (round == 1) Screen()->ReleaseResources();
    for (auto* grade : {volume.Get(), curve.Get()}) {
      auto frame = Frame([&](T3DDrawer& d) {
        EXPECT_TRUE(DrawColorGraded(d, kFull, *pic, {0, 0, double(n), 1}, 1, *grade, *grade, 0));
      });
      for (int i = 0; i < n; ++i) {
        const TRgb c = kColors[size_t(i)];
        ExpectRgb(At(*frame, BandX(i, n), 32), {255 - c.r, 255 - c.g, 255 - c.b}, 2,
                  "round " + std::to_string(round));
      }
    }
  }
  EXPECT_EQ(builds, 2);  // the cells were kept
}

// Planes of known values, split left and right so that the chroma planes
// must be read over their own (half) size.
struct TYuvSide {
  int y, u, v;
};
void FillYuv(T3DYUV& yuv, TYuvSide left, TYuvSide right) {
  for (int plane : {ypLuma, ypChromaU, ypChromaV}) {
    TBitmapBuffer b = yuv.Lock(plane);
    const int w = plane == ypLuma ? yuv.Width() : yuv.ChromaWidth();
    for (int y = 0; y < b.height; ++y)
      for (int x = 0; x < b.width; ++x) {
        // The padding holds junk that must not show.
        const TYuvSide& s = x < w / 2 ? left : right;
        b.data[size_t(y) * b.pitch + x] = x >= w ? 0
                                                 : uint8_t(plane == ypLuma      ? s.y
                                                           : plane == ypChromaU ? s.u
                                                                                : s.v);
      }
    yuv.Unlock();
  }
  yuv.Refresh();
}
TRgb Bt601(TYuvSide s) {
  const double y = (s.y / 255.0 - 0.0625) * 1.164, u = s.u / 255.0 - 0.5, v = s.v / 255.0 - 0.5;
  return {Byte(std::clamp(y + 1.596 * v, 0.0, 1.0) * 255),
          Byte(std::clamp(y - 0.813 * v - 0.391 * u, 0.0, 1.0) * 255),
          Byte(std::clamp(y + 2.018 * u, 0.0, 1.0) * 255)};
}

TEST_F(Drawer, VideoPlanesConvertToRgb) {
  auto yuv = MakeRef<T3DYUV>(Screen(), 50, 30);
  const TYuvSide left{120, 100, 150}, right{250, 60, 250};  // the right one clamps red
  FillYuv(*yuv, left, right);
  auto frame = Frame([&](T3DDrawer& d) { EXPECT_TRUE(DrawYUV(d, kFull, *yuv, 1)); });
  ExpectRgb(At(*frame, 8, 32), Bt601(left), 2, "left");
  ExpectRgb(At(*frame, 56, 32), Bt601(right), 2, "right");
  EXPECT_EQ(At(*frame, 56, 32).r, 255);

  // Through two video look-ups: the first is the same conversion, the
  // second its inverse; t picks between them.
  auto video = MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Video);
  auto inverted =
      MakeRef<TCustomColorGradeTexture>(Screen(), TColorGradeKind::Video, nullptr, Invert);
  for (double t : {0.0, 1.0}) {
    frame = Frame(
        [&](T3DDrawer& d) { EXPECT_TRUE(DrawYUVGraded(d, kFull, *yuv, 1, *video, *inverted, t)); });
    TRgb want = Bt601(left);
    if (t == 1) want = {255 - want.r, 255 - want.g, 255 - want.b};
    // The look-up's levels (8n + n div 4) sit up to a level off the straight line.
    ExpectRgb(At(*frame, 8, 32), want, 4, "graded t " + std::to_string(t));
  }
}

TEST_F(Drawer, VideoMaskAndPremultipliedMaskShaders) {
  // "videomask": m = (Y - 0.0625) x 1.16438, or 1 - m inverted, drawn as
  // grey m at alpha m over black: m x m x 255 by hand, e.g. Y 100:
  // m = (100 / 255 - 0.0625) x 1.16438 = 0.38385, 37.6; inverted 0.61615,
  // 96.8. Y 10 lies below the video range: m clamps to 0, inverted to 1.
  auto plane = MakeRef<TGrayScaleTexture>(Screen(), 4, 4);
  plane->nearest = true;
  const struct {
    int y, invert, want;
  } masks[] = {{100, 0, 38}, {100, 1, 97}, {200, 0, 180}, {200, 1, 6}, {10, 0, 0}, {10, 1, 255}};
  for (const auto& k : masks) {
    std::vector<uint8_t> px(16, uint8_t(k.y));
    plane->SetPixels({px.data(), 4, 4, 4, TSurfaceFormat::Gray8});
    auto frame = Frame([&](T3DDrawer& d) {
      d.DrawShaderRect(shVideoMask, {plane.Get()}, {0, 0, kSize, kSize}, {{0, 0, 4, 4}},
                       {float(k.invert), 0, 0, 0});
    });
    ExpectRgb(At(*frame, 30, 30), {k.want, k.want, k.want}, 2,
              "Y " + std::to_string(k.y) + " invert " + std::to_string(k.invert));
  }

  // "premul3" by hand: mask (200, 100, 50) / 255 gives g = (1 - |r - g|)
  // (1 - |g - b|)(1 - |b - r|) = 0.2012, mask colour m + (1 - m) g, mask
  // alpha max = 0.7843; picture (60, 90, 120) at alpha 128: colour
  // picture x mask colour / 0.502, alpha 0.502 x 0.7843 = 0.3937, over black
  // colour x alpha: red 60 / 255 x 0.8277 / 0.502 x 0.3937 x 255 = 38.9.
  // A grey mask has g = 1: the picture at half alpha.
  const struct {
    TRgb mask, picture;
    int pictureAlpha;
    TRgb want;
  } cases[] = {{{200, 100, 50}, {60, 90, 120}, 128, {39, 36, 34}},
               {{128, 128, 128}, {60, 90, 120}, 255, {30, 45, 60}}};
  for (const auto& k : cases) {
    auto mask = Bands({k.mask, k.mask});
    auto pic = Bands({k.picture, k.picture}, uint8_t(k.pictureAlpha));
    auto frame = Frame([&](T3DDrawer& d) {
      d.DrawShaderRect(shPremul3, {mask.Get(), pic.Get()}, {0, 0, kSize, kSize}, {{0, 0, 2, 1}},
                       {});
    });
    ExpectRgb(At(*frame, 30, 30), k.want, 2, "premul3");
  }
}

TEST_F(Drawer, PicturesFilledAheadInBandsDrawAsIfFilledWhole) {
  auto picture = [] {
    auto b = MakeRef<TBitmap>(40, 30, TPixelFormat::Bgra32);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        uint8_t* p = b->Row(y) + 4 * x;
        p[0] = 0x40, p[1] = uint8_t(y * 8), p[2] = uint8_t(x * 6), p[3] = 255;
      }
    return b;
  };
  TRef<TBitmap> banded = picture(), whole = picture(), started = picture(), later = picture();
  TCustomTexture* b = drawer->TextureFor(banded.Get(), *banded, true);
  TCustomTexture* w = drawer->TextureFor(whole.Get(), *whole, true);
  TCustomTexture* s = drawer->TextureFor(started.Get(), *started, true);
  int calls = 0;
  for (bool done = false; !done; ++calls) {
    int64_t band = 40 * 4 * 7;
    done = b->UploadAhead(band);
  }
  EXPECT_EQ(calls, 5);  // 7 rows a band
  int64_t band = 40 * 4 * 7;
  EXPECT_FALSE(s->UploadAhead(band));  // its first frame finishes it
  // The drawer fills what is left of the others within its budget.
  drawer->TextureFor(later.Get(), *later, true);
  EXPECT_TRUE(drawer->UploadAhead(1000));
  TRef<TBitmap> f = Frame([&](T3DDrawer& d) {
    d.DrawPixels(*b, {0, 0, 20, 15}, {0, 0, 40, 30}, 1);  // half size: the smaller level
    d.DrawPixels(*w, {24, 0, 44, 15}, {0, 0, 40, 30}, 1);
    d.DrawPixels(*s, {0, 24, 40, 54}, {0, 0, 40, 30}, 1);
  });
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 20; ++x)
      ASSERT_EQ(std::memcmp(f->Row(y) + 4 * x, f->Row(y) + 4 * (x + 24), 4), 0) << x << "," << y;
  for (int y : {0, 6, 7, 29})
    for (int x : {0, 39}) ExpectRgb(At(*f, x, 24 + y), {Byte(x * 6), Byte(y * 8), 0x40}, 2);
}

TEST_F(Drawer, APictureLetGoLendsItsTextureToTheNextOfItsSize) {
  // 1200 x 900 with its levels: large enough to be kept.
  auto plain = [](TRgb c) {
    auto b = MakeRef<TBitmap>(1200, 900, TPixelFormat::Bgra32);
    for (int y = 0; y < 900; ++y)
      for (int x = 0; x < 1200; ++x) {
        uint8_t* p = b->Row(y) + 4 * x;
        p[0] = Byte(c.b), p[1] = Byte(c.g), p[2] = Byte(c.r), p[3] = 255;
      }
    return b;
  };
  const int64_t before = TextureBytes();
  auto shown = [&](TRef<TBitmap> picture) {
    TCustomTexture* t = drawer->TextureFor(picture.Get(), *picture, true);
    // Shrunk 25 times: the new picture's own smaller levels, not the last one's.
    return At(*Frame([&](T3DDrawer& d) { d.DrawPixels(*t, {0, 0, 48, 36}, {0, 0, 1200, 900}, 1); }),
              24, 18);
  };
  TRef<TBitmap> red = plain({255, 0, 0}), green = plain({0, 255, 0});
  ExpectRgb(shown(red), {255, 0, 0}, 1);
  const int64_t one = TextureBytes() - before;
  drawer->ReleaseTextures(red.Get());
  red = nullptr;
  EXPECT_EQ(TextureBytes() - before, one) << "kept as a spare";
  ExpectRgb(shown(green), {0, 255, 0}, 1);
  EXPECT_EQ(TextureBytes() - before, one) << "the spare's storage, not another";
}

// A picture decoded on demand, counting its decodes: 40 x 30 at level 0,
// red from x, green from y.
class TCountingStore : public TBitmapStore {
 public:
  explicit TCountingStore(TPixelFormat format) : TBitmapStore({40, 30, format}) {}
  const char* ClassName() const override { return "TCountingStore"; }
  int decodes = 0;

 protected:
  TRef<TBitmap> DecodeLevel(int level) override {
    ++decodes;
    auto b = MakeRef<TBitmap>(MipDimension(40, level), MipDimension(30, level), params_.format);
    const int bpp = BytesPerPixel(params_.format);
    for (int y = 0; y < b->Height(); ++y)
      for (int x = 0; x < b->Width(); ++x) {
        uint8_t* p = b->Row(y) + bpp * x;
        p[0] = 0x40, p[1] = uint8_t((y << level) * 8), p[2] = uint8_t((x << level) * 6);
        if (bpp == 4) p[3] = 255;
      }
    b->SetLevel(level);
    return b;
  }
  bool DecodesAnyLevel() const override { return true; }
  bool Redecodable() const override { return true; }
};

TEST_F(Drawer, PicturesOnTheDeviceLeaveMemoryAndComeBackAfterALoss) {
  TRef<TImage> opaque = MakeRef<TImage>(MakeRef<TCountingStore>(TPixelFormat::Bgr24));
  TRef<TImage> alpha = MakeRef<TImage>(MakeRef<TCountingStore>(TPixelFormat::Bgra32));
  auto decodes = [](const TRef<TImage>& i) {
    return static_cast<TCountingStore&>(i->Store()).decodes;
  };
  const int64_t before = TPictureBudget::Process().Used();
  TBitmapTexture* o = drawer->PictureTextureFor(opaque.Get(), *opaque, 0);
  TBitmapTexture* a = drawer->PictureTextureFor(alpha.Get(), *alpha, 0);
  ASSERT_TRUE(o && a);
  EXPECT_TRUE(drawer->UploadAhead(1000));
  // On the device the picture without alpha is nowhere else; the one with
  // alpha keeps its pixels for the opacity probe.
  EXPECT_EQ(o->Pixels(), nullptr);
  ASSERT_NE(a->Pixels(), nullptr);
  EXPECT_EQ(TPictureBudget::Process().Used() - before, a->Pixels()->Pitch() * 30);
  EXPECT_EQ(drawer->PictureTextureFor(opaque.Get(), *opaque, 0), o);
  for (int round = 0; round < 2; ++round) {
    if (round == 1) Screen()->ReleaseResources();  // as after a lost device
    TRef<TBitmap> f = Frame([&](T3DDrawer& d) {
      d.DrawPixels(*o, {0, 0, 40, 30}, {0, 0, 40, 30}, 1);
      d.DrawPixels(*a, {0, 32, 40, 62}, {0, 0, 40, 30}, 1);
    });
    for (int y : {0, 7, 29})
      for (int x : {0, 20, 39})
        for (int top : {0, 32})
          ExpectRgb(At(*f, x, top + y), {Byte(x * 6), Byte(y * 8), 0x40}, 2,
                    "round " + std::to_string(round));
    EXPECT_EQ(o->Pixels(), nullptr);
  }
  EXPECT_EQ(decodes(opaque), 2);  // once more for the lost device
  EXPECT_EQ(decodes(alpha), 1);
}

TEST_F(Drawer, ThrowingItemsAreCutShortAndTheFrameGoesOn) {
  TLogCapture log;
  TItem broken([](T3DDrawer& d) {
    ASSERT_TRUE(d.BeginPostLayer());
    d.FillRect({0, 0, kSize, kSize}, 0xFF0000FF);
    throw ELumError("broken object");
  });
  bool nested = true;
  auto frame = Frame([&](T3DDrawer& d) {
    d.FillRect({0, 0, kSize, kSize}, 0xFFFF0000);
    nested = d.DrawItem(broken);
    EXPECT_FALSE(d.PostLayerOpen());
    EXPECT_EQ(d.Screen().TargetDepth(), 1u);
    d.FillRect({32, 0, kSize, kSize}, 0xFF00FF00);
  });
  EXPECT_FALSE(nested);
  EXPECT_TRUE(log.Has("broken object"));
  // The broken item's blue went into its abandoned layer, the rest onto the frame.
  ExpectRgb(At(*frame, 10, 10), {255, 0, 0}, 0);
  ExpectRgb(At(*frame, 50, 10), {0, 255, 0}, 0);

  // The frame's own item throwing: the frame still ends, and says it failed.
  TItem root([](T3DDrawer& d) {
    d.BeginPostLayer();
    throw std::runtime_error("root item");
  });
  EXPECT_FALSE(drawer->DrawItem(root));
  EXPECT_EQ(root.drawn, 1);
  EXPECT_TRUE(log.Has("root item"));
  // The next frame is a frame of its own, with a layer to be had again.
  frame = Frame([&](T3DDrawer& d) {
    ASSERT_TRUE(d.BeginPostLayer());
    d.FillRect({0, 0, kSize, kSize}, 0xFF0000FF);
    d.EndPostLayer(0);
  });
  ExpectRgb(At(*frame, 10, 10), {0, 0, 255}, 0);
}

TEST_F(Drawer, CaptureKeepsTheFrameOnlyWhileCapturing) {
  auto frame = Frame([](T3DDrawer& d) { d.Clear(0xFF336699); });
  EXPECT_EQ(frame->Width(), kSize);
  EXPECT_EQ(frame->Height(), kSize);
  EXPECT_EQ(frame->Format(), TPixelFormat::Bgra32);
  ExpectRgb(At(*frame, 63, 63), {0x33, 0x66, 0x99}, 0);
  drawer->SetCapture(false);
  TItem item([](T3DDrawer& d) { d.Clear(0xFF000000); });
  EXPECT_TRUE(drawer->DrawItem(item));
  EXPECT_FALSE(drawer->ReadFrame());
}

TEST_F(Drawer, PostProcessingFallsBackWithoutRenderTargets) {
  TLogCapture log;
  int plain = 0, softened = 0;
  auto frame = Frame([&](T3DDrawer& d) {
    d.FullTargets().SetSize(1 << 20, 1 << 20);  // no back end can be that large
    EXPECT_FALSE(d.BeginPostLayer());
    // Sharpening falls back to drawing plainly, softening to nothing.
    d.DrawBlurred(-500, [&] {
      ++plain;
      d.FillRect({0, 0, 32, kSize}, 0xFFFF0000);
    });
    d.DrawBlurred(4000, [&] {
      ++softened;
      d.FillRect({32, 0, kSize, kSize}, 0xFF00FF00);
    });
    EXPECT_EQ(d.Screen().TargetDepth(), 1u);
  });
  EXPECT_EQ(plain, 1);
  EXPECT_EQ(softened, 0);
  ExpectRgb(At(*frame, 10, 10), {255, 0, 0}, 0);
  ExpectRgb(At(*frame, 50, 10), {0, 0, 0}, 0);
  EXPECT_TRUE(log.Has("Rt Create First Attempt Ok= False"));

  // Only the half-size targets missing: the item is drawn into the full one
  // and its result cannot reach the frame; nothing else goes wrong.
  frame = Frame([&](T3DDrawer& d) {
    d.HalfTargets().SetSize(1 << 20, 1 << 20);
    d.DrawBlurred(4000, [&] { d.FillRect({0, 0, kSize, kSize}, 0xFF00FF00); });
    EXPECT_EQ(d.Screen().TargetDepth(), 1u);
    d.FillRect({0, 0, 8, 8}, 0xFFFFFFFF);
  });
  ExpectRgb(At(*frame, 4, 4), {255, 255, 255}, 0);

  // Pools are sized from the frame again next time.
  Frame([&](T3DDrawer& d) {
    EXPECT_TRUE(d.BeginPostLayer());
    d.EndPostLayer(0.05);
  });

  // After closing, nothing can be had and nothing breaks.
  drawer->Close();
  TItem item([](T3DDrawer&) {});
  EXPECT_FALSE(drawer->DrawItem(item));
  EXPECT_FALSE(drawer->BeginPostLayer());
  drawer->DrawBlurred(4000, [&] { ++softened; });
  drawer->DrawBlurred(-500, [&] { ++plain; });
  EXPECT_EQ(softened, 0);
  EXPECT_EQ(plain, 2);
  EXPECT_FALSE(drawer->ReadFrame());
}

}  // namespace
}  // namespace lum
