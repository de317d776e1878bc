#include "render/render_backends.h"

#include <strings.h>

#include <string>

#include "render/null_engine.h"

namespace lum {

const TRenderBackend kNullBackend = {
    "null", [] { return TRef<T3DEngine>(MakeRef<T3DEngineNull>("null renderer chosen")); }};

namespace {

constexpr const TRenderBackend* kBackends[] = {&kGLBackend, &kNullBackend};

}  // namespace

std::span<const TRenderBackend* const> RenderBackends() {
  return kBackends;
}

TRef<T3DEngine> CreateRenderEngine(std::string_view choice) {
  if (!choice.empty()) {
    const std::string name(choice);
    for (const TRenderBackend* b : kBackends)
      if (strcasecmp(b->name, name.c_str()) == 0) return b->create();
    return TRef<T3DEngine>(MakeRef<T3DEngineNull>("no renderer named \"" + name + "\""));
  }
  TRef<T3DEngine> first;
  for (const TRenderBackend* b : kBackends) {
    if (b == &kNullBackend) break;
    TRef<T3DEngine> e = b->create();
    if (e->DeviceReady()) return e;
    if (!first) first = e;
  }
  if (!first) return kNullBackend.create();
  return TRef<T3DEngine>(MakeRef<T3DEngineNull>(first->InitFailure(), first->Shortfall()));
}

}  // namespace lum
