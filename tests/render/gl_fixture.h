#pragma once
// A hidden window with an OpenGL device under the offscreen driver, shared by
// the suites that draw on the real back end. They skip only when the machine
// has no display or no OpenGL 3.3 (asked of SDL directly); where it has both,
// a device the engine cannot make fails every test of the suite.
#include <SDL.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <functional>

#include "render/3d_drawer.h"
#include "render/gl/gl_renderer.h"
#include "render/window_draw_device.h"
#include "render/device_failures.h"
#include "toolkit/window.h"

namespace lum::test {

// What the machine lacks for OpenGL 3.3 core drawing; "" when it has it.
inline std::string MissingGL33() {
  if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
    return std::string("no display: ") + SDL_GetError();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  std::string missing;
  SDL_Window* w = SDL_CreateWindow("probe", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  SDL_GLContext c = w ? SDL_GL_CreateContext(w) : nullptr;
  if (!c) missing = std::string("no OpenGL 3.3 context: ") + SDL_GetError();
  if (c) SDL_GL_DeleteContext(c);
  if (w) SDL_DestroyWindow(w);
  SDL_GL_ResetAttributes();
  return missing;
}

class THeadlessGL : public ::testing::Test {
 protected:
  static inline TRef<T3DEngineGL> engine;
  static inline std::string skip;     // what the machine lacks
  static inline std::string failure;  // what the engine could not do

  static void SetUpTestSuite() {
    skip = MissingGL33();
    if (!skip.empty()) return;
    std::string error;
    if (!TWindowThread::Init(&error)) {
      failure = "the window thread did not start: " + error;
      return;
    }
    engine = MakeRef<T3DEngineGL>();
    if (!engine->DeviceReady()) failure = "no OpenGL device: " + engine->InitFailure();
    SetGLPacing(false);
  }
  static void TearDownTestSuite() { engine = nullptr; }

  // Suites call this first and return when the test skipped or failed.
  void SetUp() override {
    if (!skip.empty()) GTEST_SKIP() << skip;
    ASSERT_TRUE(failure.empty()) << failure;
  }

  // A hidden size x size window and its draw device.
  void OpenWindow(int size) {
    TWindowOptions o;
    o.width = size;
    o.height = size;
    o.hidden = true;
    window = std::make_unique<TWindow>(o);
    device = MakeRef<TWindowDrawDevice>(window->Handle());
    device->Follow(*window);
  }
  void CloseWindow() {
    if (device) device->Close();
    device = nullptr;
    window.reset();
  }

  std::unique_ptr<TWindow> window;
  TRef<TWindowDrawDevice> device;
};

// While it lives, OpenGL failures the driver reports (or polling finds) are
// collected here instead of failing the test: for tests that provoke them on
// purpose. The process count is set back when it ends.
class TCaughtGLFailures {
 public:
  TCaughtGLFailures()
      : before_(DeviceFailureCount()),
        previous_(SetDeviceFailureHandler([this](const std::string& t) { texts.push_back(t); })) {}
  ~TCaughtGLFailures() {
    SetDeviceFailureHandler(previous_);
    ResetDeviceFailures(before_);
  }
  TCaughtGLFailures(const TCaughtGLFailures&) = delete;
  TCaughtGLFailures& operator=(const TCaughtGLFailures&) = delete;

  // Failures counted since it began.
  int64_t Count() const { return DeviceFailureCount() - before_; }

  std::vector<std::string> texts;

 private:
  int64_t before_;
  TDeviceFailureHandler previous_;
};

}  // namespace lum::test
