#include "render/gl/3d_engine_gl.h"
#include "render/render_backends.h"

namespace lum {

const TRenderBackend kGLBackend = {"gl", [] { return TRef<T3DEngine>(MakeRef<T3DEngineGL>()); }};

}  // namespace lum
