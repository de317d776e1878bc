// Linked into every test program that draws in its own process: an OpenGL
// error or high-severity message the driver reports (LUM_GL_DEBUG=1, set for
// every test) fails the test that was running when it came.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "render/device_failures.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
// The GL driver unloads its DRI module and its EGL front when the last
// display goes; what they still hold then shows as leaks from an unnamed
// module that no suppression can match. Kept loaded, it is the driver's.
[[maybe_unused]] const bool gDriverPinned = [] {
  dlopen("libEGL_mesa.so.0", RTLD_NOW | RTLD_NODELETE);
  std::string folders =
      "/usr/lib/x86_64-linux-gnu/dri:/usr/lib/aarch64-linux-gnu/dri:/usr/lib64/dri:/usr/lib/dri";
  if (const char* own = std::getenv("LIBGL_DRIVERS_PATH"))
    folders = std::string(own) + ":" + folders;
  size_t start = 0;
  while (start <= folders.size()) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    const std::string module = folders.substr(start, end - start) + "/swrast_dri.so";
    if (dlopen(module.c_str(), RTLD_NOW | RTLD_NODELETE)) return true;
    start = end + 1;
  }
  return false;
}();
#endif

class TGLFailures : public ::testing::Environment {
 public:
  void SetUp() override {
    lum::SetDeviceFailureHandler([](const std::string& text) { ADD_FAILURE() << "OpenGL: " << text; });
  }
  void TearDown() override { lum::SetDeviceFailureHandler(nullptr); }
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new TGLFailures);

}  // namespace
