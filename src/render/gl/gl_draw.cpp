#include "render/gl/gl_renderer.h"

#include <algorithm>

#include "foundation/errors.h"
#include "foundation/log.h"
#include "render/gl/gl_shared.h"

namespace lum {

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
    AssertFailed(kGLModule, "Vertex list call with a texture count that does not match");
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
  if (vertices > vl->Capacity()) AssertFailed(kGLModule, "Vertex list overrun");
  if (primitiveCount > 0) glDrawArrays(mode, 0, vertices);
  return Check();
}

}  // namespace lum
