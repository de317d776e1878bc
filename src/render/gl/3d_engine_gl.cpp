#include "render/gl/3d_engine_gl.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/log.h"
#include "render/3d_screen.h"
#include "render/frame_pacing.h"
#include "render/gl/gl_debug.h"
#include "toolkit/window.h"

namespace lum {

namespace {

constexpr const char* kModule = "3DEngineGL";
std::atomic<bool> gPacing{true};
std::atomic<bool> gForceWindowSurface{false};

#ifndef GL_TEXTURE_MAX_ANISOTROPY
#define GL_TEXTURE_MAX_ANISOTROPY 0x84FE
#define GL_MAX_TEXTURE_MAX_ANISOTROPY 0x84FF
#endif

// The fixed pipeline and the frame of the system's pixel shaders share one
// vertex stage: row-vector transform, then the target's orientation and depth range.
constexpr const char* kVertexShader = R"(#version 330 core
layout(location = 0) in vec3 aPos;
layout(location = 1) in vec4 aColor;
layout(location = 2) in vec2 aTex0;
layout(location = 3) in vec2 aTex1;
layout(location = 4) in vec2 aTex2;
uniform mat4 uMatrix;
uniform float uFlipY;
out vec4 v0;
out vec2 t0;
out vec2 t1;
out vec2 t2;
void main() {
  vec4 p = uMatrix * vec4(aPos, 1.0);
  gl_Position = vec4(p.x, p.y * uFlipY, 2.0 * p.z - p.w, p.w);
  v0 = aColor;
  t0 = aTex0;
  t1 = aTex1;
  t2 = aTex2;
}
)";

// The fixed pipeline's pixel stage, one straight-line program per combination
// (uniform branches cost every pixel on a software rasteriser).
// Colour op: 0 vertex colour, 1 texture, 2 texture × vertex colour, 3 white.
// Alpha op: 0 vertex alpha, 1 texture alpha, 2 texture × vertex alpha, 3 one.
std::string FixedFragment(int colorOp, int alphaOp) {
  static const char* const kColor[4] = {"v0.rgb", "t.rgb", "t.rgb * v0.rgb", "vec3(1.0)"};
  static const char* const kAlpha[4] = {"v0.a", "t.a", "t.a * v0.a", "1.0"};
  const bool sample = colorOp == 1 || colorOp == 2 || alphaOp == 1 || alphaOp == 2;
  return std::string("uniform sampler2D s0;\nvoid main() {\n") +
         (sample ? "  vec4 t = texture(s0, t0);\n" : "") + "  oC0 = vec4(" + kColor[colorOp] +
         ", " + kAlpha[alphaOp] + ");\n}\n";
}

// What every pixel shader sees: the interpolated colour and texture pairs,
// register-style constants and its output.
constexpr const char* kFragmentPrelude = R"(#version 330 core
in vec4 v0;
in vec2 t0;
in vec2 t1;
in vec2 t2;
out vec4 oC0;
uniform vec4 c[32];
)";

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

// Forward-compatible always: what runs here runs on drivers that drop every
// deprecated call. The debug flag only where asked (it may cost speed).
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

GLuint Compile(GLenum type, const std::string& source, std::string* log) {
  GLuint s = glCreateShader(type);
  const char* src = source.c_str();
  glShaderSource(s, 1, &src, nullptr);
  glCompileShader(s);
  GLint ok = 0;
  glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char buf[1024] = {};
    glGetShaderInfoLog(s, sizeof buf, nullptr, buf);
    if (log) *log = buf;
    glDeleteShader(s);
    return 0;
  }
  return s;
}

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
  return kind == 3 ? TSurfaceFormat::Gray8 : kind == 4 ? TSurfaceFormat::RGB565 : TSurfaceFormat::BGRA8;
}

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

struct TUnpack {
  explicit TUnpack(int rowLength) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
  }
  ~TUnpack() { glPixelStorei(GL_UNPACK_ROW_LENGTH, 0); }
};

}  // namespace

std::recursive_mutex& DeviceLock() {
  static std::recursive_mutex m;
  return m;
}

// ---- engine ----

void SetGLPacing(bool on) {
  gPacing = on;
}
bool GLPacing() {
  return gPacing;
}
void SetGLForceWindowSurface(bool on) {
  gForceWindowSurface = on;
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
  GLuint vs = Compile(GL_VERTEX_SHADER, kVertexShader, &log);
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
  if (!ready_ && caps_.glMajor == 0) AssertFailed(kModule, "No GL for capability queries");
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

// ---- objects ----

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

T3DTextureGL::T3DTextureGL(T3DRendererGL* r, int kind, int width, int height, int depth, int levels)
    : kind_(kind), width_(width), height_(height), depth_(depth), levels_(levels) {
  renderer = r;
}

T3DTextureGL::~T3DTextureGL() {
  surface_ = nullptr;
  Drop();
}

void T3DTextureGL::DeleteGL() {
  if (name_) glDeleteTextures(1, &name_);
  name_ = 0;
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
    w = std::max(1, w / 2);
    h = std::max(1, h / 2);
  }
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

bool T3DTextureGL::WritePixels(const TPixelView& v) {
  if (kind_ != 0 || volume_ || v.format != TSurfaceFormat::BGRA8 || !v.pixels || v.width <= 0 ||
      v.height <= 0 || v.width > width_ || v.height > height_ || v.pitch % 4 != 0 || !renderer ||
      released_)
    return false;
  std::lock_guard lock(DeviceLock());
  if (!renderer->MakeCurrent()) return false;
  glBindTexture(GL_TEXTURE_2D, name_);
  {
    TUnpack unpack(v.pitch / 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, v.width, v.height, GL_BGRA, GL_UNSIGNED_BYTE, v.pixels);
    // Padding beyond the picture repeats its last column and row, so that
    // filtering at the edges never reads the blank rest of the texture.
    if (v.width < width_)
      glTexSubImage2D(GL_TEXTURE_2D, 0, v.width, 0, 1, v.height, GL_BGRA, GL_UNSIGNED_BYTE,
                      v.pixels + size_t(v.width - 1) * 4);
    if (v.height < height_)
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, v.height, v.width, 1, GL_BGRA, GL_UNSIGNED_BYTE,
                      v.pixels + size_t(v.height - 1) * size_t(v.pitch));
  }
  if (levels_ > 1) glGenerateMipmap(GL_TEXTURE_2D);
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

T3DShaderGL::~T3DShaderGL() {
  Drop();
}

void T3DShaderGL::DeleteGL() {
  if (program_) glDeleteProgram(program_);
  program_ = 0;
  released_ = true;
}

// ---- renderer ----

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
          !gForceWindowSurface && std::strcmp(SDL_GetCurrentVideoDriver(), "offscreen") == 0;
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
      SDL_GL_SetSwapInterval(!headless_ && gPacing ? 1 : 0);
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

GLuint T3DRendererGL::LinkProgram(const std::string& fragmentSource, std::string* log) {
  GLuint vs = Compile(GL_VERTEX_SHADER, kVertexShader, log);
  if (!vs) return 0;
  GLuint fs = Compile(GL_FRAGMENT_SHADER,
                      std::string(kFragmentPrelude) + "#line 1\n" + fragmentSource, log);
  if (!fs) {
    glDeleteShader(vs);
    return 0;
  }
  GLuint p = glCreateProgram();
  glAttachShader(p, vs);
  glAttachShader(p, fs);
  glBindAttribLocation(p, 0, "aPos");
  glLinkProgram(p);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = 0;
  glGetProgramiv(p, GL_LINK_STATUS, &ok);
  if (!ok) {
    char buf[1024] = {};
    glGetProgramInfoLog(p, sizeof buf, nullptr, buf);
    if (log) *log = buf;
    glDeleteProgram(p);
    return 0;
  }
  glUseProgram(p);
  for (int i = 0; i < 8; ++i) {
    GLint loc = glGetUniformLocation(p, ("s" + std::to_string(i)).c_str());
    if (loc >= 0) glUniform1i(loc, i);
  }
  currentProgram_ = p;
  matrixProgram_ = 0;
  constantsProgram_ = 0;
  return p;
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
  if (gPacing) {
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
  return Check();
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

void T3DRendererGL::SetTransform(TTransformKind kind, const TMatrix4& m) {
  switch (kind) {
    case TTransformKind::World:
      world_ = m;
      break;
    case TTransformKind::View:
      view_ = m;
      break;
    case TTransformKind::Projection:
      projection_ = m;
      break;
  }
  TMatrix4 all = world_ * view_ * projection_;
  // Row-major data read as a column-major GLSL matrix is the transpose, so
  // "M * v" in the shader is the row-vector product.
  std::memcpy(matrix_, all.m, sizeof matrix_);
  matrixDirty_ = true;
}

void T3DRendererGL::SetCullMode(TCullMode mode) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return;
  cull_ = mode;
  if (mode == TCullMode::None) {
    glDisable(GL_CULL_FACE);
  } else {
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
  }
}

const T3DRendererGL::TFixedProgram* T3DRendererGL::Fixed(int colorOp, int alphaOp,
                                                         std::string* log) {
  TFixedProgram& f = fixed_[colorOp][alphaOp];
  if (!f.program) {
    f.program = LinkProgram(FixedFragment(colorOp, alphaOp), log);
    if (!f.program) return nullptr;
    f.matrix = glGetUniformLocation(f.program, "uMatrix");
    f.flip = glGetUniformLocation(f.program, "uFlipY");
  }
  return &f;
}

void T3DRendererGL::UseProgram(GLuint program, T3DShaderGL* shader, const TFixedProgram* fixed) {
  if (program != currentProgram_) {
    glUseProgram(program);
    currentProgram_ = program;
  }
  GLint matrixLoc = shader ? shader->matrixLocation : fixed->matrix;
  GLint flipLoc = shader ? shader->flipLocation : fixed->flip;
  if (matrixDirty_ || matrixProgram_ != program) {
    glUniformMatrix4fv(matrixLoc, 1, GL_FALSE, matrix_);
    glUniform1f(flipLoc, flip_);
    matrixProgram_ = program;
    matrixDirty_ = false;
  } else {
    glUniform1f(flipLoc, flip_);
  }
  if (shader && shader->constantsLocation >= 0 &&
      (constantsDirty_ || constantsProgram_ != program)) {
    glUniform4fv(shader->constantsLocation, 32, constants_.data());
    constantsProgram_ = program;
    constantsDirty_ = false;
  }
}

void T3DRendererGL::ApplyBlend(bool premulSource) {
  GLenum srcC = GL_SRC_ALPHA, dstC = GL_ONE_MINUS_SRC_ALPHA;
  GLenum srcA = srcC, dstA = dstC;
  GLenum op = GL_FUNC_ADD;
  bool separate = false;
  if (blendMode_ == TBlendMode::Maximum) {
    op = GL_MAX;
  } else if (blendMode_ == TBlendMode::SeparateAlpha) {
    separate = true;
  } else {
    if (premulSource) srcC = srcA = GL_ONE;
    if (target_ && target_->premultipliedTarget) separate = true;
  }
  if (separate) srcA = GL_ONE, dstA = GL_ONE_MINUS_SRC_ALPHA;
  glEnable(GL_BLEND);
  glBlendEquation(op);
  glBlendFuncSeparate(srcC, dstC, srcA, dstA);
}

bool T3DRendererGL::DrawVertexList(T3DTexture* const* textures, int primitiveCount,
                                   uint32_t drawFlags, T3DVertexList* list, int textureCount,
                                   TPrimitive primitive) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return false;
  auto* vl = static_cast<T3DVertexListGL*>(list);
  if (!vl || vl->renderer != this || vl->Released() || textureCount < 0 || textureCount > 8 ||
      (textureCount > 0 && !textures))
    AssertFailed(kModule, "Vertex list call with a texture count that does not match");
  const TGLCaps& caps = Caps();
  bool premulSource = false;
  T3DTextureGL* first = nullptr;
  for (int i = 0; i < textureCount; ++i) {
    auto* t = static_cast<T3DTextureGL*>(textures[i]);
    if (!t || t->renderer != this || t->Released()) continue;
    if (i == 0) first = t;
    premulSource = premulSource || t->premultiplied;
    glActiveTexture(GL_TEXTURE0 + i);
    glBindTexture(t->Target(), t->Name());
    t->ApplySampling(caps.anisotropy, std::min(4.0f, caps.maxAnisotropy), caps.lodBias);
  }
  if (textureCount > 0) glActiveTexture(GL_TEXTURE0);
  if (shader_) {
    UseProgram(shader_->Program(), shader_, nullptr);
  } else {
    const bool tex = (drawFlags & dfTexture) && first;
    const bool vc = drawFlags & dfVertexColor, va = drawFlags & dfVertexAlpha;
    int colorOp = tex ? (vc ? 2 : 1) : (vc ? 0 : 3);
    int alphaOp;
    if (va) {
      // Targets whose alpha is not coverage read with the vertex alpha alone.
      bool noTextureAlpha =
          tex && (first->Kind() == 1 || (first->Kind() == 2 && !first->premultiplied));
      alphaOp = tex && !noTextureAlpha ? 2 : 0;
    } else {
      alphaOp = tex ? 1 : 3;
    }
    const TFixedProgram* f = Fixed(colorOp, alphaOp, nullptr);
    if (!f) {
      lastResult_ = rrInvalidCall;
      Log().Line("Dx Error = 1");
      return false;
    }
    UseProgram(f->program, nullptr, f);
  }
  ApplyBlend(premulSource);
  if (vl->Vao() != boundVao_) {
    glBindVertexArray(vl->Vao());
    boundVao_ = vl->Vao();
  }
  GLenum mode;
  int vertices;
  switch (primitive) {
    case TPrimitive::PointList:
      mode = GL_POINTS, vertices = primitiveCount;
      break;
    case TPrimitive::LineList:
      mode = GL_LINES, vertices = primitiveCount * 2;
      break;
    case TPrimitive::LineStrip:
      mode = GL_LINE_STRIP, vertices = primitiveCount + 1;
      break;
    case TPrimitive::TriangleStrip:
      mode = GL_TRIANGLE_STRIP, vertices = primitiveCount + 2;
      break;
    case TPrimitive::TriangleFan:
      mode = GL_TRIANGLE_FAN, vertices = primitiveCount + 2;
      break;
    default:
      mode = GL_TRIANGLES, vertices = primitiveCount * 3;
      break;
  }
  if (vertices > vl->Capacity()) AssertFailed(kModule, "Vertex list overrun");
  if (primitiveCount > 0) glDrawArrays(mode, 0, vertices);
  return Check();
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
  if (kind < 0 || kind > 4) AssertFailed(kModule, "Texture kind out of range");
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

TRef<T3DShader> T3DRendererGL::CreateShader(std::string_view code, int kind) {
  std::lock_guard lock(DeviceLock());
  if (state_ != TRendererState::Ready || !MakeCurrent()) return {};
  if (kind != 0) {
    // Only pixel shaders: the vertex stage is the fixed transform.
    lastResult_ = rrInvalidCall;
    Log().Line("Dx Error = 1");
    return {};
  }
  std::string log;
  GLuint p = LinkProgram(std::string(code), &log);
  if (!p) {
    lastResult_ = rrInvalidCall;
    Log().Line("Dx Error = 1");
    Log().Line("Shader: " + log);
    return {};
  }
  auto s = MakeRef<T3DShaderGL>(this, p, kind);
  s->constantsLocation = glGetUniformLocation(p, "c");
  s->matrixLocation = glGetUniformLocation(p, "uMatrix");
  s->flipLocation = glGetUniformLocation(p, "uFlipY");
  AddResource(s.Get());
  return s;
}

bool T3DRendererGL::SetShader(T3DShader* shader) {
  std::lock_guard lock(DeviceLock());
  auto* s = static_cast<T3DShaderGL*>(shader);
  if (s && (s->renderer != this || s->Released())) return false;
  shader_ = s;
  shaderRef_ = TRef<T3DShader>(shader);
  return true;
}

bool T3DRendererGL::SetShaderConstants(int first, const float* values, int count, bool pixel) {
  if (!pixel) return false;
  if (first < 0 || count < 0 || first + count > 32 || (count > 0 && !values)) {
    lastResult_ = rrInvalidCall;
    Log().Line("Dx Error = 1");
    return false;
  }
  std::memcpy(constants_.data() + first * 4, values, sizeof(float) * 4 * count);
  constantsDirty_ = true;
  return true;
}

}  // namespace lum
