#pragma once
// What the files of the GL back end share: the module name of its checks,
// the context attributes, the stages every program has, pixel upload state.
#include <epoxy/gl.h>

#include <string>

namespace lum {

inline constexpr const char* kGLModule = "3DEngineGL";

#ifndef GL_TEXTURE_MAX_ANISOTROPY
#define GL_TEXTURE_MAX_ANISOTROPY 0x84FE
#define GL_MAX_TEXTURE_MAX_ANISOTROPY 0x84FF
#endif

// Forward-compatible always: what runs here runs on drivers that drop every
// deprecated call. The debug flag only where asked (it may cost speed).
void SetContextAttributes();

// The vertex stage of every program, and what every pixel stage begins with.
extern const char* const kGLVertexShader;
extern const char* const kGLFragmentPrelude;
// 0 when the source does not compile (log gets the driver's words).
GLuint CompileShader(GLenum type, const std::string& source, std::string* log);

// Rows of pixels of another length than the upload's width.
struct TUnpack {
  explicit TUnpack(int rowLength) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength);
  }
  ~TUnpack() { glPixelStorei(GL_UNPACK_ROW_LENGTH, 0); }
};

}  // namespace lum
