#include "render/gl/gl_renderer.h"

#include <algorithm>
#include <cstring>

#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "render/gl/gl_shared.h"

namespace lum {

namespace {

GLint AddressOf(TTextureAddress a) {
  switch (a) {
    case TTextureAddress::Wrap:
      return GL_REPEAT;
    case TTextureAddress::Mirror:
      return GL_MIRRORED_REPEAT;
    default:
      return GL_CLAMP_TO_EDGE;
  }
}

int BytesOfKind(int kind) {
  return kind == 3 ? 1 : kind == 4 ? 2 : 4;
}
TSurfaceFormat FormatOfKind(int kind) {
  return kind == 3   ? TSurfaceFormat::Gray8
         : kind == 4 ? TSurfaceFormat::RGB565
                     : TSurfaceFormat::BGRA8;
}

}  // namespace

T3DTextureGL::T3DTextureGL(T3DRendererGL* r, int kind, int width, int height, int depth, int levels)
    : kind_(kind), width_(width), height_(height), depth_(depth), levels_(levels) {
  renderer = r;
}

T3DTextureGL::~T3DTextureGL() {
  surface_ = nullptr;
  if (renderer && name_ && !volume_) {
    std::lock_guard lock(DeviceLock());
    if (renderer->KeepSpareTexture(name_, kind_, width_, height_, levels_, bytes_))
      name_ = 0, bytes_ = 0;
  }
  Drop();
}

void T3DTextureGL::Adopt(GLuint name, int64_t bytes) {
  name_ = name;
  bytes_ = bytes;
  glBindTexture(GL_TEXTURE_2D, name_);
  // Back to a new texture's sampling: what the last picture set is not ours.
  ApplyPlainSampling();
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_LOD_BIAS, 0);
}

GLuint T3DRendererGL::TakeSpareTexture(int kind, int width, int height, int levels,
                                       int64_t* bytes) {
  for (auto it = spares_.begin(); it != spares_.end(); ++it) {
    if (it->kind != kind || it->width != width || it->height != height || it->levels != levels)
      continue;
    const GLuint name = it->name;
    *bytes = it->bytes;
    spares_.erase(it);
    return name;
  }
  return 0;
}

bool T3DRendererGL::KeepSpareTexture(GLuint name, int kind, int width, int height, int levels,
                                     int64_t bytes) {
  // Only pictures' textures, and only those whose storage costs a frame.
  constexpr int64_t kWorthKeeping = 4 << 20;
  constexpr size_t kMaxSpares = 1;
  if (kind != 0 || bytes < kWorthKeeping || state_ != TRendererState::Ready) return false;
  if (spares_.size() >= kMaxSpares) {
    if (!MakeCurrent()) return false;
    DeleteSpare(spares_.front());
    spares_.erase(spares_.begin());
  }
  spares_.push_back({name, kind, width, height, levels, bytes, double(MsSinceStart())});
  return true;
}

void T3DRendererGL::DropSpareTextures(double before) {
  std::erase_if(spares_, [&](const TSpareTexture& s) {
    if (s.since >= before) return false;
    DeleteSpare(s);
    return true;
  });
}

void T3DRendererGL::DeleteSpare(const TSpareTexture& spare) {
  glDeleteTextures(1, &spare.name);
  CountTextureBytes(-spare.bytes);
}

void T3DTextureGL::DeleteGL() {
  if (name_) glDeleteTextures(1, &name_);
  name_ = 0;
  CountTextureBytes(-bytes_);
  bytes_ = 0;
  released_ = true;
}

bool T3DTextureGL::Create() {
  glGenTextures(1, &name_);
  const GLenum target = Target();
  glBindTexture(target, name_);
  glTexParameteri(target, GL_TEXTURE_BASE_LEVEL, 0);
  glTexParameteri(target, GL_TEXTURE_MAX_LEVEL, levels_ - 1);
  glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  if (target == GL_TEXTURE_3D) {
    glTexParameteri(target, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    glTexImage3D(target, 0, GL_RGBA8, width_, height_, depth_, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                 nullptr);
    bytes_ = int64_t(width_) * height_ * depth_ * 4;
    CountTextureBytes(bytes_);
    return renderer->Check();
  }
  GLint internal = GL_RGBA8;
  GLenum format = GL_BGRA, type = GL_UNSIGNED_BYTE;
  if (kind_ == 3) {
    // Luminance: one red channel read back as grey.
    internal = GL_R8, format = GL_RED;
    GLint swizzle[4] = {GL_RED, GL_RED, GL_RED, GL_ONE};
    glTexParameteriv(target, GL_TEXTURE_SWIZZLE_RGBA, swizzle);
  } else if (kind_ == 4) {
    internal = GL_RGB8, format = GL_RGB, type = GL_UNSIGNED_SHORT_5_6_5;
  } else if (kind_ == 1) {
    // A target without alpha: whatever is drawn, sampling reads opaque.
    glTexParameteri(target, GL_TEXTURE_SWIZZLE_A, GL_ONE);
  }
  int w = width_, h = height_;
  for (int l = 0; l < levels_; ++l) {
    glTexImage2D(target, l, internal, w, h, 0, format, type, nullptr);
    bytes_ += int64_t(w) * h * BytesOfKind(kind_);
    w = std::max(1, w / 2);
    h = std::max(1, h / 2);
  }
  CountTextureBytes(bytes_);
  return renderer->Check();
}

void T3DTextureGL::ApplyPlainSampling() {
  const GLenum target = Target();
  if (appliedFilter_ != 0) {
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    appliedFilter_ = 0;
  }
  if (appliedU_ != GL_CLAMP_TO_EDGE || appliedV_ != GL_CLAMP_TO_EDGE) {
    glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    appliedU_ = appliedV_ = GL_CLAMP_TO_EDGE;
  }
}

void T3DTextureGL::ApplySampling(bool anisotropy, float maxAnisotropy, bool lodBiasSupported) {
  const GLenum target = Target();
  // 0 linear, 1 point, 2 linear with mip-maps.
  int filter = nearest ? 1 : (useMipMaps && levels_ > 1 && anisotropy ? 2 : 0);
  if (filter != appliedFilter_) {
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, filter == 1 ? GL_NEAREST : GL_LINEAR);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER,
                    filter == 1   ? GL_NEAREST
                    : filter == 2 ? GL_LINEAR_MIPMAP_LINEAR
                                  : GL_LINEAR);
    appliedFilter_ = filter;
  }
  float aniso = filter == 2 ? maxAnisotropy : 1.0f;
  if (anisotropy && aniso != appliedAniso_) {
    glTexParameterf(target, GL_TEXTURE_MAX_ANISOTROPY, aniso);
    appliedAniso_ = aniso;
  }
  float bias = filter == 2 && lodBiasSupported ? lodBias : 0.0f;
  if (bias != appliedBias_) {
    glTexParameterf(target, GL_TEXTURE_LOD_BIAS, bias);
    appliedBias_ = bias;
  }
  GLint u = AddressOf(addressU), v = AddressOf(addressV);
  if (u != appliedU_) glTexParameteri(target, GL_TEXTURE_WRAP_S, u), appliedU_ = u;
  if (v != appliedV_) glTexParameteri(target, GL_TEXTURE_WRAP_T, v), appliedV_ = v;
}

bool T3DTextureGL::LockLevel(int level, TBitmapBuffer& out) {
  if (level < 0 || level >= levels_ || released_) return false;
  if (staging_.size() < static_cast<size_t>(levels_)) staging_.resize(levels_);
  const int w = std::max(1, width_ >> level), h = std::max(1, height_ >> level);
  const int bpp = BytesOfKind(kind_);
  out.width = w;
  out.height = h * (Target() == GL_TEXTURE_3D ? depth_ : 1);
  out.pitch = w * bpp;
  out.format = FormatOfKind(kind_);
  staging_[level].assign(static_cast<size_t>(out.pitch) * out.height, 0);
  out.data = staging_[level].data();
  return true;
}

bool T3DTextureGL::UnlockLevel(int level) {
  if (level < 0 || level >= static_cast<int>(staging_.size()) || staging_[level].empty() ||
      !renderer || released_)
    return false;
  std::lock_guard lock(DeviceLock());
  if (!renderer->MakeCurrent()) return false;
  const GLenum target = Target();
  glBindTexture(target, name_);
  const int w = std::max(1, width_ >> level), h = std::max(1, height_ >> level);
  TUnpack unpack(w);
  if (target == GL_TEXTURE_3D) {
    glTexSubImage3D(target, 0, 0, 0, 0, w, h, depth_, GL_BGRA, GL_UNSIGNED_BYTE,
                    staging_[level].data());
  } else {
    GLenum format = kind_ == 3 ? GL_RED : kind_ == 4 ? GL_RGB : GL_BGRA;
    GLenum type = kind_ == 4 ? GL_UNSIGNED_SHORT_5_6_5 : GL_UNSIGNED_BYTE;
    glTexSubImage2D(target, level, 0, 0, w, h, format, type, staging_[level].data());
  }
  std::vector<uint8_t>().swap(staging_[level]);
  return renderer->Check();
}

bool T3DTextureGL::WritePixelRows(const TPixelView& v, int first, int count) {
  if (kind_ != 0 || volume_ || v.format != TSurfaceFormat::BGRA8 || !v.pixels || v.width <= 0 ||
      v.height <= 0 || v.width > width_ || v.height > height_ || v.pitch % 4 != 0 || first < 0 ||
      count <= 0 || count > v.height - first || !renderer || released_)
    return false;
  std::lock_guard lock(DeviceLock());
  if (!renderer->MakeCurrent()) return false;
  glBindTexture(GL_TEXTURE_2D, name_);
  const uint8_t* band = v.pixels + size_t(first) * size_t(v.pitch);
  const bool last = first + count == v.height;
  {
    TUnpack unpack(v.pitch / 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, first, v.width, count, GL_BGRA, GL_UNSIGNED_BYTE, band);
    // Padding beyond the picture repeats its last column and row, so that
    // filtering at the edges never reads the blank rest of the texture.
    if (v.width < width_)
      glTexSubImage2D(GL_TEXTURE_2D, 0, v.width, first, 1, count, GL_BGRA, GL_UNSIGNED_BYTE,
                      band + size_t(v.width - 1) * 4);
    if (last && v.height < height_)
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, v.height, v.width, 1, GL_BGRA, GL_UNSIGNED_BYTE,
                      v.pixels + size_t(v.height - 1) * size_t(v.pitch));
  }
  if (last && levels_ > 1) glGenerateMipmap(GL_TEXTURE_2D);
  return renderer->Check();
}

TRef<T3DSurface> T3DTextureGL::Surface(int level) {
  if (level != 0 || released_ || (kind_ != 1 && kind_ != 2) || !renderer) return {};
  if (!surface_) {
    std::lock_guard lock(DeviceLock());
    if (!renderer->MakeCurrent()) return {};
    surface_ = MakeRef<T3DSurfaceGL>(renderer, name_, width_, height_, true);
    surface_->premultipliedTarget = kind_ == 2 && premultiplied;
    renderer->AddResource(surface_.Get());
    GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    renderer->ApplyTargetStateAfterBind();
    if (status != GL_FRAMEBUFFER_COMPLETE || !renderer->Check()) {
      surface_ = nullptr;
      return {};
    }
  }
  surface_->premultipliedTarget = kind_ == 2 && premultiplied;
  return surface_;
}

T3DVertexListGL::T3DVertexListGL(T3DRendererGL* r, int capacity, uint32_t flags, int pairs)
    : capacity_(capacity), flags_(flags), pairs_(pairs) {
  renderer = r;
}

T3DVertexListGL::~T3DVertexListGL() {
  Drop();
}

void T3DVertexListGL::DeleteGL() {
  if (vao_) glDeleteVertexArrays(1, &vao_);
  if (vbo_) glDeleteBuffers(1, &vbo_);
  vao_ = vbo_ = 0;
  released_ = true;
}

bool T3DVertexListGL::Create() {
  glGenVertexArrays(1, &vao_);
  glGenBuffers(1, &vbo_);
  glBindVertexArray(vao_);
  glBindBuffer(GL_ARRAY_BUFFER, vbo_);
  const int stride = Stride();
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(capacity_) * stride, nullptr,
               GL_STREAM_DRAW);
  size_t off = 0;
  glEnableVertexAttribArray(0);
  glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(off));
  off += 12;
  if (flags_ & vfNormal) off += 12;
  if (flags_ & vfDiffuse) {
    glEnableVertexAttribArray(1);
    // Colours are stored as 0xAARRGGBB words.
    glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                          reinterpret_cast<void*>(off));
    off += 4;
  } else {
    glVertexAttrib4f(1, 1, 1, 1, 1);
  }
  if (flags_ & vfSpecular) off += 4;
  for (int i = 0; i < std::min(pairs_, 3); ++i) {
    glEnableVertexAttribArray(2 + i);
    glVertexAttribPointer(2 + i, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(off));
    off += 8;
  }
  return renderer->Check();
}

uint8_t* T3DVertexListGL::Lock(int count) {
  if (count < 0 || count > capacity_ || released_) return nullptr;
  lockCount_ = count;
  staging_.resize(static_cast<size_t>(count) * Stride());
  return staging_.data();
}

bool T3DVertexListGL::Unlock() {
  if (!renderer || released_) return false;
  std::lock_guard lock(DeviceLock());
  if (!renderer->MakeCurrent()) return false;
  glBindBuffer(GL_ARRAY_BUFFER, vbo_);
  // Orphan the store so the draw still reading the old vertices never stalls us.
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(capacity_) * Stride(), nullptr,
               GL_STREAM_DRAW);
  glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(staging_.size()), staging_.data());
  return renderer->Check();
}

bool T3DRendererGL::SetTexture(int stage, T3DTexture* texture) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent() || stage < 0 || stage >= 8) return false;
  auto* t = static_cast<T3DTextureGL*>(texture);
  glActiveTexture(GL_TEXTURE0 + stage);
  if (t && t->renderer == this && !t->Released()) {
    glBindTexture(t->Target(), t->Name());
    t->ApplyPlainSampling();
  } else {
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  glActiveTexture(GL_TEXTURE0);
  return Check();
}

TRef<T3DTexture> T3DRendererGL::CreateTexture(int kind, int width, bool mipMaps, int height) {
  if (kind < 0 || kind > 4) AssertFailed(kGLModule, "Texture kind out of range");
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return {};
  const TGLCaps& caps = Caps();
  if (width <= 0 || height <= 0 || width > caps.maxTextureSize || height > caps.maxTextureSize) {
    lastResult_ = rrInvalidCall;
    Log().Line("Dx Error = 1");
    return {};
  }
  int levels = 1;
  const bool managed = kind == 0 || kind == 3 || kind == 4;
  if (managed && mipMaps && caps.anisotropy)
    for (int s = std::max(width, height); s > 1; s >>= 1) ++levels;
  auto t = MakeRef<T3DTextureGL>(this, kind, width, height, 1, levels);
  AddResource(t.Get());
  int64_t bytes = 0;
  if (const GLuint spare = TakeSpareTexture(kind, width, height, levels, &bytes)) {
    t->Adopt(spare, bytes);
    return t;
  }
  if (!t->Create()) return {};
  return t;
}

TRef<T3DTexture> T3DRendererGL::CreateVolumeTexture(int width, int height, int depth) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return {};
  const int max = Caps().max3DTextureSize;
  if (width <= 0 || height <= 0 || depth <= 0 || width > max || height > max || depth > max) {
    lastResult_ = rrInvalidCall;
    Log().Line("Dx Error = 1");
    return {};
  }
  auto t = MakeRef<T3DTextureGL>(this, 0, width, height, depth, 1);
  t->volume_ = true;
  AddResource(t.Get());
  if (!t->Create()) return {};
  return t;
}

TRef<T3DVertexList> T3DRendererGL::CreateVertexList(int count, uint32_t flags, int pairs) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return {};
  if (count <= 0 || pairs < 0 || pairs > 3) {
    lastResult_ = rrInvalidCall;
    Log().Line("Dx Error = 1");
    return {};
  }
  auto l = MakeRef<T3DVertexListGL>(this, count, flags, pairs);
  AddResource(l.Get());
  boundVao_ = 0;
  if (!l->Create()) return {};
  return l;
}

}  // namespace lum
