// Drawing speed of the screen's vertex batches against a bare GL loop, side
// by side in one run: K = 1, 2, 4 full-screen textured blended quads per
// frame at 1920 × 1080. Both draw into a framebuffer of that size on their
// own context and finish each frame before the clock stops.
#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "bare_gl_loop.h"
#include "render/3d_screen.h"
#include "render/gl/gl_renderer.h"
#include "render/window_draw_device.h"
#include "toolkit/window.h"

using namespace lum;
using lum::bench::TBareLoop;

namespace {

constexpr int kW = 1920, kH = 1080;

double MsPerFrame(const std::function<void()>& frame, int frames) {
  frame();  // warm up
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < frames; ++i) frame();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() /
         frames;
}


}  // namespace

int main() {
  std::string error;
  if (!TWindowThread::Init(&error)) {
    std::printf("bench_render: no display (%s)\n", error.c_str());
    return 1;
  }
  auto engine = MakeRef<T3DEngineGL>();
  if (!engine->DeviceReady()) {
    std::printf("bench_render: %s\n", engine->InitFailure().c_str());
    return 1;
  }
  SetGLPacing(false);
  std::printf("renderer: %s\n", engine->CapabilityText("vendor", 0).c_str());

  TWindowOptions o;
  o.width = kW;
  o.height = kH;
  o.hidden = true;
  TWindow window(o);
  auto device = MakeRef<TWindowDrawDevice>(window.Handle());
  T3DScreen screen{TRef<T3DEngine>(engine)};
  screen.Attach(device.Get());

  // A picture of the frame's size (the texture rounds up to 2048 × 2048).
  std::vector<uint8_t> pixels(static_cast<size_t>(kW) * kH * 4);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint8_t* p = &pixels[(static_cast<size_t>(y) * kW + x) * 4];
      p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(y),
      p[2] = static_cast<uint8_t>(x ^ y);
      p[3] = 255;
    }
  TRGBATexture tex(&screen, kW, kH);
  tex.SetPixels({pixels.data(), kW, kH, kW * 4, TSurfaceFormat::BGRA8});

  std::vector<uint8_t> padded(static_cast<size_t>(tex.TextureWidth()) * tex.TextureHeight() * 4, 0);
  for (int y = 0; y < kH; ++y)
    std::copy_n(&pixels[static_cast<size_t>(y) * kW * 4], kW * 4,
                &padded[static_cast<size_t>(y) * tex.TextureWidth() * 4]);
  TBareLoop bare;
  if (!bare.Init(padded, tex.TextureWidth(), tex.TextureHeight())) {
    std::printf("bench_render: bare loop setup failed\n");
    return 1;
  }

  auto screenFrame = [&](int k) {
    if (!screen.BeginScene()) return;
    screen.Clear(0xFF000000);
    const float u = kW * tex.ScaleX(), v = kH * tex.ScaleY();
    auto vert = [&](float x, float y, float tu, float tv) {
      TVertex r;
      r.x = x, r.y = y, r.color = 0x80FFFFFF;
      r.uv[0][0] = tu, r.uv[0][1] = tv;
      return r;
    };
    for (int i = 0; i < k; ++i) {
      screen.Batch().Begin({&tex});
      screen.Batch().AddQuad(vert(-1, 1, 0, 0), vert(1, 1, u, 0), vert(1, -1, u, v),
                             vert(-1, -1, 0, v));
    }
    screen.EndScene();
    glFinish();  // the screen's context is current on this thread now
  };

  const int frames = 6;
  bool ok = true;
  for (int k : {1, 2, 4}) {
    double mine = 1e30, ref = 1e30;
    for (int round = 0; round < 7; ++round) {
      ref = std::min(ref, MsPerFrame([&] { bare.Frame(k); }, frames));
      mine = std::min(mine, MsPerFrame([&] { screenFrame(k); }, frames));
    }
    const double ratio = mine / ref;
    ok = ok && ratio <= 1.15;
    std::printf("K=%d  screen batches %.2f ms/frame  bare GL %.2f ms/frame  ratio %.3f %s\n", k,
                mine, ref, ratio, ratio <= 1.15 ? "(ok)" : "(over 1.15)");
  }
  return ok ? 0 : 2;
}
