#include "render/gl/gl_readback.h"

#include "foundation/log.h"

namespace lum {

namespace {
// A copy still unfinished after this long counts as failed.
constexpr GLuint64 kWaitStepNs = 500'000'000;
constexpr int kWaitSteps = 20;
}  // namespace

TRef<T3DReadback> T3DRendererGL::CreateReadback(int width, int height, int slots) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return {};
  if (width <= 0 || height <= 0 || slots < 1 || slots > 8) {
    lastResult_ = rrInvalidCall;
    Log().Line("Dx Error = 1");
    return {};
  }
  auto r = MakeRef<T3DReadbackGL>(this, width, height, slots);
  AddResource(r.Get());
  if (!r->Create()) return {};
  return r;
}

T3DReadbackGL::T3DReadbackGL(T3DRendererGL* r, int width, int height, int slots)
    : width_(width), height_(height), slots_(size_t(slots)) {
  renderer = r;
}

T3DReadbackGL::~T3DReadbackGL() {
  Drop();
}

bool T3DReadbackGL::Create() {
  for (TSlot& s : slots_) {
    glGenBuffers(1, &s.buffer);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, s.buffer);
    // Storage once, for every frame after; the reads overwrite all of it.
    glBufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(Bytes()), nullptr, GL_STREAM_READ);
  }
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  return renderer->Check();
}

void T3DReadbackGL::Unmap(TSlot& s) {
  if (!s.mapped) return;
  glBindBuffer(GL_PIXEL_PACK_BUFFER, s.buffer);
  glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  s.mapped = false;
}

void T3DReadbackGL::DeleteGL() {
  // Pixels lent to another thread stay valid until they come back.
  WaitReturned(-1);
  for (TSlot& s : slots_) {
    Unmap(s);
    if (s.fence) glDeleteSync(s.fence);
    if (s.buffer) glDeleteBuffers(1, &s.buffer);
    s = {};
  }
  released_ = true;
}

bool T3DReadbackGL::Start(int slot, T3DSurface& source) {
  if (slot < 0 || slot >= Slots()) return false;
  // Not under the device lock: the thread that has the pixels may need it.
  WaitReturned(slot);
  std::lock_guard lock(DeviceLock());
  if (!renderer || released_ || !renderer->MakeCurrent()) return false;
  auto& surface = static_cast<T3DSurfaceGL&>(source);
  if (surface.renderer != renderer || surface.Released() || surface.Width() < width_ ||
      surface.Height() < height_)
    return false;
  TSlot& s = slots_[size_t(slot)];
  Unmap(s);
  if (s.fence) glDeleteSync(s.fence);
  s.fence = nullptr;
  int x0, y0, x1, y1;
  surface.ToGL({0, 0, width_, height_}, x0, y0, x1, y1);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, surface.Fbo());
  if (surface.Fbo() == 0) glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, s.buffer);
  glReadPixels(x0, y0, width_, height_, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  s.fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  s.bottomUp = surface.IsBackBuffer();
  // Under way now, while the caller draws the next frame.
  glFlush();
  return renderer->Check() && s.fence;
}

bool T3DReadbackGL::Map(int slot, TFrameRows& rows) {
  if (slot < 0 || slot >= Slots()) return false;
  std::lock_guard lock(DeviceLock());
  if (!renderer || released_ || !renderer->MakeCurrent()) return false;
  TSlot& s = slots_[size_t(slot)];
  if (!s.fence || s.mapped || Lent(slot)) return false;
  GLenum waited = GL_TIMEOUT_EXPIRED;
  for (int i = 0; i < kWaitSteps && waited == GL_TIMEOUT_EXPIRED; ++i)
    waited = glClientWaitSync(s.fence, GL_SYNC_FLUSH_COMMANDS_BIT, kWaitStepNs);
  glDeleteSync(s.fence);
  s.fence = nullptr;
  if (waited != GL_ALREADY_SIGNALED && waited != GL_CONDITION_SATISFIED) {
    Log().Line("T3DReadbackGL: the frame's copy did not finish");
    return false;
  }
  glBindBuffer(GL_PIXEL_PACK_BUFFER, s.buffer);
  auto* p = static_cast<const uint8_t*>(
      glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, GLsizeiptr(Bytes()), GL_MAP_READ_BIT));
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  if (!renderer->Check() || !p) return false;
  s.mapped = true;
  const ptrdiff_t pitch = ptrdiff_t(width_) * 4;
  // The window's rows run bottom up: the top row is the last one read.
  rows = {s.bottomUp ? p + (height_ - 1) * pitch : p, width_, height_,
          s.bottomUp ? -pitch : pitch};
  Lend(slot);
  return true;
}

}  // namespace lum
