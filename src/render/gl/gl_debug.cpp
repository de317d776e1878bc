#include "render/gl/gl_debug.h"

#include <epoxy/gl.h>
#include <errno.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "foundation/log.h"
#include "render/device_failures.h"

namespace lum {

namespace {

std::once_flag gExitCheck;

int RequestedFromEnvironment() {
  const char* v = std::getenv("LUM_GL_DEBUG");
  return v && std::string(v) == "1" ? 1 : 0;
}
std::atomic<int> gRequested{-1};  // -1: not read from the environment yet

const char* SourceName(GLenum s) {
  switch (s) {
    case GL_DEBUG_SOURCE_API:
      return "API";
    case GL_DEBUG_SOURCE_WINDOW_SYSTEM:
      return "window system";
    case GL_DEBUG_SOURCE_SHADER_COMPILER:
      return "shader compiler";
    case GL_DEBUG_SOURCE_THIRD_PARTY:
      return "third party";
    case GL_DEBUG_SOURCE_APPLICATION:
      return "application";
    default:
      return "other";
  }
}

const char* TypeName(GLenum t) {
  switch (t) {
    case GL_DEBUG_TYPE_ERROR:
      return "error";
    case GL_DEBUG_TYPE_DEPRECATED_BEHAVIOR:
      return "deprecated";
    case GL_DEBUG_TYPE_UNDEFINED_BEHAVIOR:
      return "undefined behaviour";
    case GL_DEBUG_TYPE_PORTABILITY:
      return "portability";
    case GL_DEBUG_TYPE_PERFORMANCE:
      return "performance";
    case GL_DEBUG_TYPE_MARKER:
      return "marker";
    default:
      return "other";
  }
}

const char* SeverityName(GLenum s) {
  switch (s) {
    case GL_DEBUG_SEVERITY_HIGH:
      return "high";
    case GL_DEBUG_SEVERITY_MEDIUM:
      return "medium";
    case GL_DEBUG_SEVERITY_LOW:
      return "low";
    default:
      return "notification";
  }
}

// A debug run that saw failures must not pass for a clean one, also where
// nobody reads the log (a test running lumshow).
void ExitCheck() {
  const int64_t n = DeviceFailureCount();
  if (n == 0) return;
  const std::string first = FirstDeviceFailure();
  std::fflush(nullptr);
  std::fprintf(stderr, "%s: %lld OpenGL error(s) under LUM_GL_DEBUG=1; the first: %s\n",
               program_invocation_short_name, static_cast<long long>(n), first.c_str());
  std::_Exit(1);
}

void GLAPIENTRY OnMessage(GLenum source, GLenum type, GLuint id, GLenum severity, GLsizei length,
                          const GLchar* message, const void*) {
  std::string text = std::string("source ") + SourceName(source) + ", type " + TypeName(type) +
                     ", severity " + SeverityName(severity) + ", id " + std::to_string(id) + ": " +
                     (length >= 0 ? std::string(message, size_t(length)) : std::string(message));
  if (type == GL_DEBUG_TYPE_ERROR || severity == GL_DEBUG_SEVERITY_HIGH)
    ReportGLFailure(text);
  else
    Log().Line("OpenGL message: " + text);
}

}  // namespace

bool GLDebugRequested() {
  int r = gRequested.load();
  if (r < 0) {
    r = RequestedFromEnvironment();
    int expected = -1;
    if (!gRequested.compare_exchange_strong(expected, r)) r = expected;
  }
  return r == 1;
}

void SetGLDebugRequested(bool on) {
  gRequested = on ? 1 : 0;
}

bool InstallGLDebugCallback() {
  if (!GLDebugRequested()) return false;
  if (epoxy_gl_version() < 43 && !epoxy_has_gl_extension("GL_KHR_debug")) return false;
  GLint flags = 0;
  glGetIntegerv(GL_CONTEXT_FLAGS, &flags);
  if (!(flags & GL_CONTEXT_FLAG_DEBUG_BIT)) return false;
  glEnable(GL_DEBUG_OUTPUT);
  // Reported inside the failing call, on its thread: the handler sees the
  // test (and the stack) that made it.
  glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
  glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_TRUE);
  glDebugMessageCallback(OnMessage, nullptr);
  return true;
}

void ReportGLFailure(const std::string& text) {
  Log().Line("OpenGL error: " + text);
  if (GLDebugRequested()) std::call_once(gExitCheck, [] { std::atexit(ExitCheck); });
  ReportDeviceFailure(text);
}

}  // namespace lum
