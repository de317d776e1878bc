#pragma once
// A hidden window with an OpenGL device under the offscreen driver, shared by
// the suites that draw on the real back end; they skip without a display.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <functional>

#include "render/3d_drawer.h"
#include "render/gl/3d_engine_gl.h"
#include "toolkit/window.h"

namespace lum::test {

class THeadlessGL : public ::testing::Test {
 protected:
  static inline TRef<T3DEngineGL> engine;
  static inline std::string skip;

  static void SetUpTestSuite() {
    std::string error;
    if (!TWindowThread::Init(&error)) {
      skip = "no display: " + error;
      return;
    }
    engine = MakeRef<T3DEngineGL>();
    if (!engine->DeviceReady()) skip = "no OpenGL 3.3 context: " + engine->InitFailure();
    T3DEngineGL::SetPacing(false);
  }
  static void TearDownTestSuite() { engine = nullptr; }

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

}  // namespace lum::test
