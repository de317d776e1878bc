#pragma once
// Front-end textures: they keep what they need to rebuild their back-end
// texture at any time, and create it on first use.
#include <cstdint>
#include <vector>

#include "render/3d_engine.h"

namespace lum {

class T3DScreen;

// Base of everything a screen creates and must release when its renderer goes.
class TScreenResource : public TRefObject {
 public:
  explicit TScreenResource(T3DScreen* screen);
  ~TScreenResource() override;
  T3DScreen* Screen() const { return screen_; }
  // Drops the back-end object; the content stays and rebuilds on next use.
  virtual void ReleaseBackEnd() = 0;
  // The screen is going away.
  void ForgetScreen() { screen_ = nullptr; }

 protected:
  T3DScreen* screen_;
};

// Texture kinds of the back end.
enum TTextureKind : uint8_t {
  tkManagedColor = 0,
  tkRenderTarget = 1,
  tkRenderTargetPremul = 2,
  tkManagedGray = 3,
  tkManaged16 = 4,
};

// Next power of two not below n, at least 32.
int TextureSizeFor(int n);

class TCustomTexture : public TScreenResource {
 public:
  TCustomTexture(T3DScreen* screen, uint8_t kind, int width, int height, bool mipMaps);
  ~TCustomTexture() override;

  uint8_t Kind() const { return kind_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int TextureWidth() const { return texWidth_; }
  int TextureHeight() const { return texHeight_; }
  // Texture coordinates of the requested area run from 0 to width × ScaleX.
  float ScaleX() const { return scaleX_; }
  float ScaleY() const { return scaleY_; }
  bool MipMaps() const { return mipMaps_; }
  bool IsManaged() const {
    return kind_ == tkManagedColor || kind_ == tkManagedGray || kind_ == tkManaged16;
  }

  bool premultiplied = false;
  bool nearest = false;
  float lodBias = 0;
  uint8_t opacity = 255;

  // The back-end texture, created (and for managed kinds filled) on demand;
  // null when the device is not ready or creation failed.
  virtual T3DTexture* BackEnd();
  // Fills about `bytes` more of the back-end texture ahead of its first
  // draw, creating it first; takes what it spent from `bytes`. True when
  // nothing is left to fill now (done, or the device is not ready). Only
  // pictures fill in parts; other textures are filled whole by BackEnd().
  virtual bool UploadAhead(int64_t& bytes);
  bool HasBackEnd() const { return static_cast<bool>(backEnd_); }
  // Releases the back-end texture when the size changes.
  virtual void SetSize(int width, int height);
  // Fills every level of the existing back-end texture again.
  virtual void Upload();
  void ReleaseBackEnd() override;
  // The content changed: upload again (now when the back end exists).
  virtual void Refresh();

 protected:
  // Level 0 of a managed texture: the requested area at the top left of the
  // level (texture size), in the level's pixel format.
  virtual void FillLevel0(TBitmapBuffer&) {}
  // Creates the back-end texture without filling it; false when it cannot.
  bool MakeBackEnd();

  uint8_t kind_;
  int width_ = 0, height_ = 0;
  int texWidth_ = 32, texHeight_ = 32;
  float scaleX_ = 1.0f / 32, scaleY_ = 1.0f / 32;
  bool mipMaps_;
  // The back-end texture has exactly the requested size (no power of two).
  bool exactSize_ = false;
  TRef<T3DTexture> backEnd_;
};

// A managed texture holding its own copy of the pixels (kind 0, 3 or 4).
class TPixelTexture : public TCustomTexture {
 public:
  TPixelTexture(T3DScreen* screen, uint8_t kind, int width, int height, bool mipMaps = false);
  // Copies pixels (converted to the kind's format) and refreshes.
  void SetPixels(const TPixelView& view);
  // Direct access to the kept pixels in the kind's format; call Refresh after writing.
  uint8_t* Pixels() { return pixels_.data(); }
  int Pitch() const { return pitch_; }
  void SetSize(int width, int height) override;

 protected:
  void FillLevel0(TBitmapBuffer& level) override;

 private:
  std::vector<uint8_t> pixels_;
  int pitch_ = 0;
};

class TRGBATexture : public TPixelTexture {
 public:
  TRGBATexture(T3DScreen* screen, int width, int height, bool mipMaps = false)
      : TPixelTexture(screen, tkManagedColor, width, height, mipMaps) {}
};

class TGrayScaleTexture : public TPixelTexture {
 public:
  TGrayScaleTexture(T3DScreen* screen, int width, int height, bool mipMaps = false)
      : TPixelTexture(screen, tkManagedGray, width, height, mipMaps) {}
};

// A texture with colour processing; its fill is the subclass's.
class TCustomColoringTexture : public TPixelTexture {
 public:
  using TPixelTexture::TPixelTexture;
};

// A BGRA8 volume (colour look-up tables), one level, clamped in u, v and w.
class TVolumeTexture : public TScreenResource {
 public:
  TVolumeTexture(T3DScreen* screen, int width, int height, int depth);
  int Width() const { return width_; }
  int Height() const { return height_; }
  int Depth() const { return depth_; }
  // BGRA8 cells: depth slices of height rows of width cells.
  uint8_t* Cells() { return cells_.data(); }
  void Refresh();
  T3DTexture* BackEnd();
  void ReleaseBackEnd() override;

 private:
  int width_, height_, depth_;
  std::vector<uint8_t> cells_;
  TRef<T3DTexture> backEnd_;
};

class TRenderTargetManager;

// A render target (kind 1, or 2 with premultiplied alpha).
class TRenderTargetTexture : public TCustomTexture {
 public:
  TRenderTargetTexture(T3DScreen* screen, int width, int height, bool premultipliedAlpha);
  TRef<T3DSurface> Surface();
  TRenderTargetManager* pool = nullptr;
};

// Pool of render targets of one size: targets are returned instead of freed.
class TRenderTargetManager {
 public:
  explicit TRenderTargetManager(T3DScreen* screen, bool premultiplied = false)
      : screen_(screen), premultiplied_(premultiplied) {}
  // Rounded up to powers of two; a change empties the pool.
  void SetSize(int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Premultiplied() const { return premultiplied_; }
  // The last free target or a new one, with its back-end texture made sure of.
  TRef<TRenderTargetTexture> Acquire();
  // Returns a target; it must have the pool's size and premultiplied flag.
  void Release(TRef<TRenderTargetTexture> target);
  size_t FreeCount() const { return free_.size(); }
  void Clear() { free_.clear(); }

 private:
  T3DScreen* screen_;
  bool premultiplied_;
  int width_ = 0, height_ = 0;
  std::vector<TRef<TRenderTargetTexture>> free_;
};

// Box-filtered half of a level (2 × 2, or 2 × 1 along an axis already at 1).
void BoxFilterHalf(const TBitmapBuffer& src, TBitmapBuffer& dst);

}  // namespace lum
