#pragma once
// OpenGL 3.3 core back end of the drawing layer, through SDL2's GL context and
// libepoxy. One context per renderer (window); device creation runs on the
// window thread, and one process-wide lock serialises every device call.
#include <mutex>
#include <string>
#include <vector>

#include "render/3d_engine.h"

namespace lum {

// Serialises every call into any GL context of the process.
std::recursive_mutex& DeviceLock();

struct TGLCaps {
  int glMajor = 0, glMinor = 0;
  int glslVersion = 0;  // 330 for "3.30"
  int maxTextureSize = 0, max3DTextureSize = 0;
  float maxAnisotropy = 1, driverMaxAnisotropy = 1;
  bool anisotropy = false;
  bool lodBias = true;
  bool coreProfile = false, forwardCompatible = false, debugContext = false;
  bool khrDebug = false;
  int pixelShaderVersion = 0;  // major << 8 | minor of the equivalent shader model
  int vendorId = 0;
  std::string vendor, renderer, version, shadingLanguage;
};

// What drawing needs of a driver, in the words of the messages.
inline constexpr const char* kGLRequirement =
    "OpenGL 3.3 (core profile) with GLSL 3.30, 3-D textures, R8 textures and framebuffer objects";

// Raster capability bits answered for "raster".
inline constexpr int64_t kRasterAnisotropy = 0x00020000, kRasterMipLodBias = 0x00002000;

class T3DEngineGL : public T3DEngine {
 public:
  // Probes GL with a hidden window (once a process; later engines reuse what
  // it found); must run on the window thread. The engine stays usable
  // (device never ready) where GL is missing or lacks what we draw with;
  // InitFailure says why in one line, Shortfall for a message box.
  T3DEngineGL();

  int AdapterForRect(const TRect& r) override;
  int64_t CapabilityValue(std::string_view key, int adapter) override;
  std::string CapabilityText(std::string_view key, int adapter) override;
  bool DisplayMode(int adapter, TDisplayMode& mode) override;
  TRef<T3DRenderer> CreateRenderer(TDrawDevice* device, const TDisplayMode& mode) override;
  bool DeviceReady() override { return ready_; }
  int QualityLevel(int adapter) override;
  std::string InitFailure() const override { return failure_; }

  std::string Shortfall() const override;
  std::vector<std::string> InfoLines() const override;
  void SetPacing(bool on) override;
  void ReleaseThreadContext() override;
  void ReleaseCurrentContext() override;

  const TGLCaps& Caps() const { return caps_; }

 private:
  bool ready_ = false;
  std::string failure_;
  std::string lack_;  // what the driver here does not offer
  TGLCaps caps_;
};

// Present waits for the display refresh; off for measurements.
void SetGLPacing(bool on);
bool GLPacing();
// Draw into the window's own surface even under the offscreen driver
// (which otherwise gets a framebuffer object of the client size).
void SetGLForceWindowSurface(bool on);
bool GLForceWindowSurface();
// A drawing thread lets go of whatever context it holds and of SDL's data
// for the thread; called before it ends or hands the drawing to another.
void ReleaseGLThreadContext();
// A thread that set up device objects for another lets go of the context
// it made current.
void ReleaseGLCurrentContext();

}  // namespace lum
