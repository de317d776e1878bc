#include "render/gl/gl_renderer.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "render/3d_screen.h"
#include "render/frame_pacing.h"
#include "render/gl/gl_debug.h"
#include "render/gl/gl_shared.h"

namespace lum {

namespace {

// How long a picture texture let go waits for a picture of its size.
constexpr double kSpareTextureMs = 10000;

std::string GLErrorName(GLenum e) {
  switch (e) {
    case GL_INVALID_ENUM:
      return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE:
      return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION:
      return "GL_INVALID_OPERATION";
    case GL_INVALID_FRAMEBUFFER_OPERATION:
      return "GL_INVALID_FRAMEBUFFER_OPERATION";
    case GL_OUT_OF_MEMORY:
      return "GL_OUT_OF_MEMORY";
    default: {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%04X", e);
      return hex;
    }
  }
}

}  // namespace

void SetContextAttributes() {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS,
                      SDL_GL_CONTEXT_FORWARD_COMPATIBLE_FLAG |
                          (GLDebugRequested() ? SDL_GL_CONTEXT_DEBUG_FLAG : 0));
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
}

T3DRendererGL::T3DRendererGL(TRef<T3DEngineGL> engine, TDrawDevice* device,
                             const TDisplayMode& mode)
    : T3DRenderer(device), engine_(std::move(engine)), refreshRate_(mode.refreshRate) {
  world_ = view_ = projection_ = TMatrix4::Identity();
}

T3DRendererGL::~T3DRendererGL() {
  std::lock_guard lock(DeviceLock());
  ReleaseResources();
  DestroyContext();
  if (device_) device_->RemoveRenderer(this);
}

void T3DRendererGL::ForgetDevice() {
  // The window is going: nothing may touch its surface again.
  std::lock_guard lock(DeviceLock());
  ReleaseResources();
  DestroyContext();
  device_ = nullptr;
  state_ = TRendererState::DeviceLost;
}

bool T3DRendererGL::CreateDevice() {
  std::lock_guard lock(DeviceLock());
  if (!device_ || !device_->Handle()) {
    state_ = TRendererState::DeviceLost;
    return false;
  }
  window_ = static_cast<SDL_Window*>(device_->Handle());
  SDL_GL_GetDrawableSize(window_, &backWidth_, &backHeight_);
  Log().Line("T3DEngineGL.InternalCreateRenderer: init windowed device: (0,0," +
             std::to_string(backWidth_) + "," + std::to_string(backHeight_) + ")");
  SetContextAttributes();
  context_ = SDL_GL_CreateContext(window_);
  std::string error = context_ ? "" : SDL_GetError();
  bool ok = context_ != nullptr;
  if (ok) {
    debugCallback_ = InstallGLDebugCallback();
    std::string log;
    ok = Fixed(0, 0, &log) != nullptr;
    if (ok) {
      headless_ =
          !GLForceWindowSurface() && std::strcmp(SDL_GetCurrentVideoDriver(), "offscreen") == 0;
      if (headless_) {
        // The offscreen driver's surface keeps its first size and shows
        // nothing: draw into a framebuffer of the client size instead.
        GLuint tex = 0;
        glGenTextures(1, &tex);
        glBindTexture(GL_TEXTURE_2D, tex);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, std::max(1, backWidth_), std::max(1, backHeight_),
                     0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
        backBuffer_ = MakeRef<T3DSurfaceGL>(this, tex, backWidth_, backHeight_, true);
        backBuffer_->ownsTexture = true;
        AddResource(backBuffer_.Get());
        ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
      } else {
        backBuffer_ = MakeRef<T3DSurfaceGL>(this, 0, backWidth_, backHeight_, false);
      }
      // A window on a display swaps with its refresh, as presents wait for
      // the vertical retrace by default; our pacing sleeps most of the
      // period first. Without a display there is nothing to wait for.
      SDL_GL_SetSwapInterval(!headless_ && GLPacing() ? 1 : 0);
      glDisable(GL_DEPTH_TEST);
      glDisable(GL_CULL_FACE);
      ok = Check() && ok;
    } else {
      error = "fixed program: " + log;
    }
  }
  Log().Line(std::string("T3DEngineGL.InternalCreateRenderer: create device res= ") +
             (ok ? "0" : "3") + (ok ? "" : " (" + error + ")"));
  if (!ok) {
    DestroyContext();
    state_ = TRendererState::DeviceLost;
    return false;
  }
  viewport_ = {0, 0, backWidth_, backHeight_};
  // Release the context: the drawing thread takes it on its first call.
  SDL_GL_MakeCurrent(window_, nullptr);
  device_->AddRenderer(this);
  state_ = TRendererState::Ready;
  return true;
}

void T3DRendererGL::DestroyContext() {
  if (context_) {
    SDL_GL_MakeCurrent(window_, context_);
    for (auto& row : fixed_)
      for (auto& f : row) {
        if (f.program) glDeleteProgram(f.program);
        f = {};
      }
    SDL_GL_MakeCurrent(window_, nullptr);
    SDL_GL_DeleteContext(context_);
    context_ = nullptr;
  }
}

bool T3DRendererGL::MakeCurrent() {
  if (!context_) return false;
  if (SDL_GL_GetCurrentContext() == context_) return true;
  return SDL_GL_MakeCurrent(window_, context_) == 0;
}

void T3DRendererGL::RemoveResource(TGLResource* r) {
  std::erase(resources_, r);
}

void T3DRendererGL::ReleaseResources() {
  // Hold each object while it is released: its owner drops it in the callback.
  std::vector<TRef<T3DBackendObject>> held;
  for (TGLResource* r : resources_) held.emplace_back(r->Object());
  auto list = std::move(resources_);
  resources_.clear();
  bool current = MakeCurrent();
  if (current) DropSpareTextures(std::numeric_limits<double>::infinity());
  spares_.clear();
  for (TGLResource* r : list) {
    if (current) r->DeleteGL();
    r->renderer = nullptr;
  }
  target_ = nullptr;
  backBuffer_ = nullptr;
  shader_ = nullptr;
  shaderRef_ = nullptr;
  for (auto& o : held) o->NotifyLost();
}

bool T3DRendererGL::Check() {
  GLenum e = glGetError(), first = e;
  while (e != GL_NO_ERROR) e = glGetError();
  // With the debug callback the driver has reported it already, in words.
  if (first != GL_NO_ERROR && !debugCallback_) ReportGLFailure("glGetError " + GLErrorName(first));
  int code = rrOk;
  bool lost = false;
  if (declaredLost_.exchange(false)) {
    code = rrDeviceLost;
    lost = true;
  } else if (first == GL_OUT_OF_MEMORY) {
    code = rrOutOfVideoMemory;
  } else if (first == GL_INVALID_ENUM || first == GL_INVALID_VALUE ||
             first == GL_INVALID_OPERATION || first == GL_INVALID_FRAMEBUFFER_OPERATION) {
    code = rrInvalidCall;
  } else if (first != GL_NO_ERROR) {
    code = rrDeviceLost;
    lost = first == 0x0507;  // GL_CONTEXT_LOST
  }
  lastResult_ = code;
  if (code == rrOk) return true;
  Log().Line("Dx Error = " + std::to_string(code));
  if (lost) HandleLost();
  return false;
}

void T3DRendererGL::HandleLost() {
  if (state_ == TRendererState::DeviceLost) return;
  TRef<T3DRendererGL> self(this);
  state_ = TRendererState::DeviceLost;
  if (device_)
    if (auto* w = device_->FindAttachment<TRectangleWrapper>()) w->exclusiveFailed = true;
  Log().Line("T3DRendererGL: DEVICE LOST!");
  ReleaseResources();
  DestroyContext();
  if (device_) device_->RemoveRenderer(this);
  device_ = nullptr;
  auto callback = onLost;
  if (callback) callback();
}

void T3DRendererGL::SetPanelBounds(const TRect& r) {
  Log().Line("Set DxPanel bounds: (" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
             std::to_string(r.right) + "," + std::to_string(r.bottom) + ")");
}

bool T3DRendererGL::BeginScene() {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return false;
  ApplyTargetState();
  return Check();
}

bool T3DRendererGL::EndScene() {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return false;
  glFlush();
  return Check();
}

bool T3DRendererGL::Present(const TRect*, const TRect*) {
  if (state_ != TRendererState::Ready) return false;
  if (GLPacing()) {
    int ms = PacingSleepMs(refreshRate_, lastPresent_, static_cast<double>(MsSinceStart()));
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return false;
  if (headless_)
    glFlush();
  else
    SDL_GL_SwapWindow(window_);
  lastPresent_ = static_cast<double>(MsSinceStart());
  DropSpareTextures(lastPresent_ - kSpareTextureMs);
  return Check();
}

void T3DRendererGL::SetDefaultStates() {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return;
  blendMode_ = TBlendMode::Normal;
  glEnable(GL_BLEND);
  glBlendEquation(GL_FUNC_ADD);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glDisable(GL_DEPTH_TEST);
  SetShader(nullptr);
  Check();
}

bool T3DRendererGL::Clear(const TRect* rects, int count, uint32_t what, TColor color, float z) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return false;
  if (!(what & cfTarget)) return true;  // no depth buffer: nothing else to clear
  (void)z;
  T3DSurfaceGL* t = target_ ? target_.Get() : backBuffer_.Get();
  glClearColor(((color >> 16) & 255) / 255.0f, ((color >> 8) & 255) / 255.0f,
               (color & 255) / 255.0f, (color >> 24) / 255.0f);
  // Clears stay inside the viewport (and the clip), as the drawing does.
  auto clearRect = [&](const TRect& r) {
    TRect c{std::max(r.left, viewport_.left), std::max(r.top, viewport_.top),
            std::min(r.right, viewport_.right), std::min(r.bottom, viewport_.bottom)};
    if (clipOn_)
      c = {std::max(c.left, clip_.left), std::max(c.top, clip_.top), std::min(c.right, clip_.right),
           std::min(c.bottom, clip_.bottom)};
    if (c.Empty()) return;
    int x0, y0, x1, y1;
    t->ToGL(c, x0, y0, x1, y1);
    // A whole-target clear goes without scissor: rasterisers clear that fastest.
    if (c == TRect{0, 0, t->Width(), t->Height()}) {
      glDisable(GL_SCISSOR_TEST);
    } else {
      glEnable(GL_SCISSOR_TEST);
      glScissor(x0, y0, x1 - x0, y1 - y0);
    }
    glClear(GL_COLOR_BUFFER_BIT);
  };
  if (count == 0 || !rects)
    clearRect(viewport_);
  else
    for (int i = 0; i < count; ++i) clearRect(rects[i]);
  ApplyTargetStateAfterBind();
  return Check();
}

}  // namespace lum
