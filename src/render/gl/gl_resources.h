#pragma once
// The device objects of the GL back end: surfaces (render targets), textures,
// vertex lists and shaders. Each keeps its GL names until the renderer lets
// go of them (device lost, renderer gone) or it is destroyed.
#include <epoxy/gl.h>

#include <vector>

#include "render/3d_engine.h"

namespace lum {

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
  bool WritePixelRows(const TPixelView& view, int first, int count) override;
  T3DBackendObject* Object() override { return this; }
  void DeleteGL() override;

  GLuint Name() const { return name_; }
  GLenum Target() const { return depth_ > 1 || volume_ ? GL_TEXTURE_3D : GL_TEXTURE_2D; }
  bool Create();
  // Takes the name and storage of a spare texture of the same measures.
  void Adopt(GLuint name, int64_t bytes);
  // Applies the sampling fields (cached, so unchanged states cost nothing).
  void ApplySampling(bool mipAllowed, float maxAnisotropy, bool lodBiasSupported);
  void ApplyPlainSampling();
  bool volume_ = false;

 private:
  int kind_, width_, height_, depth_, levels_;
  GLuint name_ = 0;
  int64_t bytes_ = 0;  // counted in TextureBytes while the name lives
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

}  // namespace lum
