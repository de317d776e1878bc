// The OpenGL back end drawing headless (offscreen video driver, software
// rasteriser), checked pixel by pixel against values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <thread>
#include <tuple>

#include "fake_back_end.h"
#include "gl_fixture.h"
#include "render/3d_screen.h"
#include "render/gl/gl_renderer.h"
#include "render/render_backends.h"
#include "render/gl/gl_debug.h"
#include "toolkit/window.h"

namespace lum {
namespace {

using test::TLogCapture;

struct TPix {
  int b, g, r, a;
};

class GLRender : public test::THeadlessGL {
 protected:
  void SetUp() override {
    THeadlessGL::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    OpenWindow(64);
    screen = std::make_unique<T3DScreen>(TRef<T3DEngine>(engine));
    screen->Attach(device.Get());
    ASSERT_TRUE(screen->DeviceReady());
  }
  void TearDown() override {
    screen.reset();
    CloseWindow();
  }

  T3DRendererGL* Renderer() { return static_cast<T3DRendererGL*>(screen->Renderer()); }

  // Writes the quad q (left-top, right-top, right-bottom, left-bottom) as two
  // triangles of position, colour and one texture coordinate.
  static void WriteQuad(T3DVertexList& list, const TVertex (&q)[4]) {
    const int order[6] = {0, 1, 2, 0, 2, 3};
    uint8_t* p = list.Lock(6);
    for (int i = 0; i < 6; ++i) {
      std::memcpy(p + i * list.Stride(), &q[order[i]].x, 12);
      std::memcpy(p + i * list.Stride() + 12, &q[order[i]].color, 4);
      std::memcpy(p + i * list.Stride() + 16, q[order[i]].uv[0], 8);
    }
  }

  // A vertex at target pixel (x, y) with the camera covering the target.
  TVertex V(float x, float y, TColor color = 0xFFFFFFFF, float u = 0, float v = 0) {
    TRect t = screen->TargetRect();
    TVertex r;
    float p[3];
    screen->Unproject(x, y, 0, p);
    (void)t;
    r.x = p[0], r.y = p[1], r.z = 0, r.color = color;
    r.uv[0][0] = u, r.uv[0][1] = v;
    return r;
  }
  void Quad(float x0, float y0, float x1, float y1, TColor color = 0xFFFFFFFF, float u1 = 1,
            float v1 = 1) {
    screen->Batch().AddQuad(V(x0, y0, color, 0, 0), V(x1, y0, color, u1, 0),
                            V(x1, y1, color, u1, v1), V(x0, y1, color, 0, v1));
  }
  TPix At(int x, int y) {
    std::vector<uint8_t> px;
    int w = 0, h = 0;
    EXPECT_TRUE(screen->ReadTarget(px, w, h));
    if (x >= w || y >= h) return {-1, -1, -1, -1};
    const uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
    return {p[0], p[1], p[2], p[3]};
  }
  static void ExpectRGB(TPix p, int r, int g, int b, int tol = 3) {
    EXPECT_NEAR(p.r, r, tol);
    EXPECT_NEAR(p.g, g, tol);
    EXPECT_NEAR(p.b, b, tol);
  }

  std::unique_ptr<T3DScreen> screen;
};

TEST_F(GLRender, CapabilitiesComeFromTheContext) {
  EXPECT_GE(engine->CapabilityValue("MaxTexWidth", 0), 2048);
  EXPECT_EQ(engine->CapabilityValue("pixelshaderversion", 0), 0x300);
  EXPECT_EQ(engine->CapabilityValue("unknown", 0), 0);
  EXPECT_EQ(engine->QualityLevel(0), 2);
  float tx = 1, ty = 1;
  Renderer()->TexelOffset(tx, ty);
  EXPECT_EQ(tx, 0);
  EXPECT_EQ(ty, 0);
  TDisplayMode mode;
  EXPECT_TRUE(engine->DisplayMode(0, mode));
  EXPECT_FALSE(engine->DisplayMode(99, mode));
  // The table of back ends: the user's choice first, then probing.
  EXPECT_FALSE(CreateRenderEngine("null")->DeviceReady());
  EXPECT_TRUE(CreateRenderEngine()->DeviceReady());
  EXPECT_TRUE(CreateRenderEngine("GL")->DeviceReady());
}

TEST_F(GLRender, ClearsAndColouredQuadsLandTheRightWayUp) {
  ASSERT_TRUE(screen->BeginScene());
  ASSERT_TRUE(screen->Clear(0xFF336699));
  ExpectRGB(At(5, 5), 0x33, 0x66, 0x99, 0);
  screen->Batch().Begin({});
  Quad(0, 0, 64, 32, 0xFFFF0000);  // top half red
  ExpectRGB(At(10, 10), 255, 0, 0, 0);
  ExpectRGB(At(10, 50), 0x33, 0x66, 0x99, 0);
  ASSERT_TRUE(screen->ClearRects({TRect{0, 0, 8, 8}}, 0xFF00FF00));
  ExpectRGB(At(2, 2), 0, 255, 0, 0);
  ExpectRGB(At(12, 2), 255, 0, 0, 0);
  screen->EndScene();
  EXPECT_TRUE(screen->Present());
}

TEST_F(GLRender, EveryDrawFlagCombination) {
  ASSERT_TRUE(screen->BeginScene());
  // Texel (r 200, g 100, b 50, a 128); vertex colour (r 128, g 255, b 64, a 64).
  TRGBATexture tex(screen.get(), 1, 1);
  const uint8_t texel[4] = {50, 100, 200, 128};
  tex.SetPixels({texel, 1, 1, 4, TSurfaceFormat::BGRA8});
  tex.nearest = true;
  T3DTexture* back = tex.BackEnd();
  ASSERT_NE(back, nullptr);
  auto list = Renderer()->CreateVertexList(6, vfDiffuse, 1);
  ASSERT_TRUE(list);
  const TColor vc = 0x4080FF40;
  const float u = tex.ScaleX(), v1 = tex.ScaleY();
  TVertex q[4] = {V(0, 0, vc, 0, 0), V(64, 0, vc, u, 0), V(64, 64, vc, u, v1), V(0, 64, vc, 0, v1)};
  WriteQuad(*list, q);
  ASSERT_TRUE(list->Unlock());
  const double t[4] = {200 / 255.0, 100 / 255.0, 50 / 255.0, 128 / 255.0};
  const double v[4] = {128 / 255.0, 255 / 255.0, 64 / 255.0, 64 / 255.0};
  for (uint32_t flags = 0; flags < 8; ++flags) {
    SCOPED_TRACE(flags);
    screen->Clear(0xFF000000);
    T3DTexture* textures[1] = {back};
    ASSERT_TRUE(
        Renderer()->DrawVertexList(textures, 2, flags, list.Get(), 1, TPrimitive::TriangleList));
    const bool tx = flags & dfTexture, c = flags & dfVertexColor, a = flags & dfVertexAlpha;
    double rgb[3], alpha;
    for (int k = 0; k < 3; ++k) rgb[k] = tx ? (c ? t[k] * v[k] : t[k]) : (c ? v[k] : 1.0);
    alpha = a ? (tx ? t[3] * v[3] : v[3]) : (tx ? t[3] : 1.0);
    // Over black: source × alpha.
    ExpectRGB(At(32, 32), static_cast<int>(std::lround(rgb[0] * alpha * 255)),
              static_cast<int>(std::lround(rgb[1] * alpha * 255)),
              static_cast<int>(std::lround(rgb[2] * alpha * 255)));
  }
}

TEST_F(GLRender, TextureKindsSampleAsTheirFormats) {
  ASSERT_TRUE(screen->BeginScene());
  auto drawWith = [&](TCustomTexture& t, uint32_t flags) {
    screen->Clear(0xFF000000);
    T3DTexture* back = t.BackEnd();
    EXPECT_NE(back, nullptr);
    if (!back) return TPix{};
    back->nearest = true;
    auto list = Renderer()->CreateVertexList(6, vfDiffuse, 1);
    TVertex q[4] = {V(0, 0), V(64, 0, 0xFFFFFFFF, t.ScaleX(), 0),
                    V(64, 64, 0xFFFFFFFF, t.ScaleX(), t.ScaleY()),
                    V(0, 64, 0xFFFFFFFF, 0, t.ScaleY())};
    WriteQuad(*list, q);
    list->Unlock();
    T3DTexture* textures[1] = {back};
    EXPECT_TRUE(
        Renderer()->DrawVertexList(textures, 2, flags, list.Get(), 1, TPrimitive::TriangleList));
    return At(20, 20);
  };
  // Grey: one channel read as grey, opaque.
  TGrayScaleTexture grey(screen.get(), 1, 1);
  const uint8_t g = 200;
  grey.SetPixels({&g, 1, 1, 1, TSurfaceFormat::Gray8});
  ExpectRGB(drawWith(grey, dfTexture), 200, 200, 200);
  // 16-bit colour from RGBA pixels.
  TPixelTexture c16(screen.get(), tkManaged16, 1, 1);
  const uint8_t magenta[4] = {255, 0, 255, 0};  // R G B A
  c16.SetPixels({magenta, 1, 1, 4, TSurfaceFormat::RGBA8});
  ExpectRGB(drawWith(c16, dfTexture), 255, 0, 255);
  // A target without alpha samples opaque; an alpha target keeps its alpha,
  // unless the vertex alpha alone applies (not premultiplied).
  TRenderTargetTexture plain(screen.get(), 32, 32, false);
  auto fill = [&](TRenderTargetTexture& t) {
    ASSERT_TRUE(screen->PushRenderTarget(&t));
    screen->Clear(0x00640000);  // red 100, alpha 0
    screen->PopRenderTarget();
  };
  fill(plain);
  ExpectRGB(drawWith(plain, dfTexture), 100, 0, 0);
  TRenderTargetTexture a2(screen.get(), 32, 32, true);
  a2.premultiplied = false;
  a2.ReleaseBackEnd();
  fill(a2);
  ExpectRGB(drawWith(a2, dfTexture), 0, 0, 0);                    // texture alpha 0
  ExpectRGB(drawWith(a2, dfTexture | dfVertexAlpha), 100, 0, 0);  // vertex alpha alone
  a2.premultiplied = true;
  a2.BackEnd()->premultiplied = true;
  // Premultiplied: texture alpha × vertex alpha, blended with one × source.
  ExpectRGB(drawWith(a2, dfTexture | dfVertexAlpha), 100, 0, 0);
}

TEST_F(GLRender, BlendModes) {
  ASSERT_TRUE(screen->BeginScene());
  // Normal: a quarter of red over blue.
  screen->Clear(0xFF0000FF);
  screen->Batch().Begin({});
  Quad(0, 0, 64, 64, 0x40FF0000);
  ExpectRGB(At(1, 1), 64, 0, 191);

  // Premultiplied source: one × source + (1 − alpha) × target.
  screen->Clear(0xFF0000FF);
  TRGBATexture pm(screen.get(), 1, 1);
  const uint8_t texel[4] = {0, 0, 100, 128};
  pm.SetPixels({texel, 1, 1, 4, TSurfaceFormat::BGRA8});
  pm.premultiplied = true;
  pm.nearest = true;
  screen->Batch().Begin({&pm});
  Quad(0, 0, 64, 64, 0xFFFFFFFF, pm.ScaleX(), pm.ScaleY());
  ExpectRGB(At(1, 1), 100, 0, 127);

  // Maximum, per channel, whatever the alpha.
  screen->Clear(0xFF64C832);
  screen->SetBlendMode(TBlendMode::Maximum);
  screen->Batch().Begin({});
  Quad(0, 0, 64, 64, 0x10966400);
  ExpectRGB(At(1, 1), 150, 200, 50);
  screen->SetBlendMode(TBlendMode::Normal);

  // Alpha of a target: normal blending multiplies it, separate alpha adds coverage.
  TRenderTargetTexture rt(screen.get(), 64, 64, false);
  rt.premultiplied = false;
  auto alphaAfter = [&](TBlendMode mode, TRenderTargetTexture& target) {
    EXPECT_TRUE(screen->PushRenderTarget(&target));
    screen->Clear(0x00000000);
    screen->SetBlendMode(mode);
    screen->Batch().Begin({});
    Quad(0, 0, 64, 64, 0x80FF0000);
    TPix p = At(3, 3);
    screen->SetBlendMode(TBlendMode::Normal);
    screen->PopRenderTarget();
    return p;
  };
  {
    TRenderTargetTexture alpha(screen.get(), 64, 64, false);
    // Kind 1 keeps no alpha for sampling but stores what is drawn.
    TPix normal = alphaAfter(TBlendMode::Normal, alpha);
    EXPECT_NEAR(normal.r, 128, 2);
    EXPECT_NEAR(normal.a, 64, 2);  // 0.5 × 0.5
    TPix separate = alphaAfter(TBlendMode::SeparateAlpha, alpha);
    EXPECT_NEAR(separate.r, 128, 2);
    EXPECT_NEAR(separate.a, 128, 2);  // 0.5 × 1 + 0 × 0.5
  }
  {
    // A premultiplied target blends its alpha separately without being asked.
    TRenderTargetTexture premulTarget(screen.get(), 64, 64, true);
    TPix p = alphaAfter(TBlendMode::Normal, premulTarget);
    EXPECT_NEAR(p.a, 128, 2);
  }
}

TEST_F(GLRender, RenderTargetsStackAndKeepTheirTopRowFirst) {
  ASSERT_TRUE(screen->BeginScene());
  screen->Clear(0xFF000000);
  TRenderTargetManager pool(screen.get());
  pool.SetSize(40, 40);  // 64 × 64
  auto rt = pool.Acquire();
  ASSERT_TRUE(rt->HasBackEnd());
  ASSERT_TRUE(screen->PushRenderTarget(rt.Get()));
  EXPECT_EQ(screen->TargetRect(), (TRect{0, 0, 64, 64}));
  screen->Clear(0xFF00FF00);
  screen->Batch().Begin({});
  Quad(0, 0, 64, 16, 0xFFFF0000);  // top quarter red
  ExpectRGB(At(5, 5), 255, 0, 0, 0);
  ExpectRGB(At(5, 40), 0, 255, 0, 0);
  screen->PopRenderTarget();
  EXPECT_EQ(screen->TargetDepth(), 1u);
  // The target drawn over the whole window, the right way up.
  screen->Batch().Begin({rt.Get()});
  Quad(0, 0, 64, 64, 0xFFFFFFFF, 1, 1);
  ExpectRGB(At(5, 5), 255, 0, 0, 0);
  ExpectRGB(At(5, 40), 0, 255, 0, 0);
  // Back to the pool and out again: the same target, no new texture.
  TRenderTargetTexture* raw = rt.Get();
  pool.Release(rt);
  rt = pool.Acquire();
  EXPECT_EQ(rt.Get(), raw);
  EXPECT_TRUE(rt->HasBackEnd());
}

TEST_F(GLRender, StretchCopiesBetweenSurfaces) {
  ASSERT_TRUE(screen->BeginScene());
  TRenderTargetTexture a(screen.get(), 32, 32, false), b(screen.get(), 64, 64, false);
  ASSERT_TRUE(screen->PushRenderTarget(&a));
  screen->Clear(0xFF0000FF);
  screen->Batch().Begin({});
  Quad(0, 0, 32, 8, 0xFFFF0000);
  screen->PopRenderTarget();
  // Target to window, stretched by two.
  ASSERT_TRUE(
      Renderer()->StretchRect(a.Surface().Get(), nullptr, Renderer()->BackBuffer().Get(), nullptr));
  ExpectRGB(At(10, 4), 255, 0, 0, 0);
  ExpectRGB(At(10, 30), 0, 0, 255, 0);
  // Window to target, one to one, then read through the surface.
  ASSERT_TRUE(
      Renderer()->StretchRect(Renderer()->BackBuffer().Get(), nullptr, b.Surface().Get(), nullptr));
  std::vector<uint8_t> px;
  ASSERT_TRUE(b.Surface()->CopyToBitmap(px));
  EXPECT_EQ(px[(4 * 64 + 10) * 4 + 2], 255);  // red row near the top
  EXPECT_EQ(px[(30 * 64 + 10) * 4 + 0], 255);
  TBitmapBuffer lock;
  TRect r{8, 2, 12, 6};
  ASSERT_TRUE(b.Surface()->Lock(&r, lock));
  EXPECT_EQ(lock.width, 4);
  EXPECT_EQ(lock.data[2], 255);
  EXPECT_TRUE(b.Surface()->Unlock());
}

TEST_F(GLRender, VolumeTexturesSampleTheirCellCentres) {
  ASSERT_TRUE(screen->BeginScene());
  TVolumeTexture vol(screen.get(), 4, 4, 4);
  uint8_t* cells = vol.Cells();
  for (int i = 0; i < 4; ++i)        // depth
    for (int j = 0; j < 4; ++j)      // row
      for (int k = 0; k < 4; ++k) {  // column
        uint8_t* c = cells + ((i * 4 + j) * 4 + k) * 4;
        c[0] = static_cast<uint8_t>(k * 60), c[1] = static_cast<uint8_t>(j * 60);
        c[2] = static_cast<uint8_t>(i * 60), c[3] = 255;
      }
  ASSERT_NE(vol.BackEnd(), nullptr);
  auto shader = MakeRef<TShader>(screen.get(),
                                 "uniform sampler3D s0;\n"
                                 "void main() { oC0 = texture(s0, c[0].xyz); }\n");
  ASSERT_TRUE(shader->HasBackEnd());
  ASSERT_TRUE(screen->SetShader(shader.Get()));
  for (auto [i, j, k] : {std::tuple{0, 0, 0}, {1, 2, 3}, {3, 3, 3}, {2, 0, 1}}) {
    const float at[4] = {(k + 0.5f) / 4, (j + 0.5f) / 4, (i + 0.5f) / 4, 0};
    ASSERT_TRUE(screen->SetShaderConstants(0, at, 1));
    ASSERT_TRUE(Renderer()->SetTexture(0, vol.BackEnd()));
    screen->Batch().Begin({});
    Quad(0, 0, 64, 64);
    ExpectRGB(At(20, 20), i * 60, j * 60, k * 60, 1);
  }
  screen->SetShader(nullptr);
}

TEST_F(GLRender, ShaderConstantsAreRegisters) {
  ASSERT_TRUE(screen->BeginScene());
  screen->Clear(0xFF000000);
  TShader shader(screen.get(), "void main() { oC0 = c[2] * v0; }\n");
  ASSERT_TRUE(screen->SetShader(&shader));
  const float value[4] = {0.2f, 0.4f, 0.6f, 1.0f};
  ASSERT_TRUE(screen->SetShaderConstants(2, value, 1));
  screen->Batch().Begin({});
  Quad(0, 0, 64, 64, 0xFFFFFFFF);
  ExpectRGB(At(30, 30), 51, 102, 153);
  screen->SetShader(nullptr);
  {
    TLogCapture log;
    EXPECT_FALSE(screen->SetShaderConstants(31, value, 2));  // past the last register
    EXPECT_EQ(Renderer()->LastResult(), rrInvalidCall);
    EXPECT_TRUE(log.Has("Dx Error = 1"));
  }
  // A shader that does not compile is refused with a logged reason (and,
  // with a debug context, reported by the driver's compiler as an error).
  TLogCapture log;
  test::TCaughtGLFailures driverSays;
  TShader broken(screen.get(), "this is not a shader");
  EXPECT_FALSE(broken.HasBackEnd());
  EXPECT_TRUE(log.Has("Dx Error = 1"));
  EXPECT_FALSE(screen->SetShader(&broken));
}

TEST_F(GLRender, CameraMapsKnownPoints) {
  ASSERT_TRUE(screen->BeginScene());
  screen->Clear(0xFF000000);
  screen->Batch().Begin({});
  // x in [-0.5, 0.5] and y in [0, 0.5] at z = 1 (twice as far): pixels x 24..40, y 24..32.
  TVertex a, b, c, d;
  a.x = -0.5f, a.y = 0.5f, b.x = 0.5f, b.y = 0.5f, c.x = 0.5f, c.y = 0, d.x = -0.5f, d.y = 0;
  for (TVertex* v : {&a, &b, &c, &d}) v->z = 1, v->color = 0xFFFFFFFF;
  screen->Batch().AddQuad(a, b, c, d);
  EXPECT_EQ(At(25, 25).r, 255);
  EXPECT_EQ(At(39, 31).r, 255);
  EXPECT_EQ(At(22, 25).r, 0);
  EXPECT_EQ(At(41, 25).r, 0);
  EXPECT_EQ(At(30, 22).r, 0);
  EXPECT_EQ(At(30, 33).r, 0);
  float sx, sy;
  const float pt[3] = {0.5f, 0, 1};
  screen->Project(pt, sx, sy);
  EXPECT_FLOAT_EQ(sx, 40);
  EXPECT_FLOAT_EQ(sy, 32);
}

TEST_F(GLRender, MipMapsAreChosenWhenShrinking) {
  ASSERT_TRUE(screen->BeginScene());
  std::vector<uint8_t> checker(64 * 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) checker[y * 64 + x] = ((x + y) & 1) ? 255 : 0;
  TGrayScaleTexture mip(screen.get(), 64, 64, true);
  mip.SetPixels({checker.data(), 64, 64, 64, TSurfaceFormat::Gray8});
  TGrayScaleTexture point(screen.get(), 64, 64, false);
  point.SetPixels({checker.data(), 64, 64, 64, TSurfaceFormat::Gray8});
  point.nearest = true;
  ASSERT_NE(mip.BackEnd(), nullptr);
  EXPECT_GT(mip.BackEnd()->LevelCount(), 1);
  EXPECT_EQ(point.BackEnd()->LevelCount(), 1);
  screen->Clear(0xFF000000);
  screen->Batch().Begin({&mip});
  Quad(0, 0, 8, 8);  // 64 texels on 8 pixels: level 3, all grey
  screen->Batch().Begin({&point});
  Quad(16, 0, 24, 8);
  TPix g = At(4, 4);
  EXPECT_NEAR(g.r, 128, 6);
  TPix p = At(20, 4);
  EXPECT_TRUE(p.r < 8 || p.r > 247) << p.r;
}

TEST_F(GLRender, LostDeviceIsRebuiltAndEverythingDrawsAgain) {
  int lost = 0;
  screen->onLost = [&] { ++lost; };
  ASSERT_TRUE(screen->BeginScene());
  TRGBATexture tex(screen.get(), 2, 2);
  const uint8_t px[16] = {0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255};
  tex.SetPixels({px, 2, 2, 8, TSurfaceFormat::BGRA8});
  TShader tint(screen.get(),
               "uniform sampler2D s0;\nvoid main() { oC0 = texture(s0, t0) * c[0]; }\n");
  const float half[4] = {0.5f, 1, 1, 1};
  auto draw = [&] {
    screen->Clear(0xFF000000);
    screen->SetShader(&tint);
    screen->SetShaderConstants(0, half, 1);
    screen->Batch().Begin({&tex});
    Quad(0, 0, 64, 64, 0xFFFFFFFF, tex.ScaleX() * 2, tex.ScaleY() * 2);
    TPix p = At(10, 10);
    screen->SetShader(nullptr);
    return p;
  };
  ExpectRGB(draw(), 128, 0, 0);
  screen->EndScene();
  TLogCapture log;
  Renderer()->DeclareLost();
  EXPECT_FALSE(screen->BeginScene());
  EXPECT_EQ(lost, 1);
  EXPECT_FALSE(screen->DeviceReady());
  EXPECT_FALSE(tex.HasBackEnd());
  EXPECT_FALSE(tint.HasBackEnd());
  EXPECT_TRUE(log.Has("Dx Error = 3"));
  EXPECT_TRUE(log.Has("DEVICE LOST!"));
  ASSERT_TRUE(screen->BeginScene());
  EXPECT_TRUE(log.Has("create device res= 0"));
  EXPECT_TRUE(tint.HasBackEnd());
  ExpectRGB(draw(), 128, 0, 0);
  EXPECT_TRUE(tex.HasBackEnd());
}

TEST_F(GLRender, WindowGeometryAndModeChangesRebuildTheRenderer) {
  ASSERT_TRUE(screen->BeginScene());
  screen->EndScene();
  TLogCapture log;
  window->SetClientSize(96, 48);  // the device follows the window
  ASSERT_TRUE(screen->BeginScene());
  EXPECT_TRUE(log.Has("T3DScreen.BeginScene, R= (0,0,96,48)"));
  EXPECT_EQ(screen->TargetRect(), (TRect{0, 0, 96, 48}));
  screen->Clear(0xFF000000);
  screen->Batch().Begin({});
  Quad(48, 24, 96, 48, 0xFFFFFFFF);
  EXPECT_EQ(At(90, 44).r, 255);
  EXPECT_EQ(At(40, 20).r, 0);
  screen->EndScene();

  window->SetMode(TWindowMode::FullScreenMonitor, 0);
  const auto monitors = ListMonitors();
  ASSERT_FALSE(monitors.empty());
  ASSERT_TRUE(screen->BeginScene());
  EXPECT_TRUE(device->FullScreen());
  EXPECT_EQ(screen->TargetRect().Width(), monitors[0].rect.Width());
  screen->EndScene();

  window->SetMode(TWindowMode::Framed);
  ASSERT_TRUE(screen->BeginScene());
  EXPECT_FALSE(device->FullScreen());
  EXPECT_EQ(screen->TargetRect(), (TRect{0, 0, 96, 48}));
  screen->EndScene();
}

TEST_F(GLRender, MinimisedWindowsAreNotDrawn) {
  ASSERT_TRUE(screen->BeginScene());
  screen->EndScene();
  window->Minimize();
  EXPECT_FALSE(screen->BeginScene());
  window->Restore();
  EXPECT_TRUE(screen->BeginScene());
  screen->EndScene();
}

TEST_F(GLRender, OversizedTexturesAreRefused) {
  ASSERT_TRUE(screen->BeginScene());
  TLogCapture log;
  const int max = static_cast<int>(engine->CapabilityValue("maxtexwidth", 0));
  EXPECT_FALSE(Renderer()->CreateTexture(0, max * 2, false, 32));
  EXPECT_EQ(Renderer()->LastResult(), rrInvalidCall);
  EXPECT_TRUE(log.Has("Dx Error = 1"));
  TRGBATexture big(screen.get(), max + 1, 4);
  big.SetSize(max + 1, 4);
  EXPECT_EQ(big.BackEnd(), nullptr);
  EXPECT_TRUE(screen->DeviceReady());  // refusing is not a loss
}

TEST_F(GLRender, DrawingRunsOnAnotherThreadThanCreation) {
  // Created on the window thread (SetUp), drawn by a worker as the engine does.
  TPix seen{};
  std::thread engineThread([&] {
    ASSERT_TRUE(screen->BeginScene());
    screen->Clear(0xFF000000);
    screen->Batch().Begin({});
    Quad(0, 0, 32, 64, 0xFF00FF00);
    seen = At(10, 10);
    screen->EndScene();
    ReleaseGLThreadContext();
  });
  engineThread.join();
  ExpectRGB(seen, 0, 255, 0, 0);
  // And back on this thread.
  ASSERT_TRUE(screen->BeginScene());
  ExpectRGB(At(10, 10), 0, 255, 0, 0);
  ExpectRGB(At(40, 10), 0, 0, 0, 0);
  screen->EndScene();
}

TEST_F(GLRender, RenderersAskedForOffTheWindowThreadArePendingUntilItRuns) {
  TDisplayMode mode;
  ASSERT_TRUE(engine->DisplayMode(0, mode));
  TRef<T3DRenderer> r;
  std::thread worker([&] { r = engine->CreateRenderer(device.Get(), mode); });
  worker.join();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->State(), TRendererState::CreationPending);
  TWindowThread::Pump(0);
  EXPECT_EQ(r->State(), TRendererState::Ready);
}

// Deliberately wrong calls and messages of every kind, made in the
// renderer's context with a debug context or without one, caught in a
// handler of the test's own instead of failing it.
class GLDebug : public GLRender {
 protected:
  void Reopen(bool debug) {
    SetGLDebugRequested(debug);
    screen.reset();
    CloseWindow();
    OpenWindow(16);
    screen = std::make_unique<T3DScreen>(TRef<T3DEngine>(engine));
    screen->Attach(device.Get());
    ASSERT_TRUE(screen->BeginScene());
    catcher_.emplace();
  }
  void TearDown() override {
    catcher_.reset();
    SetGLDebugRequested(wasRequested_);
    GLRender::TearDown();
  }
  // Binds a 2-D texture to the 3-D target: GL_INVALID_OPERATION.
  void BindToWrongTarget(T3DTextureGL* t) {
    std::lock_guard lock(DeviceLock());
    ASSERT_TRUE(Renderer()->MakeCurrent());
    glBindTexture(GL_TEXTURE_3D, t->Name());
  }
  int64_t Failures() const { return catcher_->Count(); }
  std::vector<std::string>& Caught() { return catcher_->texts; }

  bool wasRequested_ = GLDebugRequested();
  std::optional<test::TCaughtGLFailures> catcher_;
};

TEST_F(GLDebug, TheCallbackCatchesATextureBoundToTheWrongTargetInsideTheCall) {
  Reopen(true);
  TRGBATexture tex(screen.get(), 1, 1);
  auto* back = static_cast<T3DTextureGL*>(tex.BackEnd());
  ASSERT_NE(back, nullptr);
  ASSERT_TRUE(engine->Caps().khrDebug);
  TLogCapture log;
  BindToWrongTarget(back);
  ASSERT_EQ(Caught().size(), 1u);  // before the call returned
  EXPECT_NE(Caught()[0].find("source API, type error, severity high"), std::string::npos)
      << Caught()[0];
  EXPECT_NE(Caught()[0].find("glBindTexture"), std::string::npos) << Caught()[0];
  EXPECT_EQ(Failures(), 1);
  EXPECT_TRUE(log.Has("OpenGL error: source API, type error"));
  // The call's result is still mapped: the renderer's next check fails it.
  EXPECT_FALSE(Renderer()->Check());
  EXPECT_EQ(Renderer()->LastResult(), rrInvalidCall);
  EXPECT_EQ(Failures(), 1);  // reported once, by the driver
}

TEST_F(GLDebug, ErrorsAndHighSeverityFailOtherMessagesAreLogged) {
  Reopen(true);
  struct TCase {
    GLenum type, severity;
    bool failure;
    const char* logged;
  };
  const TCase cases[] = {
      {GL_DEBUG_TYPE_MARKER, GL_DEBUG_SEVERITY_NOTIFICATION, false,
       "OpenGL message: source application, type marker, severity notification, id 7: m"},
      {GL_DEBUG_TYPE_PERFORMANCE, GL_DEBUG_SEVERITY_MEDIUM, false,
       "OpenGL message: source application, type performance, severity medium"},
      {GL_DEBUG_TYPE_PORTABILITY, GL_DEBUG_SEVERITY_HIGH, true,
       "OpenGL error: source application, type portability, severity high"},
      {GL_DEBUG_TYPE_ERROR, GL_DEBUG_SEVERITY_LOW, true,
       "OpenGL error: source application, type error, severity low"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.logged);
    TLogCapture log;
    Caught().clear();
    const int64_t failures = Failures();
    {
      std::lock_guard lock(DeviceLock());
      ASSERT_TRUE(Renderer()->MakeCurrent());
      glDebugMessageInsert(GL_DEBUG_SOURCE_APPLICATION, c.type, 7, c.severity, -1, "m");
    }
    EXPECT_TRUE(log.Has(c.logged));
    EXPECT_EQ(Caught().size(), c.failure ? 1u : 0u);
    EXPECT_EQ(Failures() - failures, c.failure ? 1 : 0);
  }
}

TEST_F(GLDebug, WithoutADebugContextPolledErrorsAreReported) {
  Reopen(false);
  TRGBATexture tex(screen.get(), 1, 1);
  auto* back = static_cast<T3DTextureGL*>(tex.BackEnd());
  ASSERT_NE(back, nullptr);
  BindToWrongTarget(back);
  EXPECT_TRUE(Caught().empty());  // nobody told us yet
  EXPECT_FALSE(Renderer()->Check());
  ASSERT_EQ(Caught().size(), 1u);
  EXPECT_EQ(Caught()[0], "glGetError GL_INVALID_OPERATION");
  EXPECT_EQ(Failures(), 1);
}

// The same drawing into the window's own surface, whose rows run bottom up.
class GLWindowSurface : public GLRender {
 protected:
  void SetUp() override {
    SetGLForceWindowSurface(true);
    GLRender::SetUp();
  }
  void TearDown() override {
    GLRender::TearDown();
    SetGLForceWindowSurface(false);
  }
};

TEST_F(GLWindowSurface, TargetsAndCopiesKeepTheirOrientation) {
  ASSERT_TRUE(screen->BeginScene());
  screen->Clear(0xFF000000);
  screen->Batch().Begin({});
  Quad(0, 0, 64, 16, 0xFFFF0000);
  ExpectRGB(At(5, 5), 255, 0, 0, 0);
  ExpectRGB(At(5, 40), 0, 0, 0, 0);
  ASSERT_TRUE(screen->ClearRects({TRect{0, 56, 8, 64}}, 0xFF00FF00));
  ExpectRGB(At(2, 60), 0, 255, 0, 0);
  ExpectRGB(At(2, 2), 255, 0, 0, 0);
  // Window to target and back, through a texture draw and a stretch copy.
  TRenderTargetTexture rt(screen.get(), 64, 64, false);
  ASSERT_TRUE(Renderer()->StretchRect(Renderer()->BackBuffer().Get(), nullptr, rt.Surface().Get(),
                                      nullptr));
  screen->Clear(0xFF0000FF);
  screen->Batch().Begin({&rt});
  Quad(0, 0, 64, 64, 0xFFFFFFFF, 1, 1);
  ExpectRGB(At(5, 5), 255, 0, 0, 0);
  ExpectRGB(At(2, 60), 0, 255, 0, 0);
  screen->Clear(0xFF0000FF);
  ASSERT_TRUE(Renderer()->StretchRect(rt.Surface().Get(), nullptr, Renderer()->BackBuffer().Get(),
                                      nullptr));
  ExpectRGB(At(5, 5), 255, 0, 0, 0);
  ExpectRGB(At(2, 60), 0, 255, 0, 0);
  screen->SetClip(TRect{0, 0, 32, 64});
  screen->Batch().Begin({});
  Quad(0, 0, 64, 64, 0xFFFFFFFF);
  ExpectRGB(At(20, 30), 255, 255, 255, 0);
  ExpectRGB(At(40, 30), 0, 0, 0, 0);  // left as copied
  screen->EndScene();
  EXPECT_TRUE(screen->Present());
}

TEST(GLNoDisplay, CannotInitIsLoggedAndNothingIsDrawn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // A driver without GL: a clean reason, an engine that is never ready.
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        auto gl = MakeRef<T3DEngineGL>();
        TLogCapture log;
        auto engine = CreateRenderEngine();
        T3DScreen screen(engine);
        auto device = MakeRef<TDrawDevice>();
        device->SetHandle(reinterpret_cast<void*>(1));
        device->SetGeometry({0, 0, 10, 10}, 0, 0, false);
        screen.Attach(device.Get());
        bool ok = !gl->DeviceReady() && !gl->InitFailure().empty() && !screen.BeginScene() &&
                  log.Has("Can't init");
        std::cerr << (log.Lines().empty() ? "" : log.Lines().back()) << "\n";
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "Can't init");
}

}  // namespace
}  // namespace lum
