// The device-independent screen against a recording back end.
#include <gtest/gtest.h>

#include "fake_back_end.h"
#include "foundation/errors.h"
#include "render/3d_screen.h"
#include "render/frame_pacing.h"
#include "render/null_engine.h"

namespace lum {
namespace {

using test::TFakeEngine;
using test::TFakeRenderer;
using test::TLogCapture;

struct ScreenFixture : ::testing::Test {
  TRef<TFakeEngine> engine = MakeRef<TFakeEngine>();
  TRef<TDrawDevice> device = MakeRef<TDrawDevice>();
  std::unique_ptr<T3DScreen> screen;

  void SetUp() override {
    device->SetHandle(reinterpret_cast<void*>(1));
    device->SetGeometry({0, 0, 640, 480}, 10, 20, false);
    screen = std::make_unique<T3DScreen>(TRef<T3DEngine>(engine));
  }
  TFakeRenderer* Renderer() { return static_cast<TFakeRenderer*>(screen->Renderer()); }
};

TEST(TextureSize, PowersOfTwoAtLeast32) {
  EXPECT_EQ(TextureSizeFor(100), 128);
  EXPECT_EQ(TextureSizeFor(700), 1024);
  EXPECT_EQ(TextureSizeFor(10), 32);
  EXPECT_EQ(TextureSizeFor(32), 32);
  EXPECT_EQ(TextureSizeFor(33), 64);
  EXPECT_EQ(TextureSizeFor(0), 32);
}

TEST_F(ScreenFixture, TextureScalesAddressTheRequestedPart) {
  TRGBATexture t(screen.get(), 100, 700);
  EXPECT_EQ(t.TextureWidth(), 128);
  EXPECT_EQ(t.TextureHeight(), 1024);
  EXPECT_FLOAT_EQ(t.ScaleX(), 1.0f / 128);
  EXPECT_FLOAT_EQ(t.ScaleY(), 1.0f / 1024);
  TRGBATexture small(screen.get(), 10, 10);
  EXPECT_EQ(small.TextureWidth(), 32);
  EXPECT_EQ(small.TextureHeight(), 32);
}

TEST_F(ScreenFixture, AttachNeedsADevice) {
  EXPECT_THROW(screen->Attach(nullptr), EAssertion);
}

TEST_F(ScreenFixture, AttachCreatesOneRendererUntilSomethingChanges) {
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->DeviceReady());
  screen->Attach(device.Get());
  EXPECT_EQ(engine->renderersCreated, 1);
  ASSERT_TRUE(screen->BeginScene());
  screen->EndScene();
  // A new client size rebuilds at the next begin scene; the renderer heard of the change.
  TFakeRenderer* first = Renderer();
  device->SetGeometry({0, 0, 800, 600}, 10, 20, false);
  EXPECT_EQ(first->deviceChanges, 1);
  TLogCapture log;
  ASSERT_TRUE(screen->BeginScene());
  EXPECT_EQ(engine->renderersCreated, 2);
  EXPECT_TRUE(log.Has("T3DScreen.BeginScene, R= (0,0,800,600)"));
  EXPECT_EQ(screen->TargetRect(), (TRect{0, 0, 800, 600}));
  // An empty rectangle (a minimised window) keeps the renderer.
  device->SetGeometry({0, 0, 0, 0}, 10, 20, false);
  screen->BeginScene();
  EXPECT_EQ(engine->renderersCreated, 2);
}

TEST_F(ScreenFixture, FullScreenTakesTheMonitorRectangleMappedByTheOrigin) {
  device->SetGeometry({0, 0, 1920, 1080}, 100, 50, true);
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  // The fake monitor is (0,0,1920,1080); the window's client area starts at (100,50).
  EXPECT_EQ(Renderer()->viewport, (TRect{0, 0, 1920, 1080}));
  device->SetGeometry({0, 0, 640, 480}, 10, 20, false);
  ASSERT_TRUE(screen->BeginScene());
  EXPECT_EQ(engine->renderersCreated, 2);
}

TEST_F(ScreenFixture, FailuresAreLoggedAndNothingIsDrawn) {
  TLogCapture log;
  engine->ready = false;
  screen->Attach(device.Get());
  EXPECT_FALSE(screen->DeviceReady());
  EXPECT_FALSE(screen->BeginScene());
  EXPECT_TRUE(log.Has("Can't init: no device for tests"));
  engine->ready = true;
  engine->hasMode = false;
  EXPECT_FALSE(screen->BeginScene());
  EXPECT_TRUE(log.Has("Can't GetDisplayMode"));
  engine->hasMode = true;
  EXPECT_TRUE(screen->BeginScene());  // the next begin scene tries again
}

TEST(NullEngine, DeviceNeverReady) {
  TLogCapture log;
  T3DScreen screen(MakeRef<T3DEngineNull>("no display"));
  auto device = MakeRef<TDrawDevice>();
  device->SetGeometry({0, 0, 100, 100}, 0, 0, false);
  screen.Attach(device.Get());
  EXPECT_FALSE(screen.BeginScene());
  EXPECT_FALSE(screen.DeviceReady());
  EXPECT_FALSE(screen.Clear(0));
  TRGBATexture t(&screen, 4, 4);
  EXPECT_EQ(t.BackEnd(), nullptr);
  EXPECT_TRUE(log.Has("Can't init: no display"));
}

TEST_F(ScreenFixture, ClosingTheDeviceMakesTheScreenForgetIt) {
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  device->Close();
  EXPECT_EQ(screen->Device(), nullptr);
  EXPECT_FALSE(screen->BeginScene());
}

TEST_F(ScreenFixture, ManagedTexturesAreFilledWithBoxFilteredMips) {
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  TGrayScaleTexture t(screen.get(), 2, 2, true);
  uint8_t px[4] = {0, 100, 200, 255};
  t.SetPixels({px, 2, 2, 2, TSurfaceFormat::Gray8});
  auto* b = static_cast<test::TFakeTexture*>(t.BackEnd());
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->LevelCount(), 6);  // 32 → 1
  // Level 0: the pixels at the top left, the rest cleared.
  EXPECT_EQ(b->data[0][0], 0);
  EXPECT_EQ(b->data[0][1], 100);
  EXPECT_EQ(b->data[0][32], 200);
  EXPECT_EQ(b->data[0][33], 255);
  EXPECT_EQ(b->data[0][2], 0);
  // Level 1 pixel 0 averages the 2 × 2 block; level 5 is the whole picture's mean.
  EXPECT_EQ(b->data[1][0], (0 + 100 + 200 + 255 + 2) / 4);
  EXPECT_EQ(b->data[1][1], 0);
  EXPECT_NEAR(b->data[5][0], (0 + 100 + 200 + 255) / 4.0 / 256, 1.0);
}

TEST(BoxFilter, HalvesAlongOneAxisAtTheEnd) {
  uint8_t src[2 * 4 * 4];  // 2 wide, 4 high, BGRA
  for (int i = 0; i < 32; ++i) src[i] = static_cast<uint8_t>(i * 8);
  uint8_t dst[1 * 2 * 4];
  TBitmapBuffer s{2, 4, 8, TSurfaceFormat::BGRA8, src};
  TBitmapBuffer d{1, 2, 4, TSurfaceFormat::BGRA8, dst};
  BoxFilterHalf(s, d);
  EXPECT_EQ(dst[0], (src[0] + src[4] + src[8] + src[12] + 2) / 4);
  uint8_t one[4 * 1 * 1] = {10, 20, 30, 40};
  uint8_t wide[4 * 2] = {10, 0, 0, 0, 30, 0, 0, 0};
  TBitmapBuffer s2{2, 1, 8, TSurfaceFormat::BGRA8, wide};
  TBitmapBuffer d2{1, 1, 4, TSurfaceFormat::BGRA8, one};
  BoxFilterHalf(s2, d2);
  EXPECT_EQ(one[0], 20);
}

TEST_F(ScreenFixture, RenderTargetRetryReleasesManagedTexturesInHalves) {
  engine->managedLimit = 0;  // targets fail while any managed texture lives
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  std::vector<TRef<TRGBATexture>> managed;
  for (int i = 0; i < 8; ++i) {
    managed.push_back(MakeRef<TRGBATexture>(screen.get(), 16, 16));
    ASSERT_NE(managed.back()->BackEnd(), nullptr);
  }
  TLogCapture log;
  TRenderTargetTexture rt(screen.get(), 64, 64, false);
  EXPECT_EQ(rt.BackEnd(), nullptr);  // still failing after releasing everything it may
  EXPECT_TRUE(log.Has("Rt Create First Attempt Ok= False"));
  EXPECT_TRUE(log.Has("tmpTexListcount= 8"));
  EXPECT_TRUE(log.Has("Released Managed Texs from 7 to 4; Rt Create 1nd Attempt Ok= False"));
  EXPECT_TRUE(log.Has("Released Managed Texs from 3 to 2; Rt Create 2nd Attempt Ok= False"));
  EXPECT_TRUE(log.Has("Released Managed Texs from 1 to 1; Rt Create 3nd Attempt Ok= False"));
  EXPECT_FALSE(log.Has("Rt Create 4nd"));
  // Index 0 is never released; 1 to 7 are.
  EXPECT_TRUE(managed[0]->HasBackEnd());
  for (int i = 1; i < 8; ++i) EXPECT_FALSE(managed[i]->HasBackEnd()) << i;
}

TEST_F(ScreenFixture, RenderTargetRetryStopsOnceCreated) {
  engine->managedLimit = 4;
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  std::vector<TRef<TRGBATexture>> managed;
  for (int i = 0; i < 8; ++i) {
    managed.push_back(MakeRef<TRGBATexture>(screen.get(), 16, 16));
    managed.back()->BackEnd();
  }
  TRenderTargetTexture rt(screen.get(), 64, 64, true);
  EXPECT_NE(rt.BackEnd(), nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(managed[i]->HasBackEnd());
  for (int i = 4; i < 8; ++i) EXPECT_FALSE(managed[i]->HasBackEnd());
  // Released textures come back on their next use.
  EXPECT_NE(managed[7]->BackEnd(), nullptr);
}

TEST_F(ScreenFixture, PoolReusesTargetsOfItsSize) {
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  TRenderTargetManager pool(screen.get());
  pool.SetSize(600, 300);
  EXPECT_EQ(pool.Width(), 1024);
  EXPECT_EQ(pool.Height(), 512);
  auto a = pool.Acquire();
  ASSERT_TRUE(a->HasBackEnd());
  TRenderTargetTexture* raw = a.Get();
  pool.Release(a);
  a = nullptr;
  EXPECT_EQ(pool.FreeCount(), 1u);
  auto b = pool.Acquire();
  EXPECT_EQ(b.Get(), raw);
  auto c = pool.Acquire();
  EXPECT_NE(c.Get(), raw);
  // A target of another size is refused.
  auto other = MakeRef<TRenderTargetTexture>(screen.get(), 64, 64, false);
  EXPECT_THROW(pool.Release(other), EAssertion);
  auto premul = MakeRef<TRenderTargetTexture>(screen.get(), 1024, 512, true);
  EXPECT_THROW(pool.Release(premul), EAssertion);
  pool.Release(b);
  pool.SetSize(1000, 400);  // same powers of two: kept
  EXPECT_EQ(pool.FreeCount(), 1u);
  pool.SetSize(2000, 400);
  EXPECT_EQ(pool.FreeCount(), 0u);
}

TEST_F(ScreenFixture, BatchesChooseDrawFlagsFromTheirTextures) {
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  TRGBATexture a(screen.get(), 8, 8), b(screen.get(), 8, 8), p(screen.get(), 8, 8);
  p.premultiplied = true;
  TVertex v;
  auto& batch = screen->Batch();
  auto draw = [&](std::vector<TCustomTexture*> list) {
    batch.Begin(list);
    batch.AddQuad(v, v, v, v);
    EXPECT_TRUE(batch.Flush());
    return Renderer()->draws.back();
  };
  EXPECT_EQ(draw({}).flags, uint32_t{dfVertexColor | dfVertexAlpha});
  EXPECT_EQ(draw({&a}).flags, uint32_t{dfTexture | dfVertexAlpha});
  EXPECT_EQ(draw({&a, &b}).flags, uint32_t{dfTexture});
  EXPECT_EQ(draw({&a, &p}).flags, uint32_t{dfTexture | dfVertexColor | dfVertexAlpha});
  EXPECT_EQ(Renderer()->draws.back().primitives, 2);
  EXPECT_EQ(Renderer()->draws.back().textureCount, 2);
  EXPECT_THROW(batch.Begin({&a}, 2), EAssertion);
  // Beginning a batch flushes the pending one.
  size_t before = Renderer()->draws.size();
  batch.Begin({});
  batch.AddTriangle(v, v, v);
  batch.Begin({&a});
  EXPECT_EQ(Renderer()->draws.size(), before + 1);
}

TEST_F(ScreenFixture, LostRendererIsRebuiltAndResourcesComeBack) {
  int lost = 0;
  screen->onLost = [&] { ++lost; };
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  TRGBATexture tex(screen.get(), 8, 8);
  auto shader = MakeRef<TShader>(screen.get(), "void main(){}");
  EXPECT_TRUE(shader->HasBackEnd());  // made at once while a renderer exists
  ASSERT_NE(tex.BackEnd(), nullptr);
  TVertex v;
  screen->Batch().Begin({&tex});
  screen->Batch().AddTriangle(v, v, v);
  ASSERT_TRUE(screen->Batch().Flush());
  ASSERT_TRUE(screen->Batch().HasBackEnd());
  screen->EndScene();

  Renderer()->loseOnBegin = true;
  EXPECT_FALSE(screen->BeginScene());
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(screen->Renderer(), nullptr);
  EXPECT_FALSE(tex.HasBackEnd());
  EXPECT_FALSE(shader->HasBackEnd());
  EXPECT_FALSE(screen->Batch().HasBackEnd());
  EXPECT_EQ(screen->TargetDepth(), 0u);

  ASSERT_TRUE(screen->BeginScene());
  EXPECT_EQ(engine->renderersCreated, 2);
  EXPECT_TRUE(shader->HasBackEnd());  // shaders are restored at begin scene
  EXPECT_EQ(Renderer()->shadersCreated, 1);
  screen->Batch().Begin({&tex});
  screen->Batch().AddTriangle(v, v, v);
  EXPECT_TRUE(screen->Batch().Flush());
  EXPECT_TRUE(tex.HasBackEnd());
}

TEST_F(ScreenFixture, ARendererThatNeverBecameReadyIsReplaced) {
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  Renderer()->MarkLost();  // as a failed creation on the window thread leaves it
  EXPECT_FALSE(screen->DeviceReady());
  EXPECT_TRUE(screen->BeginScene());
  EXPECT_EQ(engine->renderersCreated, 2);
}

TEST_F(ScreenFixture, TargetStackKeepsTheBackBufferAtTheBottom) {
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  EXPECT_EQ(screen->TargetDepth(), 1u);
  TRenderTargetTexture rt(screen.get(), 100, 50, false);
  ASSERT_TRUE(screen->PushRenderTarget(&rt));
  EXPECT_EQ(screen->TargetRect(), (TRect{0, 0, 128, 64}));
  EXPECT_EQ(Renderer()->viewport, (TRect{0, 0, 100, 50}));
  EXPECT_FLOAT_EQ(screen->InvWidth(), 1.0f / 100);
  TRenderTargetTexture inner(screen.get(), 20, 10, false);
  ASSERT_TRUE(screen->PushRenderTarget(&inner));
  EXPECT_EQ(Renderer()->viewport, (TRect{0, 0, 20, 10}));
  screen->PopRenderTarget();  // back to the outer target's own viewport
  EXPECT_EQ(Renderer()->viewport, (TRect{0, 0, 100, 50}));
  screen->PopRenderTarget();
  EXPECT_EQ(Renderer()->target.Get(), nullptr);
  EXPECT_EQ(Renderer()->viewport, (TRect{0, 0, 640, 480}));
  EXPECT_THROW(screen->PopRenderTarget(), EAssertion);
}

TEST_F(ScreenFixture, CameraTransformsFollowTheTexelOffset) {
  engine->texelOffset = 0.5f;
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  screen->SetCamera(800, 600, 400, 300, 10, 20);
  const TMatrix4& w = screen->World();
  EXPECT_FLOAT_EQ(w.m[2][0], -2 * 0.5f / 400);
  EXPECT_FLOAT_EQ(w.m[3][0], -2 * 0.5f / 400);
  EXPECT_FLOAT_EQ(w.m[2][1], 2 * 0.5f / 300);
  EXPECT_FLOAT_EQ(w.m[3][2], 1);
  EXPECT_FLOAT_EQ(screen->View().m[2][0], 1 - (400 + 20) / 800.0f);
  EXPECT_FLOAT_EQ(screen->View().m[2][1], (300 + 40) / 600.0f - 1);
  const TMatrix4& p = screen->Projection();
  EXPECT_FLOAT_EQ(p.m[0][0], 2);
  EXPECT_FLOAT_EQ(p.m[1][1], 2);
  EXPECT_FLOAT_EQ(p.m[2][3], 1);
  EXPECT_FLOAT_EQ(p.m[3][3], 0);
  EXPECT_NEAR(p.m[3][2], -0.01, 1e-9);
  EXPECT_FLOAT_EQ(screen->CameraScaleX(), 0.5f);
  EXPECT_FLOAT_EQ(screen->CameraOffsetY(), 20);
}

TEST_F(ScreenFixture, CameraProjectsAndUnprojects) {
  screen->Attach(device.Get());
  ASSERT_TRUE(screen->BeginScene());
  screen->SetCamera(640, 480, 640, 480, 0, 0);
  float sx, sy;
  const float corner[3] = {-1, 1, 0};
  screen->Project(corner, sx, sy);
  EXPECT_NEAR(sx, 0, 1e-3);
  EXPECT_NEAR(sy, 0, 1e-3);
  const float far[3] = {1, -1, 1};  // at z = 1 the camera is twice as far
  screen->Project(far, sx, sy);
  EXPECT_NEAR(sx, 480, 1e-3);
  EXPECT_NEAR(sy, 360, 1e-3);
  // A view twice the target, shifted: points move by the offset.
  screen->SetCamera(1280, 960, 640, 480, 100, 50);
  const float origin[3] = {0, 0, 0};
  screen->Project(origin, sx, sy);
  EXPECT_NEAR(sx, 640 - 100, 1e-2);
  EXPECT_NEAR(sy, 480 - 50, 1e-2);
  float back[3];
  screen->Unproject(sx, sy, 0, back);
  EXPECT_NEAR(back[0], 0, 1e-4);
  EXPECT_NEAR(back[1], 0, 1e-4);
  const float bad[3] = {0, 0, -1};
  EXPECT_THROW(screen->Project(bad, sx, sy), EAssertion);
  EXPECT_THROW(screen->Unproject(0, 0, -1, back), EAssertion);
}

TEST(Quality, FromShaderVersionAndVendor) {
  EXPECT_EQ(QualityLevelFor(0x104, 0), 0);
  EXPECT_EQ(QualityLevelFor(0x200, 0x8086), 1);
  EXPECT_EQ(QualityLevelFor(0x300, 0x8086), 2);
  EXPECT_EQ(QualityLevelFor(0x200, 0x10DE), 2);
}

TEST(Pacing, SleepsUntilTheNextRefresh) {
  EXPECT_EQ(PacingSleepMs(60, 1000, 1005), 8);
  EXPECT_EQ(PacingSleepMs(60, 1000, 1020), 1);
  EXPECT_EQ(PacingSleepMs(0, 1000, 1005), 8);  // unknown rate counts as 60 Hz
  EXPECT_EQ(PacingSleepMs(100, 1000, 1000), 7);
  EXPECT_EQ(PacingSleepMs(60, 1000, 900), 13);  // clock went back: one period at most
}

}  // namespace
}  // namespace lum
