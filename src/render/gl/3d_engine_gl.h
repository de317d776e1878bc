#pragma once
// OpenGL 3.3 core back end of the drawing layer, through SDL2's GL context and
// libepoxy. One context per renderer (window); device creation runs on the
// window thread, and one process-wide lock serialises every device call.
#include <SDL.h>
#include <epoxy/gl.h>

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "render/3d_engine.h"
#include "render/draw_device.h"
#include "toolkit/window.h"

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
// A drawing thread lets go of whatever context it holds and of SDL's data
// for the thread; called before it ends or hands the drawing to another.
void ReleaseGLThreadContext();
// A thread that set up device objects for another lets go of the context
// it made current.
void ReleaseGLCurrentContext();

class T3DRendererGL;

// Common part of the GL device objects: their GL names go with the renderer.
class TGLResource {
 public:
  virtual ~TGLResource() = default;
  virtual T3DBackendObject* Object() = 0;
  // Deletes the GL names; the renderer's context is current.
  virtual void DeleteGL() = 0;
  T3DRendererGL* renderer = nullptr;

 protected:
  // Called by destructors: deletes the names unless the renderer did already.
  void Drop();
};

class T3DSurfaceGL : public T3DSurface, public TGLResource {
 public:
  // fbo 0 is the window's back buffer; texture 0 for it.
  T3DSurfaceGL(T3DRendererGL* r, GLuint texture, int width, int height, bool ownsFbo);
  // The surface deletes its texture too (the headless back buffer).
  bool ownsTexture = false;
  ~T3DSurfaceGL() override;
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  bool Lock(const TRect* rect, TBitmapBuffer& out) override;
  bool Unlock() override;
  bool CopyToBitmap(std::vector<uint8_t>& pixels) override;
  bool CopyFromBitmap(const TPixelView& view) override;
  T3DBackendObject* Object() override { return this; }
  void DeleteGL() override;

  // Whether this is the window's own surface (GL's bottom-up rows).
  bool IsBackBuffer() const { return texture_ == 0; }
  GLuint Fbo() const { return fbo_; }
  // Top-down rectangle to GL framebuffer coordinates (y0 ≤ y1 bottom-up for the back buffer).
  void ToGL(const TRect& r, int& x0, int& y0, int& x1, int& y1) const;
  bool premultipliedTarget = false;

 private:
  bool ReadRect(const TRect& r, std::vector<uint8_t>& pixels);
  GLuint texture_;
  GLuint fbo_ = 0;
  int width_, height_;
  std::vector<uint8_t> lockBuffer_;
  TRect lockRect_;
  bool locked_ = false;
};

class T3DTextureGL : public T3DTexture, public TGLResource {
 public:
  T3DTextureGL(T3DRendererGL* r, int kind, int width, int height, int depth, int levels);
  ~T3DTextureGL() override;
  int Kind() const override { return kind_; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int Depth() const override { return depth_; }
  int LevelCount() const override { return levels_; }
  bool LockLevel(int level, TBitmapBuffer& out) override;
  bool UnlockLevel(int level) override;
  TRef<T3DSurface> Surface(int level) override;
  bool WritePixels(const TPixelView& view) override;
  T3DBackendObject* Object() override { return this; }
  void DeleteGL() override;

  GLuint Name() const { return name_; }
  GLenum Target() const { return depth_ > 1 || volume_ ? GL_TEXTURE_3D : GL_TEXTURE_2D; }
  bool Create();
  // Applies the sampling fields (cached, so unchanged states cost nothing).
  void ApplySampling(bool mipAllowed, float maxAnisotropy, bool lodBiasSupported);
  void ApplyPlainSampling();
  bool volume_ = false;

 private:
  int kind_, width_, height_, depth_, levels_;
  GLuint name_ = 0;
  std::vector<std::vector<uint8_t>> staging_;
  TRef<T3DSurfaceGL> surface_;
  // Sampling state now on the GL texture.
  int appliedFilter_ = -1;
  GLint appliedU_ = -1, appliedV_ = -1;
  float appliedBias_ = 0, appliedAniso_ = 0;
};

class T3DVertexListGL : public T3DVertexList, public TGLResource {
 public:
  T3DVertexListGL(T3DRendererGL* r, int capacity, uint32_t flags, int pairs);
  ~T3DVertexListGL() override;
  int Capacity() const override { return capacity_; }
  uint32_t Flags() const override { return flags_; }
  int TexturePairs() const override { return pairs_; }
  uint8_t* Lock(int count) override;
  bool Unlock() override;
  T3DBackendObject* Object() override { return this; }
  void DeleteGL() override;
  bool Create();
  GLuint Vao() const { return vao_; }

 private:
  int capacity_;
  uint32_t flags_;
  int pairs_;
  GLuint vbo_ = 0, vao_ = 0;
  std::vector<uint8_t> staging_;
  int lockCount_ = 0;
};

class T3DShaderGL : public T3DShader, public TGLResource {
 public:
  T3DShaderGL(T3DRendererGL* r, GLuint program, int kind) : program_(program), kind_(kind) {
    renderer = r;
  }
  ~T3DShaderGL() override;
  int Kind() const override { return kind_; }
  T3DBackendObject* Object() override { return this; }
  void DeleteGL() override;
  GLuint Program() const { return program_; }
  GLint constantsLocation = -1;
  GLint matrixLocation = -1, flipLocation = -1;

 private:
  GLuint program_;
  int kind_;
};

class T3DRendererGL : public T3DRenderer {
 public:
  T3DRendererGL(TRef<T3DEngineGL> engine, TDrawDevice* device, const TDisplayMode& mode);
  ~T3DRendererGL() override;

  // Builds the context on the window's surface; on the window thread.
  bool CreateDevice();
  // Marks a renderer created off the window thread.
  void SetPending() { state_ = TRendererState::CreationPending; }

  void SetPanelBounds(const TRect& r) override;
  bool BeginScene() override;
  bool EndScene() override;
  bool Present(const TRect* source, const TRect* dest) override;
  bool Clear(const TRect* rects, int count, uint32_t what, TColor color, float z) override;
  void SetDefaultStates() override;
  bool SetRenderTarget(T3DSurface* surface) override;
  TRef<T3DSurface> RenderTarget() override;
  TRef<T3DSurface> BackBuffer() override;
  bool SetViewport(const TRect& r, float minZ, float maxZ) override;
  void SetClip(const TRect* r) override;
  bool DrawVertexList(T3DTexture* const* textures, int primitiveCount, uint32_t drawFlags,
                      T3DVertexList* list, int textureCount, TPrimitive primitive) override;
  bool SetTexture(int stage, T3DTexture* texture) override;
  TRef<T3DTexture> CreateTexture(int kind, int width, bool mipMaps, int height) override;
  TRef<T3DTexture> CreateVolumeTexture(int width, int height, int depth) override;
  TRef<T3DVertexList> CreateVertexList(int count, uint32_t flags, int texturePairs) override;
  TRef<T3DReadback> CreateReadback(int width, int height, int slots) override;
  bool StretchRect(T3DSurface* source, const TRect* sourceRect, T3DSurface* dest,
                   const TRect* destRect) override;
  void SetBlendMode(TBlendMode mode) override { blendMode_ = mode; }
  void SetTransform(TTransformKind kind, const TMatrix4& m) override;
  void SetCullMode(TCullMode mode) override;
  void TexelOffset(float& x, float& y) const override { x = y = 0; }
  TRef<T3DShader> CreateShader(std::string_view code, int kind) override;
  bool SetShader(T3DShader* shader) override;
  bool SetShaderConstants(int first, const float* values, int count, bool pixel) override;
  void ForgetDevice() override;

  // Test hook: the next device call reports the device lost.
  void DeclareLost() { declaredLost_ = true; }
  int RefreshRate() const { return refreshRate_; }
  // Window thread check of the device; makes the context current on this thread.
  bool MakeCurrent();
  void AddResource(TGLResource* r) { resources_.push_back(r); }
  void RemoveResource(TGLResource* r);
  // GL error (or declared loss) to result code; logs and handles loss.
  bool Check();
  T3DEngineGL* Engine() const { return engine_.Get(); }
  int Height() const { return backHeight_; }
  const TGLCaps& Caps() const { return engine_->Caps(); }

 private:
  struct TFixedProgram {
    GLuint program = 0;
    GLint matrix = -1, flip = -1;
  };
  // Made on first use; null when the program does not build.
  const TFixedProgram* Fixed(int colorOp, int alphaOp, std::string* log);
  void HandleLost();
  void ReleaseResources();
  void DestroyContext();
  GLuint LinkProgram(const std::string& fragmentSource, std::string* log);
  void UseProgram(GLuint program, T3DShaderGL* shader, const TFixedProgram* fixed);
  void ApplyTargetState();

 public:
  // Re-applies viewport, clip and orientation of the current target.
  void ApplyTargetStateAfterBind();

 private:
  void ApplyBlend(bool premulSource);

  TRef<T3DEngineGL> engine_;
  SDL_Window* window_ = nullptr;
  SDL_GLContext context_ = nullptr;
  int refreshRate_;
  int backWidth_ = 0, backHeight_ = 0;
  std::vector<TGLResource*> resources_;
  TRef<T3DSurfaceGL> backBuffer_;
  TRef<T3DSurfaceGL> target_;  // null = back buffer
  std::atomic<bool> declaredLost_{false};  // set by tests from any thread
  bool headless_ = false;  // no window surface to show: the back buffer is a framebuffer object
  bool debugCallback_ = false;  // the driver reports our errors itself
  double lastPresent_ = 0;

  TFixedProgram fixed_[4][4];
  GLuint currentProgram_ = 0;
  T3DShaderGL* shader_ = nullptr;
  TRef<T3DShader> shaderRef_;
  GLuint boundVao_ = 0;
  std::array<float, 4 * 32> constants_{};
  bool constantsDirty_ = true;
  GLuint constantsProgram_ = 0;
  TMatrix4 world_, view_, projection_;
  bool matrixDirty_ = true;
  GLuint matrixProgram_ = 0;
  float matrix_[16] = {};
  TBlendMode blendMode_ = TBlendMode::Normal;
  TCullMode cull_ = TCullMode::None;
  TRect viewport_;
  bool clipOn_ = false;
  TRect clip_;
  float flip_ = 0;
};

}  // namespace lum
