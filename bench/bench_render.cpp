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

#include "render/3d_screen.h"
#include "render/gl/3d_engine_gl.h"
#include "toolkit/window.h"

using namespace lum;

namespace {

constexpr int kW = 1920, kH = 1080;

double MsPerFrame(const std::function<void()>& frame, int frames) {
  frame();  // warm up
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < frames; ++i) frame();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() /
         frames;
}

// One program, one vertex array, one draw call per quad.
struct TBareLoop {
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
  GLuint program = 0, vao = 0, vbo = 0, fbo = 0, target = 0, texture = 0;

  bool Init(const std::vector<uint8_t>& pixels, int tw, int th) {
    window = SDL_CreateWindow("bare", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (!window) return false;
    context = SDL_GL_CreateContext(window);
    if (!context) return false;
    const char* vs =
        "#version 330 core\nlayout(location=0) in vec2 p; layout(location=1) in vec2 t;"
        "out vec2 uv; void main(){ uv = t; gl_Position = vec4(p, 0.0, 1.0); }";
    const char* fs =
        "#version 330 core\nin vec2 uv; uniform sampler2D s0; out vec4 o;"
        "void main(){ vec4 c = texture(s0, uv); o = vec4(c.rgb, c.a * 0.5); }";
    GLuint v = glCreateShader(GL_VERTEX_SHADER), f = glCreateShader(GL_FRAGMENT_SHADER);
    glShaderSource(v, 1, &vs, nullptr);
    glShaderSource(f, 1, &fs, nullptr);
    glCompileShader(v);
    glCompileShader(f);
    program = glCreateProgram();
    glAttachShader(program, v);
    glAttachShader(program, f);
    glLinkProgram(program);
    glUseProgram(program);
    const float su = static_cast<float>(kW) / tw, sv = static_cast<float>(kH) / th;
    const float quad[] = {-1, 1, 0, 0, 1, 1,  su, 0,  1,  -1, su, sv,
                          -1, 1, 0, 0, 1, -1, su, sv, -1, -1, 0,  sv};
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glGenBuffers(1, &vbo);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 16, nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 16, reinterpret_cast<void*>(8));
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, tw, th, 0, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
    glGenTextures(1, &target);
    glBindTexture(GL_TEXTURE_2D, target);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kW, kH, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glViewport(0, 0, kW, kH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  }
  void Frame(int k) {
    if (SDL_GL_GetCurrentContext() != context) SDL_GL_MakeCurrent(window, context);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    for (int i = 0; i < k; ++i) glDrawArrays(GL_TRIANGLES, 0, 6);
    glFinish();
  }
};

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
  T3DEngineGL::SetPacing(false);
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
