#pragma once
// The device-independent screen of a window: it owns the renderer, survives
// its loss, and rebuilds it at the next begin scene. Used from the engine
// thread only, under the slide drawer's lock.
#include <functional>
#include <string>
#include <vector>

#include "render/3d_engine.h"
#include "render/custom_texture.h"
#include "render/draw_device.h"

namespace lum {

class T3DScreen;

struct TVertex {
  float x = 0, y = 0, z = 0;
  TColor color = 0xFFFFFFFF;
  float uv[3][2] = {};
};

// Growing list of vertices drawn through the renderer's vertex lists; keeps
// its content across device loss and rebuilds the back-end list when needed.
class TVertexBuffer : public TScreenResource {
 public:
  explicit TVertexBuffer(T3DScreen* screen);

  // Starts a batch (flushing any pending one) drawing with count of textures.
  void Begin(const std::vector<TCustomTexture*>& textures, int count);
  void Begin(const std::vector<TCustomTexture*>& textures) {
    Begin(textures, static_cast<int>(textures.size()));
  }
  void AddTriangle(const TVertex& a, const TVertex& b, const TVertex& c);
  // Two triangles: a b c, a c d.
  void AddQuad(const TVertex& a, const TVertex& b, const TVertex& c, const TVertex& d);
  // Draws what was added; false when nothing could be drawn.
  bool Flush();
  // Makes sure the back-end list holds vertices with this many coordinate pairs.
  void EnsureRoom(int vertices, int texturePairs);
  int Pending() const { return static_cast<int>(vertices_.size()); }
  void ReleaseBackEnd() override;
  bool HasBackEnd() const { return static_cast<bool>(list_); }

 private:
  bool MakeList(int vertices, int pairs);

  std::vector<TCustomTexture*> textures_;
  std::vector<TVertex> vertices_;
  TRef<T3DVertexList> list_;
  int capacity_ = 0;
};

// A shader kept as its code; the back-end shader is recreated when missing.
class TShader : public TScreenResource {
 public:
  TShader(T3DScreen* screen, std::string code, int kind = 0);
  const std::string& Code() const { return code_; }
  int Kind() const { return kind_; }
  T3DShader* BackEnd();
  bool HasBackEnd() const { return static_cast<bool>(backEnd_); }
  void ReleaseBackEnd() override;

 private:
  std::string code_;
  int kind_;
  TRef<T3DShader> backEnd_;
};

// A render target on the target stack.
class TRenderTargetWrapper : public TRefObject {
 public:
  TRenderTargetWrapper(TRef<T3DSurface> surface, int offsetX, int offsetY)
      : surface(std::move(surface)), offsetX(offsetX), offsetY(offsetY) {}
  TRef<T3DSurface> surface;
  int offsetX, offsetY;
  TRect savedViewport;  // the viewport before the push, restored by the pop
};

// Tells the screen to forget the draw device when the device goes away.
class TDeviceKilledMessenger : public TDrawDeviceAttachment {
 public:
  explicit TDeviceKilledMessenger(T3DScreen* screen) : screen(screen) {}
  void DeviceClosing(TDrawDevice* device) override;
  T3DScreen* screen;
};

// Per-window record: the rectangle to restore after exclusive mode, and
// whether exclusive mode failed (the next renderer is then windowed).
class TRectangleWrapper : public TDrawDeviceAttachment {
 public:
  TRect restoreRect;
  bool exclusiveFailed = false;
};

class T3DScreen {
 public:
  explicit T3DScreen(TRef<T3DEngine> engine);
  ~T3DScreen();
  T3DScreen(const T3DScreen&) = delete;
  T3DScreen& operator=(const T3DScreen&) = delete;

  T3DEngine* Engine() const { return engine_.Get(); }
  T3DRenderer* Renderer() const { return renderer_.Get(); }
  TDrawDevice* Device() const { return device_; }
  // The rectangle the renderer was built for.
  const TRect& Rect() const { return rect_; }

  // Takes the device's rectangle; builds a new renderer when the device,
  // full-screen flag or rectangle changed.
  void Attach(TDrawDevice* device);
  void ForgetDevice();

  bool BeginScene();
  bool EndScene();
  bool Present();
  bool DeviceReady() const;

  bool Clear(TColor color, bool depth = false);
  bool ClearRects(const std::vector<TRect>& rects, TColor color);

  // Sets 1/width, 1/height and a camera covering the viewport.
  void SetViewport(const TRect& r, float minZ = 0, float maxZ = 1);
  const TRect& Viewport() const { return viewport_; }
  void SetClip(const TRect& r);
  const TRect& Clip() const { return clip_; }
  float InvWidth() const { return invWidth_; }
  float InvHeight() const { return invHeight_; }

  // Render-target stack; push makes the target current with a full viewport.
  bool PushRenderTarget(TRenderTargetTexture* target, int offsetX = 0, int offsetY = 0);
  void PopRenderTarget();
  size_t TargetDepth() const { return targets_.size(); }
  TRect TargetRect() const;

  // Camera: view size, target size (pixels) and offset.
  void SetCamera(float viewWidth, float viewHeight, float targetWidth, float targetHeight,
                 float offsetX, float offsetY);
  float CameraOffsetX() const { return camOffsetX_; }
  float CameraOffsetY() const { return camOffsetY_; }
  float CameraScaleX() const { return camScaleX_; }
  float CameraScaleY() const { return camScaleY_; }
  const TMatrix4& World() const { return world_; }
  const TMatrix4& View() const { return view_; }
  const TMatrix4& Projection() const { return projection_; }
  // 3D point to target pixels; the camera's Z (z + 1) must not be 0.
  void Project(const float p[3], float& sx, float& sy) const;
  // Target pixels at depth z back to the 3D point.
  void Unproject(float sx, float sy, float z, float p[3]) const;

  TVertexBuffer& Batch() { return *batch_; }
  void SetBlendMode(TBlendMode mode);
  bool SetShader(TShader* shader);
  bool SetShaderConstants(int first, const float* values, int count);
  // The current target read back as BGRA8 rows, top first.
  bool ReadTarget(std::vector<uint8_t>& pixels, int& width, int& height);
  // The current target with everything drawn so far sent to it; null when
  // the device is not ready.
  TRef<T3DSurface> TargetSurface();

  // Called after a lost renderer was released.
  std::function<void()> onLost;

  void Register(TScreenResource* r) { resources_.push_back(r); }
  void Unregister(TScreenResource* r);
  const std::vector<TScreenResource*>& Resources() const { return resources_; }
  // Releases the back ends of every resource.
  void ReleaseResources();
  // The renderer reported itself lost.
  void RendererLost();

 private:
  TRect DeviceRect() const;
  void CreateRenderer();
  void FreeRenderer();

  TRef<T3DEngine> engine_;
  TDrawDevice* device_ = nullptr;
  TRef<TDeviceKilledMessenger> messenger_;
  TRect rect_;
  bool fullScreen_ = false;
  void* handle_ = nullptr;
  TRef<T3DRenderer> renderer_;
  TRef<T3DRenderer> deadRenderer_;  // lost inside one of its calls
  std::vector<TRef<TRenderTargetWrapper>> targets_;
  std::vector<TScreenResource*> resources_;
  TRef<TVertexBuffer> batch_;
  float invWidth_ = 1, invHeight_ = 1;
  TRect viewport_, clip_;
  float camOffsetX_ = 0, camOffsetY_ = 0, camScaleX_ = 1, camScaleY_ = 1;
  float viewWidth_ = 1, viewHeight_ = 1, targetWidth_ = 1, targetHeight_ = 1;
  TMatrix4 world_ = TMatrix4::Identity(), view_ = TMatrix4::Identity(),
           projection_ = TMatrix4::Identity();
  bool shadersRestored_ = false;
  bool inScene_ = false;
};

}  // namespace lum
