#include <cmath>
#include <cstdio>

#include "commands.h"
#include "engine/offline_frame_driver.h"
#include "foundation/errors.h"
#include "imaging/bitmap.h"
#include "imaging/color_management.h"
#include "imaging/image_lib_store.h"
#include "project/lum_source.h"
#include "render/render_backends.h"
#include "show_open.h"
#include "toolkit/window.h"

namespace lum::lumshow {

// Frames larger than this are refused before any drawing memory is taken.
constexpr int kMaxFrameSide = 8192;

namespace {

// What a bug report wants to know of the drawing: driver, version, context,
// limits and the extensions we use. Fails when the driver cannot draw.
int GLInfo() {
  std::string error;
  if (!TWindowThread::Init(&error)) throw ELumError("no display for drawing: " + error);
  TRef<T3DEngine> engine = CreateRenderEngine("gl");
  for (const std::string& line : engine->InfoLines()) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (!engine->DeviceReady()) throw ELumError(engine->InitFailure());
  return 0;
}

}  // namespace

int Render(const TRenderArgs& args) {
  if (args.glInfo) return GLInfo();
  if (args.show.empty() || args.output.empty())
    throw TUsageError{"render wants SHOW, --time and -o (or --gl-info alone)"};
  auto [width, height] = ParseSize(args.size, kMaxFrameSide);
  if (!std::isfinite(args.time)) throw TUsageError{"--time wants a finite number of ms"};
  auto loc = OpenShowToPlay(args.show, args.password);
  // Pictures with profiles of their own show as the show's colour setting says.
  ColorManagement().Apply(loc->Document());
  TLumSource src(loc->Accessor(), loc->Document(), {loc->Path(), 0});
  // The same transitions on every run, as the export chooses them.
  src.Rotation().SetDeterministic(true);
  TOfflineFrameDriver driver(src, width, height);
  TRef<TBitmap> frame = driver.Render(args.time);
  if (!WritePng(*frame, args.output)) throw ELumError("cannot write \"" + args.output + "\"");
  return 0;
}

}  // namespace lum::lumshow
