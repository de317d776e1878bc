#pragma once
// The render back ends in order of preference, the null engine last. Each
// back end lives in its own folder and is reached only through this table.
#include <span>
#include <string_view>

#include "render/3d_engine.h"

namespace lum {

struct TRenderBackend {
  const char* name;
  // A new engine; never null. Its device may not be ready (InitFailure and
  // Shortfall say why). Runs on the window thread.
  TRef<T3DEngine> (*create)();
};

// Defined by each back end's own folder.
extern const TRenderBackend kGLBackend;
extern const TRenderBackend kNullBackend;

std::span<const TRenderBackend* const> RenderBackends();

// With a name ("gl", "null", any case): that back end's engine as it is,
// ready or not (a bug report wants its findings either way); an unknown
// name is the null engine saying so. Without: the first back end whose
// device is ready, else the null engine carrying why the first one failed.
TRef<T3DEngine> CreateRenderEngine(std::string_view choice = {});

}  // namespace lum
