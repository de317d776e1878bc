#include "render/gl/gl_renderer.h"

#include <cstring>

#include "foundation/log.h"
#include "render/gl/gl_shared.h"

namespace lum {

namespace {

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

}  // namespace

// The fixed pipeline and the frame of the system's pixel shaders share one
// vertex stage: row-vector transform, then the target's orientation and depth range.
const char* const kGLVertexShader = R"(#version 330 core
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

// What every pixel shader sees: the interpolated colour and texture pairs,
// register-style constants and its output.
const char* const kGLFragmentPrelude = R"(#version 330 core
in vec4 v0;
in vec2 t0;
in vec2 t1;
in vec2 t2;
out vec4 oC0;
uniform vec4 c[32];
)";

GLuint CompileShader(GLenum type, const std::string& source, std::string* log) {
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

T3DShaderGL::~T3DShaderGL() {
  Drop();
}

void T3DShaderGL::DeleteGL() {
  if (program_) glDeleteProgram(program_);
  program_ = 0;
  released_ = true;
}

GLuint T3DRendererGL::LinkProgram(const std::string& fragmentSource, std::string* log) {
  GLuint vs = CompileShader(GL_VERTEX_SHADER, kGLVertexShader, log);
  if (!vs) return 0;
  GLuint fs = CompileShader(GL_FRAGMENT_SHADER,
                            std::string(kGLFragmentPrelude) + "#line 1\n" + fragmentSource, log);
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
