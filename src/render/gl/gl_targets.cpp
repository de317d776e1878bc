#include "render/gl/gl_renderer.h"

#include <algorithm>
#include <cstring>

#include "foundation/log.h"
#include "render/gl/gl_shared.h"

namespace lum {

void TGLResource::Drop() {
  if (!renderer) return;
  std::lock_guard lock(DeviceLock());
  if (renderer->MakeCurrent()) DeleteGL();
  renderer->RemoveResource(this);
  renderer = nullptr;
}

T3DSurfaceGL::T3DSurfaceGL(T3DRendererGL* r, GLuint texture, int width, int height, bool ownsFbo)
    : texture_(texture), width_(width), height_(height) {
  renderer = r;
  if (ownsFbo) {
    glGenFramebuffers(1, &fbo_);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture_, 0);
  }
}

T3DSurfaceGL::~T3DSurfaceGL() {
  Drop();
}

void T3DSurfaceGL::DeleteGL() {
  if (fbo_) glDeleteFramebuffers(1, &fbo_);
  if (ownsTexture && texture_) glDeleteTextures(1, &texture_);
  fbo_ = 0;
  released_ = true;
}

void T3DSurfaceGL::ToGL(const TRect& r, int& x0, int& y0, int& x1, int& y1) const {
  x0 = r.left;
  x1 = r.right;
  if (IsBackBuffer()) {
    y0 = height_ - r.bottom;
    y1 = height_ - r.top;
  } else {
    y0 = r.top;
    y1 = r.bottom;
  }
}

bool T3DSurfaceGL::ReadRect(const TRect& r, std::vector<uint8_t>& pixels) {
  if (!renderer || released_) return false;
  std::lock_guard lock(DeviceLock());
  if (!renderer->MakeCurrent()) return false;
  const int w = r.Width(), h = r.Height();
  if (w <= 0 || h <= 0 || r.left < 0 || r.top < 0 || r.right > width_ || r.bottom > height_)
    return false;
  pixels.resize(static_cast<size_t>(w) * h * 4);
  int x0, y0, x1, y1;
  ToGL(r, x0, y0, x1, y1);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo_);
  if (fbo_ == 0) glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x0, y0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
  if (IsBackBuffer()) {
    // The window's rows run bottom up.
    std::vector<uint8_t> row(static_cast<size_t>(w) * 4);
    for (int y = 0; y < h / 2; ++y) {
      uint8_t* a = pixels.data() + static_cast<size_t>(y) * w * 4;
      uint8_t* b = pixels.data() + static_cast<size_t>(h - 1 - y) * w * 4;
      std::memcpy(row.data(), a, row.size());
      std::memcpy(a, b, row.size());
      std::memcpy(b, row.data(), row.size());
    }
  }
  return renderer->Check();
}

bool T3DSurfaceGL::Lock(const TRect* rect, TBitmapBuffer& out) {
  if (locked_) return false;
  lockRect_ = rect ? *rect : TRect{0, 0, width_, height_};
  if (!ReadRect(lockRect_, lockBuffer_)) return false;
  out.width = lockRect_.Width();
  out.height = lockRect_.Height();
  out.pitch = out.width * 4;
  out.format = TSurfaceFormat::BGRA8;
  out.data = lockBuffer_.data();
  locked_ = true;
  return true;
}

bool T3DSurfaceGL::Unlock() {
  if (!locked_) return false;
  locked_ = false;
  if (IsBackBuffer()) return true;  // the window's pixels are read only
  TPixelView v{lockBuffer_.data(), lockRect_.Width(), lockRect_.Height(), lockRect_.Width() * 4,
               TSurfaceFormat::BGRA8};
  if (!renderer || released_) return false;
  std::lock_guard lock(DeviceLock());
  if (!renderer->MakeCurrent()) return false;
  glBindTexture(GL_TEXTURE_2D, texture_);
  TUnpack unpack(v.width);
  glTexSubImage2D(GL_TEXTURE_2D, 0, lockRect_.left, lockRect_.top, v.width, v.height, GL_BGRA,
                  GL_UNSIGNED_BYTE, v.pixels);
  return renderer->Check();
}

bool T3DSurfaceGL::CopyToBitmap(std::vector<uint8_t>& pixels) {
  return ReadRect({0, 0, width_, height_}, pixels);
}

bool T3DSurfaceGL::CopyFromBitmap(const TPixelView& v) {
  if (IsBackBuffer() || !renderer || released_ || v.format != TSurfaceFormat::BGRA8) return false;
  std::lock_guard lock(DeviceLock());
  if (!renderer->MakeCurrent()) return false;
  const int w = std::min(v.width, width_), h = std::min(v.height, height_);
  glBindTexture(GL_TEXTURE_2D, texture_);
  TUnpack unpack(v.pitch / 4);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, v.pixels);
  return renderer->Check();
}

void T3DRendererGL::ApplyTargetState() {
  T3DSurfaceGL* t = target_ ? target_.Get() : backBuffer_.Get();
  if (!t) return;
  glBindFramebuffer(GL_FRAMEBUFFER, t->Fbo());
  ApplyTargetStateAfterBind();
}

void T3DRendererGL::ApplyTargetStateAfterBind() {
  T3DSurfaceGL* t = target_ ? target_.Get() : backBuffer_.Get();
  if (!t) return;
  glBindFramebuffer(GL_FRAMEBUFFER, t->Fbo());
  // Targets keep their top row first in memory, as sampling expects; the
  // window shows GL's bottom-up rows, so only targets draw flipped.
  flip_ = t->IsBackBuffer() ? 1.0f : -1.0f;
  int x0, y0, x1, y1;
  t->ToGL(viewport_, x0, y0, x1, y1);
  glViewport(x0, y0, x1 - x0, y1 - y0);
  if (clipOn_) {
    t->ToGL(clip_, x0, y0, x1, y1);
    glEnable(GL_SCISSOR_TEST);
    glScissor(x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0));
  } else {
    glDisable(GL_SCISSOR_TEST);
  }
  glFrontFace(t->IsBackBuffer() ? GL_CCW : GL_CW);
}

bool T3DRendererGL::SetRenderTarget(T3DSurface* surface) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return false;
  auto* s = static_cast<T3DSurfaceGL*>(surface);
  if (s && (s->renderer != this || s->Released())) {
    lastResult_ = rrInvalidCall;
    Log().Line("Dx Error = 1");
    return false;
  }
  target_ = s && s != backBuffer_.Get() ? TRef<T3DSurfaceGL>(s) : TRef<T3DSurfaceGL>();
  T3DSurfaceGL* t = target_ ? target_.Get() : backBuffer_.Get();
  viewport_ = {0, 0, t->Width(), t->Height()};
  clipOn_ = false;
  ApplyTargetState();
  return Check();
}

TRef<T3DSurface> T3DRendererGL::RenderTarget() {
  return target_ ? TRef<T3DSurface>(target_) : TRef<T3DSurface>(backBuffer_);
}

TRef<T3DSurface> T3DRendererGL::BackBuffer() {
  return TRef<T3DSurface>(backBuffer_);
}

bool T3DRendererGL::SetViewport(const TRect& r, float minZ, float maxZ) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return false;
  viewport_ = r;
  glDepthRange(minZ, maxZ);
  ApplyTargetStateAfterBind();
  return Check();
}

void T3DRendererGL::SetClip(const TRect* r) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return;
  clipOn_ = r != nullptr;
  if (r) clip_ = *r;
  ApplyTargetStateAfterBind();
}

bool T3DRendererGL::StretchRect(T3DSurface* source, const TRect* sourceRect, T3DSurface* dest,
                                const TRect* destRect) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return false;
  auto* s = static_cast<T3DSurfaceGL*>(source);
  auto* d = static_cast<T3DSurfaceGL*>(dest);
  if (!s || !d || s->Released() || d->Released()) {
    lastResult_ = rrInvalidCall;
    Log().Line("Dx Error = 1");
    return false;
  }
  TRect sr = sourceRect ? *sourceRect : TRect{0, 0, s->Width(), s->Height()};
  TRect dr = destRect ? *destRect : TRect{0, 0, d->Width(), d->Height()};
  int sx0, sy0, sx1, sy1, dx0, dy0, dx1, dy1;
  s->ToGL(sr, sx0, sy0, sx1, sy1);
  d->ToGL(dr, dx0, dy0, dx1, dy1);
  // Both rectangles are in GL orientation now; a reversed pair flips rows.
  if (s->IsBackBuffer() != d->IsBackBuffer()) std::swap(dy0, dy1);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, s->Fbo());
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, d->Fbo());
  glDisable(GL_SCISSOR_TEST);
  glBlitFramebuffer(sx0, sy0, sx1, sy1, dx0, dy0, dx1, dy1, GL_COLOR_BUFFER_BIT, GL_NEAREST);
  ApplyTargetState();
  return Check();
}

}  // namespace lum
