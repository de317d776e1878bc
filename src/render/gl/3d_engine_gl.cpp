#include "render/gl/3d_engine_gl.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>

#include "foundation/errors.h"
#include "foundation/log.h"
#include "render/3d_screen.h"
#include "render/gl/gl_renderer.h"
#include "render/gl/gl_shared.h"
#include "toolkit/window.h"

namespace lum {

namespace {

std::atomic<bool> gPacing{true};
std::atomic<bool> gForceWindowSurface{false};

int VendorIdOf(const std::string& vendor, const std::string& renderer) {
  auto has = [&](const char* s) {
    return vendor.find(s) != std::string::npos || renderer.find(s) != std::string::npos;
  };
  if (has("Intel")) return 0x8086;
  if (has("NVIDIA")) return 0x10DE;
  if (has("AMD") || has("ATI")) return 0x1002;
  return 0;
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

}  // namespace

std::recursive_mutex& DeviceLock() {
  static std::recursive_mutex m;
  return m;
}

void SetGLPacing(bool on) {
  gPacing = on;
}
bool GLPacing() {
  return gPacing;
}
void SetGLForceWindowSurface(bool on) {
  gForceWindowSurface = on;
}
bool GLForceWindowSurface() {
  return gForceWindowSurface;
}

void ReleaseGLCurrentContext() {
  std::lock_guard lock(DeviceLock());
  if (SDL_GL_GetCurrentContext()) SDL_GL_MakeCurrent(SDL_GL_GetCurrentWindow(), nullptr);
}

void ReleaseGLThreadContext() {
  ReleaseGLCurrentContext();
  // SDL frees its per-thread data only for threads it started itself.
  SDL_TLSCleanup();
}

void T3DEngineGL::SetPacing(bool on) {
  SetGLPacing(on);
}
void T3DEngineGL::ReleaseThreadContext() {
  ReleaseGLThreadContext();
}
void T3DEngineGL::ReleaseCurrentContext() {
  ReleaseGLCurrentContext();
}

namespace {

// What one probe of the driver found; shared by every engine of the process.
struct TGLProbe {
  TGLCaps caps;
  std::string lack;  // "" when the driver offers everything we draw with
};

std::string GLString(GLenum e) {
  const GLubyte* s = glGetString(e);
  return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
}

// "3.30 NVIDIA via Cg compiler" → 330.
int GlslVersionOf(const std::string& s) {
  int major = 0, minor = 0;
  if (std::sscanf(s.c_str(), "%d.%d", &major, &minor) != 2) return 0;
  return major * 100 + (minor < 10 ? minor * 10 : minor);
}

void ReadDriverNames(TGLCaps& c) {
  c.vendor = GLString(GL_VENDOR);
  c.renderer = GLString(GL_RENDERER);
  c.version = GLString(GL_VERSION);
  c.shadingLanguage = GLString(GL_SHADING_LANGUAGE_VERSION);
}

// A driver refused the 3.3 core context: its default context still tells
// the user which driver and version they have.
void ReadNamesOfDefaultContext(SDL_Window* probe, TGLCaps& c) {
  SDL_GL_ResetAttributes();
  if (SDL_GLContext ctx = SDL_GL_CreateContext(probe)) {
    ReadDriverNames(c);
    SDL_GL_DeleteContext(ctx);
  }
  SetContextAttributes();
}

void ReadCaps(TGLCaps& c) {
  ReadDriverNames(c);
  glGetIntegerv(GL_MAJOR_VERSION, &c.glMajor);
  glGetIntegerv(GL_MINOR_VERSION, &c.glMinor);
  c.glslVersion = GlslVersionOf(c.shadingLanguage);
  GLint profile = 0, flags = 0;
  glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
  glGetIntegerv(GL_CONTEXT_FLAGS, &flags);
  c.coreProfile = (profile & GL_CONTEXT_CORE_PROFILE_BIT) != 0;
  c.forwardCompatible = (flags & GL_CONTEXT_FLAG_FORWARD_COMPATIBLE_BIT) != 0;
  c.debugContext = (flags & GL_CONTEXT_FLAG_DEBUG_BIT) != 0;
  c.khrDebug = c.glMajor * 10 + c.glMinor >= 43 || epoxy_has_gl_extension("GL_KHR_debug");
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &c.maxTextureSize);
  glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &c.max3DTextureSize);
  c.anisotropy = c.glMajor * 10 + c.glMinor >= 46 ||
                 epoxy_has_gl_extension("GL_ARB_texture_filter_anisotropic") ||
                 epoxy_has_gl_extension("GL_EXT_texture_filter_anisotropic");
  if (c.anisotropy) glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY, &c.driverMaxAnisotropy);
  c.maxAnisotropy = c.driverMaxAnisotropy;
  // Software rasterisers filter anisotropically by blurring even pictures
  // drawn at their own size, and slowly: plain trilinear there.
  const std::string rendererName = Lower(c.renderer);
  for (const char* soft : {"llvmpipe", "softpipe", "swrast", "software"})
    if (rendererName.find(soft) != std::string::npos) c.maxAnisotropy = 1;
  c.lodBias = true;  // a texture parameter of the core profile
  c.pixelShaderVersion = c.glMajor * 10 + c.glMinor >= 33 ? 0x300 : 0x200;
  c.vendorId = VendorIdOf(c.vendor, c.renderer);
}

// Makes and drops one object of each kind we draw with; the first the
// driver refuses, in words, or "". The errors asked here are the answer.
std::string TryWhatWeUse(const TGLCaps& c) {
  while (glGetError() != GL_NO_ERROR) {
  }
  GLuint tex[3] = {};
  glGenTextures(3, tex);
  auto refused = [] { return glGetError() != GL_NO_ERROR; };
  std::string lack;
  glBindTexture(GL_TEXTURE_3D, tex[0]);
  glTexImage3D(GL_TEXTURE_3D, 0, GL_RGBA8, 32, 32, 32, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  if (c.max3DTextureSize < 32 || refused()) lack = "no 32x32x32 3-D textures";
  glBindTexture(GL_TEXTURE_2D, tex[1]);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, 4, 4, 0, GL_RED, GL_UNSIGNED_BYTE, nullptr);
  if (lack.empty() && refused()) lack = "no R8 textures";
  glBindTexture(GL_TEXTURE_2D, tex[2]);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 16, 16, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  GLuint fbo = 0;
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex[2], 0);
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (lack.empty() && (status != GL_FRAMEBUFFER_COMPLETE || refused()))
    lack = "no framebuffer objects on RGBA8 textures";
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &fbo);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindTexture(GL_TEXTURE_3D, 0);
  glDeleteTextures(3, tex);
  std::string log;
  GLuint vs = CompileShader(GL_VERTEX_SHADER, kGLVertexShader, &log);
  if (lack.empty() && !vs) lack = "GLSL 3.30 is refused (" + log + ")";
  if (vs) glDeleteShader(vs);
  while (glGetError() != GL_NO_ERROR) {
  }
  return lack;
}

// What the driver lacks of a context that was made: version, profile and
// shading language first, then the objects themselves.
std::string LackOf(const TGLCaps& c) {
  if (c.glMajor * 10 + c.glMinor < 33)
    return "the context is OpenGL " + std::to_string(c.glMajor) + "." + std::to_string(c.glMinor);
  if (!c.coreProfile) return "the context is not a core profile";
  if (c.glslVersion < 330) return "GLSL " + c.shadingLanguage + " is older than 3.30";
  return TryWhatWeUse(c);
}

TGLProbe RunProbe() {
  TGLProbe p;
  // Hold the GL library for the process: SDL would otherwise unload the
  // driver with the last GL window and load it again for the next.
  if (SDL_GL_LoadLibrary(nullptr) != 0) {
    p.lack = std::string("no OpenGL library (") + SDL_GetError() + ")";
    return p;
  }
  SetContextAttributes();
  SDL_Window* probe =
      SDL_CreateWindow("probe", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (!probe) {
    p.lack = std::string("no OpenGL window (") + SDL_GetError() + ")";
    return p;
  }
  SDL_GLContext saved = SDL_GL_GetCurrentContext();
  SDL_Window* savedWindow = SDL_GL_GetCurrentWindow();
  if (SDL_GLContext ctx = SDL_GL_CreateContext(probe)) {
    ReadCaps(p.caps);
    p.lack = LackOf(p.caps);
    SDL_GL_MakeCurrent(probe, nullptr);
    SDL_GL_DeleteContext(ctx);
  } else {
    p.lack = std::string("no OpenGL 3.3 core context (") + SDL_GetError() + ")";
    ReadNamesOfDefaultContext(probe, p.caps);
  }
  SDL_GL_MakeCurrent(savedWindow, saved);
  SDL_DestroyWindow(probe);
  return p;
}

// The probe runs once a process: the driver does not change under us.
// fresh tells the caller it ran now.
const TGLProbe& Probe(bool& fresh) {
  static std::mutex m;
  static std::optional<TGLProbe> probe;
  std::lock_guard lock(m);
  fresh = !probe;
  if (!probe) probe = RunProbe();
  return *probe;
}

}  // namespace

T3DEngineGL::T3DEngineGL() {
  std::lock_guard lock(DeviceLock());
  std::string error;
  if (!TWindowThread::Initialized() && !TWindowThread::Init(&error)) {
    failure_ = "no display (" + error + ")";
    Log().Line("T3DEngineGL: " + failure_);
    return;
  }
  bool fresh = false;
  const TGLProbe& p = Probe(fresh);
  caps_ = p.caps;
  lack_ = p.lack;
  ready_ = lack_.empty();
  if (!ready_) {
    const std::string driver =
        caps_.renderer.empty() ? std::string("unknown") : caps_.renderer + ", " + caps_.version;
    failure_ =
        std::string(kGLRequirement) + " is needed; the driver here is " + driver + ": " + lack_;
  }
  if (fresh)
    for (const std::string& line : InfoLines()) Log().Line("T3DEngineGL: " + line);
  else if (!ready_)
    Log().Line("T3DEngineGL: " + failure_);
}

std::vector<std::string> T3DEngineGL::InfoLines() const {
  std::vector<std::string> lines;
  auto known = [](const std::string& s) { return s.empty() ? std::string("unknown") : s; };
  lines.push_back("vendor: " + known(caps_.vendor));
  lines.push_back("renderer: " + known(caps_.renderer));
  lines.push_back("version: " + known(caps_.version));
  lines.push_back("shading language: " + known(caps_.shadingLanguage));
  if (caps_.glMajor > 0) {
    lines.push_back("context: OpenGL " + std::to_string(caps_.glMajor) + "." +
                    std::to_string(caps_.glMinor) +
                    (caps_.coreProfile ? " core" : " compatibility") +
                    (caps_.forwardCompatible ? ", forward-compatible" : "") +
                    (caps_.debugContext ? ", debug" : ""));
    lines.push_back("limits: textures " + std::to_string(caps_.maxTextureSize) + ", 3-D textures " +
                    std::to_string(caps_.max3DTextureSize) + ", anisotropy " +
                    std::to_string(int(caps_.driverMaxAnisotropy)) +
                    (caps_.maxAnisotropy < caps_.driverMaxAnisotropy
                         ? " (not used on a software rasteriser)"
                         : ""));
    lines.push_back(std::string("extension GL_KHR_debug: ") +
                    (caps_.khrDebug ? "yes (driver messages under LUM_GL_DEBUG=1)" : "no"));
    lines.push_back(std::string("extension GL_ARB_texture_filter_anisotropic: ") +
                    (caps_.anisotropy ? "yes (mip-mapped pictures)" : "no"));
  }
  lines.push_back(ready_ ? "status: ready" : "status: not usable: " + failure_);
  return lines;
}

std::string T3DEngineGL::Shortfall() const {
  if (ready_) return {};
  if (lack_.empty()) return failure_;  // no display at all
  const std::string driver =
      caps_.renderer.empty() ? std::string("unknown") : caps_.renderer + " (" + caps_.vendor + ")";
  const std::string version = caps_.version.empty() ? std::string("unknown") : caps_.version;
  return "This player needs " + std::string(kGLRequirement) + ".\rDriver: " + driver +
         "\rOpenGL version: " + version + "\rWhat is missing: " + lack_ + ".";
}

int T3DEngineGL::AdapterForRect(const TRect& r) {
  auto monitors = ListMonitors();
  int best = 0;
  int64_t bestArea = 0;
  for (const auto& m : monitors) {
    int64_t w = std::min(r.right, m.rect.right) - std::max(r.left, m.rect.left);
    int64_t h = std::min(r.bottom, m.rect.bottom) - std::max(r.top, m.rect.top);
    if (w > 0 && h > 0 && w * h > bestArea) {
      bestArea = w * h;
      best = m.index;
    }
  }
  return best;
}

int64_t T3DEngineGL::CapabilityValue(std::string_view key, int) {
  if (!ready_ && caps_.glMajor == 0) AssertFailed(kGLModule, "No GL for capability queries");
  std::string k = Lower(key);
  if (k == "pixelshaderversion") return caps_.pixelShaderVersion;
  if (k == "maxtexwidth" || k == "maxtexheight") return caps_.maxTextureSize;
  if (k == "maxanisotropy") return caps_.anisotropy ? static_cast<int64_t>(caps_.maxAnisotropy) : 1;
  if (k == "raster")
    return (caps_.anisotropy ? kRasterAnisotropy : 0) | (caps_.lodBias ? kRasterMipLodBias : 0);
  if (k == "vendor") return caps_.vendorId;
  return 0;
}

std::string T3DEngineGL::CapabilityText(std::string_view key, int) {
  if (Lower(key) == "vendor") return caps_.vendor + " " + caps_.renderer;
  return {};
}

bool T3DEngineGL::DisplayMode(int adapter, TDisplayMode& mode) {
  auto monitors = ListMonitors();
  if (adapter < 0 || adapter >= static_cast<int>(monitors.size())) return false;
  const auto& m = monitors[adapter];
  mode.monitor = {m.rect.left, m.rect.top, m.rect.right, m.rect.bottom};
  mode.refreshRate = m.current.refreshRate;
  mode.format = static_cast<uint32_t>(m.current.bitsPerPixel);
  return true;
}

int T3DEngineGL::QualityLevel(int) {
  return ready_ ? QualityLevelFor(caps_.pixelShaderVersion, caps_.vendorId) : 0;
}

TRef<T3DRenderer> T3DEngineGL::CreateRenderer(TDrawDevice* device, const TDisplayMode& mode) {
  if (!ready_ || !device || !device->Handle()) return {};
  auto r = MakeRef<T3DRendererGL>(TRef<T3DEngineGL>(this), device, mode);
  if (TWindowThread::IsWindowThread()) {
    if (!r->CreateDevice()) return {};
    return r;
  }
  // Devices are made on the window thread; until then the renderer is pending.
  r->SetPending();
  TRef<T3DRendererGL> pending = r;
  if (!TWindowThread::Post([pending] { pending->CreateDevice(); })) return {};
  return r;
}

}  // namespace lum
