// lumshow thumbnail: the frame a file manager shows for a show. File managers
// run thumbnailers on every file of a folder, damaged and hostile ones too,
// so the whole run is bounded in time and writes nothing but a complete PNG.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "commands.h"
#include "engine/offline_frame_driver.h"
#include "foundation/errors.h"
#include "imaging/bitmap.h"
#include "imaging/color_management.h"
#include "imaging/image_lib_store.h"
#include "project/lum_source.h"
#include "project/show_options.h"
#include "show_open.h"

namespace lum::lumshow {

namespace {

// Past this the run gives up: file managers wait about 5 s for a thumbnail.
constexpr auto kDeadline = std::chrono::milliseconds(4000);

// A run that overstays ends with status 1 whatever it was doing; the output
// is written through a side file, so no cut PNG is left at the target.
void StartWatchdog() {
  std::thread([] {
    std::this_thread::sleep_for(kDeadline);
    static const char kMessage[] = "lumshow: thumbnail: gave up after 4 s\n";
    [[maybe_unused]] auto n = write(2, kMessage, sizeof kMessage - 1);
    _exit(1);
  }).detach();
}

// The show's slide aspect ratio, kept within reason for a hostile value.
double SlideRatio(const TIniFile& document) {
  const TShowOption* option = FindShowOption("opt_scr_ratio");
  const double r = std::atof(EffectiveOption(document.Section("Main"), *option).c_str());
  return std::isfinite(r) && r > 0 ? std::clamp(r, 1.0 / 16, 16.0) : 16.0 / 9;
}

std::pair<int, int> FrameSize(double ratio, int size) {
  if (ratio >= 1) return {size, std::max(1, int(std::lround(size / ratio)))};
  return {std::max(1, int(std::lround(size * ratio))), size};
}

double FrameTime(const TLumSource& source) {
  const TLumSlideRecord first = source.Slide(0);
  // Once the incoming transition is over the first slide stands alone,
  // unless the next one already begins.
  return std::max(first.start, std::min(first.start + first.transitionIn, first.end - 1));
}

}  // namespace

int Thumbnail(const TThumbnailArgs& args) {
  if (args.size < 1 || args.size > kMaxThumbnailSize)
    throw TUsageError{"--size wants a number from 1 to " + std::to_string(kMaxThumbnailSize)};
  StartWatchdog();
  // Never a window on the user's screen, and no display needed at all.
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  auto loc = OpenShowToPlay(args.show, std::nullopt);
  ColorManagement().Apply(loc->Document());
  TLumSource src(loc->Accessor(), loc->Document(), {loc->Path(), 0});
  if (src.SlideCount() == 0) throw ELumError("the show has no slides");
  src.Rotation().SetDeterministic(true);
  const auto [width, height] = FrameSize(SlideRatio(loc->Document()), args.size);
  // Drawn at the thumbnail's own size: pictures are decoded at the mip level
  // that size needs, not at full resolution.
  TOfflineFrameDriver driver(src, width, height);
  TRef<TBitmap> frame = driver.Render(FrameTime(src));
  if (!WritePng(*frame, args.output)) throw ELumError("cannot write \"" + args.output + "\"");
  return 0;
}

}  // namespace lum::lumshow
