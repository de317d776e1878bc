#pragma once
// The renderer of the GL back end: one context per window, the program cache
// and the state it applies before each draw.
#include <SDL.h>
#include <epoxy/gl.h>

#include <array>
#include <atomic>
#include <string>
#include <vector>

#include "render/gl/3d_engine_gl.h"
#include "render/gl/gl_resources.h"

namespace lum {

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
  // Large picture textures let go are kept a few seconds as spares for a
  // picture of the same size: a software device spends most of a frame on
  // a new texture's storage. Both are called with the device lock held.
  // The name of a spare of these measures (0 when none), and its bytes.
  GLuint TakeSpareTexture(int kind, int width, int height, int levels, int64_t* bytes);
  // Keeps the texture as a spare (the one kept before is deleted);
  // false when it is not worth keeping, and the caller deletes it.
  bool KeepSpareTexture(GLuint name, int kind, int width, int height, int levels, int64_t bytes);
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
  // Deletes the spares kept since before `before` (ms); the context is current.
  void DropSpareTextures(double before);
  struct TSpareTexture;
  void DeleteSpare(const TSpareTexture& spare);
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
  struct TSpareTexture {  // guarded by the device lock
    GLuint name;
    int kind, width, height, levels;
    int64_t bytes;
    double since;
  };
  std::vector<TSpareTexture> spares_;
  TRef<T3DSurfaceGL> backBuffer_;
  TRef<T3DSurfaceGL> target_;              // null = back buffer
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
