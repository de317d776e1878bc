#pragma once
// Abstract back end of the drawing layer: one engine per process, one
// renderer per window, and the device objects a renderer creates. A back-end
// object may vanish whenever its device is lost; its owner installs a lost
// callback that the back end calls when it releases the object.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/ref_object.h"
#include "render/3d_types.h"

namespace lum {

class TDrawDevice;

class T3DBackendObject : public TRefObject {
 public:
  void* owner = nullptr;
  std::function<void()> onLost;
  // The back end has released the device object; tells the owner once.
  void NotifyLost() {
    auto callback = std::move(onLost);
    onLost = nullptr;
    if (callback) callback();
  }
  bool Released() const { return released_; }

 protected:
  bool released_ = false;
};

class T3DSurface : public T3DBackendObject {
 public:
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Copies a rectangle (null = whole) out for CPU access; Unlock writes it back.
  virtual bool Lock(const TRect* rect, TBitmapBuffer& out) = 0;
  virtual bool Unlock() = 0;
  // Whole surface as BGRA8 rows, top first.
  virtual bool CopyToBitmap(std::vector<uint8_t>& pixels) = 0;
  virtual bool CopyFromBitmap(const TPixelView& view) = 0;
};

class T3DTexture : public T3DBackendObject {
 public:
  virtual int Kind() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual int Depth() const { return 1; }
  virtual int LevelCount() const = 0;
  // CPU access to one level (for volumes: depth slices one after another).
  virtual bool LockLevel(int level, TBitmapBuffer& out) = 0;
  virtual bool UnlockLevel(int level) = 0;
  // The surface of a level (render targets: what the target stack draws into).
  virtual TRef<T3DSurface> Surface(int level) = 0;
  // Writes rows [first, first + count) of the view into the top-left area of
  // level 0 (BGRA8, kind 0); the band holding the view's last row also
  // rebuilds the smaller levels. False where the back end cannot, and the
  // caller fills the levels through LockLevel instead.
  virtual bool WritePixelRows(const TPixelView& /*view*/, int /*first*/, int /*count*/) {
    return false;
  }
  bool WritePixels(const TPixelView& view) { return WritePixelRows(view, 0, view.height); }

  // Sampling, set by the front end before each draw.
  bool premultiplied = false;
  bool nearest = false;
  bool useMipMaps = true;
  float lodBias = 0;
  TTextureAddress addressU = TTextureAddress::Clamp;
  TTextureAddress addressV = TTextureAddress::Clamp;
};

class T3DVertexList : public T3DBackendObject {
 public:
  virtual int Capacity() const = 0;  // vertices
  virtual uint32_t Flags() const = 0;
  virtual int TexturePairs() const = 0;
  int Stride() const;
  // Write access to the first count vertices; Unlock uploads them.
  virtual uint8_t* Lock(int count) = 0;
  virtual bool Unlock() = 0;
};

// Frame pixels lent by a read-back: BGRA8, row y at Top() + y * pitch. The
// pitch is negative where the surface keeps its rows bottom up.
struct TFrameRows {
  const uint8_t* top = nullptr;
  int width = 0, height = 0;
  ptrdiff_t pitch = 0;
  const uint8_t* Row(int y) const { return top + ptrdiff_t(y) * pitch; }
};

// A small ring of read-back buffers the device fills while the CPU goes on:
// a copy of a finished frame is started into a slot and mapped later, so it
// runs while the next frame is drawn. Buffers are made once and reused, never
// cleared. Mapped pixels are lent out (to another thread, say) until Return;
// a slot is not read into again, nor the ring released, before that.
class T3DReadback : public T3DBackendObject {
 public:
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual int Slots() const = 0;
  // Starts copying the top-left Width() x Height() pixels of source into
  // slot; waits while the slot is lent. False when the device refused.
  virtual bool Start(int slot, T3DSurface& source) = 0;
  // Waits for the slot's copy and lends its pixels; false on failure.
  virtual bool Map(int slot, TFrameRows& rows) = 0;
  // Any thread: the lent pixels of slot are no longer used.
  void Return(int slot);
  // Blocks until slot (-1: every slot) is returned.
  void WaitReturned(int slot);

 protected:
  void Lend(int slot);
  bool Lent(int slot);

 private:
  std::mutex lentLock_;
  std::condition_variable returned_;
  uint64_t lent_ = 0;  // one bit per slot
};

class T3DShader : public T3DBackendObject {
 public:
  virtual int Kind() const = 0;  // 0 pixel, 1 vertex
};

class T3DRenderer : public TRefObject {
 public:
  explicit T3DRenderer(TDrawDevice* device) : device_(device) {}

  TDrawDevice* Device() const { return device_; }
  TRendererState State() const { return state_.load(); }
  int LastResult() const { return lastResult_; }
  // Called after the renderer was lost and released its device objects.
  std::function<void()> onLost;

  virtual void SetPanelBounds(const TRect& r) = 0;
  virtual bool BeginScene() = 0;
  virtual bool EndScene() = 0;
  virtual bool Present(const TRect* source, const TRect* dest) = 0;
  virtual bool Clear(const TRect* rects, int count, uint32_t what, TColor color, float z) = 0;
  virtual void SetDefaultStates() = 0;
  // Null = the back buffer.
  virtual bool SetRenderTarget(T3DSurface* surface) = 0;
  virtual TRef<T3DSurface> RenderTarget() = 0;
  virtual TRef<T3DSurface> BackBuffer() = 0;
  virtual bool SetViewport(const TRect& r, float minZ, float maxZ) = 0;
  // Null = no clipping beyond the viewport.
  virtual void SetClip(const TRect* r) = 0;
  virtual bool DrawVertexList(T3DTexture* const* textures, int primitiveCount, uint32_t drawFlags,
                              T3DVertexList* list, int textureCount,
                              TPrimitive primitive = TPrimitive::TriangleList) = 0;
  // Binds a texture with clamped bilinear sampling (for shader draws).
  virtual bool SetTexture(int stage, T3DTexture* texture) = 0;
  virtual TRef<T3DTexture> CreateTexture(int kind, int width, bool mipMaps, int height) = 0;
  virtual TRef<T3DTexture> CreateVolumeTexture(int width, int height, int depth) = 0;
  virtual TRef<T3DVertexList> CreateVertexList(int count, uint32_t flags, int texturePairs) = 0;
  virtual bool StretchRect(T3DSurface* source, const TRect* sourceRect, T3DSurface* dest,
                           const TRect* destRect) = 0;
  virtual void SetBlendMode(TBlendMode mode) = 0;
  virtual void SetTransform(TTransformKind kind, const TMatrix4& m) = 0;
  virtual void SetCullMode(TCullMode mode) = 0;
  virtual void TexelOffset(float& x, float& y) const = 0;
  virtual TRef<T3DShader> CreateShader(std::string_view code, int kind) = 0;
  // Null = the fixed pipeline.
  virtual bool SetShader(T3DShader* shader) = 0;
  virtual bool SetShaderConstants(int first, const float* values, int count, bool pixel) = 0;

  // A read-back ring for frames of width x height; null where the back end
  // has none (callers read through the surface's CopyToBitmap instead).
  virtual TRef<T3DReadback> CreateReadback(int /*width*/, int /*height*/, int /*slots*/) {
    return nullptr;
  }

  // The draw device's geometry or mode changed.
  virtual void DeviceChanged() {}
  // The draw device is going away; the renderer must not touch it again.
  virtual void ForgetDevice() { device_ = nullptr; }

 protected:
  TDrawDevice* device_;
  std::atomic<TRendererState> state_{TRendererState::Ready};
  int lastResult_ = rrOk;
};

class T3DEngine : public TRefObject {
 public:
  // Index of the adapter whose monitor overlaps the screen rectangle most; 0 when none does.
  virtual int AdapterForRect(const TRect& r) = 0;
  virtual int64_t CapabilityValue(std::string_view key, int adapter) = 0;
  virtual std::string CapabilityText(std::string_view key, int adapter) = 0;
  virtual bool DisplayMode(int adapter, TDisplayMode& mode) = 0;
  virtual TRef<T3DRenderer> CreateRenderer(TDrawDevice* device, const TDisplayMode& mode) = 0;
  virtual bool DeviceReady() = 0;
  virtual int QualityLevel(int adapter) = 0;
  // Why the engine cannot draw (empty when it can).
  virtual std::string InitFailure() const { return {}; }
  // "" when ready; else what drawing needs and what the machine offers, for
  // a message box (lines broken with CR).
  virtual std::string Shortfall() const { return InitFailure(); }
  // "name: value" lines for bug reports: driver, version, limits.
  virtual std::vector<std::string> InfoLines() const { return {}; }

  // Process-wide controls of the back end; the null engine ignores them.
  // Present waits for the display refresh; off for measurements.
  virtual void SetPacing(bool) {}
  // A drawing thread lets go of what the back end keeps for it; called
  // before the thread ends or hands the drawing to another.
  virtual void ReleaseThreadContext() {}
  // A thread that set up device objects for another (the window thread
  // before the engine draws) lets go of what it made current.
  virtual void ReleaseCurrentContext() {}
};

// Texture memory the back ends hold now, every renderer together (the
// control socket's "textureBytes"); back ends count what they allocate.
int64_t TextureBytes();
void CountTextureBytes(int64_t delta);

// Quality level from a pixel-shader version (major << 8 | minor) and vendor id.
int QualityLevelFor(int pixelShaderVersion, int vendorId);

}  // namespace lum
